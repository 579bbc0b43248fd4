// A back end for tests: no screen, a virtual clock, and a script of what the "user"
// does whenever a dialog waits for input.
//
//   namespace ids = plovix::ids;  // resources/ResourceIds.h
//   ui::scripted::ScriptedBackend ui;
//   ui.Expect(ids::kMainTemplate)                   // main window: check line 0, Quick Test
//       .Check(ids::main_window::kDriveList, 0).Press(ids::main_window::kQuickTest);
//   ui.Expect(ids::kSelfTestProgressTemplate).AdvanceUntilClosed(60000);  // runs to its end
//   ui.Expect(ids::kSelfTestResultTemplate).Do([](ui::Dialog& d) {
//     EXPECT_EQ(d.GetDlgItemText(ids::selftest_result::kReadError), "Pass");
//   }).Press(ui::IDOK);
//   ui.Expect(ids::kMainTemplate).Escape();
//   app.InitInstance();
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/Backend.h"
#include "ui/TimerQueue.h"

namespace ui::scripted {

class ScriptedBackend;

// One thing the user does while a given window is on top. Actions run in order.
class Step {
 public:
  // Runs f on the dialog (inspect it, assert on it, or act on it). While a message box
  // is on top, f gets the dialog beneath the box.
  Step& Do(std::function<void(Dialog&)> f);
  Step& Press(int control_id);      // a button click (message boxes: IDOK / IDCANCEL)
  Step& Escape();                   // the Escape key: cancel code
  Step& CloseBox();                 // the caption's close box
  Step& Check(int list_id, int line, bool checked = true);  // toggle a check box
  Step& Select(int list_id, int line);                      // highlight only this line
  Step& DoubleClick(int list_id, int line);                 // select it, then NM_DBLCLK
  Step& SystemCommand(int command);                          // a system-menu item
  Step& DeviceArrival();                                     // WM_DEVICECHANGE arrival
  Step& Advance(unsigned ms);       // let time pass on the virtual clock, firing timers
  // Lets time pass in the steps of the earliest timer until this window closes; fails
  // the test when it is still open after max_ms.
  Step& AdvanceUntilClosed(unsigned max_ms);
  // The same, calling each(dialog) whenever another every_ms have passed while it is open.
  Step& AdvanceUntilClosed(unsigned max_ms, unsigned every_ms, std::function<void(Dialog&)> each);

 private:
  friend class ScriptedBackend;
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

// A dialog as it came up for the user: after its initialisation, so with the caption it
// set for itself.
struct ShownDialog {
  int template_id = 0;
  std::string caption;
  bool operator==(const ShownDialog&) const = default;
};

struct ShownMessageBox {
  std::string text;
  std::string caption;
  unsigned type = 0;
  int answer = 0;
};

class ScriptedBackend : public Backend {
 public:
  // Installs itself with ui::SetBackend; the previous back end comes back on
  // destruction. The clock starts at start_time (UTC seconds) and tick 0.
  explicit ScriptedBackend(std::time_t start_time = 1331715907 /* 2012-03-14 09:05:07 */);
  ~ScriptedBackend() override;

  // The next step expects the dialog with this template id on top.
  Step& Expect(int template_id);
  // The next step expects a message box with exactly this text on top.
  Step& ExpectMessageBox(const std::string& text);
  // A box expected before every step already queued (a user who answers a box as it
  // opens).
  Step& ExpectMessageBoxNext(const std::string& text);
  // A box whose text begins so (texts that name files or times).
  Step& ExpectMessageBoxStarting(const std::string& text);

  // Called with a message naming the window when the script does not fit what the
  // program shows (wrong window on top, or nothing left to do while a window waits).
  // The back end then cancels every open window so the program can finish.
  void SetFailureHandler(std::function<void(const std::string&)> handler);
  // The handler of back ends that were given none (a test suite installs one that
  // fails the running test). Without either the message goes to standard error.
  static void SetDefaultFailureHandler(std::function<void(const std::string&)> handler);
  bool failed() const { return failed_; }
  // Steps not yet consumed when the program ended (a test usually expects 0).
  std::size_t pending_steps() const;

  // What happened, for assertions.
  const std::vector<int>& opened_dialogs() const { return opened_; }  // template ids in order
  const std::vector<ShownDialog>& shown_dialogs() const { return shown_; }
  const std::vector<ShownMessageBox>& message_boxes() const { return boxes_; }
  // Open dialogs, bottom first.
  std::vector<Dialog*> open_dialogs() const;

  // Virtual clock.
  std::uint64_t now_ms() const { return TickMs(); }
  void AdvanceClock(unsigned ms);  // without firing timers (what Sleep does)
  // From now on the clock is the real one: letting time pass waits for it, so a real
  // drive gets the time its test takes. For the program playing itself on real drives.
  void FollowRealTime();
  bool real_time() const { return real_time_; }

  // Backend
  void RunModalLoop(Dialog& dlg) override;
  void DialogOpened(Dialog& dlg) override;
  void DialogClosed(Dialog& dlg) override;
  bool SetTimer(Dialog& dlg, int timer_id, unsigned period_ms) override;
  bool KillTimer(Dialog& dlg, int timer_id) override;
  int MessageBox(const std::string& text, const std::string& caption, unsigned type) override;
  void Sleep(unsigned ms) override;
  std::time_t Now() override;
  std::uint64_t TickMs() override;
  std::uint64_t TickMs() const;
  void PostDeviceChange(unsigned event) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::atomic<std::uint64_t> tick_ms_{0};
  bool real_time_ = false;
  std::chrono::steady_clock::time_point real_zero_;  // the real time of tick 0
  std::time_t start_time_;
  bool failed_ = false;
  std::vector<int> opened_;
  std::vector<ShownDialog> shown_;
  std::vector<ShownMessageBox> boxes_;
};

}  // namespace ui::scripted
