#include "diagnostics/CTestdlg.h"

#include <cstring>

#include "diagnostics/Confirm.h"
#include "diagnostics/DriveCaption.h"
#include "diagnostics/NvmeSupport.h"
#include "drive/NvmeCommands.h"
#include "resources/ResourceIds.h"

namespace plovix {

namespace {

struct KindTexts {
  const char* title;
  const char* progress;
};

const KindTexts* TextsFor(int kind) {
  static const KindTexts kQuick{"SMART Short Test", "SMART short test in progress"};
  static const KindTexts kExtended{"SMART Extended Test", "SMART extend test in progress"};
  if (kind == 1) return &kQuick;
  if (kind == 2) return &kExtended;
  return nullptr;
}

}  // namespace

CTestdlg::CTestdlg() : ui::Dialog(ids::kSelfTestProgressTemplate) {
  title_font.face = "Arial";
  title_font.tenths_of_point = 150;
}

CTestdlg::~CTestdlg() = default;

void CTestdlg::DoDataExchange(ui::DataExchange& dx) {
  ui::Dialog::DoDataExchange(dx);
  dx.Text(ids::selftest_progress::kTitle, title_text, 40);
  progress_bar = &dx.dialog().Progress(ids::selftest_progress::kBar);
  dx.Text(ids::selftest_progress::kProgressText, progress_text);
}

bool CTestdlg::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  NameDriveInCaption(*this, drive_caption);
  first_poll_done = 0;
  finished = 0;
  // Every showing judges only what this drive reports.
  status = kStatusNeutralRunning;
  nvme_unchanged_polls_ = 0;
  SetControlFont(ids::selftest_progress::kTitle, title_font);
  white_brush = ui::CreateSolidBrush(ui::RGB(255, 255, 255));
  if (const KindTexts* texts = TextsFor(kind)) {
    title_text = texts->title;
    progress_text = texts->progress;
    UpdateData(false);
  }
  SetTimer(kTestDlgTimer, kTestDlgPollMs);
  Progress(ids::selftest_progress::kBar).SetRange(0, 99);
  return true;
}

Transport CTestdlg::transport() const {
  Transport t;
  t.via_scsi = via_scsi == 1 ? 1 : 0;
  t.behind_bridge = (t.via_scsi == 1 && behind_bridge != 0) ? 1 : 0;
  return t;
}

void CTestdlg::SetNvmeResultsBefore(const std::uint8_t* self_test_log) {
  nvme_results_before_.reset();
  if (self_test_log == nullptr) return;
  std::array<std::uint8_t, kNvmeResultBytes> results{};
  std::memcpy(results.data(), self_test_log + 4, results.size());
  nvme_results_before_ = results;
}

int CTestdlg::Poll() {
  if (nvme == 1) return PollNvme();
  const bool had_polled = first_poll_done == 1;
  if (connection != nullptr) {
    connection->Close();
    connection->Open(drive_number);
    if (SmartReadData(*connection, transport()) == kCommandOk) {
      const IoBuffers& buffers = io_buffers != nullptr ? *io_buffers : connection->buffers();
      status = buffers.a()[kSelfTestStatusOffset];
    }
  }

  const int position = had_polled ? (10 - static_cast<int>(status & 0x0F)) * 10 : 0;
  Progress(ids::selftest_progress::kBar).SetPos(position);
  UpdateData(false);

  if ((status & 0x0F) == 0 && had_polled) finished = 1;
  if (connection != nullptr) connection->Close();
  first_poll_done = 1;

  const int high = status & 0xF0;
  if (high == 0x00) return kSelfTestPassed;
  if (high == 0xF0) return kSelfTestStillRunning;
  finished = 1;
  return high == 0x10 ? kSelfTestAborted : kSelfTestFailed;
}

