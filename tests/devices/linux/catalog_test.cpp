// USB ids synthesised from sysfs, device-arrival events and the privilege check.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/devices/linux/fake_tree.h"
#include "devices/linux/LinuxDeviceCatalog.h"
#include "devices/linux/Privileges.h"
#include "devices/linux/UeventWatcher.h"

namespace plovix::linuxdev {
namespace {

using Ids = std::vector<std::optional<std::string>>;

constexpr const char* kHub = "/sys/devices/pci0000:00/0000:00:14.0/usb2";

void SataDisk(testing::FakeLinuxTree& tree) {
  tree.ScsiDisk("sda", "/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0",
                "8:0", "ATA     ", "WDC WD10EZEX-08W", "1A01");
}

// A USB disk: device dir under the hub, interface 1.0, SCSI address host:0:0:lun.
void UsbDisk(testing::FakeLinuxTree& tree, const std::string& disk, const std::string& port,
             int host, int lun, const std::string& protocol, const std::string& vendor,
             const std::string& model, const std::string& rev, const std::string& id_vendor,
             const std::string& id_product, const std::string& serial) {
  const std::string device = std::string(kHub) + "/" + port;
  tree.UsbDevice(device, id_vendor, id_product, serial);
  tree.UsbInterface(device + "/" + port + ":1.0", protocol);
  const std::string h = std::to_string(host);
  tree.ScsiDisk(disk,
                device + "/" + port + ":1.0/host" + h + "/target" + h + ":0:0/" + h + ":0:0:" +
                    std::to_string(lun),
                "8:" + std::to_string(16 * (disk[2] - 'a')), vendor, model, rev);
}

TEST(LinuxInstanceId, FormedAsWindowsFormsThem) {
  struct Case {
    const char* raw;
    const char* field;
  };
  const Case cases[] = {{"Seagate ", "SEAGATE"},
                        {"Expansion Desk  ", "EXPANSION_DESK"},
                        {"0712", "0712"},
                        {"WD      ", "WD"},
                        {"My Book 1,2", "MY_BOOK_1_2"},
                        {"a\tb", "A_B"},
                        {"        ", ""}};
  for (const auto& c : cases) {
    EXPECT_EQ(InstanceIdField(c.raw), c.field) << c.raw;
  }
}

struct CatalogCase {
  const char* name;
  void (*build)(testing::FakeLinuxTree&);
  Ids storage;
  Ids usb;
};

class LinuxCatalog : public ::testing::TestWithParam<CatalogCase> {};

TEST_P(LinuxCatalog, StorageAndUsbDeviceIds) {
  const CatalogCase& c = GetParam();
  testing::FakeLinuxTree tree;
  c.build(tree);
  LinuxDeviceCatalog catalog(tree.root());
  EXPECT_EQ(catalog.PresentDevices(kDiskDriveClassGuid, "USBSTOR"), c.storage);
  EXPECT_EQ(catalog.PresentDevices(kUsbClassGuid, "USB"), c.usb);
  // Other classes and enumerators have nothing present here.
  EXPECT_EQ(catalog.PresentDevices(kUsbClassGuid, "USBSTOR"), Ids{});
  EXPECT_EQ(catalog.PresentDevices("{00000000-0000-0000-0000-000000000000}", "USB"), Ids{});
}

INSTANTIATE_TEST_SUITE_P(
    Machines, LinuxCatalog,
    ::testing::Values(
        CatalogCase{"NoUsbDisks", [](testing::FakeLinuxTree& m) { SataDisk(m); }, {}, {}},
        CatalogCase{"BulkOnly",
                    [](testing::FakeLinuxTree& m) {
                      SataDisk(m);
                      UsbDisk(m, "sdb", "2-1", 6, 0, "50", "Seagate ", "Expansion Desk  ",
                              "0712", "0bc2", "3312", "NA4KX4Q5");
                    },
                    {"USBSTOR\\DISK&VEN_SEAGATE&PROD_EXPANSION_DESK&REV_0712\\NA4KX4Q5&0"},
                    {"USB\\VID_0BC2&PID_3312\\NA4KX4Q5"}},
        CatalogCase{"UasAndBulkOnlyInDiskOrder",
                    [](testing::FakeLinuxTree& m) {
                      SataDisk(m);
                      UsbDisk(m, "sdc", "2-2", 7, 0, "50", "JMicron ", "Tech            ",
                              "0204", "152d", "0578", "0000000000AB");
                      UsbDisk(m, "sdb", "2-4", 8, 0, "62", "ASMT    ", "2115            ",
                              "0   ", "174c", "55aa", "12345678901f");
                    },
                    {"USBSTOR\\DISK&VEN_ASMT&PROD_2115&REV_0\\12345678901F&0",
                     "USBSTOR\\DISK&VEN_JMICRON&PROD_TECH&REV_0204\\0000000000AB&0"},
                    {"USB\\VID_174C&PID_55AA\\12345678901F", "USB\\VID_152D&PID_0578\\0000000000AB"}},
        // Two logical units of one USB device: two disks, one USB device.
        CatalogCase{"TwoLunsOneDevice",
                    [](testing::FakeLinuxTree& m) {
                      UsbDisk(m, "sdb", "2-1", 6, 0, "50", "Generic ", "SD Card         ",
                              "1.00", "05e3", "0751", "000000001206");
                      const std::string iface = std::string(kHub) + "/2-1/2-1:1.0";
                      m.ScsiDisk("sdc", iface + "/host6/target6:0:0/6:0:0:1", "8:32",
                                 "Generic ", "MicroSD         ", "1.00");
                    },
                    {"USBSTOR\\DISK&VEN_GENERIC&PROD_SD_CARD&REV_1.00\\000000001206&0",
                     "USBSTOR\\DISK&VEN_GENERIC&PROD_MICROSD&REV_1.00\\000000001206&1"},
                    {"USB\\VID_05E3&PID_0751\\000000001206"}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(LinuxCatalogIds, DeviceWithoutSerialStillMatchesItsStorageId) {
  testing::FakeLinuxTree tree;
  UsbDisk(tree, "sdb", "2-1", 6, 0, "50", "Generic ", "Flash Disk      ", "8.07", "058f",
          "6387", "");
  LinuxDeviceCatalog catalog(tree.root());
  const auto storage = catalog.PresentDevices(kDiskDriveClassGuid, "USBSTOR");
  const auto usb = catalog.PresentDevices(kUsbClassGuid, "USB");
  ASSERT_TRUE(storage && usb);
  ASSERT_EQ(storage->size(), 1u);
  ASSERT_EQ(usb->size(), 1u);
  const std::string& storage_id = *storage->front();
  const std::string prefix = "USBSTOR\\DISK&VEN_GENERIC&PROD_FLASH_DISK&REV_8.07\\";
  ASSERT_EQ(storage_id.rfind(prefix, 0), 0u);
  // The serial part the program takes (up to the first '&') is found in the USB id.
  const std::string serial = storage_id.substr(prefix.size(), storage_id.find('&', prefix.size()) -
                                                                  prefix.size());
  EXPECT_FALSE(serial.empty());
  EXPECT_EQ(usb->front()->rfind("USB\\VID_058F&PID_6387\\", 0), 0u);
  EXPECT_NE(usb->front()->find(serial), std::string::npos);
}

TEST(LinuxCatalogIds, NoBlockDirectoryMeansNoList) {
  testing::FakeLinuxTree tree;
  LinuxDeviceCatalog catalog(tree.root());
  EXPECT_EQ(catalog.PresentDevices(kDiskDriveClassGuid, "USBSTOR"), std::nullopt);
}

// ---------------------------------------------------------------------------------------

std::string Event(std::initializer_list<const char*> fields) {
  std::string message;
  for (const char* f : fields) {
    message += f;
    message += '\0';
  }
  return message;
}

TEST(LinuxUevents, ArrivalsAreWholeDisksAndUsbDevices) {
  struct Case {
    std::string message;
    bool arrival;
  };
  const Case cases[] = {
      {Event({"add@/devices/.../block/sdb", "ACTION=add", "DEVPATH=/devices/.../block/sdb",
              "SUBSYSTEM=block", "DEVNAME=sdb", "DEVTYPE=disk", "SEQNUM=4120"}),
       true},
      {Event({"add@/devices/pci0000:00/0000:00:14.0/usb2/2-1", "ACTION=add", "SUBSYSTEM=usb",
              "DEVTYPE=usb_device", "SEQNUM=4100"}),
       true},
      {Event({"add@/devices/.../sdb/sdb1", "ACTION=add", "SUBSYSTEM=block",
              "DEVTYPE=partition"}),
       false},
      {Event({"add@/devices/.../2-1:1.0", "ACTION=add", "SUBSYSTEM=usb",
              "DEVTYPE=usb_interface"}),
       false},
      {Event({"remove@/devices/.../block/sdb", "ACTION=remove", "SUBSYSTEM=block",
              "DEVTYPE=disk"}),
       false},
      {Event({"change@/devices/.../block/sdb", "ACTION=change", "SUBSYSTEM=block",
              "DEVTYPE=disk"}),
       false},
      // An NVMe namespace arrives as a disk; its controller and partitions do not count.
      {Event({"add@/devices/pci0000:00/0000:00:06.0/nvme/nvme1/nvme1n1", "ACTION=add",
              "SUBSYSTEM=block", "DEVNAME=nvme1n1", "DEVTYPE=disk", "SEQNUM=5102"}),
       true},
      {Event({"add@/devices/virtual/nvme-subsystem/nvme-subsys1/nvme1n1", "ACTION=add",
              "SUBSYSTEM=block", "DEVNAME=nvme1n1", "DEVTYPE=disk"}),
       true},
      {Event({"add@/devices/pci0000:00/0000:00:06.0/nvme/nvme1", "ACTION=add",
              "SUBSYSTEM=nvme", "DEVNAME=nvme1"}),
       false},
      {Event({"add@/devices/.../nvme1n1/nvme1n1p1", "ACTION=add", "SUBSYSTEM=block",
              "DEVNAME=nvme1n1p1", "DEVTYPE=partition"}),
       false},
      {Event({"add@/devices/.../net/eth1", "ACTION=add", "SUBSYSTEM=net"}), false},
      {Event({"add@/devices/virtual/block/loop0", "ACTION=addx", "SUBSYSTEM=block",
              "DEVTYPE=disk"}),
       false},
      {"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsArrivalEvent(c.message.data(), c.message.size()), c.arrival) << c.message;
  }
}

TEST(LinuxUevents, ABurstIsOneArrivalOnceQuiet) {
  ArrivalCoalescer coalescer(1000);
  EXPECT_EQ(coalescer.WaitMs(0), -1);
  EXPECT_FALSE(coalescer.Due(0));
  coalescer.Arrived(100);   // usb device
  coalescer.Arrived(350);   // its disk
  EXPECT_EQ(coalescer.WaitMs(400), 950);
  EXPECT_FALSE(coalescer.Due(1200));
  EXPECT_TRUE(coalescer.Due(1350));
  EXPECT_FALSE(coalescer.Due(5000));  // told once
  coalescer.Arrived(9000);  // a second drive later
  EXPECT_TRUE(coalescer.Due(10000));
}

TEST(LinuxPrivileges, RawIoCapabilityFromProcStatus) {
  struct Case {
    const char* status;
    bool raw_io;
  };
  const Case cases[] = {
      {"Name:\tPlovix\nCapInh:\t0000000000000000\nCapPrm:\t000001ffffffffff\n"
       "CapEff:\t000001ffffffffff\n",
       true},
      {"CapPrm:\t000001ffffffffff\nCapEff:\t0000000000000000\n", false},
      {"CapEff:\t0000000000020000\n", true},   // CAP_SYS_RAWIO alone
      {"CapEff:\t00000000a80425fb\n", false},  // a container's default set
      {"CapEff:\tzz\n", false},
      {"Name:\tPlovix\n", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HasRawIoCapability(c.status), c.raw_io) << c.status;
  }
}

TEST(LinuxPrivileges, AnyCapabilityFromProcStatus) {
  struct Case {
    const char* status;
    int capability;
    bool held;
  };
  const Case cases[] = {
      {"CapEff:\t000001ffffffffff\n", kCapSysAdmin, true},
      {"CapEff:\t0000000000200000\n", kCapSysAdmin, true},   // CAP_SYS_ADMIN alone
      {"CapEff:\t0000000000200000\n", kCapSysRawio, false},
      {"CapEff:\t0000000000020000\n", kCapSysAdmin, false},  // CAP_SYS_RAWIO alone
      {"CapEff:\t00000000a80425fb\n", kCapSysAdmin, false},  // a container's default set
      {"CapEff:\t8000000000000000\n", 63, true},
      {"CapEff:\t8000000000000000\n", 64, false},
      {"CapEff:\t000001ffffffffff\n", -1, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HasCapability(c.status, c.capability), c.held) << c.status << " " << c.capability;
  }
}

TEST(LinuxPrivileges, RefusalSaysWhatIsMissing) {
  const std::string with = "CapEff:\t000001ffffffffff\n";
  const std::string without = "CapEff:\t00000000a80425fb\n";
  struct Case {
    const char* name;
    std::optional<std::string> status;
    bool root;
    std::string refusal;
  };
  const Case cases[] = {
      {"RootWithTheCapability", with, true, ""},
      {"UserGrantedTheCapability", with, false, ""},
      {"RootInAContainerThatDropsIt", without, true,
       "Plovix is running as root but without the CAP_SYS_RAWIO capability, which it needs "
       "to send commands to drives; a container or a capability bounding set has left it "
       "out. Run it where root keeps CAP_SYS_RAWIO."},
      {"User", without, false,
       "Plovix needs administrator rights to open physical drives: run it as root."},
      {"StatusUnreadable", std::nullopt, true,
       "Plovix cannot tell whether it may send commands to drives: /proc/self/status cannot "
       "be read."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RawIoRefusal("Plovix", c.status, c.root), c.refusal);
  }
}

}  // namespace
}  // namespace plovix::linuxdev
