#include "diagnostics/Erase.h"

#include <algorithm>

#include "diagnostics/Confirm.h"
#include "diagnostics/DriveCaption.h"
#include "diagnostics/RunPlan.h"
#include "resources/ResourceIds.h"
#include "ui/Backend.h"

namespace plovix {

namespace {

using namespace ids::erase_disk;

// However long the dialog's own timer, the bar moves and the dialog closes this soon
// after the erase ends.
constexpr unsigned kFastTickMs = 250;
constexpr int kFastTimer = 2;

}  // namespace

EraseResult EraseFirstBlock(EraseSession& session, std::uint32_t block_bytes) {
  const std::uint64_t sectors = std::max<std::uint32_t>(block_bytes, 512) / 512;
  EraseResult result = session.Zero(0, sectors, EraseControl{});
  if (result.status != EraseStatus::Done) return result;
  return session.Complete();
}

int EraseDiskWorker(CEraseDisk* dlg) {
  const std::uint64_t total = dlg->total_sectors;
  if (total == 0 || dlg->session == nullptr) {
    dlg->result = {EraseStatus::Failed, 0, total == 0 ? "the drive reports no sectors" : ""};
    return dlg->Finish(true);
  }
  dlg->current_lba.store(0, std::memory_order_relaxed);
  const EraseControl control{&dlg->current_lba, &dlg->abort_requested};
  EraseResult result = dlg->session->Zero(0, total, control);
  if (result.status == EraseStatus::Done) result = dlg->session->Complete();
  dlg->result = result;
  switch (result.status) {
    case EraseStatus::Done:
      break;
    case EraseStatus::Aborted:
      return dlg->Finish(false);
    case EraseStatus::SystemRefused:
      return dlg->FinishRefused(result.lba);
    case EraseStatus::Refused:
    case EraseStatus::Failed:
      return dlg->Finish(true);
  }
  // Read back what the system sees of the disk: a drive that reported success without
  // writing fails here.
  dlg->current_lba.store(total, std::memory_order_relaxed);
  const EraseTarget& target = dlg->session->target();
  if (target.io != nullptr) {
    dlg->verify = VerifyZeroed(*target.io, target.claim, total, dlg->verify_seed);
  }
  return dlg->Finish(dlg->verify.kind == VerifyResult::Kind::NotZero ||
                     dlg->verify.kind == VerifyResult::Kind::ReadFailed);
}

CEraseDisk::CEraseDisk(DriveConnection& conn, IoBuffers& buffers)
    : WorkerDialog(ids::kEraseDiskTemplate, kAbort, kEraseAborted),
      io_buffers(&buffers),
      connection(&conn) {}

CEraseDisk::~CEraseDisk() { StopWorker(); }

void CEraseDisk::DoDataExchange(ui::DataExchange& dx) { (void)dx; }

bool CEraseDisk::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  NameDriveInCaption(*this, drive_caption);
  SetControlFont(kTitle, title_font);
  white_brush = ui::CreateSolidBrush(ui::RGB(255, 255, 255));
  timer_id = SetTimer(1, 5000);
  fast_timer_id = SetTimer(kFastTimer, kFastTickMs);
  Progress(kBar).SetRange(0, 99);
  result = EraseResult{};
  verify = VerifyResult{};
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
    KillTimer(fast_timer_id);
    if (refused.load(std::memory_order_relaxed) != 0) {
      EndDialog(kEraseRefused);
    } else if (failed.load(std::memory_order_relaxed) != 0) {
      EndDialog(kEraseFailed);
    } else if (abort_requested.load(std::memory_order_relaxed) != 0) {
      EndDialog(kEraseAborted);
    } else {
      Progress(kBar).SetPos(99);
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
