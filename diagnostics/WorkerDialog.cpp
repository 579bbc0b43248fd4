#include "diagnostics/WorkerDialog.h"

#include <system_error>
#include <utility>

#include "ui/Backend.h"

namespace plovix {

WorkerDialog::WorkerDialog(int template_id, int abort_button, int aborted_code)
    : ui::Dialog(template_id), abort_button_(abort_button), aborted_code_(aborted_code) {}

WorkerDialog::~WorkerDialog() { StopWorker(); }

void WorkerDialog::StopWorker() {
  if (worker_.joinable()) {
    abort_requested.store(1, std::memory_order_release);
    worker_.join();
  }
}

void WorkerDialog::StartWorker(std::function<void()> work) {
  current_lba.store(0, std::memory_order_relaxed);
  finished.store(0, std::memory_order_relaxed);
  abort_requested.store(0, std::memory_order_relaxed);
  failed.store(0, std::memory_order_relaxed);
  refused.store(0, std::memory_order_relaxed);
  refused_at.store(0, std::memory_order_relaxed);
  try {
    worker_ = std::thread(std::move(work));
  } catch (const std::system_error&) {
    Finish(true);
  }
}

int WorkerDialog::Finish(bool failed_run) {
  if (failed_run) failed.store(1, std::memory_order_relaxed);
  finished.store(1, std::memory_order_release);
  return failed_run ? 1 : 0;
}

int WorkerDialog::FinishRefused(std::uint64_t at_sector) {
  refused_at.store(at_sector, std::memory_order_relaxed);
  refused.store(1, std::memory_order_relaxed);
  finished.store(1, std::memory_order_release);
  return 1;
}

void WorkerDialog::OnCommand(int id) {
  if (id == abort_button_) {
    OnAbort();
    return;
  }
  ui::Dialog::OnCommand(id);
}

void WorkerDialog::OnOK() {}

void WorkerDialog::OnCancel() { OnAbort(); }

void WorkerDialog::WaitForWorker() {
  if (!worker_.joinable()) return;
  // The windows stay served meanwhile: a long last command must not freeze them.
  while (finished.load(std::memory_order_acquire) == 0) ui::Pump(1000);
}

void WorkerDialog::OnAbort() {
  abort_requested.store(1, std::memory_order_release);
  // A tick after this point would see finished and could close with another code.
  KillTimer(timer_id);
  if (fast_timer_id != 0) KillTimer(fast_timer_id);
  WaitForWorker();
  EndDialog(aborted_code_);
}

}  // namespace plovix
