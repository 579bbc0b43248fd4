// Drive numbering, volumes and the system disks of the Linux adapter, on fake trees.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "linux_fake_tree.h"
#include "platform/linux/LinuxDeviceIo.h"
#include "platform/linux/SysfsLayout.h"

namespace plovix::linuxdev {
namespace {

using Names = std::vector<std::string>;

TEST(LinuxSdNaming, NamesAndNumbersBothWays) {
  struct Case {
    const char* name;
    int index;
  };
  const Case cases[] = {{"sda", 0},   {"sdb", 1},    {"sdz", 25},    {"sdaa", 26},
                        {"sdaf", 31}, {"sdag", 32},  {"sdaz", 51},   {"sdba", 52},
                        {"sdzz", 701}, {"sdaaa", 702}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SdIndex(c.name), c.index);
    EXPECT_EQ(SdName(c.index), c.name);
  }
  for (int i = 0; i < 2000; ++i) EXPECT_EQ(SdIndex(SdName(i)), i);
}

TEST(LinuxSdNaming, OnlyWholeScsiDisksZeroToThirtyOneAreDrives) {
  struct Case {
    const char* name;
    std::optional<int> number;
  };
  const Case cases[] = {{"sda", 0},           {"sdaf", 31},          {"sdag", std::nullopt},
                        {"sda1", std::nullopt}, {"sd", std::nullopt}, {"hda", std::nullopt},
                        {"nvme0n1", std::nullopt}, {"sdA", std::nullopt}, {"dm-0", std::nullopt}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DriveNumberOf(c.name), c.number);
  }
}

TEST(LinuxSdNaming, DevicePaths) {
  EXPECT_EQ(ParsePhysicalDrivePath("\\\\.\\PhysicalDrive0"), 0);
  EXPECT_EQ(ParsePhysicalDrivePath("\\\\.\\PhysicalDrive31"), 31);
  EXPECT_EQ(ParsePhysicalDrivePath("\\\\.\\PhysicalDrive"), std::nullopt);
  EXPECT_EQ(ParsePhysicalDrivePath("\\\\.\\PhysicalDrive1x"), std::nullopt);
  EXPECT_EQ(ParsePhysicalDrivePath("/dev/sda"), std::nullopt);
  EXPECT_EQ(ParseVolumePath("\\\\.\\C:"), 'C');
  EXPECT_EQ(ParseVolumePath("\\\\.\\d:"), 'D');
  EXPECT_EQ(ParseVolumePath("\\\\.\\1:"), std::nullopt);
  EXPECT_EQ(ParseVolumePath("\\\\.\\C:\\"), std::nullopt);
}

TEST(LinuxMountInfo, FieldsAndEscapes) {
  const auto mounts = ParseMountInfo(
      "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
      "30 22 8:17 / /media/my\\040disk rw master:3 shared:9 - vfat /dev/sdb1 rw\n"
      "garbage line\n"
      "31 22 0:25 / /run rw - tmpfs tmpfs rw");
  ASSERT_EQ(mounts.size(), 3u);
  EXPECT_EQ(mounts[0].dev, "8:2");
  EXPECT_EQ(mounts[0].mount_point, "/");
  EXPECT_EQ(mounts[1].mount_point, "/media/my disk");
  EXPECT_EQ(mounts[1].fs_type, "vfat");
  EXPECT_EQ(mounts[1].source, "/dev/sdb1");
  EXPECT_EQ(mounts[2].dev, "0:25");
}

// ---------------------------------------------------------------------------------------
// Machines: which disks hold the root, and which disk each lettered volume reaches.

std::string Ata(int port) {
  const std::string host = std::to_string(port);
  return "/sys/devices/pci0000:00/0000:00:1f.2/ata" + std::to_string(port + 1) + "/host" + host +
         "/target" + host + ":0:0/" + host + ":0:0:0";
}

std::string Mount(int id, const std::string& dev, const std::string& point,
                  const std::string& source, const std::string& type = "ext4") {
  return std::to_string(id) + " 1 " + dev + " / " + point + " rw,relatime shared:1 - " + type +
         " " + source + " rw\n";
}

void FourDisks(testing::FakeLinuxTree& tree) {
  const char* names[] = {"sda", "sdb", "sdc", "sdd"};
  for (int i = 0; i < 4; ++i) tree.ScsiDisk(names[i], Ata(i), "8:" + std::to_string(16 * i));
}

struct MachineCase {
  const char* name;
  void (*build)(testing::FakeLinuxTree&);
  Names system;                 // root disks
  std::vector<int> numbers;     // their drive numbers
  std::vector<Names> lettered;  // disks of D:, E:, ...
};

