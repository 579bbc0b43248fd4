// The back-end port of the dialog framework: scripted (tests), terminal, Windows.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "ui/Dialog.h"

namespace ui {

// The threading rule: dialogs, their controls and every call below belong to the UI
// thread, the one that runs the modal loops, with one exception: PostDeviceChange, which
// any thread may call. A worker thread never touches a window: it leaves its results in
// its own atomics and the dialog's timer, on the UI thread, shows them. A back end that
// is nevertheless handed a control change on another thread carries it over to the UI
// thread (the Windows one posts it) rather than touching a window there.
class Backend {
 public:
  virtual ~Backend() = default;

  // Shows dlg (its controls already created from the template) and runs its modal
  // loop: dispatches input and timers (to every open dialog, the ones beneath
  // included) until dlg.end_requested() is seen by this loop. OnInitDialog has been
  // called by the framework before. Returns when the dialog is to close.
  virtual void RunModalLoop(Dialog& dlg) = 0;
  // The dialog was created / is being destroyed (after its loop ended).
  virtual void DialogOpened(Dialog& dlg) { (void)dlg; }
  virtual void DialogClosed(Dialog& dlg) { (void)dlg; }
  // A control changed on the program's side (text, font, range, list content...).
  virtual void ControlChanged(Dialog& dlg, Control& control) { (void)dlg; (void)control; }
  virtual void CaptionChanged(Dialog& dlg) { (void)dlg; }

  virtual bool SetTimer(Dialog& dlg, int timer_id, unsigned period_ms) = 0;
  virtual bool KillTimer(Dialog& dlg, int timer_id) = 0;

  // Modal message box; returns IDOK or IDCANCEL. caption is never empty here.
  virtual int MessageBox(const std::string& text, const std::string& caption, unsigned type) = 0;

  // Blocks the calling thread (no message processing).
  virtual void Sleep(unsigned ms) = 0;
  // Waits up to ms on the UI thread while its windows keep being served (painted,
  // moved); may return early when something was handled, so the caller looks again at
  // what it waits for. A back end with no messages of its own just sleeps.
  virtual void Pump(unsigned ms) { Sleep(ms); }
  // Wall-clock time for logs and reports.
  virtual std::time_t Now() = 0;
  // Monotonic milliseconds, for device models that advance with time.
  virtual std::uint64_t TickMs() = 0;

  // Thread-safe: queue a device-change message for the top-level window.
  virtual void PostDeviceChange(unsigned event) = 0;
};

// The back end in use; chosen by main (or a test).
void SetBackend(Backend* backend);
Backend& GetBackend();
bool HasBackend();

// Application title: the executable's name without extension.
void SetAppTitle(const std::string& title);
const std::string& AppTitle();
// Derives the title from argv[0]: directory and extension dropped.
std::string TitleFromExecutablePath(const std::string& path);

// Framework services used by the program.
int MessageBox(const std::string& text, const std::string& caption = "", unsigned type = MB_OK);
// The framework's application message box (AfxMessageBox): caption is the app title.
int AfxMessageBox(const std::string& text, unsigned type = MB_OK);
void Sleep(unsigned ms);
void Pump(unsigned ms);
std::time_t Now();
std::uint64_t TickMs();

}  // namespace ui
