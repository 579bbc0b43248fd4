// The main window: start-up scan, the drive list, the buttons and the notices.
#include "app/CPlovixDlg.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "inventory/DriveScan.h"
#include "reports/Help.h"
#include "ui/Backend.h"

namespace plovix {

namespace {

constexpr unsigned kUnsupportedNoticeDelayMs = 5000;
constexpr const char* kVersion = "0.92";
constexpr ui::Color kWhite = ui::RGB(255, 255, 255);
constexpr ui::Color kBlack = ui::RGB(0, 0, 0);
constexpr std::uint32_t kDriveListExtStyles = ui::LVS_EX_GRIDLINES | ui::LVS_EX_CHECKBOXES |
                                              ui::LVS_EX_HEADERDRAGDROP |
                                              ui::LVS_EX_FULLROWSELECT;
constexpr int kCheckedStateImage = 2;

struct DriveColumn {
  const char* title;
  int width;
};

constexpr DriveColumn kDriveColumns[] = {
    {"      ", 50},     {"Model Name", 200}, {"Serial Number", 180},
    {"Firmware", 100},  {"Capacity", 100},   {"Status", 120},
};
constexpr int kDriveColumnCount = static_cast<int>(std::size(kDriveColumns));

// Record fields are fixed char arrays; never read past them even when a field is full.
template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

}  // namespace

CPlovixDlg::CPlovixDlg(DeviceIo& io, DeviceCatalog& device_catalog)
    : ui::Dialog(ids::kMainTemplate),
      device_io(io),
      catalog(device_catalog),
      banner_font{"Arial", 150},
      label_font{"Arial", 120},
      footer_font{"Arial", 120},
      main_icon(ids::kAppIcon) {}

CPlovixDlg::~CPlovixDlg() = default;

bool CPlovixDlg::OnInitDialog() {
  ui::Dialog::OnInitDialog();

  const std::string about_item = ui::LoadString(ids::kAboutMenuString);
  if (!about_item.empty()) {
    AppendSystemMenu(0, "");
    AppendSystemMenu(ui::IDM_ABOUTBOX, about_item);
  }

  SetIcon(main_icon);

  SetControlFont(ids::main_window::kBanner, banner_font);
  SetControlFont(ids::main_window::kIdeUsbLabel, label_font);
  SetControlFont(ids::main_window::kVersion, label_font);
  SetControlFont(ids::main_window::kFooter, footer_font);

  white_brush = ui::CreateSolidBrush(kWhite);

  // Created once and kept for the life of the program, even if the window were shown again.
  if (!io_buffers) io_buffers = std::make_unique<IoBuffers>();
  if (!connection) connection = std::make_unique<DriveConnection>(device_io, *io_buffers);
  if (!selftest_status) selftest_status = std::make_unique<std::uint8_t>(0);
  if (!utility_choice) utility_choice = std::make_unique<std::uint8_t>(0);

  RefreshDriveList();
  if (unsupported_usb.count != 0) {
    unsupported_timer = SetTimer(kUnsupportedTimer, kUnsupportedNoticeDelayMs);
  }

  version_text = kVersion;
  UpdateData(false);
  ShowScanNotices();
  return true;
}

void CPlovixDlg::DoDataExchange(ui::DataExchange& dx) {
  ui::Dialog::DoDataExchange(dx);
  dx.Text(ids::main_window::kVersion, version_text);
}

void CPlovixDlg::RefreshDriveList() {
  ui::ListCtrl& list = drive_list();
  list.SetExtendedStyle(list.GetExtendedStyle() | kDriveListExtStyles);

  // Columns of an earlier fill go first, so repeated scans never duplicate them.
  for (int i = 0; i < kDriveColumnCount; ++i) list.DeleteColumn(0);
  for (int i = 0; i < kDriveColumnCount; ++i) {
    if (list.InsertColumn(i, kDriveColumns[i].title, ui::LVCFMT_LEFT, kDriveColumns[i].width) ==
        -1) {
      break;
    }
  }

  RefreshDriveTable(drive_table, unsupported_usb, *connection, catalog, &system_undetermined,
                    &scan_notes);
  FillDriveList();
}

void CPlovixDlg::FillDriveList() {
  ui::ListCtrl& list = drive_list();
  list.DeleteAllItems();

  int count = drive_table.count;
  if (count < 0) count = 0;
  if (count > kMaxDrives) count = kMaxDrives;

  char number[16];
  for (int i = 0; i < count; ++i) {
    const DriveRecord& record = drive_table.records[i];
    std::snprintf(number, sizeof number, "%d", static_cast<int>(record.drive_number));
    const int line = list.InsertItem(i, number);
    if (line < 0) continue;
    list.SetItemText(line, 1, FieldText(record.model));
    list.SetItemText(line, 2, FieldText(record.serial));
    list.SetItemText(line, 3, FieldText(record.firmware));
    list.SetItemText(line, 4, FormatCapacityGb(record.total_sectors));
    list.SetItemText(line, kStatusColumn, "Ready");
  }
}

void CPlovixDlg::OnScan() {
  RefreshDriveList();
  ShowScanNotices();
  // Arming again while armed restarts the delay: the notice shows once, for this scan.
  if (unsupported_usb.count != 0) {
    unsupported_timer = SetTimer(kUnsupportedTimer, kUnsupportedNoticeDelayMs);
  }
}

void CPlovixDlg::ShowSystemUndeterminedNotice() {
  if (system_undetermined.empty()) return;
  ui::AfxMessageBox("The disks that hold the running system could not be determined: " +
                        system_undetermined +
                        ".\n\nNo drive is listed, so that none of them can be erased or "
                        "tested by mistake.",
                    ui::MB_OK | ui::MB_ICONEXCLAMATION);
}

void CPlovixDlg::ShowScanNotices() {
  if (!system_undetermined.empty()) {
    ShowSystemUndeterminedNotice();
  } else if (drive_table.count == 0 && unsupported_usb.count == 0) {
    // Unsupported USB drives have a notice of their own, shortly after.
    ShowEmptyListNotice();
    return;
  }
  ShowUnreachableNotice();
}

// A drive the adapter cannot reach is missing from the list; the user learns which and
// why instead of looking for it.
void CPlovixDlg::ShowUnreachableNotice() {
  std::vector<std::string> drives = device_io.UnreachableDrives();
  drives.insert(drives.end(), scan_notes.silent.begin(), scan_notes.silent.end());
  if (drives.empty()) return;
  std::string names;
  for (const auto& drive : drives) names += (names.empty() ? "" : "; ") + drive;
  ui::AfxMessageBox("These drives cannot be reached and are not listed: " + names + ".",
                    ui::MB_OK | ui::MB_ICONEXCLAMATION);
}

namespace {

// "sdb (why)" as a line of its own: "sdb: why".
std::string AsLine(const std::string& note) {
  const std::size_t open = note.find(" (");
  if (open == std::string::npos || note.back() != ')') return note;
  return note.substr(0, open) + ": " + note.substr(open + 2, note.size() - open - 3);
}

}  // namespace

// An empty list is never left unexplained: every disk the scan or the adapter met is
// named, with why it is not listed.
void CPlovixDlg::ShowEmptyListNotice() {
  std::vector<std::string> found = device_io.UnreachableDrives();
  for (const auto* more : {&scan_notes.silent, &scan_notes.system}) {
    found.insert(found.end(), more->begin(), more->end());
  }
  const std::vector<std::string> others = device_io.OtherDisks();
  found.insert(found.end(), others.begin(), others.end());
  if (found.empty()) {
    ui::AfxMessageBox("No drive is listed: the scan found no disk.",
                      ui::MB_OK | ui::MB_ICONEXCLAMATION);
    return;
  }
  std::string lines;
  for (const auto& note : found) lines += "\n" + AsLine(note);
  ui::AfxMessageBox("No drive is listed. The scan found:\n" + lines,
                    ui::MB_OK | ui::MB_ICONEXCLAMATION);
}

void CPlovixDlg::OnSelectAll() {
  ui::ListCtrl& list = drive_list();
  for (int i = list.GetNextItem(-1, ui::LVNI_ALL); i != -1; i = list.GetNextItem(i, ui::LVNI_ALL)) {
    list.SetItemState(i, ui::IndexToStateImageMask(kCheckedStateImage), ui::LVIS_STATEIMAGEMASK);
  }
}

void CPlovixDlg::OnHelp() {
  CDispHelp help;
  help.DoModal();
}

void CPlovixDlg::SetStatusText(int line, const std::string& text) {
  drive_list().SetItemText(line, kStatusColumn, text);
}

void CPlovixDlg::OnCommand(int id) {
  switch (id) {
    case ids::main_window::kScan:
      OnScan();
      break;
    case ids::main_window::kSelectAll:
      OnSelectAll();
      break;
    case ids::main_window::kQuickTest:
      RunSelfTests(1);
      break;
    case ids::main_window::kExtTest:
      RunSelfTests(2);
      break;
    case ids::main_window::kUtilities:
      OnUtilities();
      break;
    case ids::main_window::kHelp:
      OnHelp();
      break;
    case ids::main_window::kBanner:
      break;
    case ui::IDOK:
      // The window has no OK button: Enter on the drive list must not end the program.
      break;
    default:
      ui::Dialog::OnCommand(id);
      break;
  }
}

void CPlovixDlg::OnNotify(int id, int code) {
  if (id == ids::main_window::kDriveList && code == ui::NM_DBLCLK) {
    OpenSmartStatus();
    return;
  }
  ui::Dialog::OnNotify(id, code);
}

void CPlovixDlg::OnTimer(int timer_id) {
  if (timer_id == kUnsupportedTimer) {
    KillTimer(unsupported_timer);
    // Copied first: the boxes run nested loops, and the list must be the one that armed us.
    std::vector<std::string> notices;
    const int count = unsupported_usb.count < kMaxUnsupportedUsb ? unsupported_usb.count
                                                                 : kMaxUnsupportedUsb;
    for (int i = 0; i < count; ++i) {
      const UnsupportedUsbEntry& entry = unsupported_usb.entries[i];
      notices.push_back(FieldText(entry.vendor) + " " + FieldText(entry.product) +
                        " USB Device is NOT supported.");
    }
    for (const std::string& notice : notices) ui::MessageBox(notice, "Plovix", ui::MB_OK);
  }
  ui::Dialog::OnTimer(timer_id);
}

ui::CtlColor CPlovixDlg::OnCtlColor(int id) {
  ui::CtlColor colors = ui::Dialog::OnCtlColor(id);
  switch (id) {
    case ids::main_window::kBanner:
      colors.text_color = kBlack;
      colors.back_color = kWhite;
      colors.transparent = true;
      colors.brush = white_brush;
      break;
    case ids::main_window::kIdeUsbLabel:
    case ids::main_window::kVersion:
      colors.transparent = true;
      colors.brush = white_brush;
      break;
    default:
      break;
  }
  return colors;
}

void CPlovixDlg::OnSysCommand(int command) {
  if ((command & 0xFFF0) == ui::IDM_ABOUTBOX) {
    CAboutDlg about;
    about.DoModal();
    return;
  }
  ui::Dialog::OnSysCommand(command);
}

bool CPlovixDlg::OnDeviceChange(unsigned event, std::uintptr_t data) {
  (void)data;
  if (event == ui::DBT_DEVICEARRIVAL) {
    ui::AfxMessageBox("The device is available now !!", ui::MB_OK);
  }
  return false;
}

}  // namespace plovix
