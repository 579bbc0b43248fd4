// The SMART status double click, driven through the real main window on a bench.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "app/CPlovixDlg.h"
#include "faces/scripted/ScriptedBackend.h"
#include "reports/CSmartdlg.h"
#include "devices/sim/Bench.h"
#include "resources/ResourceIds.h"
#include "tests/support/reports_temp_dir.h"
#include "tests/support/main_window_rig.h"

namespace plovix {
namespace {

// The main window's rig in a scratch directory.
struct Flow : testing_support::MainWindowRig {
  testing_support::ScratchDir dir;
};

sim::DriveSpec Drive(std::string model, std::string serial, std::uint64_t sectors,
                     std::vector<sim::SmartAttr> attributes) {
  sim::DriveSpec setup;
  setup.model = std::move(model);
  setup.serial = std::move(serial);
  setup.firmware = "CC38";
  setup.total_sectors = sectors;
  setup.attributes = std::move(attributes);
  return setup;
}

sim::SmartAttr Attr(std::uint8_t id, std::uint8_t current, std::uint8_t worst,
                    std::uint8_t threshold, std::uint64_t raw = 0) {
  sim::SmartAttr a;
  a.id = id;
  a.current = current;
  a.worst = worst;
  a.threshold = threshold;
  a.raw = raw;
  return a;
}

// A healthy drive reporting in its own order, with attributes outside the catalogue.
std::vector<sim::SmartAttr> HealthyAttributes() {
  return {Attr(194, 36, 45, 0, 36), Attr(9, 97, 97, 0, 3120), Attr(190, 64, 55, 45),
          Attr(1, 117, 99, 6),      Attr(187, 100, 100, 0),   Attr(5, 100, 100, 36),
          Attr(198, 100, 100, 0),   Attr(197, 100, 100, 0)};
}

// What the attribute list shows: image, then the texts of columns 1 to 6.
struct Line {
  int image;
  std::vector<std::string> texts;
  bool operator==(const Line&) const = default;
};

void PrintTo(const Line& l, std::ostream* os) {
  *os << "{" << l.image;
  for (const auto& t : l.texts) *os << ", \"" << t << "\"";
  *os << "}";
}

std::vector<Line> ListLines(ui::Dialog& d) {
  ui::ListCtrl& list = d.List(ids::smart::kAttributeList);
  std::vector<Line> lines;
  for (int i = 0; i < list.GetItemCount(); ++i) {
    Line l{list.GetItemImage(i), {}};
    for (int c = 1; c <= 6; ++c) l.texts.push_back(list.GetItemText(i, c));
    lines.push_back(l);
  }
  return lines;
}

// The catalogue's rows, then the drive's other attributes in id order.
const std::vector<Line> kHealthyLines = {
    {0, {"1", "Raw Read Error Rate", "117", "99", "6", "0"}},
    {0, {"5", "Reallocated Sector Count", "100", "100", "36", "0"}},
    {0, {"9", "Power-On Hours Count", "97", "97", "0", "3120"}},
    {0, {"194", "Device Temperature", "36", "45", "0", "36"}},
    {0, {"197", "Current Pending Sector Count", "100", "100", "0", "0"}},
    {0, {"198", "Off-Line Scan Uncorrectable Secter Count", "100", "100", "0", "0"}},
    {0, {"187", "Reported Uncorrectable Error Count", "100", "100", "0", "0"}},
    {0, {"190", "Airflow Temperature", "64", "55", "45", "0"}},
};

bool IsSmartRead(const sim::Received& r, std::uint8_t feature) {
  if (!r.scsi) {
    return r.ata.CurrentTaskFile[kTfCommand] == 0xB0 && r.ata.CurrentTaskFile[kTfFeature] == feature;
  }
  const std::uint8_t* cdb = r.scsi_request.Cdb;
  if (cdb[0] == 0xA1) return cdb[9] == 0xB0 && cdb[3] == feature;
  if (cdb[0] == 0xDF) return cdb[11] == 0xB0 && cdb[5] == feature;
  return false;
}

CPlovixDlg& Main(ui::Dialog& d) { return static_cast<CPlovixDlg&>(d); }

// ---------------------------------------------------------------------------------

TEST(SmartStatusFlow, HealthyDriveShowsItsAttributesInCatalogueOrder) {
  Flow f;
  f.bench.AddSata(0, Drive("ST3500418AS", "5VM2ABCD", 976773168, HealthyAttributes()));
  f.ui.Expect(ids::kMainTemplate)
      .Do([&](ui::Dialog&) { f.bench.ClearLog(); })
      .DoubleClick(ids::main_window::kDriveList, 0);
  f.ui.Expect(ids::kSmartTemplate)
      .Do([&](ui::Dialog& d) {
        EXPECT_EQ(d.caption(), "ZUL for Windows - 0: ST3500418AS 5VM2ABCD");
        EXPECT_EQ(d.GetDlgItemText(ids::smart::kTitle), "SMART status");
        EXPECT_EQ(d.GetDlgItemText(ids::smart::kModel), "ST3500418AS");
        EXPECT_EQ(d.GetDlgItemText(ids::smart::kSerial), "5VM2ABCD");
        EXPECT_EQ(d.GetDlgItemText(ids::smart::kFirmware), "CC38");
        EXPECT_EQ(d.GetDlgItemText(ids::smart::kMaxLba), "0x3A386030    \r\n");
        EXPECT_EQ(d.GetDlgItemText(ids::smart::kCapacity), "465GB\r\n");
        EXPECT_EQ(ListLines(d), kHealthyLines);

        ui::ListCtrl& list = d.List(ids::smart::kAttributeList);
        EXPECT_EQ(list.GetExtendedStyle() & 0x35u, 0x31u);
        EXPECT_EQ(list.image_list(), (std::vector<int>{141, 144}));
        const std::vector<std::tuple<std::string, int, int>> columns = {
            {"", 20, ui::LVCFMT_RIGHT},        {"ID", 50, ui::LVCFMT_CENTER},
            {"Atribute", 250, ui::LVCFMT_LEFT}, {"Curent", 76, ui::LVCFMT_CENTER},
            {"Worst", 76, ui::LVCFMT_CENTER},   {"Threshold", 76, ui::LVCFMT_CENTER},
            {"Raw", 170, ui::LVCFMT_RIGHT}};
        ASSERT_EQ(list.GetColumnCount(), 7);
        for (int c = 0; c < 7; ++c) {
          EXPECT_EQ(list.columns()[c].title, std::get<0>(columns[c])) << c;
          EXPECT_EQ(list.columns()[c].width, std::get<1>(columns[c])) << c;
          EXPECT_EQ(list.columns()[c].format, std::get<2>(columns[c])) << c;
        }

        // Title look: 15-point Arial, black on white.
        auto& smart = static_cast<CSmartdlg&>(d);
        ASSERT_NE(d.GetDlgItem(ids::smart::kTitle), nullptr);
        EXPECT_EQ(d.GetDlgItem(ids::smart::kTitle)->font(), (ui::Font{"Arial", 150}));
        const ui::CtlColor title = smart.OnCtlColor(ids::smart::kTitle);
        EXPECT_EQ(title.text_color, ui::Color{0x000000});
        EXPECT_EQ(title.back_color, ui::Color{0xFFFFFF});
        EXPECT_TRUE(title.transparent);
        EXPECT_EQ(title.brush, ui::Brush{0xFFFFFF});
        const ui::CtlColor other = smart.OnCtlColor(ids::smart::kModel);
        const ui::CtlColor base = smart.ui::Dialog::OnCtlColor(ids::smart::kModel);
        EXPECT_EQ(other.brush, base.brush);
        EXPECT_EQ(other.text_color, base.text_color);

        // Read data, then thresholds, and the drive stays open for the next operation.
        const auto log = f.bench.LogFor(0);
        ASSERT_EQ(log.size(), 2u);
        EXPECT_TRUE(IsSmartRead(log[0], 0xD0));
        EXPECT_TRUE(IsSmartRead(log[1], 0xD1));
        EXPECT_EQ(f.bench.OpenHandleCount(), 1);
      })
      .Press(ui::IDOK);
  f.ui.Expect(ids::kMainTemplate).Escape();
  f.Run();
  EXPECT_EQ(f.ui.opened_dialogs(), (std::vector<int>{ids::kMainTemplate, ids::kSmartTemplate}));
}

TEST(SmartStatusFlow, WornDriveShowsItsFailingAttributeRed) {
  Flow f;
  f.bench.AddSata(0, Drive("HEALTHY", "H1", 1ull << 31, HealthyAttributes()));
  f.bench.AddSata(2, Drive("WORN", "W2", 1ull << 31,
                           {Attr(197, 5, 5, 5, 12), Attr(5, 4, 4, 5, 3000), Attr(1, 100, 100, 0),
                            Attr(3, 0, 0, 0)}));
  f.ui.Expect(ids::kMainTemplate).DoubleClick(ids::main_window::kDriveList, 1);
  f.ui.Expect(ids::kSmartTemplate)
      .Do([](ui::Dialog& d) {
        EXPECT_EQ(d.GetDlgItemText(ids::smart::kModel), "WORN");
        EXPECT_EQ(ListLines(d), (std::vector<Line>{
                                    {0, {"1", "Raw Read Error Rate", "100", "100", "0", "0"}},
                                    {0, {"3", "Spin Up Time", "0", "0", "0", "0"}},
                                    {1, {"5", "Reallocated Sector Count", "4", "4", "5", "3000"}},
                                    {0, {"197", "Current Pending Sector Count", "5", "5", "5",
                                         "12"}},
                                }));
      })
      .Press(ui::IDOK);
  // A second look at the healthy drive shows only its own rows again.
  f.ui.Expect(ids::kMainTemplate).DoubleClick(ids::main_window::kDriveList, 0);
  f.ui.Expect(ids::kSmartTemplate)
      .Do([](ui::Dialog& d) { EXPECT_EQ(ListLines(d), kHealthyLines); })
      .Press(ui::IDOK);
  f.ui.Expect(ids::kMainTemplate).Escape();
  f.Run();
}

// A worn drive as comparable tools show it: its reallocated and pending sector counts,
// raw values beyond 32 bits, and every attribute the catalogue does not know, each judged
// by the same threshold rule. The read-error check's table keeps the catalogue's rows.
TEST(SmartStatusFlow, RawValuesAndEveryOtherAttributeAreShown) {
  Flow f;
  f.bench.AddSata(
      1, Drive("WORN", "W1", 1ull << 31,
               {Attr(241, 100, 100, 0, 0x123456789ABCull), Attr(5, 118, 118, 140, 731),
                Attr(251, 100, 100, 0, 7), Attr(187, 61, 61, 0, 39),
                Attr(9, 41, 41, 0, (1ull << 32) + 5), Attr(100, 1, 1, 0, 0xFFFFFFFFFFFFull),
                Attr(197, 200, 200, 0, 8), Attr(190, 58, 47, 45, 0x01350015002Aull), Attr(170, 5, 5, 10, 0),
                Attr(188, 100, 99, 0, 3), Attr(187, 1, 1, 99, 12345),
                Attr(194, 113, 104, 0, 0x350015002Aull), Attr(1, 117, 99, 6, (7ull << 32) | 123456),
                Attr(195, 100, 100, 0, 12)}));
  f.ui.Expect(ids::kMainTemplate).DoubleClick(ids::main_window::kDriveList, 0);
  f.ui.Expect(ids::kSmartTemplate)
      .Do([&](ui::Dialog& d) {
        EXPECT_EQ(ListLines(d),
                  (std::vector<Line>{
                      // Raw values by their packing, the whole value beside where it differs.
                      {0, {"1", "Raw Read Error Rate", "117", "99", "6", "7 0x70001E240"}},
                      {1, {"5", "Reallocated Sector Count", "118", "118", "140", "731"}},
                      {0, {"9", "Power-On Hours Count", "41", "41", "0", "5 0x100000005"}},
                      {0, {"194", "Device Temperature", "113", "104", "0",
                           "42 (min 21, max 53)"}},
                      {0, {"197", "Current Pending Sector Count", "200", "200", "0", "8"}},
                      {0, {"100", "Unknown Attribute", "1", "1", "0", "281474976710655"}},
                      {1, {"170", "Available Reserved Space", "5", "5", "10", "0"}},
                      // Reported twice: the first entry stands.
                      {0, {"187", "Reported Uncorrectable Error Count", "61", "61", "0", "39"}},
                      {0, {"188", "Command Time-out Count", "100", "99", "0", "3"}},
                      // A byte the three readings leave out: the whole value beside them.
                      {0, {"190", "Airflow Temperature", "58", "47", "45",
                           "42 (min 21, max 53) 0x1350015002A"}},
                      {0, {"195", "ECC Recovered Error Count", "100", "100", "0", "12"}},
                      {0, {"241", "Total LBAs Written", "100", "100", "0", "20015998343868"}},
                      {0, {"251", "Unknown Attribute", "100", "100", "0", "7"}},
                  }));
        // The table the tests search holds the catalogue's rows only, as before.
        const SmartAttributeTable& table = Main(*f.ui.open_dialogs().front()).smart_table;
        std::vector<int> ids;
        for (const auto& row : table.rows) ids.push_back(row.id);
        EXPECT_EQ(ids, (std::vector<int>{1, 5, 9, 194, 197, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                         0, 0, 0}));
        EXPECT_EQ(table.rows[2].raw, 0x0100u);  // raw word: bytes 9 and 10 of 2^32 + 5
      })
      .Press(ui::IDOK);
  f.ui.Expect(ids::kMainTemplate).Escape();
  f.Run();
}

// Every transport reads the same table, each in its own command form.
struct TransportCase {
  const char* label;
  bool usb;
  const char* chip;
  sim::BridgeForwarding forwarding;
  std::uint8_t cdb0;  // 0 for ATA pass-through
};

void PrintTo(const TransportCase& c, std::ostream* os) { *os << c.label; }

class SmartStatusTransportTest : public ::testing::TestWithParam<TransportCase> {};

TEST_P(SmartStatusTransportTest, ReadsBothSectorsInTheDrivesForm) {
  const TransportCase& c = GetParam();
  Flow f;
  auto setup = Drive("ST2000DM001", "Z1E0AAAA", 3907029168ull, HealthyAttributes());
  if (c.usb) {
    sim::BridgeSpec bridge;
    bridge.vendor = "JMicron ";
    bridge.product = "USB to ATA/ATAPI";
    bridge.revision = "0209";
    bridge.chip_id = c.chip;
    bridge.forwarding = c.forwarding;
    f.bench.AddUsb(1, setup, bridge);
  } else {
    f.bench.AddSata(1, setup);
  }
  f.ui.Expect(ids::kMainTemplate)
      .Do([&](ui::Dialog&) { f.bench.ClearLog(); })
      .DoubleClick(ids::main_window::kDriveList, 0);
  f.ui.Expect(ids::kSmartTemplate)
      .Do([&](ui::Dialog& d) {
        EXPECT_EQ(d.GetDlgItemText(ids::smart::kCapacity), "1.8TB\r\n");
        EXPECT_EQ(ListLines(d), kHealthyLines);
        const auto log = f.bench.LogFor(1);
        ASSERT_EQ(log.size(), 2u);
        for (const auto& r : log) {
          EXPECT_EQ(r.scsi, c.cdb0 != 0);
          if (r.scsi) {
            EXPECT_EQ(r.scsi_request.Cdb[0], c.cdb0);
          }
        }
        EXPECT_TRUE(IsSmartRead(log[0], 0xD0));
        EXPECT_TRUE(IsSmartRead(log[1], 0xD1));
      })
      .Press(ui::IDOK);
  f.ui.Expect(ids::kMainTemplate).Escape();
  f.Run();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SmartStatusTransportTest,
    ::testing::Values(
        TransportCase{"sata", false, "", sim::BridgeForwarding::Standard, 0},
        TransportCase{"usb_standard", true, "abcd", sim::BridgeForwarding::Standard, 0xA1},
        TransportCase{"usb_bridge", true, "j329", sim::BridgeForwarding::Vendor, 0xDF}),
    [](const auto& p) { return std::string(p.param.label); });

// Identity texts for sizes around the units' edges.
struct SizeCase {
  std::uint64_t sectors;
  const char* max_lba;
  const char* capacity;
};

class SmartStatusSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SmartStatusSizeTest, MaxLbaAndCapacityTexts) {
  Flow f;
  f.bench.AddSata(0, Drive("M", "S", GetParam().sectors, HealthyAttributes()));
  f.ui.Expect(ids::kMainTemplate).DoubleClick(ids::main_window::kDriveList, 0);
  f.ui.Expect(ids::kSmartTemplate)
      .Do([](ui::Dialog& d) {
        EXPECT_EQ(d.GetDlgItemText(ids::smart::kMaxLba), GetParam().max_lba);
        EXPECT_EQ(d.GetDlgItemText(ids::smart::kCapacity), GetParam().capacity);
      })
      .Press(ui::IDOK);
  f.ui.Expect(ids::kMainTemplate).Escape();
  f.Run();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SmartStatusSizeTest,
    ::testing::Values(SizeCase{1ull << 31, "0x80000000    \r\n", "1.0TB\r\n"},
                      SizeCase{524288, "0x80000       \r\n", "256MB\r\n"},
                      SizeCase{999ull << 21, "0x7CE00000    \r\n", "999GB\r\n"},
                      SizeCase{1000ull << 21, "0x7D000000    \r\n", "1.0TB\r\n"},
                      SizeCase{0xE8E088B0ull, "0xE8E088B0    \r\n", "1.8TB\r\n"},
                      SizeCase{7814037168ull, "0x1D1C0BEB0   \r\n", "3.7TB\r\n"},
                      SizeCase{(1ull << 48) - 1, "0xFFFFFFFFFFFF\r\n", "134217.7TB\r\n"}));

// A drive whose SMART cannot be read shows its identity and an empty list.
struct UnreadableCase {
  const char* label;
  std::vector<sim::Fault> faults;
  bool fail_open;
};

void PrintTo(const UnreadableCase& c, std::ostream* os) { *os << c.label; }

sim::Fault SmartFault(std::uint8_t feature, sim::FaultEffect effect) {
  sim::Fault fault;
  fault.match.drive_number = 0;
  fault.match.smart_feature = feature;
  fault.effect = effect;
  return fault;
}

class SmartStatusUnreadableTest : public ::testing::TestWithParam<UnreadableCase> {};

TEST_P(SmartStatusUnreadableTest, IdentityAndAnEmptyList) {
  Flow f;
  f.bench.AddSata(0, Drive("ST3500418AS", "5VM2ABCD", 976773168, HealthyAttributes()));
  // First a good look, so stale rows would show if the table were not cleared.
  f.ui.Expect(ids::kMainTemplate).DoubleClick(ids::main_window::kDriveList, 0);
  f.ui.Expect(ids::kSmartTemplate)
      .Do([](ui::Dialog& d) { EXPECT_EQ(ListLines(d).size(), 8u); })
      .Press(ui::IDOK);
  f.ui.Expect(ids::kMainTemplate)
      .Do([&](ui::Dialog&) {
        for (const auto& fault : GetParam().faults) f.bench.AddFault(fault);
        if (GetParam().fail_open) f.bench.FailOpen(0);
      })
      .DoubleClick(ids::main_window::kDriveList, 0);
  f.ui.Expect(ids::kSmartTemplate)
      .Do([](ui::Dialog& d) {
        EXPECT_EQ(d.GetDlgItemText(ids::smart::kModel), "ST3500418AS");
        EXPECT_EQ(d.GetDlgItemText(ids::smart::kSerial), "5VM2ABCD");
        EXPECT_EQ(d.GetDlgItemText(ids::smart::kCapacity), "465GB\r\n");
        EXPECT_EQ(d.List(ids::smart::kAttributeList).GetItemCount(), 0);
        EXPECT_EQ(d.List(ids::smart::kAttributeList).GetColumnCount(), 7);
      })
      .Press(ui::IDOK);
  f.ui.Expect(ids::kMainTemplate).Escape();
  f.Run();
  EXPECT_TRUE(f.ui.message_boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SmartStatusUnreadableTest,
    ::testing::Values(
        UnreadableCase{"data_read_error", {SmartFault(0xD0, sim::FaultEffect::AtaError)}, false},
        UnreadableCase{"data_read_call_fails", {SmartFault(0xD0, sim::FaultEffect::CallFails)},
                       false},
        UnreadableCase{"both_reads_time_out",
                       {SmartFault(0xD0, sim::FaultEffect::Timeout),
                        SmartFault(0xD1, sim::FaultEffect::Timeout)},
                       false},
        UnreadableCase{"drive_does_not_open", {}, true}),
    [](const auto& p) { return std::string(p.param.label); });

TEST(SmartStatusFlow, FirstHighlightedLineIsUsedAndNoneMeansNothing) {
  Flow f;
  f.bench.AddSata(0, Drive("FIRST", "S0", 1ull << 30, HealthyAttributes()));
  f.bench.AddSata(1, Drive("SECOND", "S1", 1ull << 30, HealthyAttributes()));
  f.bench.AddSata(3, Drive("THIRD", "S3", 1ull << 30, HealthyAttributes()));
  f.ui.Expect(ids::kMainTemplate).Do([&](ui::Dialog& d) {
    // Nothing highlighted (check marks play no part): no dialog, no command.
    f.bench.ClearLog();
    Main(d).drive_list().SetCheck(0, true);
    d.OnNotify(ids::main_window::kDriveList, ui::NM_DBLCLK);
    EXPECT_TRUE(f.bench.Log().empty());
    EXPECT_EQ(Main(d).smart_table.rows[0].id, 0);
    // Lines 1 and 2 highlighted: line 1 (drive 1) is shown.
    ui::ListCtrl& list = Main(d).drive_list();
    list.SetItemState(2, ui::LVIS_SELECTED, ui::LVIS_SELECTED);
    list.SetItemState(1, ui::LVIS_SELECTED, ui::LVIS_SELECTED);
    d.OnNotify(ids::main_window::kDriveList, ui::NM_DBLCLK);
  });
  f.ui.Expect(ids::kSmartTemplate)
      .Do([&](ui::Dialog& d) {
        EXPECT_EQ(d.GetDlgItemText(ids::smart::kModel), "SECOND");
        EXPECT_EQ(f.bench.LogFor(3).size(), 0u);
        EXPECT_EQ(f.bench.LogFor(1).size(), 2u);
      })
      .Press(ui::IDOK);
  f.ui.Expect(ids::kMainTemplate).Escape();
  f.Run();
  EXPECT_EQ(f.ui.opened_dialogs(), (std::vector<int>{ids::kMainTemplate, ids::kSmartTemplate}));
}

// ---------------------------------------------------------------------------------
// SMART switched off: the offer to switch it on.

bool IsSmartEnable(const sim::Received& r) {
  if (!r.scsi) {
    return r.ata.CurrentTaskFile[kTfCommand] == 0xB0 && r.ata.CurrentTaskFile[kTfFeature] == 0xD8;
  }
  const std::uint8_t* cdb = r.scsi_request.Cdb;
  return (cdb[0] == 0xA1 && cdb[3] == 0xD8) || (cdb[0] == 0xDF && cdb[5] == 0xD8);
}

TEST(SmartStatusFlow, SmartOffAcceptedTwiceEnablesItAndRefreshesTheList) {
  Flow f;
  auto setup = Drive("OFFDRIVE", "OFF1", 1ull << 30, HealthyAttributes());
  setup.smart_enabled = false;
  f.bench.AddSata(4, setup);
  f.ui.Expect(ids::kMainTemplate)
      .Do([&](ui::Dialog&) { f.bench.ClearLog(); })
      .DoubleClick(ids::main_window::kDriveList, 0);
  f.ui.Expect(ids::kWarningTemplate)
      .Do([](ui::Dialog& d) {
        EXPECT_EQ(d.GetDlgItemText(ids::warning::kText),
                  "THE SMART FUNCTION OF THIS DRIVE IS DISABLED NOW. FOR TESTING THIS DRIVE, YOU "
                  "NEED TO ENABLE SMART FUNCTION. WHEN YOU PRESS 'OK' BUTTON, THE SMART FUNCTION "
                  "OF THIS DRIVE WILL CHANGE FROM DISABLEMENT TO ENABLEMENT.");
      })
      .Press(ui::IDOK);
  f.ui.Expect(ids::kSureTemplate)
      .Do([&](ui::Dialog&) { EXPECT_TRUE(f.bench.Log().empty()); })
      .Press(ui::IDOK);
  f.ui.Expect(ids::kMainTemplate).Do([&](ui::Dialog& d) {
    const auto log = f.bench.Log();
    ASSERT_FALSE(log.empty());
    // The enable goes first, on its own freshly opened handle to the drive; the rescan
    // follows and finds SMART on.
    EXPECT_TRUE(IsSmartEnable(log[0]));
    EXPECT_EQ(log[0].drive_number, 4);
    EXPECT_EQ(log[0].path, "\\\\.\\PhysicalDrive4");
    EXPECT_EQ(std::count_if(log.begin(), log.end(), IsSmartEnable), 1);
    EXPECT_TRUE(f.bench.Drive(4).smart_enabled());
    EXPECT_EQ(Main(d).drive_table.count, 1);
    EXPECT_EQ(Main(d).drive_table.records[0].smart_enabled, 1);
    EXPECT_EQ(Main(d).drive_list().GetItemCount(), 1);
  });
  // No SMART dialog yet; the next double click shows it.
  f.ui.Expect(ids::kMainTemplate).DoubleClick(ids::main_window::kDriveList, 0);
  f.ui.Expect(ids::kSmartTemplate)
      .Do([](ui::Dialog& d) { EXPECT_EQ(ListLines(d), kHealthyLines); })
      .Press(ui::IDOK);
  f.ui.Expect(ids::kMainTemplate).Escape();
  f.Run();
  EXPECT_EQ(f.ui.opened_dialogs(), (std::vector<int>{ids::kMainTemplate, ids::kWarningTemplate,
                                                     ids::kSureTemplate, ids::kSmartTemplate}));
}

TEST(SmartStatusFlow, SmartOffBehindABridgeIsEnabledWithTheStandardBlock) {
  Flow f;
  auto setup = Drive("USBOFF", "U1", 1ull << 30, HealthyAttributes());
  setup.smart_enabled = false;
  sim::BridgeSpec bridge;
  bridge.vendor = "JMicron ";
  bridge.product = "USB to ATA/ATAPI";
  bridge.revision = "0209";
  bridge.chip_id = "j329";
  bridge.forwarding = sim::BridgeForwarding::VendorAndStandard;
  f.bench.AddUsb(2, setup, bridge);
  f.ui.Expect(ids::kMainTemplate)
      .Do([&](ui::Dialog&) { f.bench.ClearLog(); })
      .DoubleClick(ids::main_window::kDriveList, 0);
  f.ui.Expect(ids::kWarningTemplate).Press(ui::IDOK);
  f.ui.Expect(ids::kSureTemplate).Press(ui::IDOK);
  f.ui.Expect(ids::kMainTemplate)
      .Do([&](ui::Dialog&) {
        const auto log = f.bench.Log();
        ASSERT_FALSE(log.empty());
        ASSERT_TRUE(log[0].scsi);
        const std::uint8_t want[12] = {0xA1, 0x06, 0x00, 0xD8, 0x00, 0x00,
                                       0x4F, 0xC2, 0xE0, 0xB0, 0x00, 0x00};
        EXPECT_EQ(std::vector<std::uint8_t>(log[0].scsi_request.Cdb, log[0].scsi_request.Cdb + 12),
                  std::vector<std::uint8_t>(want, want + 12));
        EXPECT_TRUE(f.bench.Drive(2).smart_enabled());
      })
      .Escape();
  f.Run();
}

struct DeclineCase {
  const char* label;
  int warning_answer;  // 0: Escape
  int sure_answer;     // -1: not shown; 0: Escape
};

void PrintTo(const DeclineCase& c, std::ostream* os) { *os << c.label; }

class SmartStatusDeclineTest : public ::testing::TestWithParam<DeclineCase> {};

TEST_P(SmartStatusDeclineTest, NothingIsSentAndTheListStays) {
  const DeclineCase& c = GetParam();
  Flow f;
  auto setup = Drive("OFFDRIVE", "OFF1", 1ull << 30, HealthyAttributes());
  setup.smart_enabled = false;
  f.bench.AddSata(0, setup);
  f.ui.Expect(ids::kMainTemplate)
      .Do([&](ui::Dialog&) { f.bench.ClearLog(); })
      .DoubleClick(ids::main_window::kDriveList, 0);
  auto& warning = f.ui.Expect(ids::kWarningTemplate);
  if (c.warning_answer == 0) warning.Escape(); else warning.Press(c.warning_answer);
  if (c.sure_answer >= 0) {
    auto& sure = f.ui.Expect(ids::kSureTemplate);
    if (c.sure_answer == 0) sure.Escape(); else sure.Press(c.sure_answer);
  }
  f.ui.Expect(ids::kMainTemplate)
      .Do([&](ui::Dialog& d) {
        // No enable and no rescan: the bench heard nothing at all.
        EXPECT_TRUE(f.bench.Log().empty());
        EXPECT_FALSE(f.bench.Drive(0).smart_enabled());
        EXPECT_EQ(Main(d).drive_table.records[0].smart_enabled, 0);
      })
      .Escape();
  f.Run();
  std::vector<int> shown{ids::kMainTemplate, ids::kWarningTemplate};
  if (c.sure_answer >= 0) shown.push_back(ids::kSureTemplate);
  EXPECT_EQ(f.ui.opened_dialogs(), shown);
}

INSTANTIATE_TEST_SUITE_P(Cases, SmartStatusDeclineTest,
                         ::testing::Values(DeclineCase{"warning_cancel", ui::IDCANCEL, -1},
                                           DeclineCase{"warning_escape", 0, -1},
                                           DeclineCase{"sure_no", ui::IDOK, ui::IDCANCEL},
                                           DeclineCase{"sure_escape", ui::IDOK, 0}),
                         [](const auto& p) { return std::string(p.param.label); });

}  // namespace
}  // namespace plovix
