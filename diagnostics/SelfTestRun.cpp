// The "Quick Test" and "Ext Test" buttons: read-error check and SMART self-test on up
// to three checked drives.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/CPlovixDlg.h"
#include "diagnostics/CTestResult.h"
#include "diagnostics/CTestdlg.h"
#include "diagnostics/Confirm.h"
#include "diagnostics/DriveCaption.h"
#include "diagnostics/NvmeSupport.h"
#include "drive/NvmeCommands.h"
#include "reports/DriveLog.h"
#include "ui/Backend.h"

namespace plovix {

namespace {

inline constexpr int kMaxTestedDrives = 3;
inline constexpr int kPendingSectorAttribute = 197;

Transport TransportOf(const DriveRecord& record) {
  Transport t;
  t.via_scsi = record.via_scsi == 1 ? 1 : 0;
  t.behind_bridge = (t.via_scsi == 1 && record.behind_bridge != 0) ? 1 : 0;
  return t;
}

std::string SerialOf(const DriveRecord& record) {
  return std::string(record.serial, strnlen(record.serial, sizeof record.serial));
}

const char* SelfTestTag(int kind) { return kind == 2 ? "SMART ET" : "SMART QT"; }

// Why a device self-test did not start, for the user.
const char* NotStartedText(const NvmeReply& reply) {
  if (reply.outcome == NvmeOutcome::Refused) return nvme_text::kSelfTestStartRefused;
  if (reply.outcome == NvmeOutcome::Completed &&
      NvmeStatusCodeType(reply.status) == kNvmeSctCommandSpecific &&
      NvmeStatusCode(reply.status) == kNvmeScSelfTestInProgress) {
    return nvme_text::kSelfTestBusy;
  }
  return nvme_text::kSelfTestNotStarted;
}

// The drive numbers of the checked lines past the first `skip`, in list order.
std::vector<int> CheckedNumbersAfter(ui::ListCtrl& list, int skip) {
  std::vector<int> numbers;
  int seen = 0;
  for (int line = list.GetNextItem(-1, ui::LVNI_ALL); line != -1;
       line = list.GetNextItem(line, ui::LVNI_ALL)) {
    if (list.GetItemState(line, ui::LVIS_STATEIMAGEMASK) != ui::IndexToStateImageMask(2)) {
      continue;
    }
    if (++seen <= skip) continue;
    const std::string text = list.GetItemText(line, 0);
    numbers.push_back(static_cast<int>(std::strtol(text.c_str(), nullptr, 10)));
  }
  return numbers;
}

// Who the run leaves out, by drive number and model.
std::string LeftOutDrivesText(const DriveTable& table, const std::vector<int>& numbers) {
  std::string text =
      "Only three drives are tested at a time, so these checked drives are left out:";
  for (const int number : numbers) {
    text += "\n" + std::to_string(number);
    const int slot = FindSlotByDriveNumber(table, number);
    if (slot >= 0) {
      const DriveRecord& record = table.records[slot];
      text += ": " + std::string(record.model, strnlen(record.model, sizeof record.model));
    }
  }
  return text;
}

}  // namespace

int CPlovixDlg::NvmeReadErrorCheck(const DriveRecord& record, const std::string& drive_caption) {
  connection->Close();
  connection->Open(record.drive_number);
  const NvmeReply reply = NvmeReadHealthLog(*connection);
  read_error_flag = 1;
  if (!NvmeSucceeded(reply)) {
    if (reply.outcome == NvmeOutcome::Refused) TellUser(nvme_text::kHealthRefused, drive_caption);
    return kCommandFailed;
  }
  DecodeHealthLog(io_buffers->a(), nvme_health);
  read_error_flag = nvme_health.media_errors.IsZero() ? 0 : 1;
  return kCommandOk;
}

int CPlovixDlg::GetCheckedDriveNumbers(int* numbers) {
  ui::ListCtrl& list = drive_list();
  int count = 0;
  for (int line = list.GetNextItem(-1, ui::LVNI_ALL); line != -1;
       line = list.GetNextItem(line, ui::LVNI_ALL)) {
    if (list.GetItemState(line, ui::LVIS_STATEIMAGEMASK) != ui::IndexToStateImageMask(2)) {
      continue;
    }
    if (numbers != nullptr) {
      const std::string text = list.GetItemText(line, 0);
      numbers[count] = static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
    }
    if (++count == kMaxTestedDrives) break;
  }
  return count;
}

int CPlovixDlg::ReadErrorCheck(int drive_number, Transport transport) {
  connection->Close();
  connection->Open(drive_number);
  if (SmartReadData(*connection, transport) != kCommandOk) {
    read_error_flag = 1;
    return kCommandFailed;
  }
  const int rows = DecodeSmartValues(io_buffers->a(), smart_table);
  read_error_flag = 1;
  // Judge the whole raw value: a pending-sector count lives in its low bytes.
  for (int r = 0; r < rows && r < kSmartCatalogSize; ++r) {
    const SmartAttributeRow& row = smart_table.rows[r];
    if (row.id != kPendingSectorAttribute) continue;
    read_error_flag = row.raw48 == 0 ? 0 : 1;
    return kCommandOk;
  }
  // No pending-sector count reported: nothing to judge.
  return kCommandFailed;
}

void CPlovixDlg::RunSelfTests(int kind) {
  CTestdlg progress;
  CTestResult result;
  progress.io_buffers = io_buffers.get();
  progress.connection = connection.get();
  progress.kind = kind;
  progress.status_out = selftest_status.get();
  result.status_in = selftest_status.get();
  result.kind = kind;

  int numbers[kMaxTestedDrives] = {};
  const int count = GetCheckedDriveNumbers(numbers);
  if (count == 0) return;
  // Said before anything starts, so no one waits for a drive that is not tested.
  if (const std::vector<int> left_out = CheckedNumbersAfter(drive_list(), kMaxTestedDrives);
      !left_out.empty()) {
    ui::AfxMessageBox(LeftOutDrivesText(drive_table, left_out), ui::MB_OK | ui::MB_ICONEXCLAMATION);
  }

  for (int n = 0; n < count; ++n) {
    const int slot = FindSlotByDriveNumber(drive_table, numbers[n]);
    if (slot >= 0) SetStatusText(slot, "Ready");
  }

  for (int n = 0; n < count; ++n) {
    const int slot = FindSlotByDriveNumber(drive_table, numbers[n]);
    if (slot < 0) continue;
    // A copy: the dialogs below run modal loops, and nothing of this drive's test
    // should follow a table rebuilt meanwhile.
    const DriveRecord record = drive_table.records[slot];
    const Transport transport = TransportOf(record);
    const std::string drive_caption = DriveCaption(record);

    if (record.nvme == 1) {
      RunNvmeSelfTest(kind, record, slot, progress, result);
      continue;
    }

    if (!IsSmartUsable(record)) {
      if (ConfirmWithWarning(WarningKind::SmartDisabled, drive_caption)) {
        SmartEnableOperations(*connection, transport, record.drive_number);
        RefreshDriveList();
      }
      return;
    }

    selected_behind_bridge = record.behind_bridge;
    progress.behind_bridge = record.behind_bridge;

    const int rc = ReadErrorCheck(record.drive_number, transport);
    const int read_error_code = rc != kCommandOk ? kReadErrorComErr : read_error_flag;
    result.read_error_code = read_error_code;
    result.drive_caption = drive_caption;
    progress.drive_caption = drive_caption;
    progress.via_scsi = record.via_scsi;
    SetStatusText(slot, "Now Test Execute");

    const auto test_kind = static_cast<std::uint8_t>(kind);
    // Recognised bridge chips want their register written before the start; a start
    // sent after a failed write would reach no drive.
    bool started = true;
    if (transport.via_scsi == 1 && record.behind_bridge != 0 && record.bridge_chip >= 1 &&
        record.bridge_chip <= 3) {
      started = BridgeRegisterWrite(*connection, record.bridge_chip) == kCommandOk;
    }
    if (started) started = SmartStartSelfTest(*connection, transport, test_kind) == kCommandOk;

    progress.drive_number = record.drive_number;
    progress.nvme = 0;
    WatchSelfTest(kind, record, slot, read_error_code, started, progress, result);
  }
}

void CPlovixDlg::WatchSelfTest(int kind, const DriveRecord& record, int slot,
                               int read_error_code, bool started, CTestdlg& progress,
                               CTestResult& result) {
  // A test that did not start has nothing to watch: the drive would only report the
  // outcome of some earlier test.
  const int code = started ? progress.DoModal() : kSelfTestNotStarted;
  // Dismissed: the dialog wrote no result, and the byte still holds another drive's or
  // an earlier run's. Show what this drive reported in this showing, or the running
  // value the dialog started from when it reported nothing.
  if (code == ui::IDCANCEL) *selftest_status = progress.status;
  result.not_started = code == kSelfTestNotStarted;
  result.DoModal();

  const std::string serial = SerialOf(record);
  AppendDriveLog(serial, "ReadErrStat", ReadErrorWord(read_error_code));

  switch (code) {
    case kSelfTestPassed:
      SetStatusText(slot, "Completed");
      AppendDriveLog(serial, SelfTestTag(kind), "Pass");
      break;
    case kSelfTestFailed:
    case kSelfTestNotStarted:  // a test that never ran has shown nothing sound
      SetStatusText(slot, "Failure");
      AppendDriveLog(serial, SelfTestTag(kind), "Fail");
      break;
    case kSelfTestAborted:
      SetStatusText(slot, "Aborted");
      AppendDriveLog(serial, SelfTestTag(kind), "Aborted");
      break;
    default:
      break;  // still running or dismissed: nothing known about the self-test
  }
}

// The NVMe road through the same run: the health log for the read-error check, the
// drive's device self-test, and the user told of every step that did not happen.
void CPlovixDlg::RunNvmeSelfTest(int kind, const DriveRecord& record, int slot,
                                 CTestdlg& progress, CTestResult& result) {
  const std::string drive_caption = DriveCaption(record);
  if (record.nvme_self_test != 1) {
    // As for an ATA drive without a SMART self-test: nothing runs, nothing is logged.
    TellUser(nvme_text::kSelfTestUnsupported, drive_caption);
    SetStatusText(slot, "Not Supported");
    return;
  }
  selected_behind_bridge = 0;
  progress.behind_bridge = 0;
  progress.via_scsi = 0;
  progress.nvme = 1;
  progress.drive_caption = drive_caption;
  result.drive_caption = drive_caption;

  const int rc = NvmeReadErrorCheck(record, drive_caption);
  const int read_error_code = rc != kCommandOk ? kReadErrorComErr : read_error_flag;
  result.read_error_code = read_error_code;
  SetStatusText(slot, "Now Test Execute");

  // The results before the start, on the handle the check left open.
  progress.SetNvmeResultsBefore(NvmeSucceeded(NvmeReadSelfTestLog(*connection))
                                    ? io_buffers->a()
                                    : nullptr);
  const NvmeReply start = NvmeStartSelfTest(
      *connection, kind == 2 ? NvmeSelfTestCode::Extended : NvmeSelfTestCode::Short);
  const bool started = NvmeSucceeded(start);
  // Why it did not start, which the result dialog has no room to say.
  if (!started) TellUser(NotStartedText(start), drive_caption);
  progress.drive_number = record.drive_number;
  WatchSelfTest(kind, record, slot, read_error_code, started, progress, result);
}

}  // namespace plovix
