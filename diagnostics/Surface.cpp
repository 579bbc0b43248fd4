#include "diagnostics/Surface.h"

#include <algorithm>

#include "diagnostics/DriveCaption.h"
#include "diagnostics/NvmeSupport.h"
#include "drive/Commands.h"
#include "drive/NvmeCommands.h"
#include "resources/ResourceIds.h"
#include "ui/Backend.h"

namespace plovix {

namespace {

namespace progress_ids = ids::surface;
namespace result_ids = ids::surface_result;

enum class SpanOutcome { Done, Stopped, Failed, Refused };

// READ VERIFY has no bridge form: on SCSI it always goes out as ATA PASS-THROUGH(16).
Transport VerifyTransport(std::uint8_t via_scsi) {
  return Transport{static_cast<std::uint8_t>(via_scsi == 1 ? 1 : 0), 0};
}

SpanOutcome ScanSpan(CSFTest& dlg, const SectorSpan& span) {
  const RunPlan plan(span.first, span.last);
  const Transport transport = VerifyTransport(dlg.via_scsi);
  for (std::uint64_t k = 0; k < plan.size(); ++k) {
    const SectorRun run = plan[k];
    dlg.current_lba.store(run.lba, std::memory_order_relaxed);
    if (dlg.abort_requested.load(std::memory_order_acquire) != 0) return SpanOutcome::Stopped;
    if (ReadVerifySectorsExt(*dlg.connection, transport, run.lba,
                             static_cast<std::uint16_t>(run.count)) != kCommandOk) {
      dlg.failed_run_lba.store(run.lba, std::memory_order_relaxed);
      dlg.failed_run_count.store(run.count, std::memory_order_relaxed);
      return SpanOutcome::Failed;
    }
  }
  return SpanOutcome::Done;
}

void NoteFailedRun(CSFTest& dlg, std::uint64_t lba, std::uint64_t count) {
  dlg.failed_run_lba.store(lba, std::memory_order_relaxed);
  dlg.failed_run_count.store(static_cast<std::uint32_t>(std::min<std::uint64_t>(count, UINT32_MAX)),
                             std::memory_order_relaxed);
}

// Reads the blocks of one run where Verify cannot be used, in pieces the buffers and
// the controller's transfer limit allow.
SpanOutcome ReadBlocksNvme(CSFTest& dlg, const NvmeBlockRange& blocks, std::uint64_t& refused_at) {
  const NvmeNamespace& ns = dlg.nvme_ns;
  const std::uint64_t per_block = ns.sectors_per_block();
  const std::uint32_t piece = NvmeMaxDataBlocks(ns, dlg.nvme_mdts);
  if (piece == 0) {
    refused_at = blocks.first * per_block;
    return SpanOutcome::Refused;
  }
  for (std::uint64_t b = blocks.first; b < blocks.first + blocks.count; b += piece) {
    if (b != blocks.first && dlg.abort_requested.load(std::memory_order_acquire) != 0) {
      return SpanOutcome::Stopped;
    }
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(piece, blocks.first + blocks.count - b));
    const NvmeReply reply = NvmeRead(*dlg.connection, ns, b, n);
    if (NvmeSucceeded(reply)) continue;
    // Not sent: the format carries metadata, which a plain read cannot take.
    if (reply.outcome == NvmeOutcome::Refused || reply.outcome == NvmeOutcome::NotSent) {
      refused_at = b * per_block;
      return SpanOutcome::Refused;
    }
    NoteFailedRun(dlg, b * per_block, std::uint64_t{n} * per_block);
    return SpanOutcome::Failed;
  }
  return SpanOutcome::Done;
}

// The same runs as for an ATA drive, each widened to the blocks it touches (for 4096-byte
// blocks two runs may share a block, read twice). Verify while it works; a system that
// refuses it, or a drive that does not know it, gets reads instead for the rest.
SpanOutcome ScanSpanNvme(CSFTest& dlg, const SectorSpan& span, bool& use_read,
                         std::uint64_t& refused_at) {
  const RunPlan plan(span.first, span.last);
  for (std::uint64_t k = 0; k < plan.size(); ++k) {
    const SectorRun run = plan[k];
    dlg.current_lba.store(run.lba, std::memory_order_relaxed);
    if (dlg.abort_requested.load(std::memory_order_acquire) != 0) return SpanOutcome::Stopped;
    const auto blocks = SectorsToBlocks(dlg.nvme_ns, run.lba, run.count, SectorRounding::Outward);
    if (!blocks) {
      NoteFailedRun(dlg, run.lba, run.count);
      return SpanOutcome::Failed;
    }
    if (!use_read) {
      const NvmeReply reply =
          NvmeVerify(*dlg.connection, dlg.nvme_ns, blocks->first, static_cast<std::uint32_t>(blocks->count));
      if (NvmeSucceeded(reply)) continue;
      const bool system_refused = reply.outcome == NvmeOutcome::Refused;
      if (!system_refused && !NvmeInvalidOpcode(reply)) {
        NoteFailedRun(dlg, run.lba, run.count);
        return SpanOutcome::Failed;
      }
      use_read = true;
      dlg.reads_from.store(run.lba, std::memory_order_relaxed);
      const ReadsInstead why = system_refused ? ReadsInstead::SystemRefused : ReadsInstead::DriveRefused;
      dlg.reads_instead.store(why, std::memory_order_relaxed);
    }
    const SpanOutcome read = ReadBlocksNvme(dlg, *blocks, refused_at);
    if (read != SpanOutcome::Done) return read;
  }
  return SpanOutcome::Done;
}

int RunScanNvme(CSFTest* dlg, int kind) {
  dlg->current_lba.store(0, std::memory_order_relaxed);
  bool use_read = dlg->nvme_verify != 1;
  if (use_read) dlg->reads_instead.store(ReadsInstead::NoVerify, std::memory_order_relaxed);
  std::uint64_t refused_at = 0;
  for (const SectorSpan& span : SurfaceSpans(kind, dlg->total_sectors)) {
    switch (ScanSpanNvme(*dlg, span, use_read, refused_at)) {
      case SpanOutcome::Done:
        break;
      case SpanOutcome::Stopped:
        return dlg->Finish(false);
      case SpanOutcome::Failed:
        return dlg->Finish(true);
      case SpanOutcome::Refused:
        return dlg->FinishRefused(refused_at);
    }
  }
  return dlg->Finish(false);
}

int RunScan(CSFTest* dlg, int kind) {
  if (dlg->total_sectors == 0 || dlg->connection == nullptr) return dlg->Finish(true);
  if (dlg->nvme == 1) return RunScanNvme(dlg, kind);
  dlg->current_lba.store(0, std::memory_order_relaxed);
  // A stop in the first phase of the short scan ends the scan: the second never runs.
  for (const SectorSpan& span : SurfaceSpans(kind, dlg->total_sectors)) {
    switch (ScanSpan(*dlg, span)) {
      case SpanOutcome::Done:
        break;
      case SpanOutcome::Stopped:
        return dlg->Finish(false);
      case SpanOutcome::Failed:
      case SpanOutcome::Refused:
        return dlg->Finish(true);
    }
  }
  return dlg->Finish(false);
}

}  // namespace

