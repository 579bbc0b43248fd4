// A progress dialog whose work runs on a worker thread: the fields both threads share,
// and the rule that the dialog never ends while its worker runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "ui/Dialog.h"

namespace plovix {

class WorkerDialog : public ui::Dialog {
 public:
  ~WorkerDialog() override;
  // Asks a worker still running to stop and waits for it. Derived dialogs call it in their
  // destructors, so the worker never outlives the fields it uses.
  void StopWorker();

  void OnCommand(int id) override;
  // There is no OK button: an IDOK from the keyboard must not end the dialog under its
  // worker (an erase would be reported completed while still writing).
  void OnOK() override;
  // Escape and the close box stop the work like the Abort button.
  void OnCancel() override;
  void OnAbort();

  // The worker's last touch of the dialog: failed when so, then finished. The dialog may
  // be gone as soon as finished is stored.
  int Finish(bool failed_run);
  // The same when the operating system refused a command the work needs: the work
  // stopped before the given sector, and nothing failed on the drive.
  int FinishRefused(std::uint64_t at_sector);

  int timer_id = 0;
  // A second, quicker timer of the dialog's, if it has one (0: none); killed with the first.
  int fast_timer_id = 0;
  // Shared with the worker. The worker stores finished last (release); readers load it
  // with acquire before looking at the others.
  std::atomic<std::uint64_t> current_lba{0};
  std::atomic<std::uint8_t> finished{0};
  std::atomic<std::uint8_t> abort_requested{0};
  std::atomic<std::uint8_t> failed{0};
  std::atomic<std::uint8_t> refused{0};
  std::atomic<std::uint64_t> refused_at{0};

 protected:
  WorkerDialog(int template_id, int abort_button, int aborted_code);
  // Clears the shared fields and runs work on a new thread. A thread that cannot be
  // started counts as a failed run, reported at the next tick.
  void StartWorker(std::function<void()> work);

 private:
  void WaitForWorker();

  std::thread worker_;
  int abort_button_;
  int aborted_code_;
};

}  // namespace plovix
