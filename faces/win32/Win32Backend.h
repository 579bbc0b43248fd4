// The native Windows back end: every template shown as a real dialog box.
#pragma once

#include <memory>

#include "ui/Backend.h"

namespace ui::win32 {

class Win32Backend : public Backend {
 public:
  // Installs itself with ui::SetBackend; the previous back end comes back on destruction.
  Win32Backend();
  ~Win32Backend() override;
  Win32Backend(const Win32Backend&) = delete;
  Win32Backend& operator=(const Win32Backend&) = delete;

  void RunModalLoop(Dialog& dlg) override;
  void DialogOpened(Dialog& dlg) override;
  void DialogClosed(Dialog& dlg) override;
  void ControlChanged(Dialog& dlg, Control& control) override;
  void CaptionChanged(Dialog& dlg) override;
  bool SetTimer(Dialog& dlg, int timer_id, unsigned period_ms) override;
  bool KillTimer(Dialog& dlg, int timer_id) override;
  int MessageBox(const std::string& text, const std::string& caption, unsigned type) override;
  void Sleep(unsigned ms) override;
  void Pump(unsigned ms) override;
  std::time_t Now() override;
  std::uint64_t TickMs() override;
  void PostDeviceChange(unsigned event) override;

  // The dialog's window (an HWND) while it is shown, for checks that walk its controls.
  static void* NativeWindow(const Dialog& dlg);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
  Backend* previous_ = nullptr;
};

}  // namespace ui::win32
