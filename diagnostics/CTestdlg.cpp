#include "diagnostics/CTestdlg.h"

#include "diagnostics/Confirm.h"
#include "diagnostics/DriveCaption.h"

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

CTestdlg::CTestdlg() : ui::Dialog(kTestDlgTemplate) {
  title_font.face = "Arial";
  title_font.tenths_of_point = 150;
}

CTestdlg::~CTestdlg() = default;

void CTestdlg::DoDataExchange(ui::DataExchange& dx) {
  ui::Dialog::DoDataExchange(dx);
  dx.Text(testdlg_ids::kTitle, title_text, 40);
  progress_bar = &dx.dialog().Progress(testdlg_ids::kProgress);
  dx.Text(testdlg_ids::kProgressText, progress_text);
}

bool CTestdlg::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  NameDriveInCaption(*this, drive_caption);
  first_poll_done = 0;
  finished = 0;
  // Every showing judges only what this drive reports.
  status = kStatusNeutralRunning;
  SetControlFont(testdlg_ids::kTitle, title_font);
  white_brush = ui::CreateSolidBrush(ui::RGB(255, 255, 255));
  if (const KindTexts* texts = TextsFor(kind)) {
    title_text = texts->title;
    progress_text = texts->progress;
    UpdateData(false);
  }
  SetTimer(kTestDlgTimer, kTestDlgPollMs);
  Progress(testdlg_ids::kProgress).SetRange(0, 99);
  return true;
}

Transport CTestdlg::transport() const {
  Transport t;
  t.via_scsi = via_scsi == 1 ? 1 : 0;
  t.behind_bridge = (t.via_scsi == 1 && behind_bridge != 0) ? 1 : 0;
  return t;
}

int CTestdlg::Poll() {
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
  Progress(testdlg_ids::kProgress).SetPos(position);
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
  if (id == testdlg_ids::kAbort) {
    OnAbort();
    return;
  }
  ui::Dialog::OnCommand(id);
}

void CTestdlg::OnOK() { OnAbort(); }

void CTestdlg::OnAbort() {
  CAbortTest confirm;
  if (confirm.DoModal() != ui::IDOK) return;
  if (connection != nullptr) {
    connection->Close();
    connection->Open(drive_number);
    SmartAbortSelfTest(*connection, transport());
    connection->Close();
  }
  if (status_out != nullptr) *status_out = kStatusAbortedByHost;
  EndDialog(kSelfTestAborted);
}

ui::CtlColor CTestdlg::OnCtlColor(int id) {
  if (id == testdlg_ids::kTitle) return ui::TitleBandColors(white_brush);
  return ui::Dialog::OnCtlColor(id);
}

}  // namespace plovix
