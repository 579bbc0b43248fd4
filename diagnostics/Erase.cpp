#include "diagnostics/Erase.h"

#include <algorithm>

#include "diagnostics/Confirm.h"
#include "diagnostics/DriveCaption.h"
#include "diagnostics/RunPlan.h"
#include "diagnostics/NvmeSupport.h"
#include "drive/Commands.h"
#include "drive/NvmeCommands.h"
#include "ui/Backend.h"

namespace plovix {

namespace {

using namespace erase_ids;

// Neither command has a bridge form: on SCSI they always use the ATA PASS-THROUGH blocks.
Transport EraseTransport(std::uint8_t via_scsi) {
  return Transport{static_cast<std::uint8_t>(via_scsi == 1 ? 1 : 0), 0};
}

// Runs of Write Zeroes as long as the ATA erase's, so a 512-byte namespace is erased
// in the very same runs; zero writes in what the buffers and the controller take.
constexpr std::uint32_t kZeroesRunBlocks = 65535;

// Zeroes count blocks from first. Write Zeroes while it works; where the controller does
// not offer it, or the system refuses it, or the drive does not know it, writes of zeros
// for the rest. refused_at: the first block the system would not let be written.
NvmeEraseOutcome ZeroBlocks(DriveConnection& connection, const NvmeEraseTarget& target,
                            bool& use_writes, std::uint64_t first, std::uint32_t count,
                            std::uint64_t& refused_at) {
  if (!use_writes) {
    const NvmeReply reply = NvmeWriteZeroes(connection, target.ns, first, count);
    if (NvmeSucceeded(reply)) return NvmeEraseOutcome::Done;
    if (reply.outcome != NvmeOutcome::Refused && !NvmeInvalidOpcode(reply)) {
      return NvmeEraseOutcome::Failed;
    }
    use_writes = true;
  }
  const std::uint32_t piece = NvmeMaxDataBlocks(target.ns, target.mdts);
  if (piece == 0) {
    refused_at = first;
    return NvmeEraseOutcome::Refused;
  }
  for (std::uint64_t b = first; b < first + count; b += piece) {
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(piece, first + count - b));
    const NvmeReply reply = NvmeWriteZeroBuffer(connection, target.ns, b, n);
    if (NvmeSucceeded(reply)) continue;
    // Not sent: a format with metadata, which a plain write cannot fill.
    if (reply.outcome == NvmeOutcome::Refused || reply.outcome == NvmeOutcome::NotSent) {
      refused_at = b;
      return NvmeEraseOutcome::Refused;
    }
    return NvmeEraseOutcome::Failed;
  }
  return NvmeEraseOutcome::Done;
}

// The zeros are on the media only once a volatile write cache has been flushed. A system
// that does not pass Flush keeps that cache its own business.
NvmeEraseOutcome FlushNvme(DriveConnection& connection, const NvmeNamespace& ns) {
  const NvmeReply reply = NvmeFlush(connection, ns);
  if (NvmeSucceeded(reply) || reply.outcome == NvmeOutcome::Refused) return NvmeEraseOutcome::Done;
  return NvmeEraseOutcome::Failed;
}

int EraseDiskNvme(CEraseDisk* dlg) {
  const NvmeEraseTarget& target = dlg->nvme_target;
  const std::uint64_t blocks = target.ns.block_count;
  const std::uint64_t per_block = target.ns.sectors_per_block();
  if (blocks == 0 || per_block == 0) return dlg->Finish(true);
  bool use_writes = target.write_zeroes != 1;
  std::uint64_t b = 0;
  while (b < blocks) {
    dlg->current_lba.store(b * per_block, std::memory_order_relaxed);
    if (dlg->abort_requested.load(std::memory_order_acquire) != 0) return dlg->Finish(false);
    const std::uint32_t run =
        use_writes ? std::max<std::uint32_t>(1, NvmeMaxDataBlocks(target.ns, target.mdts))
                   : kZeroesRunBlocks;
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(run, blocks - b));
    std::uint64_t refused_at = 0;
    switch (ZeroBlocks(*dlg->connection, target, use_writes, b, n, refused_at)) {
      case NvmeEraseOutcome::Done:
        break;
      case NvmeEraseOutcome::Failed:
        return dlg->Finish(true);
      case NvmeEraseOutcome::Refused:
        return dlg->FinishRefused(refused_at * per_block);
    }
    b += n;
  }
  return dlg->Finish(FlushNvme(*dlg->connection, target.ns) != NvmeEraseOutcome::Done);
}

}  // namespace

NvmeEraseOutcome EraseMbrNvme(DriveConnection& connection, const NvmeEraseTarget& target) {
  if (target.ns.block_count == 0) return NvmeEraseOutcome::Failed;
  bool use_writes = target.write_zeroes != 1;
  std::uint64_t refused_at = 0;
  const NvmeEraseOutcome outcome = ZeroBlocks(connection, target, use_writes, 0, 1, refused_at);
  if (outcome != NvmeEraseOutcome::Done) return outcome;
  return FlushNvme(connection, target.ns);
}

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
  if (dlg->nvme == 1) return EraseDiskNvme(dlg);
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
    if (refused.load(std::memory_order_relaxed) != 0) {
      EndDialog(kEraseRefused);
    } else if (failed.load(std::memory_order_relaxed) != 0) {
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