class LinuxMachine : public ::testing::TestWithParam<MachineCase> {};

TEST_P(LinuxMachine, SystemDisksAndVolumes) {
  const MachineCase& c = GetParam();
  testing::FakeLinuxTree tree;
  c.build(tree);
  SysfsLayout layout(tree.root());
  EXPECT_EQ(layout.RootDisks(), c.system);
  EXPECT_EQ(layout.RootDriveNumbers(), c.numbers);
  for (std::size_t i = 0; i < c.lettered.size(); ++i) {
    SCOPED_TRACE(static_cast<char>('D' + i));
    EXPECT_EQ(layout.DisksOfVolume(static_cast<char>('D' + i)), c.lettered[i]);
  }
  EXPECT_TRUE(layout.DisksOfVolume(static_cast<char>('D' + c.lettered.size())).empty());
  EXPECT_TRUE(layout.DisksOfVolume('A').empty());

  // Opening a volume reaches its first disk; the adapter names the system drives.
  std::vector<std::string> opened;
  LinuxSystem system;
  system.root = tree.root();
  system.open_device = [&](const std::string& node) {
    opened.push_back(node.substr(tree.root().size()));
    return 5;
  };
  system.close_device = [](int) {};
  system.sg_io = [](int, sg_io_hdr_t*) { return -1; };
  LinuxDeviceIo io(system);
  EXPECT_EQ(io.SystemDriveNumbers(), c.numbers);
  const DeviceHandle h = io.Open("\\\\.\\C:");
  if (c.system.empty()) {
    EXPECT_EQ(h, kInvalidHandle);
  } else {
    EXPECT_EQ(h, 5);
    ASSERT_FALSE(opened.empty());
    EXPECT_EQ(opened.back(), "/dev/" + c.system.front());
    io.Close(h);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, LinuxMachine,
    ::testing::Values(
        MachineCase{"PlainDisk",
                    [](testing::FakeLinuxTree& m) {
                      FourDisks(m);
                      m.MountInfo(Mount(20, "8:16", "/", "/dev/sdb"));
                    },
                    {"sdb"}, {1}, {}},
        MachineCase{"Partitions",
                    [](testing::FakeLinuxTree& m) {
                      FourDisks(m);
                      m.Partition("sda", "sda1", "8:1");
                      m.Partition("sda", "sda2", "8:2");
                      m.Partition("sdc", "sdc1", "8:33");
                      m.MountInfo(Mount(20, "8:2", "/", "/dev/sda2") +
                                  Mount(21, "0:22", "/proc", "proc", "proc") +
                                  Mount(22, "8:1", "/boot", "/dev/sda1") +
                                  Mount(23, "8:33", "/home", "/dev/sdc1") +
                                  Mount(24, "8:33", "/srv/again", "/dev/sdc1"));
                    },
                    {"sda"}, {0}, {{"sda"}, {"sdc"}}},
        MachineCase{"LvmOverTwoDisks",
                    [](testing::FakeLinuxTree& m) {
                      FourDisks(m);
                      m.Partition("sdb", "sdb1", "8:17");
                      m.Partition("sdd", "sdd2", "8:50");
                      m.Stacked("dm-0", "253:0", {"sdd2", "sdb1"}, "vg-root");
                      m.MountInfo(Mount(20, "253:0", "/", "/dev/mapper/vg-root"));
                    },
                    {"sdb", "sdd"}, {1, 3}, {}},
        MachineCase{"MdRaid1",
                    [](testing::FakeLinuxTree& m) {
                      FourDisks(m);
                      m.Partition("sda", "sda1", "8:1");
                      m.Partition("sdc", "sdc1", "8:33");
                      m.Partition("sdd", "sdd1", "8:49");
                      m.Stacked("md0", "9:0", {"sdc1", "sdd1"});
                      m.MountInfo(Mount(20, "9:0", "/", "/dev/md0") +
                                  Mount(21, "8:1", "/data", "/dev/sda1", "xfs"));
                    },
                    {"sdc", "sdd"}, {2, 3}, {{"sda"}}},
        MachineCase{"DmCryptOverLvmOverTwoDisks",
                    [](testing::FakeLinuxTree& m) {
                      FourDisks(m);
                      m.Partition("sda", "sda3", "8:3");
                      m.Partition("sdb", "sdb1", "8:17");
                      m.Stacked("dm-0", "253:0", {"sda3", "sdb1"}, "vg-crypt");
                      m.Stacked("dm-1", "253:1", {"dm-0"}, "root_crypt");
                      m.MountInfo(Mount(20, "253:1", "/", "/dev/mapper/root_crypt"));
                    },
                    {"sda", "sdb"}, {0, 1}, {}},
        // btrfs shows an anonymous device number; its source names the disk.
        MachineCase{"BtrfsBySource",
                    [](testing::FakeLinuxTree& m) {
                      FourDisks(m);
                      m.Partition("sdc", "sdc2", "8:34");
                      m.MountInfo(Mount(20, "0:31", "/", "/dev/sdc2", "btrfs"));
                    },
                    {"sdc"}, {2}, {}},
        MachineCase{"MapperSourceWithAnonymousNumber",
                    [](testing::FakeLinuxTree& m) {
                      FourDisks(m);
                      m.Partition("sdd", "sdd1", "8:49");
                      m.Stacked("dm-3", "253:3", {"sdd1"}, "luks-home");
                      m.MountInfo(Mount(20, "0:40", "/", "/dev/mapper/luks-home", "btrfs"));
                    },
                    {"sdd"}, {3}, {}},
        MachineCase{"RootNotOnADisk",
                    [](testing::FakeLinuxTree& m) {
                      FourDisks(m);
                      m.Partition("sdb", "sdb1", "8:17");
                      m.MountInfo(Mount(20, "0:50", "/", "overlay", "overlay") +
                                  Mount(21, "8:17", "/mnt", "/dev/sdb1"));
                    },
                    {}, {}, {{"sdb"}}},
        MachineCase{"UsbDiskMounted",
                    [](testing::FakeLinuxTree& m) {
                      FourDisks(m);
                      const std::string usb = "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-3";
                      m.UsbDevice(usb, "0bc2", "2322", "NA8F1X2B");
                      m.UsbInterface(usb + "/2-3:1.0", "50");
                      m.ScsiDisk("sde", usb + "/2-3:1.0/host8/target8:0:0/8:0:0:0", "8:64");
                      m.Partition("sde", "sde1", "8:65");
                      m.MountInfo(Mount(20, "8:0", "/", "/dev/sda") +
                                  Mount(21, "8:65", "/media/usb", "/dev/sde1", "exfat"));
                    },
                    {"sda"}, {0}, {{"sde"}}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(LinuxPhysicalDrives, NumbersStayPutWhenADiskGoesAway) {
  testing::FakeLinuxTree tree;
  tree.ScsiDisk("sda", Ata(0), "8:0");
  tree.ScsiDisk("sdc", Ata(2), "8:32");  // sdb was unplugged
  tree.ScsiDisk("sdaf", Ata(3), "65:240");
  tree.ScsiDisk("sdag", Ata(4), "66:0");
  tree.MountInfo("");
  std::vector<std::string> opened;
  LinuxSystem system;
  system.root = tree.root();
  int next = 3;
  system.open_device = [&](const std::string& node) {
    opened.push_back(node.substr(tree.root().size()));
    return next++;
  };
  system.close_device = [](int) {};
  system.sg_io = [](int, sg_io_hdr_t*) { return -1; };
  LinuxDeviceIo io(system);
  std::vector<int> present;
  for (int n = 0; n <= 40; ++n) {
    const DeviceHandle h = io.Open("\\\\.\\PhysicalDrive" + std::to_string(n));
    if (h != kInvalidHandle) {
      present.push_back(n);
      io.Close(h);
    }
  }
  EXPECT_EQ(present, (std::vector<int>{0, 2, 31}));
  EXPECT_EQ(opened, (std::vector<std::string>{"/dev/sda", "/dev/sdc", "/dev/sdaf"}));
}

TEST(LinuxPhysicalDrives, DeviceNodeThatWillNotOpenGivesNoHandle) {
  testing::FakeLinuxTree tree;
  tree.ScsiDisk("sda", Ata(0), "8:0");
  tree.MountInfo("");
  LinuxSystem system;
  system.root = tree.root();
  system.open_device = [](const std::string&) { return -1; };
  system.close_device = [](int) {};
  system.sg_io = [](int, sg_io_hdr_t*) { return 0; };
  LinuxDeviceIo io(system);
  EXPECT_EQ(io.Open("\\\\.\\PhysicalDrive0"), kInvalidHandle);
  EXPECT_EQ(io.Open("\\\\.\\C:"), kInvalidHandle);
  EXPECT_EQ(io.Open("PhysicalDrive0"), kInvalidHandle);
}

}  // namespace
}  // namespace plovix::linuxdev
