#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/CPlovixDlg.h"
#include "diagnostics/Confirm.h"
#include "diagnostics/DriveCaption.h"
#include "diagnostics/NvmeSupport.h"
#include "drive/Commands.h"
#include "drive/NvmeCommands.h"
#include "reports/CSmartdlg.h"
#include "reports/NvmeHealthRows.h"
#include "reports/SmartVerdict.h"
#include "resources/ResourceIds.h"

namespace plovix {

using namespace ids::smart;

void CPlovixDlg::OpenSmartStatus() {
  smart_table = SmartAttributeTable{};
  smart_others = SmartOtherAttributes{};

  ui::ListCtrl& list = drive_list();
  const int line = list.GetNextItem(-1, ui::LVNI_SELECTED);
  if (line < 0) return;
  const int n = std::atoi(list.GetItemText(line, 0).c_str());
  const DriveRecord* record = FindByDriveNumber(drive_table, n);
  if (record == nullptr) return;  // the list is filled from the table; be safe anyway

  if (record->nvme == 1) {
    // A copy: the dialog runs a modal loop, and the table may be rebuilt meanwhile.
    const DriveRecord shown = *record;
    selected_behind_bridge = 0;
    const bool read = ReadNvmeHealth(shown, DriveCaption(shown));
    CSmartdlg dlg(shown, smart_table, smart_others, read ? &nvme_health : nullptr);
    dlg.DoModal();
    return;
  }

  if (IsSmartUsable(*record)) {
    selected_behind_bridge = record->behind_bridge;
    ReadSmartAttributes(n, Transport{record->via_scsi, selected_behind_bridge});
    CSmartdlg dlg(*record, smart_table, smart_others);
    dlg.DoModal();
    return;
  }

  // The refresh below rebuilds the table, so take what we need first.
  const Transport transport{record->via_scsi, record->behind_bridge};
  if (!ConfirmWithWarning(WarningKind::SmartDisabled, DriveCaption(*record))) return;
  SmartEnableOperations(*connection, transport, n);
  RefreshDriveList();
}

namespace {

// Both SMART sectors of an ATA drive into these tables; true when both were read. A
// failed read only skips its decoding; the handle stays open for the next operation.
bool ReadAttributesInto(DriveConnection& connection, const IoBuffers& buffers, int drive_number,
                        Transport transport, SmartAttributeTable& table,
                        SmartOtherAttributes& others) {
  connection.Close();
  connection.Open(drive_number);
  const bool data = SmartReadData(connection, transport) == kCommandOk;
  if (data) {
    DecodeSmartValues(buffers.a(), table);
    DecodeOtherAttributes(buffers.a(), others);
  }
  const bool thresholds = SmartReadThresholds(connection, transport) == kCommandOk;
  if (thresholds) {
    ApplySmartThresholds(buffers.a(), table);
    ApplyOtherThresholds(buffers.a(), others);
  }
  return data && thresholds;
}

// An NVMe drive's health log into health, when the reply says it was read. The handle
// stays open for the next operation, as with the ATA read.
NvmeReply ReadHealthInto(DriveConnection& connection, const IoBuffers& buffers,
                         int drive_number, NvmeHealth& health) {
  connection.Close();
  connection.Open(drive_number);
  const NvmeReply reply = NvmeReadHealthLog(connection);
  if (NvmeSucceeded(reply)) DecodeHealthLog(buffers.a(), health);
  return reply;
}

}  // namespace

void CPlovixDlg::ReadSmartAttributes(int drive_number, Transport transport) {
  ReadAttributesInto(*connection, *io_buffers, drive_number, transport, smart_table,
                     smart_others);
}

bool CPlovixDlg::ReadNvmeHealth(const DriveRecord& record, const std::string& drive_caption) {
  // A failed read shows the identity and an empty list.
  const NvmeReply reply = ReadHealthInto(*connection, *io_buffers, record.drive_number, nvme_health);
  if (NvmeSucceeded(reply)) return true;
  if (reply.outcome == NvmeOutcome::Refused) TellUser(nvme_text::kHealthRefused, drive_caption);
  return false;
}

SmartVerdict CPlovixDlg::ReadSmartVerdict(const DriveRecord& record) {
  // Tables of its own: the SMART status dialog and the read-error check keep theirs.
  if (record.nvme == 1) {
    NvmeHealth health;
    const NvmeReply reply = ReadHealthInto(*connection, *io_buffers, record.drive_number, health);
    return NvmeSucceeded(reply) ? JudgeHealth(health, record) : SmartVerdict::Unknown;
  }
  // Only reads: a drive whose SMART is off is not switched on to be judged. The
  // self-test is not needed to judge, so a drive without one is judged too.
  if (record.smart_supported != 1 || record.smart_enabled != 1) return SmartVerdict::Unknown;
  SmartAttributeTable table;
  SmartOtherAttributes others;
  const SmartVerdict attributes =
      ReadAttributesInto(*connection, *io_buffers, record.drive_number,
                         Transport{record.via_scsi, record.behind_bridge}, table, others)
          ? JudgeAttributes(table, others)
          : SmartVerdict::Unknown;
  // And the drive's own word on it; bridges carry it in the standard block only.
  const DriveSmartStatus own = SmartReturnStatus(*connection, Transport{record.via_scsi, 0});
  return CombineVerdicts(attributes, own);
}

std::string FormatMaxLba(std::uint64_t total_sectors) {
  // Left-aligned and blank-padded to 12 digits ("0x%-012llX": the zero flag has no
  // effect beside '-', and compilers warn about it).
  char text[20];
  std::snprintf(text, sizeof text, "0x%-12llX\r\n",
                static_cast<unsigned long long>(total_sectors));
  return text;
}

std::string FormatCapacity(std::uint64_t total_sectors) {
  const std::uint32_t gigabytes = CapacityGb(total_sectors);
  char text[24];
  if (gigabytes >= 1000) {
    // One decimal, so that 1863GB reads 1.8TB rather than 1TB.
    const std::uint32_t tenths = gigabytes / 100;
    std::snprintf(text, sizeof text, "%u.%uTB\r\n", tenths / 10, tenths % 10);
  } else {
    return FormatCapacityGb(total_sectors) + "\r\n";
  }
  return text;
}

CSmartdlg::CSmartdlg(const DriveRecord& drive, const SmartAttributeTable& table,
                     const SmartOtherAttributes& other_rows, const NvmeHealth* health)
    : ui::Dialog(ids::kSmartTemplate),
      record(drive),
      rows(table),
      others(other_rows),
      nvme_health(health) {
  title_font = ui::Font{"Arial", 150};
}

CSmartdlg::~CSmartdlg() = default;

void CSmartdlg::DoDataExchange(ui::DataExchange& dx) {
  ui::Dialog::DoDataExchange(dx);
  dx.Text(kModel, model_text, 40);
  dx.Text(kSerial, serial_text, 20);
  dx.Text(kFirmware, firmware_text, 10);
  dx.Text(kMaxLba, max_lba_text, 20);
  dx.Text(kCapacity, capacity_text, 20);
  dx.Text(kTitle, title_text);
}

bool CSmartdlg::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  NameDriveInCaption(*this, DriveCaption(record));
  SetControlFont(kTitle, title_font);
  white_brush = ui::CreateSolidBrush(0xFFFFFF);
  title_text = "SMART status";
  UpdateData(false);

