#include "diagnostics/Confirm.h"

#include "diagnostics/DriveCaption.h"
#include "resources/ResourceIds.h"
#include "ui/Backend.h"

namespace plovix {

namespace {

constexpr const char* kEraseMbrWarning =
    "ERASING THE MBR OF YOUR HARD DISK DRIVE WILL PROCEED WHEN YOU PRESS THE START BUTTON. "
    "THIS UTILITY WILL ERASE THE MASTER BOOT RECORD BY OVERWRITING THE ORIGINAL INFORMATION "
    "WITH ZEROS. A RE-INSTALLATION OF YOUR OPERATING SYSTEM AND DATA WILL BE REQUIRED.";
constexpr const char* kEraseDiskWarning =
    "ERASURE OF YOUR HARD DISK DRIVE WILL PROCEED WHEN YOU PRESS THE START BUTTON. "
    "THIS UTILITY WILL ERASE THE MASTER BOOT RECORD BY OVERWRITING THE ORIGINAL INFORMATION "
    "WITH ZEROS. A RE-INSTALLATION OF YOUR OPERATING SYSTEM AND DATA WILL BE REQUIRED.";
constexpr const char* kSmartDisabledWarning =
    "THE SMART FUNCTION OF THIS DRIVE IS DISABLED NOW. FOR TESTING THIS DRIVE, YOU NEED TO "
    "ENABLE SMART FUNCTION. WHEN YOU PRESS 'OK' BUTTON, THE SMART FUNCTION OF THIS DRIVE WILL "
    "CHANGE FROM DISABLEMENT TO ENABLEMENT.";

// Both warning dialogs draw their message in red and leave everything else alone.
ui::CtlColor RedWarningText(ui::CtlColor colors, int id, int text_id) {
  if (id == text_id) colors.text_color = ui::RGB(255, 0, 0);
  return colors;
}

}  // namespace

CEraseWarning1::CEraseWarning1() : ui::Dialog(ids::kWarningTemplate) {}

bool CEraseWarning1::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  NameDriveInCaption(*this, drive_caption);
  erase_mbr_text = kEraseMbrWarning;
  erase_disk_text = kEraseDiskWarning;
  smart_disabled_text = kSmartDisabledWarning;
  switch (warning_kind) {
    case static_cast<std::uint8_t>(WarningKind::EraseMbr):
      displayed_text = erase_mbr_text;
      break;
    case static_cast<std::uint8_t>(WarningKind::EraseDisk):
      displayed_text = erase_disk_text;
      break;
    case static_cast<std::uint8_t>(WarningKind::SmartDisabled):
      displayed_text = smart_disabled_text;
      break;
    default:
      break;  // unknown kinds show no message
  }
  UpdateData(false);
  return true;
}

void CEraseWarning1::DoDataExchange(ui::DataExchange& dx) {
  ui::Dialog::DoDataExchange(dx);
  dx.Text(ids::warning::kText, displayed_text);
}

ui::CtlColor CEraseWarning1::OnCtlColor(int id) {
  return RedWarningText(ui::Dialog::OnCtlColor(id), id, ids::warning::kText);
}

CEraseWarning2::CEraseWarning2() : ui::Dialog(ids::kSureTemplate) {}

bool CEraseWarning2::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  NameDriveInCaption(*this, drive_caption);
  if (!font.face.empty()) SetControlFont(ids::sure::kText, font);
  return true;
}

ui::CtlColor CEraseWarning2::OnCtlColor(int id) {
  return RedWarningText(ui::Dialog::OnCtlColor(id), id, ids::sure::kText);
}

CCompErase1::CCompErase1() : ui::Dialog(ids::kEraseMbrDoneTemplate) {}

bool CCompErase1::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  NameDriveInCaption(*this, drive_caption);
  return true;
}

CCompErase2::CCompErase2() : ui::Dialog(ids::kEraseDiskDoneTemplate) {}

bool CCompErase2::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  NameDriveInCaption(*this, drive_caption);
  return true;
}

void CCompErase2::OnOK() { ui::Dialog::OnOK(); }

CAbortTest::CAbortTest() : ui::Dialog(ids::kAbortQuestionTemplate) {}

bool ConfirmWithWarning(WarningKind kind, const std::string& drive_caption) {
  CEraseWarning1 warning;
  warning.warning_kind = static_cast<std::uint8_t>(kind);
  warning.drive_caption = drive_caption;
  CEraseWarning2 sure;
  sure.font = ui::Font{"Arial", 120};
  sure.drive_caption = drive_caption;
  if (warning.DoModal() != ui::IDOK) return false;
  return sure.DoModal() == ui::IDOK;
}

}  // namespace plovix
