// The bench as hardware: opening paths, identity data, bridges, volumes, the device
// catalogue, recorded requests and injected faults.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "devices/sim/Bench.h"
#include "tests/devices/sim/requests.h"

namespace plovix::sim {
namespace {

using namespace plovix::sim::testing;

DriveSpec Sata(std::string model, std::string serial, std::uint64_t total) {
  DriveSpec setup;
  setup.model = std::move(model);
  setup.serial = std::move(serial);
  setup.firmware = "FW01A";
  setup.total_sectors = total;
  return setup;
}

BridgeSpec Bridge(BridgeForwarding forwarding, std::string chip = "x100") {
  BridgeSpec bridge;
  bridge.vendor = "Ardent";
  bridge.product = "Ext HDD 1021";
  bridge.revision = "0a1";
  bridge.chip_id = std::move(chip);
  bridge.forwarding = forwarding;
  return bridge;
}

std::string Text(const std::uint8_t* data, int first_word, int words) {
  std::string out;
  for (int w = first_word; w < first_word + words; ++w) {
    const std::uint16_t v = Word(data, w);
    out += static_cast<char>(v >> 8);
    out += static_cast<char>(v & 0xFF);
  }
  return out;
}

// The model text of IDENTIFY data without its blank padding.
std::string Model(const std::uint8_t* data) {
  std::string model = Text(data, 27, 20);
  while (!model.empty() && model.back() == ' ') model.pop_back();
  return model;
}

std::uint8_t Status(const AtaPassThroughRequest& reply) { return reply.CurrentTaskFile[kTfCommand]; }

// --- Open -------------------------------------------------------------------------

TEST(SimBenchOpen, PathsOpenOnlyWhatIsThere) {
  Bench bench;
  bench.AddSata(0, Sata("Orvane A", "S0", 1000));
  bench.AddSata(2, Sata("Orvane B", "S2", 1000));
  bench.AddUsb(31, Sata("Orvane U", "S31", 1000), Bridge(BridgeForwarding::Standard));
  bench.FailOpen(2);
  bench.AddVolume('d', 0);
  bench.AddSilentVolume('E');

  struct Case {
    const char* path;
    bool opens;
  };
  const Case cases[] = {
      {"\\\\.\\PhysicalDrive0", true},   {"\\\\.\\PhysicalDrive1", false},
      {"\\\\.\\PhysicalDrive2", false},  {"\\\\.\\PhysicalDrive31", true},
      {"\\\\.\\PhysicalDrive32", false}, {"\\\\.\\PhysicalDrive", false},
      {"\\\\.\\PhysicalDrive0x", false}, {"PhysicalDrive0", false},
      {"\\\\.\\D:", true},               {"\\\\.\\E:", true},
      {"\\\\.\\C:", false},              {"\\\\.\\D", false},
      {"", false},
  };
  std::vector<DeviceHandle> open;
  for (const Case& c : cases) {
    const DeviceHandle h = bench.Open(c.path);
    EXPECT_EQ(h != kInvalidHandle, c.opens) << c.path;
    if (h != kInvalidHandle) open.push_back(h);
  }
  std::vector<std::string> expected_paths;
  for (const Case& c : cases) expected_paths.push_back(c.path);
  EXPECT_EQ(bench.OpenedPaths(), expected_paths);
  EXPECT_EQ(bench.OpenHandleCount(), 4);
  bench.Close(open[0]);
  bench.Close(open[0]);  // twice: no effect
  EXPECT_EQ(bench.OpenHandleCount(), 3);

  bench.ClearFaults();  // lifts FailOpen too
  EXPECT_NE(bench.Open("\\\\.\\PhysicalDrive2"), kInvalidHandle);
}

TEST(SimBenchOpen, EachOpenGivesAFreshHandle) {
  Bench bench;
  bench.AddSata(3, Sata("Orvane A", "S0", 1000));
  const DeviceHandle a = bench.Open("\\\\.\\PhysicalDrive3");
  const DeviceHandle b = bench.Open("\\\\.\\PhysicalDrive3");
  EXPECT_NE(a, b);
  bench.Close(a);
  std::vector<std::uint8_t> data(512);
  AtaPassThroughRequest reply;
  EXPECT_FALSE(bench.AtaPassThrough(a, AtaIdentify(data.data()), reply));  // closed
  EXPECT_TRUE(bench.AtaPassThrough(b, AtaIdentify(data.data()), reply));
}

// --- IDENTIFY ---------------------------------------------------------------------

struct IdentifyCase {
  std::uint64_t total;
  bool smart_supported, smart_enabled, selftest_supported, selftest_default;
  std::uint32_t words_60_61;
};

class SimIdentify : public ::testing::TestWithParam<IdentifyCase> {};

TEST_P(SimIdentify, LayoutOfTheSector) {
  const IdentifyCase c = GetParam();
  Bench bench;
  DriveSpec setup = Sata("Kestrel KD-2000 Pro", "  K1X9-0042", c.total);
  setup.firmware = "KF3.21";
  setup.smart_supported = c.smart_supported;
  setup.smart_enabled = c.smart_enabled;
  setup.selftest_supported = c.selftest_supported;
  setup.selftest_default = c.selftest_default;
  bench.AddSata(4, setup);
  const DeviceHandle h = bench.Open("\\\\.\\PhysicalDrive4");
  std::vector<std::uint8_t> d(512, 0xCC);
  AtaPassThroughRequest reply;
  ASSERT_TRUE(bench.AtaPassThrough(h, AtaIdentify(d.data()), reply));
  EXPECT_EQ(Status(reply), 0x50);

  EXPECT_EQ(Text(d.data(), 27, 20), "Kestrel KD-2000 Pro                     ");
  EXPECT_EQ(Text(d.data(), 10, 10), "  K1X9-0042         ");
  EXPECT_EQ(Text(d.data(), 23, 4), "KF3.21  ");
  EXPECT_EQ(Word(d.data(), 60) | static_cast<std::uint32_t>(Word(d.data(), 61)) << 16,
            c.words_60_61);
  std::uint64_t words_100 = 0;
  for (int i = 3; i >= 0; --i) words_100 = words_100 << 16 | Word(d.data(), 100 + i);
  EXPECT_EQ(words_100, c.total);
  EXPECT_TRUE(Word(d.data(), 83) & 0x0400);
  EXPECT_EQ((Word(d.data(), 82) & 1) != 0, c.smart_supported);
  EXPECT_EQ((Word(d.data(), 85) & 1) != 0, c.smart_enabled);
  EXPECT_EQ((Word(d.data(), 84) & 2) != 0, c.selftest_supported);
  EXPECT_EQ((Word(d.data(), 87) & 2) != 0, c.selftest_default);
  std::uint8_t sum = 0;
  for (std::uint8_t b : d) sum = static_cast<std::uint8_t>(sum + b);
  EXPECT_EQ(d[510], 0xA5);
  EXPECT_EQ(sum, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, SimIdentify,
    ::testing::Values(IdentifyCase{1000, true, true, true, true, 1000},
                      IdentifyCase{0x0FFFFFFE, true, false, true, false, 0x0FFFFFFE},
                      IdentifyCase{0x0FFFFFFF, false, false, false, false, 0x0FFFFFFF},
                      IdentifyCase{1953525168, true, true, false, true, 0x0FFFFFFF},
                      IdentifyCase{7814037168ULL, false, true, true, false, 0x0FFFFFFF}));

TEST(SimIdentifyText, LongTextsAreCutToTheirFields) {
  Bench bench;
  DriveSpec setup = Sata(std::string(50, 'M'), std::string(25, 'S'), 1000);
  setup.firmware = "123456789";
  bench.AddSata(0, setup);
  const DeviceHandle h = bench.Open("\\\\.\\PhysicalDrive0");
  std::vector<std::uint8_t> d(512);
  AtaPassThroughRequest reply;
  ASSERT_TRUE(bench.AtaPassThrough(h, AtaIdentify(d.data()), reply));
  EXPECT_EQ(Text(d.data(), 27, 20), std::string(40, 'M'));
  EXPECT_EQ(Text(d.data(), 10, 10), std::string(20, 'S'));
  EXPECT_EQ(Text(d.data(), 23, 4), "12345678");
  EXPECT_EQ(Word(d.data(), 46 + 1) , 0x8010);  // the word after the model is untouched
}

TEST(SimIdentifyTransfer, MissingDataPhaseIsRefusedByTheAdapter) {
  Bench bench;
  bench.AddSata(0, Sata("Orvane A", "S0", 1000));
  const DeviceHandle h = bench.Open("\\\\.\\PhysicalDrive0");
  std::vector<std::uint8_t> d(512);
  AtaPassThroughRequest reply;
  EXPECT_FALSE(bench.AtaPassThrough(h, Ata({0, 0, 0, 0, 0, 0x50, 0xEC}, 0, nullptr), reply));
  AtaPassThroughRequest short_buffer = AtaIdentify(d.data());
  short_buffer.DataTransferLength = 256;
  EXPECT_FALSE(bench.AtaPassThrough(h, short_buffer, reply));
  // An opcode the drive does not know is aborted by the drive.
  ASSERT_TRUE(bench.AtaPassThrough(h, Ata({0, 0, 0, 0, 0, 0x50, 0x99}), reply));
  EXPECT_EQ(Status(reply), 0x51);
  EXPECT_EQ(reply.CurrentTaskFile[kTfFeature], 0x04);
}

// --- Volumes ----------------------------------------------------------------------

TEST(SimBenchVolume, AVolumeAnswersForItsSataDriveOnly) {
  Bench bench;
  bench.AddSata(0, Sata("Orvane System", "SYS1", 1000));
  bench.AddUsb(1, Sata("Orvane Usb", "USB1", 1000), Bridge(BridgeForwarding::VendorAndStandard));
  bench.AddVolume('C', 0);
  bench.AddVolume('F', 1);
  bench.AddSilentVolume('G');
  struct Case {
    const char* path;
    bool answers;
    int logged_drive;
  };
  for (const Case& c : {Case{"\\\\.\\C:", true, 0}, Case{"\\\\.\\F:", false, 1},
                        Case{"\\\\.\\G:", false, -1}}) {
    bench.ClearLog();
    const DeviceHandle h = bench.Open(c.path);
    ASSERT_NE(h, kInvalidHandle) << c.path;
    std::vector<std::uint8_t> d(512);
    AtaPassThroughRequest reply;
    EXPECT_EQ(bench.AtaPassThrough(h, AtaIdentify(d.data()), reply), c.answers) << c.path;
    if (c.answers) {
      EXPECT_EQ(Model(d.data()), "Orvane System");
    }
    // Volumes are not reached with SCSI pass-through.
    std::vector<std::uint8_t> inquiry(40);
    ScsiPassThroughRequest scsi = ScsiInquiry(inquiry.data());
    EXPECT_FALSE(bench.ScsiPassThrough(h, scsi)) << c.path;
    const auto log = bench.Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].drive_number, c.logged_drive);
    EXPECT_EQ(log[0].path, c.path);
    bench.Close(h);
  }
}

// --- USB bridges ------------------------------------------------------------------

TEST(SimBridge, InquiryCarriesNamesAndChip) {
  Bench bench;
  BridgeSpec bridge = Bridge(BridgeForwarding::Vendor, "j329");
  bridge.vendor = "Ab Cd";
  bench.AddUsb(5, Sata("Orvane U", "U5", 1000), bridge);
  const DeviceHandle h = bench.Open("\\\\.\\PhysicalDrive5");
  std::vector<std::uint8_t> d(64, 0xEE);
  ScsiPassThroughRequest r = ScsiInquiry(d.data());
  ASSERT_TRUE(bench.ScsiPassThrough(h, r));
  EXPECT_EQ(r.ScsiStatus, 0);
  EXPECT_EQ(std::string(d.begin() + 8, d.begin() + 16), "Ab Cd   ");
  EXPECT_EQ(std::string(d.begin() + 16, d.begin() + 32), "Ext HDD 1021    ");
  EXPECT_EQ(std::string(d.begin() + 32, d.begin() + 36), "0a1 ");
  EXPECT_EQ(std::string(d.begin() + 36, d.begin() + 40), "j329");
  EXPECT_EQ(d[40], 0xEE);  // 40 bytes and no more

  // A SATA drive and a bridge that keeps quiet both answer CHECK CONDITION.
  bridge.inquiry_answers = false;
  bench.AddUsb(6, Sata("Orvane V", "U6", 1000), bridge);
  bench.AddSata(7, Sata("Orvane S", "S7", 1000));
  for (int n : {6, 7}) {
    const DeviceHandle other = bench.Open("\\\\.\\PhysicalDrive" + std::to_string(n));
    ScsiPassThroughRequest q = ScsiInquiry(d.data());
    ASSERT_TRUE(bench.ScsiPassThrough(other, q)) << n;
    EXPECT_EQ(q.ScsiStatus, 2) << n;
    EXPECT_EQ(q.Sense[0], 0x70) << n;
  }
}

TEST(SimBridge, UsbDriveRefusesAtaPassThrough) {
  Bench bench;
  bench.AddUsb(1, Sata("Orvane U", "U1", 1000), Bridge(BridgeForwarding::VendorAndStandard));
  const DeviceHandle h = bench.Open("\\\\.\\PhysicalDrive1");
  std::vector<std::uint8_t> d(512);
  AtaPassThroughRequest reply;
  EXPECT_FALSE(bench.AtaPassThrough(h, AtaIdentify(d.data()), reply));
  EXPECT_EQ(bench.LogFor(1).size(), 1u);
}

enum class Block { Standard12, Vendor, RegisterWrite, Standard16 };

struct ForwardCase {
  BridgeForwarding forwarding;
  Block block;
  bool forwarded;
};

class SimBridgeMatrix : public ::testing::TestWithParam<ForwardCase> {};

TEST_P(SimBridgeMatrix, ForwardsWhatTheBridgeKnows) {
  const ForwardCase c = GetParam();
  Bench bench;
  bench.AddUsb(2, Sata("Orvane Matrix", "M2", 100000), Bridge(c.forwarding, "j509"));
  const DeviceHandle h = bench.Open("\\\\.\\PhysicalDrive2");
  std::vector<std::uint8_t> d(512, 0);
  ScsiPassThroughRequest r;
  switch (c.block) {
    case Block::Standard12: r = ScsiIdentifyStandard(d.data()); break;
    case Block::Vendor: r = ScsiIdentifyVendor(d.data()); break;
    case Block::RegisterWrite: r = ScsiRegisterWrite(d.data(), 0xFE); break;
    case Block::Standard16: r = Scsi16ReadVerify(0, 100); break;
  }
  ASSERT_TRUE(bench.ScsiPassThrough(h, r));
  EXPECT_EQ(r.ScsiStatus, c.forwarded ? 0 : 2);
  if (c.block == Block::Standard12 || c.block == Block::Vendor) {
    EXPECT_EQ(Model(d.data()) == "Orvane Matrix", c.forwarded);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, SimBridgeMatrix,
    ::testing::Values(
        ForwardCase{BridgeForwarding::Standard, Block::Standard12, true},
        ForwardCase{BridgeForwarding::Standard, Block::Standard16, true},
        ForwardCase{BridgeForwarding::Standard, Block::Vendor, false},
        ForwardCase{BridgeForwarding::Standard, Block::RegisterWrite, false},
        ForwardCase{BridgeForwarding::Vendor, Block::Standard12, false},
        ForwardCase{BridgeForwarding::Vendor, Block::Standard16, false},
        ForwardCase{BridgeForwarding::Vendor, Block::Vendor, true},
        ForwardCase{BridgeForwarding::Vendor, Block::RegisterWrite, true},
        ForwardCase{BridgeForwarding::VendorAndStandard, Block::Standard12, true},
        ForwardCase{BridgeForwarding::VendorAndStandard, Block::Standard16, true},
        ForwardCase{BridgeForwarding::VendorAndStandard, Block::Vendor, true},
        ForwardCase{BridgeForwarding::VendorAndStandard, Block::RegisterWrite, true},
        ForwardCase{BridgeForwarding::None, Block::Standard12, false},
        ForwardCase{BridgeForwarding::None, Block::Standard16, false},
        ForwardCase{BridgeForwarding::None, Block::Vendor, false},
        ForwardCase{BridgeForwarding::None, Block::RegisterWrite, false}));

TEST(SimBridge, BlockDirectionMustAgreeWithTheTransfer) {
  Bench bench;
  bench.AddUsb(0, Sata("Orvane U", "U0", 1000), Bridge(BridgeForwarding::VendorAndStandard));
  const DeviceHandle h = bench.Open("\\\\.\\PhysicalDrive0");
  std::vector<std::uint8_t> d(512);
  struct Case {
    const char* what;
    ScsiPassThroughRequest request;
  };
  Case cases[] = {
      {"A1 data-in protocol without a data-in transfer",
       Scsi({0xA1, 0x08, 0x0B, 0, 0, 0, 0, 0, 0, 0xEC, 0, 0}, kScsiDataUnspecified)},
      {"A1 non-data protocol for IDENTIFY",
       Scsi({0xA1, 0x06, 0x00, 0, 0, 0, 0, 0, 0, 0xEC, 0, 0}, kScsiDataIn, d.data(), 512)},
      {"DF towards the device while the host reads",
       Scsi({0xDF, 0x00, 0x00, 0x02, 0x00, 0, 0, 0, 0, 0, 0xE0, 0xEC}, kScsiDataIn, d.data(), 512)},
      {"register write without its 4 bytes",
       Scsi({0xDF, 0x00, 0x00, 0x00, 0x04, 0x00, 0xFE, 0x75, 0x00, 0x00, 0x00, 0xFE},
            kScsiDataUnspecified)},
      {"unknown SCSI opcode", Scsi({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, kScsiDataIn, d.data(), 8)},
  };
  for (Case& c : cases) {
    ASSERT_TRUE(bench.ScsiPassThrough(h, c.request)) << c.what;
    EXPECT_EQ(c.request.ScsiStatus, 2) << c.what;
  }
}

// --- Catalogue --------------------------------------------------------------------

TEST(SimCatalog, UsbDrivesAreListedAsWindowsNamesThem) {
  Bench bench;
  BridgeSpec a = Bridge(BridgeForwarding::Standard);
  a.vendor = "Ab Cd   ";
  a.product = "Ext HDD 1021    ";
  a.revision = "0a1 ";
  a.usb_serial = "57X0000A1";
  a.vid = 0x1a2b;
  a.pid = 0x00fe;
  bench.AddUsb(3, Sata("Orvane U", "U3", 1000), a);
  BridgeSpec b = Bridge(BridgeForwarding::Standard);
  b.usb_serial = "NOUSB";
  b.listed_as_usb_device = false;
  bench.AddUsb(4, Sata("Orvane V", "U4", 1000), b);
  BridgeSpec c = Bridge(BridgeForwarding::Standard);
  c.usb_serial = "NOSTOR";
  c.listed_as_usbstor = false;
  bench.AddUsb(5, Sata("Orvane W", "U5", 1000), c);
  bench.AddCatalogEntry(kUsbClassGuid, "USB", std::nullopt);
  bench.AddCatalogEntry(kUsbClassGuid, "USB", "USB\\ROOT_HUB30\\4&1&0");

  using Ids = std::vector<std::optional<std::string>>;
  EXPECT_EQ(bench.PresentDevices(kDiskDriveClassGuid, "USBSTOR"),
            (Ids{"USBSTOR\\DISK&VEN_AB_CD&PROD_EXT_HDD_1021&REV_0A1\\57X0000A1&0",
                 "USBSTOR\\DISK&VEN_ARDENT&PROD_EXT_HDD_1021&REV_0A1\\NOUSB&0"}));
  EXPECT_EQ(bench.PresentDevices(kUsbClassGuid, "USB"),
            (Ids{"USB\\VID_1A2B&PID_00FE\\57X0000A1", "USB\\VID_1234&PID_5678\\NOSTOR",
                 std::nullopt, "USB\\ROOT_HUB30\\4&1&0"}));
  EXPECT_EQ(bench.PresentDevices(kUsbClassGuid, "USBSTOR"), Ids{});

  bench.RemoveDrive(3);  // unplugged: its entries go too
  EXPECT_EQ(bench.PresentDevices(kDiskDriveClassGuid, "USBSTOR")->size(), 1u);
  EXPECT_EQ(bench.PresentDevices(kUsbClassGuid, "USB")->size(), 3u);

  bench.FailCatalog(kUsbClassGuid, "USB");
  EXPECT_EQ(bench.PresentDevices(kUsbClassGuid, "USB"), std::nullopt);
  EXPECT_TRUE(bench.PresentDevices(kDiskDriveClassGuid, "USBSTOR").has_value());
}

// --- Log --------------------------------------------------------------------------

TEST(SimLog, RequestsAreRecordedWithTheirOutgoingData) {
  Bench bench;
  bench.AddSata(0, Sata("Orvane A", "S0", 1000));
  bench.AddUsb(1, Sata("Orvane U", "U1", 1000), Bridge(BridgeForwarding::Vendor));
  const DeviceHandle h0 = bench.Open("\\\\.\\PhysicalDrive0");
  const DeviceHandle h1 = bench.Open("\\\\.\\PhysicalDrive1");
  std::vector<std::uint8_t> out(512);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(i * 7);
  AtaPassThroughRequest reply;
  ASSERT_TRUE(bench.AtaPassThrough(
      h0, Ata({0, 0, 0, 0, 0, 0, 0xE8}, kAtaFlagsDataOut, out.data()), reply));
  std::uint8_t four[4] = {0, 0, 0, 0};
  ScsiPassThroughRequest r = ScsiRegisterWrite(four, 0xC2);
  ASSERT_TRUE(bench.ScsiPassThrough(h1, r));
  EXPECT_EQ(r.ScsiStatus, 0);
  AtaPassThroughRequest nothing;
  EXPECT_FALSE(bench.AtaPassThrough(kInvalidHandle, AtaIdentify(out.data()), nothing));

  const auto log = bench.Log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_FALSE(log[0].scsi);
  EXPECT_EQ(log[0].ata.CurrentTaskFile[kTfCommand], 0xE8);
  EXPECT_EQ(log[0].data_out, out);
  EXPECT_TRUE(log[1].scsi);
  EXPECT_EQ(log[1].scsi_request.Cdb[6], 0xC2);
  EXPECT_EQ(log[1].data_out, std::vector<std::uint8_t>(4, 0));
  EXPECT_EQ(log[2].drive_number, -1);
  EXPECT_EQ(log[2].path, "");
  ASSERT_EQ(bench.LogFor(1).size(), 1u);
  EXPECT_EQ(bench.LogFor(1)[0].path, "\\\\.\\PhysicalDrive1");
  EXPECT_EQ(bench.Drive(0).SectorBuffer()[3], 21);
  bench.ClearLog();
  EXPECT_TRUE(bench.Log().empty());
}

// --- Faults -----------------------------------------------------------------------

struct FaultCase {
  const char* name;
  FaultEffect effect;
  bool scsi;
  bool call_ok;
  std::uint8_t status;  // ATA status register or SCSI status
};

class SimFaultEffect : public ::testing::TestWithParam<FaultCase> {};

TEST_P(SimFaultEffect, HitsTheMatchingRequestOnly) {
  const FaultCase c = GetParam();
  Bench bench;
  bench.AddSata(0, Sata("Orvane A", "S0", 1000));
  bench.AddUsb(1, Sata("Orvane A", "S0", 1000), Bridge(BridgeForwarding::Standard));
  const int n = c.scsi ? 1 : 0;
  Fault fault;
  fault.match.drive_number = n;
  fault.match.ata_command = 0xEC;
  fault.effect = c.effect;
  bench.AddFault(fault);
  const DeviceHandle h = bench.Open("\\\\.\\PhysicalDrive" + std::to_string(n));

  std::vector<std::uint8_t> d(512, 0);
  bool ok = false;
  std::uint8_t status = 0xFF;
  if (c.scsi) {
    ScsiPassThroughRequest r = ScsiIdentifyStandard(d.data());
    ok = bench.ScsiPassThrough(h, r);
    status = r.ScsiStatus;
  } else {
    AtaPassThroughRequest reply;
    ok = bench.AtaPassThrough(h, AtaIdentify(d.data()), reply);
    status = Status(reply);
  }
  EXPECT_EQ(ok, c.call_ok);
  if (c.call_ok) {
    EXPECT_EQ(status, c.status);
  }
  if (c.effect == FaultEffect::Garbage) {
    EXPECT_NE(Text(d.data(), 27, 4), "Orvane A");
    EXPECT_GT(std::count_if(d.begin(), d.end(), [](std::uint8_t b) { return b != 0; }), 300);
  }
  if (c.effect == FaultEffect::Lost) {
    // Reported done, yet the drive never answered it.
    EXPECT_TRUE(std::all_of(d.begin(), d.end(), [](std::uint8_t b) { return b == 0; }));
  }

  // Another command and another drive pass.
  std::vector<std::uint8_t> smart(512);
  AtaPassThroughRequest reply;
  const DeviceHandle other = bench.Open("\\\\.\\PhysicalDrive0");
  if (!c.scsi) {
    EXPECT_TRUE(bench.AtaPassThrough(other, AtaSmart(0xD0, 0, smart.data()), reply));
    EXPECT_EQ(Status(reply), 0x50);
  } else {
    EXPECT_TRUE(bench.AtaPassThrough(other, AtaIdentify(smart.data()), reply));
    EXPECT_EQ(Status(reply), 0x50);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Effects, SimFaultEffect,
    ::testing::Values(FaultCase{"AtaCallFails", FaultEffect::CallFails, false, false, 0},
                      FaultCase{"AtaTimeout", FaultEffect::Timeout, false, false, 0},
                      FaultCase{"AtaError", FaultEffect::AtaError, false, true, 0x51},
                      FaultCase{"AtaCheckCondition", FaultEffect::CheckCondition, false, true, 0x51},
                      FaultCase{"AtaGarbage", FaultEffect::Garbage, false, true, 0x50},
                      FaultCase{"AtaLost", FaultEffect::Lost, false, true, 0x50},
                      FaultCase{"ScsiCallFails", FaultEffect::CallFails, true, false, 0},
                      FaultCase{"ScsiTimeout", FaultEffect::Timeout, true, false, 0},
                      FaultCase{"ScsiAtaError", FaultEffect::AtaError, true, true, 2},
                      FaultCase{"ScsiCheckCondition", FaultEffect::CheckCondition, true, true, 2},
                      FaultCase{"ScsiGarbage", FaultEffect::Garbage, true, true, 0},
                      FaultCase{"ScsiLost", FaultEffect::Lost, true, true, 0}),
    [](const ::testing::TestParamInfo<FaultCase>& param_info) {
      return std::string(param_info.param.name);
    });

TEST(SimFault, SkipAndTimesCountMatchingRequests) {
  Bench bench;
  bench.AddSata(0, Sata("Orvane A", "S0", 1000000));
  Fault fault;
  fault.match.ata_command = 0x42;
  fault.match.skip = 2;
  fault.match.times = 2;
  fault.effect = FaultEffect::AtaError;
  bench.AddFault(fault);
  const DeviceHandle h = bench.Open("\\\\.\\PhysicalDrive0");
  std::vector<std::uint8_t> results;
  std::vector<std::uint8_t> d(512);
  for (int i = 0; i < 6; ++i) {
    AtaPassThroughRequest reply;
    // IDENTIFY between the verifies does not count.
    ASSERT_TRUE(bench.AtaPassThrough(h, AtaIdentify(d.data()), reply));
    ASSERT_TRUE(bench.AtaPassThrough(h, AtaReadVerify(static_cast<std::uint64_t>(i) * 100, 10), reply));
    results.push_back(Status(reply));
  }
  EXPECT_EQ(results, (std::vector<std::uint8_t>{0x50, 0x50, 0x51, 0x51, 0x50, 0x50}));
}

TEST(SimFault, MatchFieldsNarrowTheHit) {
  struct Case {
    const char* name;
    FaultMatch match;
    std::vector<bool> hits;  // D0 read, D4 start, verify at 500, verify at 600, SCSI inquiry
  };
  FaultMatch feature;
  feature.smart_feature = 0xD4;
  FaultMatch lba;
  lba.lba = 600;
  FaultMatch cdb;
  cdb.cdb_opcode = 0x12;
  FaultMatch other_drive;
  other_drive.drive_number = 9;
  const Case cases[] = {
      {"feature", feature, {false, true, false, false, false}},
      {"lba", lba, {false, false, false, true, false}},
      {"cdb", cdb, {false, false, false, false, true}},
      {"drive", other_drive, {false, false, false, false, false}},
      {"any", FaultMatch{}, {true, true, true, true, true}},
  };
  for (const Case& c : cases) {
    Bench bench;
    bench.AddSata(0, Sata("Orvane A", "S0", 1000));
    bench.AddUsb(1, Sata("Orvane U", "U1", 1000), Bridge(BridgeForwarding::Standard));
    bench.AddFault(Fault{c.match, FaultEffect::CallFails, 0});
    const DeviceHandle h = bench.Open("\\\\.\\PhysicalDrive0");
    const DeviceHandle u = bench.Open("\\\\.\\PhysicalDrive1");
    std::vector<std::uint8_t> d(512);
    AtaPassThroughRequest reply;
    std::vector<bool> hits;
    hits.push_back(!bench.AtaPassThrough(h, AtaSmart(0xD0, 0, d.data()), reply));
    hits.push_back(!bench.AtaPassThrough(h, AtaSmart(0xD4, 1), reply));
    hits.push_back(!bench.AtaPassThrough(h, AtaReadVerify(500, 1), reply));
    hits.push_back(!bench.AtaPassThrough(h, AtaReadVerify(600, 1), reply));
    ScsiPassThroughRequest inquiry = ScsiInquiry(d.data());
    hits.push_back(!bench.ScsiPassThrough(u, inquiry));
    EXPECT_EQ(hits, c.hits) << c.name;
  }
}

TEST(SimFault, BlockedCommandWaitsForRelease) {
  Bench bench;
  bench.AddSata(0, Sata("Orvane A", "S0", 1000));
  bench.AddFault(Fault{FaultMatch{}, FaultEffect::Block, 0});
  const DeviceHandle h = bench.Open("\\\\.\\PhysicalDrive0");
  std::atomic<bool> done{false};
  std::uint8_t status = 0;
  std::thread worker([&] {
    AtaPassThroughRequest reply;
    bench.AtaPassThrough(h, AtaReadVerify(0, 8), reply);
    status = Status(reply);
    done = true;
  });
  // The request arrives and stays in the drive; the bench still answers others.
  while (bench.Log().empty()) std::this_thread::yield();
  EXPECT_FALSE(done.load());
  EXPECT_EQ(bench.OpenHandleCount(), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(3));
  EXPECT_FALSE(done.load());
  bench.ReleaseBlocked();
  worker.join();
  EXPECT_TRUE(done.load());
  EXPECT_EQ(status, 0x50);
}

TEST(SimFault, BlockedCommandEndsWhenTheClockArrives) {
  Bench bench;
  std::atomic<std::uint64_t> now{0};
  bench.SetClock([&] { return now.load(); });
  bench.AddUsb(0, Sata("Orvane U", "U0", 1000), Bridge(BridgeForwarding::Standard));
  bench.AddFault(Fault{FaultMatch{}, FaultEffect::Block, 5000});
  const DeviceHandle h = bench.Open("\\\\.\\PhysicalDrive0");
  std::atomic<bool> done{false};
  std::thread worker([&] {
    std::vector<std::uint8_t> d(40);
    ScsiPassThroughRequest r = ScsiInquiry(d.data());
    bench.ScsiPassThrough(h, r);
    done = true;
  });
  while (bench.Log().empty()) std::this_thread::yield();
  now = 4999;
  std::this_thread::sleep_for(std::chrono::milliseconds(3));
  EXPECT_FALSE(done.load());
  now = 5000;
  worker.join();
  EXPECT_TRUE(done.load());
}

}  // namespace
}  // namespace plovix::sim
