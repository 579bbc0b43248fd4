// The SMART Status line of the test log report, through the main window's Log View on a
// bench: the drive's SMART state is read once as the view opens, with read-only commands
// in the drive's own form, and the screen and the saved "ZUL_TEST.LOG" say the same word.
#include <cstdint>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "drive/NvmeCommands.h"
#include "reports/DriveLog.h"
#include "resources/ResourceIds.h"
#include "tests/support/reports_temp_dir.h"
#include "tests/support/utils_rig.h"

namespace plovix::testing_utils {
namespace {

constexpr int kDrive = 3;  // the drive viewed (line 0)
constexpr int kOther = 5;  // a drive beside it (line 1)
const char kSerial[] = "VERDICT3";
const char kEarlierRecord[] = "SMART QT\r\nDone\r\nPass\r\n03/14/2012 09:00:00\r\n";

enum class Attach { Sata, UsbBridgeChip, UsbStandard, Nvme };

// A request as "<form> <opcode>/<SMART feature>" or "nvme log <id>".
std::string Describe(const sim::Received& r) {
  std::ostringstream os;
  if (r.nvme) {
    const NvmeCmd c = DecodeNvme(r);
    if (IsAdmin(c, kNvmeLogPage)) {
      os << "nvme log " << std::hex << (c.cdw10 & 0xFF);
    } else {
      os << c;
    }
    return os.str();
  }
  std::uint8_t feature = r.ata.CurrentTaskFile[kTfFeature];
  const char* form = "ata";
  if (r.scsi) {
    const std::uint8_t* cdb = r.scsi_request.Cdb;
    form = cdb[0] == 0xA1 ? "a1" : cdb[0] == 0x85 ? "85" : cdb[0] == 0xDF ? "df" : "scsi?";
    feature = cdb[0] == 0xA1 ? cdb[3] : cdb[0] == 0x85 ? cdb[4] : cdb[0] == 0xDF ? cdb[5] : 0;
  }
  os << form << " " << std::hex << int(Decode(r).opcode) << "/" << int(feature);
  return os.str();
}

sim::SmartAttr Attr(std::uint8_t id, std::uint8_t current, std::uint8_t threshold) {
  return sim::SmartAttr{.id = id, .current = current, .worst = current, .threshold = threshold};
}

// Reallocated sectors (attribute 5) well below their threshold, as on a worn disk.
void Worn(sim::DriveSpec& s) {
  for (sim::SmartAttr& a : s.attributes) {
    if (a.id == 5) a = Attr(5, 118, 140);
  }
}

sim::Fault SmartReadFault(std::uint8_t feature) {
  sim::Fault fault;
  fault.match.drive_number = kDrive;
  fault.match.smart_feature = feature;
  fault.effect = sim::FaultEffect::AtaError;
  return fault;
}

struct VerdictCase {
  const char* name;
  Attach attach;
  std::function<void(sim::DriveSpec&)> ata;
  std::function<void(sim::NvmeSpec&)> nvme;
  std::vector<sim::Fault> faults;
  const char* word;
  std::vector<std::string> sent;  // to the viewed drive, as the view opens
};

void PrintTo(const VerdictCase& c, std::ostream* os) { *os << c.name; }

// Both SMART sectors, then the drive's own verdict.
const std::vector<std::string> kAtaReads = {"ata b0/d0", "ata b0/d1", "ata b0/da"};

const VerdictCase kCases[] = {
    {"sata_healthy", Attach::Sata, {}, {}, {}, "Healthy", kAtaReads},
    {"sata_worn", Attach::Sata,
     Worn, {}, {}, "Failing",
     kAtaReads},
    // The SMART status dialog paints a value equal to its threshold green, but the drive
    // itself counts it as exceeded, and its word stands.
    {"sata_at_threshold", Attach::Sata,
     [](sim::DriveSpec& s) { s.attributes = {Attr(1, 100, 6), Attr(5, 36, 36)}; }, {}, {},
     "Failing", kAtaReads},
    {"sata_other_attribute_below_threshold", Attach::Sata,
     [](sim::DriveSpec& s) { s.attributes.push_back(Attr(170, 5, 10)); }, {}, {}, "Failing",
     kAtaReads},
    // The drive's own word stands where the attributes cannot tell.
    {"sata_no_attribute_reported", Attach::Sata,
     [](sim::DriveSpec& s) { s.attributes.clear(); }, {}, {}, "Healthy", kAtaReads},
    {"sata_data_read_fails", Attach::Sata, {}, {}, {SmartReadFault(0xD0)}, "Healthy", kAtaReads},
    {"sata_thresholds_read_fails", Attach::Sata,
     Worn, {},
     {SmartReadFault(0xD1)}, "Failing", kAtaReads},
    {"sata_drive_says_exceeded", Attach::Sata,
     [](sim::DriveSpec& s) { s.smart_says_exceeded = true; }, {}, {}, "Failing", kAtaReads},
    {"sata_own_verdict_refused", Attach::Sata, {}, {}, {SmartReadFault(0xDA)}, "Healthy",
     kAtaReads},
    {"sata_nothing_tells", Attach::Sata, {}, {},
     {SmartReadFault(0xD0), SmartReadFault(0xDA)}, "Unknown", kAtaReads},
    // Not switched on to be judged: nothing at all is sent, SMART ENABLE least of all.
    {"sata_smart_disabled", Attach::Sata, [](sim::DriveSpec& s) { s.smart_enabled = false; },
     {}, {}, "Unknown", {}},
    // SMART on without the self-test (QEMU's disks): read and judged all the same.
    {"sata_without_self_test", Attach::Sata,
     [](sim::DriveSpec& s) { s.selftest_supported = s.selftest_default = false; }, {}, {},
     "Healthy", kAtaReads},
    {"usb_bridge_chip_worn", Attach::UsbBridgeChip,
     Worn, {}, {}, "Failing",
     {"df b0/d0", "df b0/d1", "85 b0/da"}},
    {"usb_standard_healthy", Attach::UsbStandard, {}, {}, {}, "Healthy",
     {"a1 b0/d0", "a1 b0/d1", "85 b0/da"}},
    {"nvme_healthy", Attach::Nvme, {}, {}, {}, "Healthy", {"nvme log 2"}},
    {"nvme_critical_warning", Attach::Nvme, {},
     [](sim::NvmeSpec& s) { s.health.critical_warning = kNvmeWarnTemperature; }, {}, "Failing",
     {"nvme log 2"}},
    {"nvme_spare_below_threshold", Attach::Nvme, {},
     [](sim::NvmeSpec& s) { s.health.available_spare = 9; }, {}, "Failing", {"nvme log 2"}},
    {"nvme_media_errors", Attach::Nvme, {},
     [](sim::NvmeSpec& s) { s.health.media_errors = NvmeU128{1, 0}; }, {}, "Failing",
     {"nvme log 2"}},
    {"nvme_health_log_refused", Attach::Nvme, {},
     [](sim::NvmeSpec& s) { s.os_refused_admin = {kNvmeLogPage}; }, {}, "Unknown",
     {"nvme log 2"}},
    {"nvme_health_log_error", Attach::Nvme, {},
     [](sim::NvmeSpec& s) { s.health.critical_warning = kNvmeWarnTemperature; },
     {[] {
       sim::Fault fault;
       fault.match.drive_number = kDrive;
       fault.match.nvme_opcode = kNvmeLogPage;
       fault.effect = sim::FaultEffect::NvmeError;
       return fault;
     }()},
     "Unknown", {"nvme log 2"}},
};

class LogViewVerdict : public UtilsRig, public ::testing::WithParamInterface<VerdictCase> {
 protected:
  void AddViewed(const VerdictCase& c) {
    if (c.attach == Attach::Nvme) {
      sim::NvmeSpec setup = NvmeDriveSetup(kSerial, 100000, 512);
      if (c.nvme) c.nvme(setup);
      AddNvme(kDrive, setup);
      return;
    }
    sim::DriveSpec setup = DriveSetup(kSerial, std::uint64_t{1} << 30);
    if (c.ata) c.ata(setup);
    if (c.attach == Attach::Sata) {
      bench.AddSata(kDrive, setup);
    } else {
      sim::BridgeSpec bridge;
      bridge.vendor = "Plovix";
      bridge.product = "USB Dock";
      bridge.revision = "0100";
      const bool chip = c.attach == Attach::UsbBridgeChip;
      bridge.chip_id = chip ? "j329" : "abcd";
      bridge.forwarding = chip ? sim::BridgeForwarding::Vendor : sim::BridgeForwarding::Standard;
      bridge.usb_serial = std::string("USB") + kSerial;
      bench.AddUsb(kDrive, setup, bridge);
    }
    drive_numbers.push_back(kDrive);
  }
};

TEST_P(LogViewVerdict, ScreenAndSavedReportSayWhatTheDriveReported) {
  const VerdictCase& c = GetParam();
  AddViewed(c);
  AddSata(kOther, 1000, "OTHER005");
  { std::ofstream(LogFileName(kSerial), std::ios::binary) << kEarlierRecord; }

  const std::string line = "        SMART Status      : " + std::string(c.word) + "\r\n";
  std::string screen;
  std::vector<std::string> sent;
  ui.Expect(ids::kMainTemplate)
      .Do([&](ui::Dialog& d) {
        ui::ListCtrl& list = d.List(ids::main_window::kDriveList);
        for (int i = 0; i < list.GetItemCount(); ++i) {
          initial_status.push_back(list.GetItemText(i, kStatusColumn));
        }
        bench.ClearLog();
        for (const sim::Fault& fault : c.faults) bench.AddFault(fault);
      })
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kUtilities);
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kLogView);
  ui.Expect(ids::kLogViewTemplate)
      .Do([&](ui::Dialog& d) {
        screen = d.GetDlgItemText(ids::log_view::kText);
        for (const sim::Received& r : bench.LogFor(kDrive)) sent.push_back(Describe(r));
        // Whatever the drive would say now, the file keeps what the view was opened with.
        bench.FailOpen(kDrive);
      })
      .Press(ids::log_view::kSaveToFile);
  ui.Expect(ids::kLogSavedTemplate).Press(ui::IDOK);
  ui.Expect(ids::kLogViewTemplate).Press(ui::IDOK);
  End();
  Run();

  EXPECT_EQ(sent, c.sent);
  EXPECT_EQ(bench.LogFor(kDrive).size(), c.sent.size()) << "the save asked the drive again";
  EXPECT_TRUE(RequestsToOthers({kDrive}).empty());
  EXPECT_NE(screen.find(line + "\r\nTest Log\r\n\r\n        SMART QT          : Done\r\n"),
            std::string::npos)
      << screen;
  const std::string saved = testing_support::ReadBinary("ZUL_TEST.LOG");
  EXPECT_NE(saved.find("B\r\n" + line + "\r\nTest Log\r\n"), std::string::npos) << saved;
  // The log is only read, and the list keeps its Status texts.
  EXPECT_EQ(LogBytes(kSerial), kEarlierRecord);
  EXPECT_EQ(status, initial_status);
  EXPECT_TRUE(ui.message_boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Drives, LogViewVerdict, ::testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace plovix::testing_utils
