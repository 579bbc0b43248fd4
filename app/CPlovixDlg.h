// The main window: drive list, buttons and every piece of state that outlives a dialog.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "drive/DeviceIo.h"
#include "drive/Commands.h"
#include "drive/DriveConnection.h"
#include "drive/IoBuffers.h"
#include "inventory/DeviceCatalog.h"
#include "inventory/DriveRecord.h"
#include "inventory/DriveScan.h"
#include "reports/SmartAttributes.h"
#include "reports/SmartVerdict.h"
#include "resources/ResourceIds.h"
#include "ui/Dialog.h"

namespace plovix {

class CTestdlg;
class CTestResult;

inline constexpr int kUnsupportedTimer = 55;
inline constexpr int kStatusColumn = 5;

class CPlovixDlg : public ui::Dialog {
 public:
  CPlovixDlg(DeviceIo& io, DeviceCatalog& catalog);
  ~CPlovixDlg() override;

  bool OnInitDialog() override;
  void DoDataExchange(ui::DataExchange& dx) override;
  void OnCommand(int id) override;
  void OnNotify(int id, int code) override;
  void OnTimer(int timer_id) override;
  ui::CtlColor OnCtlColor(int id) override;
  void OnSysCommand(int command) override;
  bool OnDeviceChange(unsigned event, std::uintptr_t data) override;

  // Operations offered to the flows.
  void RefreshDriveList();
  void FillDriveList();
  void OnScan();
  // After a scan: why the list is empty when the system's disks could not be
  // determined; otherwise the drives that cannot be reached, or, when nothing is
  // listed, everything the scan found and why each is left out.
  void ShowScanNotices();
  void ShowSystemUndeterminedNotice();
  void ShowUnreachableNotice();
  void ShowEmptyListNotice();
  void OnSelectAll();
  void OnHelp();
  void SetStatusText(int line, const std::string& text);
  ui::ListCtrl& drive_list() { return List(ids::main_window::kDriveList); }

  // Quick and extended test run (diagnostics/).
  void RunSelfTests(int kind);
  // Parts of the run for one drive: the NVMe road, and showing the progress and result
  // dialogs and recording the outcome (either road).
  void RunNvmeSelfTest(int kind, const DriveRecord& record, int slot, CTestdlg& progress,
                       CTestResult& result);
  // started: false when the start was refused or failed; no progress dialog then.
  void WatchSelfTest(int kind, const DriveRecord& record, int slot, int read_error_code,
                     bool started, CTestdlg& progress, CTestResult& result);
  int GetCheckedDriveNumbers(int* numbers);
  int ReadErrorCheck(int drive_number, Transport transport);
  // The same for an NVMe drive, by its health log: media and data integrity errors 0
  // passes, any other count fails, an unreadable log returns non-zero (and, when the
  // operating system refused the request, the user has been told).
  int NvmeReadErrorCheck(const DriveRecord& record, const std::string& drive_caption);
  // Utilities button (diagnostics/).
  void OnUtilities();
  // The two erases, after both confirmations (diagnostics/EraseFlow.cpp).
  void RunEraseMbr(const DriveRecord& record, int line);
  void RunEraseDisk(const DriveRecord& record, int line);
  // What the user is to know before confirming an erase of the record's drive: the
  // volumes to be dismounted, the sectors a host protected area hides (Erase Disk);
  // empty when nothing. Remembers the hidden sectors for the erase's result.
  std::string EraseNotice(const DriveRecord& record, std::uint8_t choice);
  // Opens the record's drive for an erase; false, with the user told and nothing
  // written or logged, when what opens is not the listed drive any more.
  bool OpenListedDriveForErase(const DriveRecord& record, int line);
  // Claims the disk for the erase; false, with the user told and nothing written, when
  // something uses it or the system would not let it be claimed.
  bool ClaimForErase(const DriveRecord& record, int line, DiskClaim& claim);
  // Gives the claim up, telling the system of the new content; the user is told when
  // the system could not be told.
  void ReleaseAfterErase(DiskClaim& claim, const std::string& drive_caption);
  // Double click on the drive list (reports/).
  void OpenSmartStatus();
  void ReadSmartAttributes(int drive_number, Transport transport);
  // An NVMe drive's health log into nvme_health; false when it could not be read.
  bool ReadNvmeHealth(const DriveRecord& record, const std::string& drive_caption);
  // The drive's SMART state read afresh (ATA: both sectors, NVMe: the health log) and
  // judged as the SMART status dialog judges it; Unknown when it could not be read. Sends
  // nothing to an ATA drive whose SMART is not usable, and nothing that writes. The
  // handle is left open, as after the SMART status read.
  SmartVerdict ReadSmartVerdict(const DriveRecord& record);

  // Sectors a host protected area hides on the drive about to be erased, as the notice
  // before the confirmation found them; none when unknown.
  std::optional<std::uint64_t> erase_hidden_sectors;

  // State that outlives single dialogs.
  DeviceIo& device_io;
  DeviceCatalog& catalog;
  std::unique_ptr<IoBuffers> io_buffers;           // created at initialisation
  std::unique_ptr<DriveConnection> connection;      // created at initialisation
  std::unique_ptr<std::uint8_t> selftest_status;    // created at initialisation
  std::unique_ptr<std::uint8_t> utility_choice;     // created at initialisation
  DriveTable drive_table;
  SmartAttributeTable smart_table;
  SmartOtherAttributes smart_others;  // what the catalogue does not name; SMART status only
  NvmeHealth nvme_health;             // the last NVMe health log read
  UnsupportedUsbList unsupported_usb;
  std::int32_t read_error_flag = 0;
  std::uint32_t bridge_data_word = 0;
  std::uint8_t selected_behind_bridge = 0;
  int unsupported_timer = 0;
  // What kept the last scan from telling the system's disks apart; "" when nothing did.
  std::string system_undetermined;
  ScanNotes scan_notes;  // what the last scan met and did not list
  std::string version_text;

  ui::Font banner_font;
  ui::Font label_font;
  ui::Font footer_font;
  ui::Brush white_brush;
  int main_icon = ids::kAppIcon;
};

}  // namespace plovix
