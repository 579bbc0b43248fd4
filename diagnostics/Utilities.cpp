// The Utilities button: one checked drive, a menu, and the chosen utility run to its
// Status text, log record and result dialog.
#include "diagnostics/Utilities.h"

#include <cstring>
#include <string>

#include "app/CPlovixDlg.h"
#include "diagnostics/Confirm.h"
#include "diagnostics/DriveCaption.h"
#include "diagnostics/Erase.h"
#include "diagnostics/NvmeSupport.h"
#include "diagnostics/Surface.h"
#include "inventory/DriveScan.h"
#include "reports/DriveLog.h"
#include "reports/LogReport.h"
#include "resources/ResourceIds.h"
#include "ui/Backend.h"

namespace plovix {

// --- CUtilMenu -------------------------------------------------------------------------

CUtilMenu::CUtilMenu() : ui::Dialog(ids::kUtilitiesTemplate) {}

CUtilMenu::~CUtilMenu() = default;

bool CUtilMenu::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  NameDriveInCaption(*this, drive_caption);
  return true;
}

void CUtilMenu::Choose(std::uint8_t choice) {
  if (utility_choice != nullptr) *utility_choice = choice;
}

bool CUtilMenu::NoticeAccepted(std::uint8_t choice) {
  if (!erase_notice) return true;
  const std::string notice = erase_notice(choice);
  return notice.empty() || AskUser(notice, drive_caption);
}

void CUtilMenu::OnCommand(int id) {
  using namespace ids::utilities;
  switch (id) {
    case kEraseMbr:
      if (NoticeAccepted(utility::kEraseMbr) &&
          ConfirmWithWarning(WarningKind::EraseMbr, drive_caption)) {
        Choose(utility::kEraseMbr);
      }
      break;
    case kEraseDisk:
      if (NoticeAccepted(utility::kEraseDisk) &&
          ConfirmWithWarning(WarningKind::EraseDisk, drive_caption)) {
        Choose(utility::kEraseDisk);
      }
      break;
    case kLogView:
      Choose(utility::kLogView);
      break;
    case kShortTest:
      Choose(utility::kSurfaceShort);
      break;
    case kLongTest:
      Choose(utility::kSurfaceLong);
      break;
    default:
      ui::Dialog::OnCommand(id);
      return;
  }
  EndDialog(ui::IDOK);
}

// --- The Utilities button --------------------------------------------------------------

namespace {

// The record's fixed text fields, up to their first NUL and never past their end.
template <std::size_t N>
std::string Text(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

}  // namespace

void CPlovixDlg::OnUtilities() {
  int numbers[3] = {};
  if (GetCheckedDriveNumbers(numbers) != 1) return;
  const int line = FindSlotByDriveNumber(drive_table, numbers[0]);
  if (line < 0) return;
  // A copy: the table may be refilled while the utility's dialogs are up.
  const DriveRecord record = drive_table.records[line];
  const std::string serial = Text(record.serial);
  const std::string drive_caption = DriveCaption(record);
  selected_behind_bridge = record.behind_bridge;

  *utility_choice = utility::kNone;
  {
    CUtilMenu menu;
    menu.utility_choice = utility_choice.get();
    menu.drive_caption = drive_caption;
    menu.erase_notice = [this, &record](std::uint8_t choice) { return EraseNotice(record, choice); };
    menu.DoModal();
  }

  switch (*utility_choice) {
    case utility::kEraseMbr:
      RunEraseMbr(record, line);
      break;

    case utility::kEraseDisk:
      RunEraseDisk(record, line);
      break;

    case utility::kLogView: {
      CDispLog viewer;
      viewer.serial = serial;
      viewer.model = Text(record.model);
      viewer.firmware = Text(record.firmware);
      viewer.total_sectors = record.total_sectors;
      viewer.smart_verdict = ReadSmartVerdict(record);
      viewer.drive_caption = drive_caption;
      viewer.DoModal();
      break;
    }

    case utility::kSurfaceShort:
    case utility::kSurfaceLong: {
      const bool is_short = *utility_choice == utility::kSurfaceShort;
      const int kind = is_short ? kSurfaceShort : kSurfaceLong;
      const char* tag = is_short ? "SURFACE QT" : "SURFACE ET";
      if (record.nvme == 1 && record.nvme_verify != 1 && record.nvme_metadata_bytes != 0) {
        TellUser(nvme_text::kScanNeedsVerify, drive_caption);
        SetStatusText(line, "Not Supported");
        break;
      }
      CSFTest test;
      CSFTestResult result(selftest_status.get());
      test.drive_caption = drive_caption;
      result.drive_caption = drive_caption;

      connection->Close();
      connection->Open(record.drive_number);
      const int rc =
          record.nvme == 1
              ? NvmeReadErrorCheck(record, drive_caption)
              : ReadErrorCheck(record.drive_number, Transport{record.via_scsi, record.behind_bridge});
      result.read_error_code = rc != 0 ? 255 : read_error_flag;

      test.connection = connection.get();
      test.via_scsi = record.via_scsi;
      test.total_sectors = record.total_sectors;
      test.kind = kind;
      test.nvme = record.nvme;
      if (record.nvme == 1) {
        test.nvme_ns = NamespaceOf(record);
        test.nvme_mdts = record.nvme_mdts;
        test.nvme_verify = record.nvme_verify;
      }
      SetStatusText(line, "Now Test Execute");
      const int code = test.DoModal();
      result.kind = kind;

      if (rc != 0) {
        AppendDriveLog(serial, "ReadErrStat", "ComErr");
      } else if (read_error_flag == 1) {
        AppendDriveLog(serial, "ReadErrStat", "Fail");
      } else if (read_error_flag == 0) {
        AppendDriveLog(serial, "ReadErrStat", "Pass");
      }

      if (code == kSurfaceRefused) {
        // Nothing to judge: the result dialog has no sentence for a scan never made.
        SetStatusText(line, "Refused");
        TellUser(SurfaceRefusedText(test.refused_at.load()), drive_caption);
        AppendDriveLog(serial, tag, "Refused");
        break;
      }
      // Reads are as good a look at the surface, but the user is to know how it was looked at.
      result.reads_instead = test.reads_instead.load();
      result.reads_from = test.reads_from.load();
      if (code == kSurfaceFailed) {
        // Where it stopped, from what the scan already knows: nothing more is sent.
        result.failed_run = test.FailedRun();
        *selftest_status = 0x30;
        SetStatusText(line, "Failure");
        AppendDriveLog(serial, tag, "Fail");
      } else if (code == kSurfaceAborted) {
        *selftest_status = 0x10;
        SetStatusText(line, "Aborted");
        AppendDriveLog(serial, tag, "Aborted");
      } else {
        *selftest_status = 0x00;
        SetStatusText(line, "Completed");
        AppendDriveLog(serial, tag, "Pass");
      }
      result.DoModal();
      break;
    }

    default:
      break;
  }
}

}  // namespace plovix
