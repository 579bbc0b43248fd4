// The drive scan and refresh on simulated benches: which drives end up in the table,
// with which letters, and what was sent to each of them.
#include <gtest/gtest.h>

#include <ostream>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "drive/DriveConnection.h"
#include "inventory/DriveRecord.h"
#include "inventory/DriveScan.h"
#include "devices/sim/Bench.h"

namespace plovix {
namespace {

using sim::Bench;
using sim::BridgeForwarding;
using sim::BridgeSpec;
using sim::DriveSpec;
using Bytes = std::vector<std::uint8_t>;

DriveSpec Disk(std::string model, std::string serial, std::uint64_t sectors = 976773168ULL) {
  DriveSpec d;
  d.model = std::move(model);
  d.serial = std::move(serial);
  d.firmware = "FW01";
  d.total_sectors = sectors;
  return d;
}

BridgeSpec Bridge(std::string vendor, std::string product, std::string revision,
                  std::string chip, BridgeForwarding forwarding, std::string usb_serial) {
  BridgeSpec b;
  b.vendor = std::move(vendor);
  b.product = std::move(product);
  b.revision = std::move(revision);
  b.chip_id = std::move(chip);
  b.forwarding = forwarding;
  b.usb_serial = std::move(usb_serial);
  return b;
}

const std::string kDisk(kDiskDriveClassGuid);
const std::string kUsb(kUsbClassGuid);

class ScanBench {
 public:
  Bench bench;
  IoBuffers buffers;
  DriveConnection connection{bench, buffers};
  DriveTable table;
  UnsupportedUsbList unsupported;

  void Refresh() { RefreshDriveTable(table, unsupported, connection, bench); }