int SurfaceShortWorker(CSFTest* dlg) { return RunScan(dlg, kSurfaceShort); }
int SurfaceLongWorker(CSFTest* dlg) { return RunScan(dlg, kSurfaceLong); }

// --- CSFTest ---------------------------------------------------------------------------

CSFTest::CSFTest() : WorkerDialog(ids::kSurfaceTemplate, progress_ids::kAbort, kSurfaceAborted) {}

CSFTest::~CSFTest() { StopWorker(); }

SectorRun CSFTest::FailedRun() const {
  if (finished.load(std::memory_order_acquire) == 0) return {};
  return SectorRun{failed_run_lba.load(std::memory_order_relaxed),
                   failed_run_count.load(std::memory_order_relaxed)};
}

void CSFTest::DoDataExchange(ui::DataExchange& dx) {
  dx.Text(progress_ids::kTitle, title_text);
  dx.Text(progress_ids::kProgressText, progress_text);
}

bool CSFTest::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  NameDriveInCaption(*this, drive_caption);
  white_brush = ui::CreateSolidBrush(ui::RGB(255, 255, 255));
  SetControlFont(progress_ids::kTitle, title_font);
  if (kind == kSurfaceShort) {
    title_text = "Surface Short Test";
    progress_text = "Surface short test in progress";
  } else if (kind == kSurfaceLong) {
    title_text = "Surface Long Test";
    progress_text = "Surface long test in progress";
  }
  UpdateData(false);
  timer_id = SetTimer(kProgressTimer, kProgressPeriodMs);
  Progress(progress_ids::kBar).SetRange(0, 99);
  failed_run_lba.store(0, std::memory_order_relaxed);
  failed_run_count.store(0, std::memory_order_relaxed);
  reads_instead.store(ReadsInstead::No, std::memory_order_relaxed);
  reads_from.store(0, std::memory_order_relaxed);
  if (kind == kSurfaceShort) {
    StartWorker([this] { SurfaceShortWorker(this); });
  } else {
    StartWorker([this] { SurfaceLongWorker(this); });
  }
  return true;
}

