#include "diagnostics/Erase.h"

#include <system_error>

#include "diagnostics/Confirm.h"
#include "diagnostics/RunPlan.h"
#include "drive/Commands.h"
#include "ui/Backend.h"

namespace plovix {

namespace {

using namespace erase_ids;

// Neither command has a bridge form: on SCSI they always use the ATA PASS-THROUGH blocks.
Transport EraseTransport(std::uint8_t via_scsi) {
  return Transport{static_cast<std::uint8_t>(via_scsi == 1 ? 1 : 0), 0};
}

// The dialog may be gone as soon as finished is stored, so that store is the worker's
// very last touch of it.
int Finish(CEraseDisk& dlg, bool failed) {
  if (failed) dlg.failed.store(1, std::memory_order_relaxed);
  dlg.finished.store(1, std::memory_order_release);
  return failed ? 1 : 0;
}

}  // namespace

bool EraseMbr(DriveConnection& connection, std::uint8_t via_scsi) {
  const Transport transport = EraseTransport(via_scsi);
  // The erase writes whatever the drive's buffer holds: without the zeros loaded it
  // would fill the sector with stale data and still succeed.
  if (WriteBufferZeros(connection, transport) != kCommandOk) return false;
  return EraseRange(connection, transport, 0, 1) == kCommandOk;
}

int EraseDiskWorker(CEraseDisk* dlg) {
  const std::uint64_t total = dlg->total_sectors;
  if (total == 0 || dlg->connection == nullptr) return Finish(*dlg, true);
  dlg->current_lba.store(0, std::memory_order_relaxed);
  const Transport transport = EraseTransport(dlg->via_scsi);
  const RunPlan plan(0, total - 1);
  for (std::uint64_t k = 0; k < plan.size(); ++k) {
    const SectorRun run = plan[k];
    dlg->current_lba.store(run.lba, std::memory_order_relaxed);
    if (dlg->abort_requested.load(std::memory_order_acquire) != 0) return Finish(*dlg, false);
    // A run erased without the zeros loaded would hold stale buffer data.
    if (WriteBufferZeros(*dlg->connection, transport) != kCommandOk ||
        EraseRange(*dlg->connection, transport, run.lba, run.count) != kCommandOk) {
      return Finish(*dlg, true);
    }
  }
  return Finish(*dlg, false);
}

CEraseDisk::CEraseDisk(DriveConnection& conn, IoBuffers& buffers)
    : ui::Dialog(kTemplate), io_buffers(&buffers), connection(&conn) {}

CEraseDisk::~CEraseDisk() {
  if (worker_.joinable()) {
    abort_requested.store(1, std::memory_order_release);
    worker_.join();
  }
}

void CEraseDisk::DoDataExchange(ui::DataExchange& dx) { (void)dx; }

bool CEraseDisk::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  SetControlFont(kTitle, title_font);
  white_brush = ui::CreateSolidBrush(ui::RGB(255, 255, 255));
  timer_id = SetTimer(1, 5000);
  Progress(kBar).SetRange(0, 99);
  current_lba.store(0, std::memory_order_relaxed);
  finished.store(0, std::memory_order_relaxed);
  abort_requested.store(0, std::memory_order_relaxed);
  failed.store(0, std::memory_order_relaxed);
  try {
    worker_ = std::thread(EraseDiskWorker, this);
  } catch (const std::system_error&) {
    // No thread: report it as a failed erase at the next tick.
    failed.store(1, std::memory_order_relaxed);
    finished.store(1, std::memory_order_release);
  }
  return true;
}

void CEraseDisk::OnCommand(int id) {
  if (id == kAbort) {
    OnAbort();
    return;
  }
  ui::Dialog::OnCommand(id);
}

// There is no OK button: Enter on this dialog would otherwise report a completed erase
// while the worker is still writing.
void CEraseDisk::OnOK() {}

// Escape and the close box stop the erase like the Abort button.
void CEraseDisk::OnCancel() { OnAbort(); }

void CEraseDisk::WaitForWorker() {
  if (!worker_.joinable()) return;
  while (finished.load(std::memory_order_acquire) == 0) ui::Sleep(1000);
}

void CEraseDisk::OnAbort() {
  abort_requested.store(1, std::memory_order_release);
  // A tick after this point would see finished and could close with another code.
  KillTimer(timer_id);
  WaitForWorker();
  EndDialog(kEraseAborted);
}

void CEraseDisk::OnTimer(int id) {
  if (finished.load(std::memory_order_acquire) == 0) {
    if (total_sectors != 0) {
      Progress(kBar).SetPos(
          EraseProgress(current_lba.load(std::memory_order_relaxed), total_sectors));
    }
    UpdateData(false);
  } else {
    KillTimer(timer_id);
    if (failed.load(std::memory_order_relaxed) != 0) {
      EndDialog(kEraseFailed);
    } else if (abort_requested.load(std::memory_order_relaxed) != 0) {
      EndDialog(kEraseAborted);
    } else {
      CCompErase2 done;
      done.DoModal();
      EndDialog(kEraseCompleted);
    }
  }
  ui::Dialog::OnTimer(id);
}

ui::CtlColor CEraseDisk::OnCtlColor(int id) {
  if (id == kTitle) {
    ui::CtlColor c;
    c.text_color = ui::RGB(0, 0, 0);
    c.back_color = ui::RGB(255, 255, 255);
    c.transparent = true;
    c.brush = white_brush;
    return c;
  }
  return ui::Dialog::OnCtlColor(id);
}

}  // namespace plovix