  std::vector<int> Numbers() const {
    std::vector<int> out;
    for (int i = 0; i < table.count; ++i) out.push_back(table.records[i].drive_number);
    return out;
  }
  std::string Letters() const {
    std::string out;
    for (int i = 0; i < table.count; ++i)
      out += table.records[i].drive_letter ? table.records[i].drive_letter : '-';
    return out;
  }
  std::vector<std::string> Unsupported() const {
    std::vector<std::string> out;
    for (int i = 0; i < unsupported.count; ++i)
      out.push_back(std::string(unsupported.entries[i].vendor) + "|" +
                    unsupported.entries[i].product);
    return out;
  }
  bool SlotsAfterCountAreZero() const {
    static const DriveRecord kZero{};
    for (int i = table.count; i < kMaxDrives; ++i)
      if (std::memcmp(&table.records[i], &kZero, sizeof kZero) != 0) return false;
    return true;
  }
};

struct LayoutCase {
  const char* name;
  std::function<void(Bench&)> build;
  std::vector<int> numbers;
  std::string letters;  // one per record, '-' for none
  std::vector<std::string> unsupported;  // "vendor|product"
};

void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

class ScanLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ScanLayoutTest, TableLettersAndUnsupportedList) {
  const LayoutCase& c = GetParam();
  ScanBench s;
  c.build(s.bench);
  s.Refresh();
  EXPECT_EQ(s.Numbers(), c.numbers);
  EXPECT_EQ(s.Letters(), c.letters);
  EXPECT_EQ(s.Unsupported(), c.unsupported);
  EXPECT_TRUE(s.SlotsAfterCountAreZero());
  EXPECT_EQ(s.bench.OpenHandleCount(), 0);
  EXPECT_FALSE(s.connection.IsOpen());
  for (int i = 0; i < s.table.count; ++i) {
    const DriveRecord& r = s.table.records[i];
    EXPECT_NE(r.drive_letter, 'C');
    if (r.via_scsi) {
      EXPECT_EQ(r.usbstor_matched + r.usb_device_matched + r.usb_supported_a + r.usb_supported_b, 4);
    }
  }
}

const BridgeSpec kKnownBridge =
    Bridge("Ab Cd   ", "Ext HDD 1021    ", "0a12", "j329", BridgeForwarding::Vendor, "SER0001");
const BridgeSpec kPlainBridge =
    Bridge("Generic ", "USB Disk        ", "1.00", "    ", BridgeForwarding::Standard, "SER0002");

INSTANTIATE_TEST_SUITE_P(
    Layouts, ScanLayoutTest,
    ::testing::Values(
        LayoutCase{"NoDrives", [](Bench&) {}, {}, "", {}},
        LayoutCase{"OnlySystemDisk",
                   [](Bench& b) {
                     b.AddSata(0, Disk("SYS", "S0"));
                     b.AddVolume('C', 0);
                   },
                   {}, "", {}},
        LayoutCase{"SystemDiskAlsoHoldingDIsDropped",
                   [](Bench& b) {
                     b.AddSata(0, Disk("SYS", "S0"));
                     b.AddSata(1, Disk("DATA", "S1"));
                     b.AddVolume('D', 0);
                     b.AddVolume('C', 0);
                     b.AddVolume('E', 1);
                   },
                   {1}, "E", {}},
        LayoutCase{"RootOverTwoDisksKeepsBothOut",
                   [](Bench& b) {
                     b.AddSata(0, Disk("SYS-A", "S0"));
                     b.AddSata(1, Disk("SYS-B", "S1"));
                     b.AddSata(2, Disk("DATA", "S2"));
                     b.AddVolume('C', 0);
                     b.AddVolume('D', 2);
                     b.SetSystemDrives({0, 1});
                   },
                   {2}, "D", {}},
        LayoutCase{"SecondDiskOnDIsKept",
                   [](Bench& b) {
                     b.AddSata(0, Disk("SYS", "S0"));
                     b.AddSata(1, Disk("DATA", "S1"));
                     b.AddVolume('C', 0);
                     b.AddVolume('D', 1);
                   },
                   {1}, "D", {}},
        LayoutCase{"SystemDiskNotAnsweringKeepsEveryDrive",
                   [](Bench& b) {
                     b.AddSilentVolume('C');
                     b.AddSata(0, Disk("A", "1"));
                     b.AddSata(1, Disk("B", "2"));
                     b.AddVolume('F', 1);
                   },
                   {0, 1}, "-F", {}},
        LayoutCase{"SilentVolumeMatchesOnlyAnEmptyIdentity",
                   [](Bench& b) {
                     b.AddSilentVolume('E');
                     b.AddSata(0, Disk("A", "1"));
                     b.AddSata(1, Disk("", ""));
                   },
                   {0, 1}, "-E", {}},
        LayoutCase{"SilentSystemVolumeDropsAnEmptyIdentity",
                   [](Bench& b) {
                     b.AddSilentVolume('C');
                     b.AddSata(0, Disk("A", "1"));
                     b.AddSata(1, Disk("", ""));
                   },
                   {0}, "-", {}},
        LayoutCase{"ZeroFilledIdentityMatchesASilentVolume",
                   [](Bench& b) {
                     b.AddSilentVolume('H');
                     b.AddSata(0, Disk(std::string(40, '\0'), std::string(20, '\0')));
                   },
                   {0}, "H", {}},
        LayoutCase{"EqualIdentitiesShareTheFirstLetter",
                   [](Bench& b) {
                     b.AddSata(0, Disk("TWIN", "SAME"));
                     b.AddSata(2, Disk("TWIN", "SAME"));
                     b.AddVolume('G', 0);
                     b.AddVolume('E', 2);
                   },
                   {0, 2}, "EE", {}},
        LayoutCase{"ModelMatchAloneIsNotEnough",
                   [](Bench& b) {
                     b.AddSata(0, Disk("SAME", "S1"));
                     b.AddSata(1, Disk("SAME", "S2"));
                     b.AddVolume('C', 0);
                   },
                   {1}, "-", {}},
        LayoutCase{"GapsArePacked",
                   [](Bench& b) {
                     b.AddSata(3, Disk("A", "1"));
                     b.AddSata(17, Disk("B", "2"));
                     b.AddSata(31, Disk("C", "3"));
                     b.AddSata(32, Disk("D", "4"));
                   },
                   {3, 17, 31}, "---", {}},
        LayoutCase{"DriveThatDoesNotOpenIsSkipped",
                   [](Bench& b) {
                     b.AddSata(0, Disk("A", "1"));
                     b.AddSata(1, Disk("B", "2"));
                     b.FailOpen(0);
                   },
                   {1}, "-", {}},
        LayoutCase{"UsbDriveWithRecognisedBridge",
                   [](Bench& b) { b.AddUsb(4, Disk("USB A", "U1"), kKnownBridge); }, {4}, "-", {}},
        LayoutCase{"UsbDriveWithStandardBridge",
                   [](Bench& b) { b.AddUsb(5, Disk("USB B", "U2"), kPlainBridge); }, {5}, "-", {}},
        LayoutCase{"RecognisedBridgeWithoutVendorBlockIsNotTaken",
                   [](Bench& b) {
                     BridgeSpec bridge = kKnownBridge;
                     bridge.forwarding = BridgeForwarding::Standard;
                     b.AddUsb(4, Disk("USB A", "U1"), bridge);
                   },
                   {}, "", {}},
        LayoutCase{"BridgeForwardingNothingIsNotTaken",
                   [](Bench& b) {
                     BridgeSpec bridge = kPlainBridge;
                     bridge.forwarding = BridgeForwarding::None;
                     b.AddUsb(4, Disk("USB A", "U1"), bridge);
                   },
                   {}, "", {}},
        LayoutCase{"UsbDriveNotListedAsStorageIsUnsupported",
                   [](Bench& b) {
                     BridgeSpec bridge = kPlainBridge;
                     bridge.listed_as_usbstor = false;
                     b.AddSata(0, Disk("A", "1"));
                     b.AddUsb(1, Disk("USB B", "U2"), bridge);
                   },
                   {0}, "-", {"Generic |USB Disk        "}},
        LayoutCase{"UsbDriveWithoutUsbDeviceIsUnsupported",
                   [](Bench& b) {
                     BridgeSpec bridge = kKnownBridge;
                     bridge.listed_as_usb_device = false;
                     b.AddUsb(1, Disk("USB A", "U1"), bridge);
                   },
                   {}, "", {"Ab Cd   |Ext HDD 1021    "}},
        LayoutCase{"FailedInquiryListsEmptyNames",
                   [](Bench& b) {
                     BridgeSpec bridge = kPlainBridge;
                     bridge.inquiry_answers = false;
                     bridge.listed_as_usbstor = false;
                     b.AddUsb(3, Disk("USB C", "U3"), bridge);
                   },
                   {}, "", {"|"}},
        LayoutCase{"StorageCatalogueFails",
                   [](Bench& b) {
                     b.AddUsb(1, Disk("USB A", "U1"), kKnownBridge);
                     b.AddUsb(2, Disk("USB B", "U2"), kPlainBridge);
                     b.FailCatalog(kDisk, "USBSTOR");
                   },
                   {}, "", {"Ab Cd   |Ext HDD 1021    ", "Generic |USB Disk        "}},
        LayoutCase{"DeviceCatalogueFails",
                   [](Bench& b) {
                     b.AddSata(0, Disk("A", "1"));
                     b.AddUsb(2, Disk("USB B", "U2"), kPlainBridge);
                     b.FailCatalog(kUsb, "USB");
                   },
                   {0}, "-", {"Generic |USB Disk        "}},
        LayoutCase{"UnreadableIdsAreSkipped",
                   [](Bench& b) {
                     b.AddCatalogEntry(kDisk, "USBSTOR", std::nullopt);
                     b.AddUsb(2, Disk("USB B", "U2"), kPlainBridge);
                     b.AddCatalogEntry(kDisk, "USBSTOR", std::nullopt);
                     b.AddCatalogEntry(kUsb, "USB", std::nullopt);
                   },
                   {2}, "-", {}},
        LayoutCase{"StorageIdWithoutAllMarkersIsIgnored",
                   [](Bench& b) {
                     BridgeSpec bridge = kPlainBridge;
                     bridge.listed_as_usbstor = false;
                     b.AddUsb(2, Disk("USB B", "U2"), bridge);
                     // Carries the patterns but not "&REV_".
                     b.AddCatalogEntry(kDisk, "USBSTOR",
                                       "USBSTOR\\DISK#VEN_GENERIC&PROD_USB_DISK&REV_1.00\\SER0002&0");
                     b.AddCatalogEntry(kDisk, "USBSTOR",
                                       "usbstor\\disk&ven_generic&prod_usb_disk&rev_1.00\\SER0002&0");
                     b.AddCatalogEntry(kDisk, "USBSTOR",
                                       "USBSTOR\\CDROM&VEN_GENERIC&PROD_USB_DISK&REV_1.00\\SER0002&0");
                   },
                   {}, "", {"Generic |USB Disk        "}},
        LayoutCase{"UsbVolumeGetsNoLetter",
                   [](Bench& b) {
                     b.AddUsb(2, Disk("USB B", "U2"), kPlainBridge);
                     b.AddVolume('C', 2);
                     b.AddVolume('F', 2);
                   },
                   {2}, "-", {}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(ScanTest, ThirtyTwoDrivesFillTheTable) {
  ScanBench s;
  for (int n = 0; n < 33; ++n) s.bench.AddSata(n, Disk("M" + std::to_string(n), "S"));
  s.Refresh();
  ASSERT_EQ(s.table.count, 32);
  EXPECT_EQ(s.table.records[31].drive_number, 31);
  EXPECT_STREQ(s.table.records[31].model, "M31");
  for (const std::string& path : s.bench.OpenedPaths()) EXPECT_NE(path, "\\\\.\\PhysicalDrive32");
}

TEST(ScanTest, OpensEveryDriveNumberThenEveryVolumeLetterInOrder) {
  ScanBench s;
  s.bench.AddSata(0, Disk("A", "1"));
  s.Refresh();
  std::vector<std::string> expected;
  for (int n = 0; n < 32; ++n) expected.push_back("\\\\.\\PhysicalDrive" + std::to_string(n));
  for (char l = 'A'; l <= 'Z'; ++l) expected.push_back(std::string("\\\\.\\") + l + ":");
  EXPECT_EQ(s.bench.OpenedPaths(), expected);
}

TEST(ScanTest, HandleLeftOpenByAnEarlierOperationIsClosed) {
  ScanBench s;
  s.bench.AddSata(3, Disk("A", "1"));
  s.bench.AddVolume('E', 3);
  ASSERT_TRUE(s.connection.Open(3));
  s.Refresh();
  EXPECT_EQ(s.bench.OpenHandleCount(), 0);
  EXPECT_FALSE(s.connection.IsOpen());
  EXPECT_EQ(s.Letters(), "E");
}

TEST(ScanTest, RefreshForgetsTheLastScan) {
  ScanBench s;
  s.bench.AddSata(0, Disk("A", "1"));
  BridgeSpec bridge = kPlainBridge;
  bridge.listed_as_usbstor = false;
  s.bench.AddUsb(1, Disk("U", "2"), bridge);
  s.Refresh();
  ASSERT_EQ(s.Numbers(), std::vector<int>{0});
  ASSERT_EQ(s.unsupported.count, 1);
  s.bench.RemoveDrive(1);
  s.bench.RemoveDrive(0);
  s.bench.AddSata(5, Disk("B", "3"));
  s.Refresh();
  EXPECT_EQ(s.Numbers(), std::vector<int>{5});
  EXPECT_EQ(s.unsupported.count, 0);
  EXPECT_EQ(s.unsupported.entries[0].vendor[0], '\0');
  EXPECT_TRUE(s.SlotsAfterCountAreZero());
}

// What the probes put on the wire, drive by drive.
struct ProbeCase {
  const char* name;
  std::function<void(Bench&)> build;
  std::vector<Bytes> cdbs;  // empty vector: an ATA request (IDENTIFY)
  bool taken;
};

void PrintTo(const ProbeCase& c, std::ostream* os) { *os << c.name; }

class ScanProbeTest : public ::testing::TestWithParam<ProbeCase> {};

const Bytes kAtaIdentify{};
const Bytes kInquiryCdb{0x12, 0x10, 0x00, 0x00, 0x28, 0x00};
const Bytes kStdIdentify{0xA1, 0x08, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xEC, 0x00, 0x00};
const Bytes kBridgeIdentify{0xDF, 0x10, 0x00, 0x02, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0xE0, 0xEC};

TEST_P(ScanProbeTest, ProbesInOrder) {
  const ProbeCase& c = GetParam();
  ScanBench s;
  c.build(s.bench);
  std::int32_t count = -1;
  ScanDrives(s.connection, s.table, count);
  EXPECT_EQ(count, c.taken ? 1 : 0);

  const auto log = s.bench.LogFor(6);
  ASSERT_EQ(log.size(), c.cdbs.size());
  for (std::size_t i = 0; i < log.size(); ++i) {
    SCOPED_TRACE(i);
    const sim::Received& r = log[i];
    EXPECT_EQ(r.path, "\\\\.\\PhysicalDrive6");
    if (c.cdbs[i].empty()) {
      ASSERT_FALSE(r.scsi);
      EXPECT_EQ(r.ata.AtaFlags, kAtaFlagsDataIn);
      EXPECT_EQ(r.ata.DataTransferLength, 512u);
      EXPECT_EQ(r.ata.TimeOutValue, 10u);
      EXPECT_EQ(r.ata.DataBuffer, s.buffers.a());
      EXPECT_EQ(Bytes(r.ata.CurrentTaskFile, r.ata.CurrentTaskFile + 8),
                (Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0x50, 0xEC, 0x00}));
      EXPECT_EQ(Bytes(r.ata.PreviousTaskFile, r.ata.PreviousTaskFile + 8), Bytes(8, 0));
      continue;
    }
    ASSERT_TRUE(r.scsi);
    const ScsiPassThroughRequest& q = r.scsi_request;
    EXPECT_EQ(Bytes(q.Cdb, q.Cdb + q.CdbLength), c.cdbs[i]);
    EXPECT_EQ(q.DataIn, kScsiDataIn);
    EXPECT_EQ(q.TimeOutValue, 10u);
    if (c.cdbs[i] == kInquiryCdb) {
      EXPECT_EQ(q.DataTransferLength, 40u);
      EXPECT_EQ(q.DataBuffer, s.connection.inquiry_data);
    } else {
      EXPECT_EQ(q.DataTransferLength, 512u);
      EXPECT_EQ(q.DataBuffer, s.buffers.a());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Drives, ScanProbeTest,
    ::testing::Values(
        ProbeCase{"SataDrive", [](Bench& b) { b.AddSata(6, Disk("A", "1")); }, {kAtaIdentify},
                  true},
        ProbeCase{"StandardBridge",
                  [](Bench& b) { b.AddUsb(6, Disk("U", "1"), kPlainBridge); },
                  {kAtaIdentify, kInquiryCdb, kStdIdentify}, true},
        ProbeCase{"RecognisedBridge",
                  [](Bench& b) { b.AddUsb(6, Disk("U", "1"), kKnownBridge); },
                  {kAtaIdentify, kInquiryCdb, kBridgeIdentify}, true},
        ProbeCase{"RecognisedBridgeThatRefusesIsNotRetried",
                  [](Bench& b) {
                    BridgeSpec bridge = kKnownBridge;
                    bridge.forwarding = BridgeForwarding::Standard;
                    b.AddUsb(6, Disk("U", "1"), bridge);
                  },
                  {kAtaIdentify, kInquiryCdb, kBridgeIdentify}, false},
        ProbeCase{"FailedInquiryFallsBackToStandardBlock",
                  [](Bench& b) {
                    BridgeSpec bridge = kKnownBridge;
                    bridge.inquiry_answers = false;
                    bridge.forwarding = BridgeForwarding::VendorAndStandard;
                    b.AddUsb(6, Disk("U", "1"), bridge);
                  },
                  {kAtaIdentify, kInquiryCdb, kStdIdentify}, true},
        ProbeCase{"SataDriveWhoseIdentifyFails",
                  [](Bench& b) {
                    b.AddSata(6, Disk("A", "1"));
                    sim::Fault fault;
                    fault.match.drive_number = 6;
                    fault.match.ata_command = 0xEC;
                    fault.effect = sim::FaultEffect::AtaError;
                    b.AddFault(fault);
                  },
                  {kAtaIdentify, kInquiryCdb, kStdIdentify}, false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(ScanTest, VolumesAreProbedWithAtaIdentifyOnly) {
  ScanBench s;
  s.bench.AddSata(0, Disk("A", "1"));
  s.bench.AddVolume('E', 0);
  s.bench.AddSilentVolume('K');
  s.Refresh();
  int volume_requests = 0;
  for (const sim::Received& r : s.bench.Log()) {
    if (r.path.find("PhysicalDrive") != std::string::npos) continue;
    ++volume_requests;
    EXPECT_FALSE(r.scsi) << r.path;
    EXPECT_EQ(r.ata.CurrentTaskFile[kTfCommand], 0xEC);
    EXPECT_EQ(r.ata.DataTransferLength, 512u);
  }
  EXPECT_EQ(volume_requests, 2);
}

TEST(ScanTest, RecordsCarryTheirIdentity) {
  ScanBench s;
  DriveSpec sata = Disk("  XK 2000", "    ", 0x0FFFFFFE);
  sata.firmware = " 1.0 ";
  sata.smart_enabled = false;
  s.bench.AddSata(0, sata);
  s.bench.AddUsb(1, Disk("WDC WD40EZRZ-00GXCB0", "WD-WCC7K1234567", 7814037168ULL), kKnownBridge);
  s.bench.AddUsb(2, Disk("Portable", "P1", 0x0FFFFFFF), kPlainBridge);
  s.Refresh();
  ASSERT_EQ(s.table.count, 3);

  const DriveRecord& a = s.table.records[0];
  EXPECT_STREQ(a.model, "XK 2000");
  EXPECT_STREQ(a.serial, "");
  EXPECT_STREQ(a.firmware, "1.0");
  EXPECT_EQ(a.total_sectors, 0x0FFFFFFEu);
  EXPECT_EQ(a.via_scsi, 0);
  EXPECT_EQ(a.smart_supported, 1);
  EXPECT_EQ(a.smart_enabled, 0);
  EXPECT_FALSE(IsSmartUsable(a));
  EXPECT_STREQ(a.inquiry_vendor, "");
  EXPECT_STREQ(a.ven_pattern, "");
  EXPECT_EQ(a.bridge_chip, 0);

  const DriveRecord& b = s.table.records[1];
  EXPECT_STREQ(b.model, "WDC WD40EZRZ-00GXCB0");
  EXPECT_EQ(b.total_sectors, 7814037168ULL);
  EXPECT_EQ(CapacityGb(b), 3726u);
  EXPECT_EQ(b.via_scsi, 1);
  EXPECT_EQ(b.behind_bridge, 1);
  EXPECT_EQ(b.bridge_chip, 3);
  EXPECT_STREQ(b.bridge_id, "j329");
  EXPECT_STREQ(b.inquiry_vendor, "Ab Cd   ");
  EXPECT_STREQ(b.inquiry_product, "Ext HDD 1021    ");
  EXPECT_STREQ(b.ven_pattern, "VEN_AB_CD");
  EXPECT_STREQ(b.prod_pattern, "PROD_EXT_HDD_1021");
  EXPECT_STREQ(b.rev_pattern, "REV_0A12\\");
  EXPECT_STREQ(b.usb_serial, "SER0001");
  EXPECT_TRUE(IsSmartUsable(b));

  const DriveRecord& c = s.table.records[2];
  EXPECT_EQ(c.total_sectors, 0x0FFFFFFFu);
  EXPECT_EQ(c.behind_bridge, 0);
  EXPECT_STREQ(c.usb_serial, "SER0002");
}

TEST(ScanTest, FailedInquiryMatchesEveryStorageDiskAndTakesTheLastSerial) {
  ScanBench s;
  BridgeSpec bridge = kPlainBridge;
  bridge.inquiry_answers = false;
  bridge.usb_serial = "MINE";
  s.bench.AddCatalogEntry(kDisk, "USBSTOR", "USBSTOR\\DISK&VEN_X&PROD_Y&REV_1\\FIRST&0");
  s.bench.AddUsb(3, Disk("U", "1"), bridge);
  s.bench.AddCatalogEntry(kDisk, "USBSTOR", "USBSTOR\\DISK&VEN_Z&PROD_W&REV_2\\LAST&0");
  s.bench.AddCatalogEntry(kUsb, "USB", "USB\\VID_1111&PID_2222\\LAST");
  s.Refresh();
  ASSERT_EQ(s.Numbers(), std::vector<int>{3});
  const DriveRecord& r = s.table.records[0];
  EXPECT_STREQ(r.inquiry_vendor, "");
  EXPECT_EQ(r.vendor_word_count, 0);
  EXPECT_STREQ(r.rev_pattern, "");
  EXPECT_STREQ(r.usb_serial, "LAST");
}

TEST(ScanTest, TwoEqualUsbDrivesTakeTheLastSerial) {
  ScanBench s;
  BridgeSpec first = kPlainBridge;
  first.usb_serial = "AAAA";
  BridgeSpec second = kPlainBridge;
  second.usb_serial = "BBBB";
  s.bench.AddUsb(1, Disk("U", "1"), first);
  s.bench.AddUsb(2, Disk("U", "2"), second);
  s.Refresh();
  ASSERT_EQ(s.Numbers(), (std::vector<int>{1, 2}));
  EXPECT_STREQ(s.table.records[0].usb_serial, "BBBB");
  EXPECT_STREQ(s.table.records[1].usb_serial, "BBBB");
}

struct SerialCase {
  const char* name;
  bool inquiry_answers;
  std::string storage_id;
  std::string device_id;
  bool kept;
  std::string usb_serial;
};

void PrintTo(const SerialCase& c, std::ostream* os) { *os << c.name; }

class UsbSerialTest : public ::testing::TestWithParam<SerialCase> {};

TEST_P(UsbSerialTest, SerialPartOfTheStorageId) {
  const SerialCase& c = GetParam();
  ScanBench s;
  BridgeSpec bridge = kPlainBridge;
  bridge.inquiry_answers = c.inquiry_answers;
  bridge.listed_as_usbstor = false;
  bridge.listed_as_usb_device = false;
  s.bench.AddUsb(0, Disk("U", "1"), bridge);
  s.bench.AddCatalogEntry(kDisk, "USBSTOR", c.storage_id);
  s.bench.AddCatalogEntry(kUsb, "USB", c.device_id);
  s.Refresh();
  EXPECT_EQ(s.table.count, c.kept ? 1 : 0);
  EXPECT_EQ(s.unsupported.count, c.kept ? 0 : 1);
  // The storage match on its own shows the serial also when the drive was dropped.
  DriveRecord probe;
  if (c.inquiry_answers) {
    std::strcpy(probe.ven_pattern, "VEN_GENERIC");
    std::strcpy(probe.prod_pattern, "PROD_USB_DISK");
    std::strcpy(probe.rev_pattern, "REV_1.00\\");
  }
  std::memset(probe.usb_serial, 'x', 40);
  MatchUsbStorage(probe, s.bench);
  EXPECT_EQ(std::string(probe.usb_serial), c.usb_serial);
  EXPECT_EQ(probe.usb_serial[40], '\0');
}

const std::string kIdHead = "USBSTOR\\DISK&VEN_GENERIC&PROD_USB_DISK&REV_1.00\\";

INSTANTIATE_TEST_SUITE_P(
    Ids, UsbSerialTest,
    ::testing::Values(
        SerialCase{"UpToTheAmpersand", true, kIdHead + "7&2B3C&0", "USB\\VID_1&PID_2\\7", true,
                   "7"},
        SerialCase{"NoAmpersandTakesTheRest", true, kIdHead + "ABC123",
                   "USB\\VID_1&PID_2\\ABC123", true, "ABC123"},
        SerialCase{"OneBackslashGivesEmptySerialInEveryDeviceId", false,
                   "USBSTOR\\DISK&VEN_X&PROD_Y&REV_Z", "USB\\ANYTHING", true, ""},
        SerialCase{"EmptySerialPart", true, kIdHead + "&0", "USB\\VID_1&PID_2\\ZZZ", true, ""},
        SerialCase{"DeviceIdMustContainTheSerial", true, kIdHead + "SERIAL9&0",
                   "USB\\VID_1&PID_2\\SERIAL8", false, "SERIAL9"},
        SerialCase{"DeviceMatchIsCaseSensitive", true, kIdHead + "ABC&0",
                   "USB\\VID_1&PID_2\\abc", false, "ABC"},
        SerialCase{"SerialCutAtFortyCharacters", true, kIdHead + std::string(60, 'Q') + "&0",
                   "USB\\VID_1&PID_2\\" + std::string(60, 'Q'), true, std::string(40, 'Q')},
        SerialCase{"StorageIdPastTwoHundredIsNotSeen", true,
                   "USBSTOR\\DISK&VEN_&PROD_&REV_" + std::string(180, '_') +
                       "&VEN_GENERIC&PROD_USB_DISK&REV_1.00\\S&0",
                   "USB\\VID_1&PID_2\\S", false, std::string(40, 'x')},
        SerialCase{"DeviceIdPastTwoHundredIsNotSeen", true, kIdHead + "DEEP&0",
                   "USB\\VID_1&PID_2\\" + std::string(190, 'x') + "DEEP", false, "DEEP"},
        SerialCase{"DeviceIdTextEndsAtAZero", true, kIdHead + "NUL&0",
                   std::string("USB\\VID_1&PID_2\\") + '\0' + "NUL", false, "NUL"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(ScanTest, EmptySerialStillNeedsSomeUsbDevice) {
  ScanBench s;
  BridgeSpec bridge = kPlainBridge;
  bridge.listed_as_usbstor = false;
  bridge.listed_as_usb_device = false;
  s.bench.AddUsb(0, Disk("U", "1"), bridge);
  s.bench.AddCatalogEntry(kDisk, "USBSTOR", "USBSTOR\\DISK&VEN_GENERIC&PROD_USB_DISK&REV_1.00\\&0");
  s.Refresh();
  EXPECT_EQ(s.table.count, 0);
  EXPECT_EQ(s.Unsupported(), std::vector<std::string>{"Generic |USB Disk        "});
}

TEST(ScanTest, MoreThanTwentyOneUnsupportedDrivesKeepTheFirstTwentyOne) {
  ScanBench s;
  for (int n = 0; n < 25; ++n) {
    BridgeSpec bridge = Bridge("Vend" + std::to_string(n), "Prod" + std::to_string(n), "1", "",
                               BridgeForwarding::Standard, "Q" + std::to_string(n));
    bridge.listed_as_usb_device = false;
    s.bench.AddUsb(n, Disk("U", std::to_string(n)), bridge);
  }
  s.bench.AddSata(25, Disk("KEEP", "K"));
  s.bench.AddUsb(26, Disk("U", "ok"), kPlainBridge);
  s.Refresh();
  EXPECT_EQ(s.Numbers(), (std::vector<int>{25, 26}));
  ASSERT_EQ(s.unsupported.count, kMaxUnsupportedUsb);
  for (int i = 0; i < kMaxUnsupportedUsb; ++i) {
    EXPECT_EQ(std::string(s.unsupported.entries[i].vendor), "Vend" + std::to_string(i) +
                                                                 std::string(8 - (i < 10 ? 5 : 6), ' '));
  }
  EXPECT_TRUE(s.SlotsAfterCountAreZero());
  EXPECT_EQ(s.bench.OpenHandleCount(), 0);
}

TEST(ScanTest, GarbledAnswersStayInsideTheirFields) {
  ScanBench s;
  s.bench.AddSata(0, Disk("A", "1"));
  s.bench.AddUsb(1, Disk("U", "2"), kKnownBridge);
  BridgeSpec plain = kPlainBridge;
  s.bench.AddUsb(2, Disk("V", "3"), plain);
  for (int drive : {0, 1, 2}) {
    sim::Fault identify;
    identify.match.drive_number = drive;
    identify.match.ata_command = 0xEC;
    identify.effect = sim::FaultEffect::Garbage;
    s.bench.AddFault(identify);
  }
  sim::Fault inquiry;
  inquiry.match.cdb_opcode = 0x12;
  inquiry.effect = sim::FaultEffect::Garbage;
  s.bench.AddFault(inquiry);
  for (int round = 0; round < 20; ++round) {
    s.Refresh();
    ASSERT_GE(s.table.count, 1);  // the SATA drive answers, however oddly
    for (int i = 0; i < s.table.count; ++i) {
      const DriveRecord& r = s.table.records[i];
      EXPECT_LT(std::strlen(r.model), sizeof r.model);
      EXPECT_LT(std::strlen(r.serial), sizeof r.serial);
      EXPECT_LT(std::strlen(r.firmware), sizeof r.firmware);
      EXPECT_LT(std::strlen(r.usb_serial), sizeof r.usb_serial);
    }
    for (int i = 0; i < s.unsupported.count; ++i) {
      EXPECT_LT(std::strlen(s.unsupported.entries[i].vendor), 9u);
      EXPECT_LT(std::strlen(s.unsupported.entries[i].product), 17u);
    }
    EXPECT_EQ(s.bench.OpenHandleCount(), 0);
  }
}

}  // namespace
}  // namespace plovix