// A device self-test is judged by the log alone: while it runs the log says so and how
// far it is; once it stops, the newest result is this test's. A short test may have
// ended before the first poll. The results before the start tell a new entry from the
// old ones; a log unchanged over two polls with no test running can only hold a result
// identical to the one before (the same test passed within the same power-on hour).
int CTestdlg::PollNvme() {
  bool judged = false;
  bool came_to_nothing = false;
  int position = Progress(ids::selftest_progress::kBar).pos();
  if (connection != nullptr) {
    connection->Close();
    connection->Open(drive_number);
    if (NvmeSucceeded(NvmeReadSelfTestLog(*connection))) {
      const std::uint8_t* log_data = connection->buffers().a();
      NvmeSelfTestLog log;
      DecodeSelfTestLog(log_data, log);
      if (log.running()) {
        status = NvmeRunningStatus(log.completion_percent);
        position = log.completion_percent;
        nvme_unchanged_polls_ = 0;
      } else {
        const bool changed =
            !nvme_results_before_ ||
            std::memcmp(nvme_results_before_->data(), log_data + 4, kNvmeResultBytes) != 0;
        if (!log.newest) {
          // Nothing runs and nothing ever ran: the start the drive took came to nothing.
          // Given two polls, as for a result identical to the ones before.
          came_to_nothing = ++nvme_unchanged_polls_ >= 2;
        } else if (changed || ++nvme_unchanged_polls_ >= 2) {
          status = NvmeResultStatus(*log.newest);
          position = 100;
          judged = true;
        }
      }
    }
    connection->Close();
  }
  Progress(ids::selftest_progress::kBar).SetPos(position);
  UpdateData(false);
  first_poll_done = 1;
  if (came_to_nothing) {
    finished = 1;
    return kSelfTestNotStarted;
  }
  if (!judged) return kSelfTestStillRunning;
  finished = 1;
  const int high = status & 0xF0;
  if (high == 0x00) return kSelfTestPassed;
  if (high == 0xF0) return kSelfTestStillRunning;
  return high == 0x10 ? kSelfTestAborted : kSelfTestFailed;
}

void CTestdlg::OnTimer(int /*timer_id*/) {
  const int code = Poll();
  if (finished == 1) {
    if (status_out != nullptr) *status_out = status;
    // While the abort confirmation is open this only asks for the close; a confirmed
    // abort asks again afterwards and its code wins.
    EndDialog(code);
  }
}

void CTestdlg::OnCommand(int id) {
  if (id == ids::selftest_progress::kAbort) {
    OnAbort();
    return;
  }
  ui::Dialog::OnCommand(id);
}

void CTestdlg::OnOK() { OnAbort(); }

void CTestdlg::OnAbort() {
  CAbortTest confirm;
  if (confirm.DoModal() != ui::IDOK) return;
  if (nvme == 1) {
    AbortNvme();
    return;
  }
  if (connection != nullptr) {
    connection->Close();
    connection->Open(drive_number);
    SmartAbortSelfTest(*connection, transport());
    connection->Close();
  }
  if (status_out != nullptr) *status_out = kStatusAbortedByHost;
  EndDialog(kSelfTestAborted);
}

// Unlike the ATA abort, whose outcome the drive never reports, an NVMe abort says
// whether it went through; when it did not, the test goes on and so does the watch.
void CTestdlg::AbortNvme() {
  NvmeReply reply;
  if (connection != nullptr) {
    connection->Close();
    connection->Open(drive_number);
    reply = NvmeAbortSelfTest(*connection);
    connection->Close();
  }
  if (!NvmeSucceeded(reply)) {
    TellUser(reply.outcome == NvmeOutcome::Refused ? nvme_text::kAbortRefused
                                                   : nvme_text::kAbortFailed,
             drive_caption);
    return;
  }
  if (status_out != nullptr) *status_out = kStatusAbortedByHost;
  EndDialog(kSelfTestAborted);
}

ui::CtlColor CTestdlg::OnCtlColor(int id) {
  if (id == ids::selftest_progress::kTitle) return ui::TitleBandColors(white_brush);
  return ui::Dialog::OnCtlColor(id);
}

}  // namespace plovix
