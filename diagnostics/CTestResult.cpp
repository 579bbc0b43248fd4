#include "diagnostics/CTestResult.h"

#include "diagnostics/DriveCaption.h"
#include "resources/ResourceIds.h"

namespace plovix {

const char* SelfTestSentence(std::uint8_t status) {
  switch (status & 0xF0) {
    case 0x00: return "Pass - Test completed without Error";
    case 0x10: return "Test aborted by the host";
    case 0x20: return "Test interrupted by the host with a hard or soft reset";
    case 0x30: return "Fail - Fatal/Unknown Error";
    case 0x40: return "Fail - Unkown Element Failure";
    case 0x50: return "Electrical Element Failure";
    case 0x60: return "Servo Element Failure";
    case 0x70: return "Fail - Read Element Failure";
    case 0xF0: return "Test still running in the drive";
    default: return "Fail - Unknown Failure";  // handling damage, reserved
  }
}

std::string SelfTestSubtitle(int kind, std::uint8_t status, bool not_started) {
  const char* test = kind == 1 ? "SMART short test " : kind == 2 ? "SMART extend test " : nullptr;
  if (test == nullptr) return {};
  if (not_started) return std::string(test) + "did not start";
  switch (status & 0xF0) {
    case 0x10: return std::string(test) + "was aborted";
    case 0x20: return std::string(test) + "was interrupted";
    case 0x30: return std::string(test) + "ended on an error";
    case 0x90: case 0xA0: case 0xB0: case 0xC0: case 0xD0: case 0xE0:
      return std::string(test) + "has ended";  // reserved: how far it got is unknown
    case 0xF0: return std::string(test) + "is still running";
    default: return std::string(test) + "have been completed";  // passed, or a failed element
  }
}

const char* ReadErrorWord(int read_error_code) {
  switch (read_error_code) {
    case kReadErrorComErr: return "ComErr";
    case kReadErrorFail: return "Fail";
    case kReadErrorPass: return "Pass";
    default: return nullptr;
  }
}

CTestResult::CTestResult() : ui::Dialog(ids::kSelfTestResultTemplate) {
  title_font.face = "Arial";
  title_font.tenths_of_point = 150;
  text_font.face = "Arial";
  text_font.tenths_of_point = 130;
}

CTestResult::~CTestResult() = default;

void CTestResult::DoDataExchange(ui::DataExchange& dx) {
  ui::Dialog::DoDataExchange(dx);
  dx.Text(ids::selftest_result::kTitle, title_text);
  dx.Text(ids::selftest_result::kSubtitle, subtitle_text);
  dx.Text(ids::selftest_result::kSelfTest, selftest_text);
  dx.Text(ids::selftest_result::kReadError, read_error_text);
}

bool CTestResult::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  NameDriveInCaption(*this, drive_caption);
  SetControlFont(ids::selftest_result::kTitle, title_font);
  SetControlFont(ids::selftest_result::kSelfTest, text_font);
  SetControlFont(ids::selftest_result::kReadError, text_font);
  white_brush = ui::CreateSolidBrush(ui::RGB(255, 255, 255));

  const std::uint8_t status = status_in != nullptr ? *status_in : 0;
  if (kind == 1 || kind == 2) {
    title_text = kind == 1 ? "SMART Short Test" : "SMART Extended Test";
    subtitle_text = SelfTestSubtitle(kind, status, not_started);
    UpdateData(false);
  }
  if (const char* word = ReadErrorWord(read_error_code)) read_error_text = word;
  if (not_started) {
    selftest_text = kSelfTestNotStartedSentence;
  } else if (status_in != nullptr) {
    selftest_text = SelfTestSentence(*status_in);
  }
  UpdateData(false);
  return true;
}

ui::CtlColor CTestResult::OnCtlColor(int id) {
  if (id == ids::selftest_result::kTitle) return ui::TitleBandColors(white_brush);
  return ui::Dialog::OnCtlColor(id);
}

}  // namespace plovix
