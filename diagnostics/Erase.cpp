#include "diagnostics/Erase.h"

#include "diagnostics/Confirm.h"
#include "diagnostics/DriveCaption.h"
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
  if (total == 0 || dlg->connection == nullptr) return dlg->Finish(true);
  dlg->current_lba.store(0, std::memory_order_relaxed);
  const Transport transport = EraseTransport(dlg->via_scsi);
  const RunPlan plan(0, total - 1);
  for (std::uint64_t k = 0; k < plan.size(); ++k) {
    const SectorRun run = plan[k];
    dlg->current_lba.store(run.lba, std::memory_order_relaxed);
    if (dlg->abort_requested.load(std::memory_order_acquire) != 0) return dlg->Finish(false);
    // A run erased without the zeros loaded would hold stale buffer data.
    if (WriteBufferZeros(*dlg->connection, transport) != kCommandOk ||
        EraseRange(*dlg->connection, transport, run.lba, run.count) != kCommandOk) {
      return dlg->Finish(true);
    }
  }
  return dlg->Finish(false);
}

CEraseDisk::CEraseDisk(DriveConnection& conn, IoBuffers& buffers)
    : WorkerDialog(kTemplate, kAbort, kEraseAborted), io_buffers(&buffers), connection(&conn) {}

CEraseDisk::~CEraseDisk() { StopWorker(); }

void CEraseDisk::DoDataExchange(ui::DataExchange& dx) { (void)dx; }

bool CEraseDisk::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  NameDriveInCaption(*this, drive_caption);
  SetControlFont(kTitle, title_font);
  white_brush = ui::CreateSolidBrush(ui::RGB(255, 255, 255));
  timer_id = SetTimer(1, 5000);
  Progress(kBar).SetRange(0, 99);
  StartWorker([this] { EraseDiskWorker(this); });
  return true;
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
      done.drive_caption = drive_caption;
      done.DoModal();
      EndDialog(kEraseCompleted);
    }
  }
  ui::Dialog::OnTimer(id);
}

ui::CtlColor CEraseDisk::OnCtlColor(int id) {
  if (id == kTitle) return ui::TitleBandColors(white_brush);
  return ui::Dialog::OnCtlColor(id);
}

}  // namespace plovix
