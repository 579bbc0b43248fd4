#include "diagnostics/Surface.h"

#include "diagnostics/DriveCaption.h"
#include "drive/Commands.h"
#include "ui/Backend.h"

namespace plovix {

namespace {

using namespace surface_ids;

enum class SpanOutcome { Done, Stopped, Failed };

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

int RunScan(CSFTest* dlg, int kind) {
  if (dlg->total_sectors == 0 || dlg->connection == nullptr) return dlg->Finish(true);
  dlg->current_lba.store(0, std::memory_order_relaxed);
  // A stop in the first phase of the short scan ends the scan: the second never runs.
  for (const SectorSpan& span : SurfaceSpans(kind, dlg->total_sectors)) {
    switch (ScanSpan(*dlg, span)) {
      case SpanOutcome::Done:
        break;
      case SpanOutcome::Stopped:
        return dlg->Finish(false);
      case SpanOutcome::Failed:
        return dlg->Finish(true);
    }
  }
  return dlg->Finish(false);
}

}  // namespace

int SurfaceShortWorker(CSFTest* dlg) { return RunScan(dlg, kSurfaceShort); }
int SurfaceLongWorker(CSFTest* dlg) { return RunScan(dlg, kSurfaceLong); }

// --- CSFTest ---------------------------------------------------------------------------

CSFTest::CSFTest() : WorkerDialog(kProgressTemplate, kAbort, kSurfaceAborted) {}

CSFTest::~CSFTest() { StopWorker(); }

SectorRun CSFTest::FailedRun() const {
  if (finished.load(std::memory_order_acquire) == 0) return {};
  return SectorRun{failed_run_lba.load(std::memory_order_relaxed),
                   failed_run_count.load(std::memory_order_relaxed)};
}

void CSFTest::DoDataExchange(ui::DataExchange& dx) {
  dx.Text(kTitle, title_text);
  dx.Text(kProgressText, progress_text);
}

bool CSFTest::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  NameDriveInCaption(*this, drive_caption);
  white_brush = ui::CreateSolidBrush(ui::RGB(255, 255, 255));
  SetControlFont(kTitle, title_font);
  if (kind == kSurfaceShort) {
    title_text = "Surface Short Test";
    progress_text = "Surface short test in progress";
  } else if (kind == kSurfaceLong) {
    title_text = "Surface Long Test";
    progress_text = "Surface long test in progress";
  }
  UpdateData(false);
  timer_id = SetTimer(kProgressTimer, kProgressPeriodMs);
  Progress(kBar).SetRange(0, 99);
  failed_run_lba.store(0, std::memory_order_relaxed);
  failed_run_count.store(0, std::memory_order_relaxed);
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
      Progress(kBar).SetPos(
          SurfaceProgress(kind, current_lba.load(std::memory_order_relaxed), total_sectors));
    }
    UpdateData(false);
  } else {
    KillTimer(timer_id);
    if (failed.load(std::memory_order_relaxed) != 0) {
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
  if (id == kTitle) return ui::TitleBandColors(white_brush);
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

CSFTestResult::CSFTestResult(std::uint8_t* status)
    : ui::Dialog(kResultTemplate), selftest_status(status) {}

void CSFTestResult::DoDataExchange(ui::DataExchange& dx) {
  dx.Text(kResultTitle, title_text);
  dx.Text(kResultSubtitle, subtitle_text);
  dx.Text(kReadErrorResult, read_error_text);
  dx.Text(kSurfaceResult, surface_text);
  dx.Text(kFailedRun, failed_run_text);
}

bool CSFTestResult::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  NameDriveInCaption(*this, drive_caption);
  SetControlFont(kResultTitle, title_font);
  SetControlFont(kSurfaceResult, result_font);
  SetControlFont(kReadErrorResult, result_font);
  white_brush = ui::CreateSolidBrush(ui::RGB(255, 255, 255));
  if (kind == kSurfaceShort) {
    title_text = "Surface Short Test";
    subtitle_text = "surface short test have been completed";
  } else if (kind == kSurfaceLong) {
    title_text = "Surface Long Test";
    subtitle_text = "surface long test have been completed";
  }
  switch (read_error_code) {
    case 255: read_error_text = "ComErr"; break;
    case 1: read_error_text = "Fail"; break;
    case 0: read_error_text = "Pass"; break;
    default: break;
  }
  if (selftest_status != nullptr) surface_text = SurfaceResultText(*selftest_status);
  failed_run_text = FailedRunText(failed_run);
  UpdateData(false);
  return true;
}

ui::CtlColor CSFTestResult::OnCtlColor(int id) {
  if (id == kResultTitle) return ui::TitleBandColors(white_brush);
  return ui::Dialog::OnCtlColor(id);
}

}  // namespace plovix