  model_text = record.model;
  UpdateData(false);
  serial_text = record.serial;
  UpdateData(false);
  firmware_text = record.firmware;
  UpdateData(false);
  max_lba_text =
      record.nvme == 1 ? NvmeMaxLbaText(record) : FormatMaxLba(record.total_sectors);
  UpdateData(false);
  capacity_text =
      record.nvme == 1 ? NvmeCapacityText(record) : FormatCapacity(record.total_sectors);
  UpdateData(false);

  FillAttributeList();
  return true;
}

void CSmartdlg::FillAttributeList() {
  ui::ListCtrl& list = attribute_list();
  list.SetExtendedStyle(list.GetExtendedStyle() | ui::LVS_EX_GRIDLINES |
                        ui::LVS_EX_HEADERDRAGDROP | ui::LVS_EX_FULLROWSELECT);

  struct Column {
    const char* title;
    int width;
    int format;
  };
  static constexpr Column kColumns[] = {
      {"", 20, ui::LVCFMT_RIGHT},          {"ID", 50, ui::LVCFMT_CENTER},
      {"Atribute", 250, ui::LVCFMT_LEFT},  {"Curent", 76, ui::LVCFMT_CENTER},
      {"Worst", 76, ui::LVCFMT_CENTER},    {"Threshold", 76, ui::LVCFMT_CENTER},
      {"Raw", 170, ui::LVCFMT_RIGHT},  // room for a decoded value and its hex
  };
  constexpr int kColumnCount = static_cast<int>(std::size(kColumns));
  for (int i = 0; i < kColumnCount; ++i) list.DeleteColumn(0);
  for (int i = 0; i < kColumnCount; ++i) {
    if (list.InsertColumn(i, kColumns[i].title, kColumns[i].format, kColumns[i].width, i) < 0) {
      break;
    }
  }

  image_list = {ids::kGoodIcon, ids::kBadIcon};
  list.SetImageList(image_list);
  list.DeleteAllItems();

  const auto set_texts = [&list](int line, std::uint8_t id, const std::string& name,
                                 std::uint8_t current, std::uint8_t worst,
                                 std::uint8_t threshold, std::uint64_t raw48) {
    list.SetItemText(line, 1, std::to_string(id));
    list.SetItemText(line, 2, name);
    list.SetItemText(line, 3, std::to_string(current));
    list.SetItemText(line, 4, std::to_string(worst));
    list.SetItemText(line, 5, std::to_string(threshold));
    list.SetItemText(line, 6, RawValueText(id, raw48));
  };
  if (record.nvme == 1) {
    if (nvme_health == nullptr) return;
    for (const HealthRow& row : NvmeHealthRows(*nvme_health, record)) {
      const int line = list.InsertItem(list.GetItemCount(), "", row.image);
      if (line < 0) continue;
      list.SetItemText(line, 1, std::to_string(row.offset));
      list.SetItemText(line, 2, row.name);
      list.SetItemText(line, 3, row.current);
      list.SetItemText(line, 4, row.worst);
      list.SetItemText(line, 5, row.threshold);
      list.SetItemText(line, 6, row.raw);
    }
    return;
  }
  for (int k = 0; k < kSmartCatalogSize; ++k) {
    const SmartAttributeRow& row = rows.rows[k];
    if (row.id == 0) continue;
    const int line = list.InsertItem(k, "", IsAttributeFailing(row) ? 1 : 0);
    if (line < 0) continue;
    // The name field holds no terminator when the name fills all 40 characters.
    const char* end = std::find(row.name, row.name + sizeof row.name, '\0');
    set_texts(line, row.id, std::string(row.name, end), row.current, row.worst, row.threshold,
              row.raw48);
  }
  // Then whatever else the drive reports, so nothing it says is hidden.
  for (int k = 0; k < others.count && k < kSmartEntryCount; ++k) {
    const SmartOtherAttribute& row = others.rows[k];
    const int line = list.InsertItem(list.GetItemCount(), "", IsAttributeFailing(row) ? 1 : 0);
    if (line < 0) continue;
    set_texts(line, row.id, OtherAttributeName(row.id), row.current, row.worst, row.threshold,
              row.raw48);
  }
}

ui::CtlColor CSmartdlg::OnCtlColor(int id) {
  if (id == kTitle) return ui::TitleBandColors(white_brush);
  return ui::Dialog::OnCtlColor(id);
}

}  // namespace plovix