void CSFTest::OnTimer(int id) {
  if (finished.load(std::memory_order_acquire) == 0) {
    if (total_sectors != 0) {
      Progress(progress_ids::kBar).SetPos(
          SurfaceProgress(kind, current_lba.load(std::memory_order_relaxed), total_sectors));
    }
    UpdateData(false);
  } else {
    KillTimer(timer_id);
    if (refused.load(std::memory_order_relaxed) != 0) {
      EndDialog(kSurfaceRefused);
    } else if (failed.load(std::memory_order_relaxed) != 0) {
      EndDialog(kSurfaceFailed);
    } else if (abort_requested.load(std::memory_order_relaxed) != 0) {
      EndDialog(kSurfaceAborted);
    } else {
      EndDialog(kSurfaceCompleted);
    }
  }
  ui::Dialog::OnTimer(id);
}

ui::CtlColor CSFTest::OnCtlColor(int id) {
  if (id == progress_ids::kTitle) return ui::TitleBandColors(white_brush);
  return ui::Dialog::OnCtlColor(id);
}

// --- CSFTestResult ---------------------------------------------------------------------

std::string SurfaceResultText(std::uint8_t status) {
  switch (status & 0xF0) {
    case 0x00: return "Pass";
    case 0x10: return "Test aborted";
    case 0x20: return "Test interrupted by the host with a hard or soft reset";
    case 0x30: return "Fail";
    case 0x40: return "Fail - Unkown Element Failure";
    case 0x50: return "Electrical Element Failure";
    case 0x60: return "Servo Element Failure";
    case 0x70: return "Fail - Read Element Failure";
    default: return "Fail - Unknown Failure";
  }
}

std::string FailedRunText(const SectorRun& run) {
  if (run.count == 0) return {};
  return "Failing run: LBA " + std::to_string(run.lba) + ", " + std::to_string(run.count) +
         (run.count == 1 ? " sector" : " sectors");
}

std::string ReadsInsteadText(ReadsInstead why, std::uint64_t from_sector) {
  std::string cause;
  switch (why) {
    case ReadsInstead::No: return {};
    case ReadsInstead::NoVerify: cause = "The drive has no Verify command"; break;
    case ReadsInstead::SystemRefused:
      cause = "The operating system refused the Verify command";
      break;
    case ReadsInstead::DriveRefused: cause = "The drive refused the Verify command"; break;
  }
  if (from_sector == 0) return cause + ", so the scan read the sectors instead.";
  return cause + " at sector " + std::to_string(from_sector) +
         ", so the scan read the sectors from there on.";
}

CSFTestResult::CSFTestResult(std::uint8_t* status)
    : ui::Dialog(ids::kSurfaceResultTemplate), selftest_status(status) {}

void CSFTestResult::DoDataExchange(ui::DataExchange& dx) {
  dx.Text(result_ids::kTitle, title_text);
  dx.Text(result_ids::kSubtitle, subtitle_text);
  dx.Text(result_ids::kReadError, read_error_text);
  dx.Text(result_ids::kSurface, surface_text);
  dx.Text(result_ids::kFailedRun, failed_run_text);
  dx.Text(result_ids::kReadsNote, reads_note_text);
}

bool CSFTestResult::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  NameDriveInCaption(*this, drive_caption);
  SetControlFont(result_ids::kTitle, title_font);
  SetControlFont(result_ids::kSurface, result_font);
  SetControlFont(result_ids::kReadError, result_font);
  white_brush = ui::CreateSolidBrush(ui::RGB(255, 255, 255));
  if (kind == kSurfaceShort || kind == kSurfaceLong) {
    const bool short_scan = kind == kSurfaceShort;
    title_text = short_scan ? "Surface Short Test" : "Surface Long Test";
    // Completed only for a scan that went to its end; one that stopped says how.
    const std::uint8_t status = selftest_status != nullptr ? *selftest_status : 0;
    const char* ending = (status & 0xF0) == 0x10   ? "was aborted"
                         : (status & 0xF0) == 0x30 ? "ended on an error"
                                                   : "have been completed";
    subtitle_text = std::string(short_scan ? "surface short test " : "surface long test ") + ending;
  }
  switch (read_error_code) {
    case 255: read_error_text = "ComErr"; break;
    case 1: read_error_text = "Fail"; break;
    case 0: read_error_text = "Pass"; break;
    default: break;
  }
  if (selftest_status != nullptr) surface_text = SurfaceResultText(*selftest_status);
  failed_run_text = FailedRunText(failed_run);
  reads_note_text = ReadsInsteadText(reads_instead, reads_from);
  UpdateData(false);
  return true;
}

ui::CtlColor CSFTestResult::OnCtlColor(int id) {
  if (id == result_ids::kTitle) return ui::TitleBandColors(white_brush);
  return ui::Dialog::OnCtlColor(id);
}

}  // namespace plovix
