// Drive numbering, volumes and the system disks of the Linux adapter, on fake trees.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/devices/linux/fake_tree.h"
#include "devices/linux/LinuxDeviceIo.h"
#include "devices/linux/SysfsLayout.h"

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
                  const std::string& source, const std::string& type = "ext4",
                  const std::string& super_options = "rw") {
  return std::to_string(id) + " 1 " + dev + " / " + point + " rw,relatime shared:1 - " + type +
         " " + source + " " + super_options + "\n";
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
                      m.Btrfs("4f1e0c52-36d3-4bde-a3c5-0d1b2b4c9a11", {"sdc2"});
                      m.MountInfo(Mount(20, "0:31", "/", "/dev/sdc2", "btrfs"));
                    },
                    {"sdc"}, {2}, {}},
        MachineCase{"MapperSourceWithAnonymousNumber",
                    [](testing::FakeLinuxTree& m) {
                      FourDisks(m);
                      m.Partition("sdd", "sdd1", "8:49");
                      m.Stacked("dm-3", "253:3", {"sdd1"}, "luks-home");
                      m.Btrfs("0b9e6a1c-8f5d-4c36-9a4e-3e2f1d7c6b55", {"dm-3"});
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

// ---------------------------------------------------------------------------------------
// The running system: every disk under /, /boot, /boot/efi, /usr, /var and the active
// swap, through every layer; and the layouts that cannot be traced, which must say so.

struct SystemCase {
  const char* name;
  void (*build)(testing::FakeLinuxTree&);
  Names disks;
  std::vector<std::string> untraced;  // empty: the whole system was traced
};

class LinuxSystemLayout : public ::testing::TestWithParam<SystemCase> {};

TEST_P(LinuxSystemLayout, DisksUnderTheSystem) {
  const SystemCase& c = GetParam();
  testing::FakeLinuxTree tree;
  c.build(tree);
  const SystemDisks found = SysfsLayout(tree.root()).FindSystemDisks();
  EXPECT_EQ(found.disks, c.disks);
  EXPECT_EQ(found.untraced, c.untraced);

  // What the scan is told: the drive numbers, and why they may be incomplete.
  LinuxSystem system;
  system.root = tree.root();
  system.open_device = [](const std::string&) { return -1; };
  system.close_device = [](int) {};
  system.sg_io = [](int, sg_io_hdr_t*) { return -1; };
  LinuxDeviceIo io(system);
  const SystemDrives drives = io.FindSystemDrives();
  std::vector<int> numbers;
  for (const auto& disk : c.disks) {
    if (const auto n = DriveNumberOf(disk)) numbers.push_back(*n);
  }
  EXPECT_EQ(drives.numbers, numbers);
  EXPECT_EQ(io.SystemDriveNumbers(), numbers);
  std::string joined;
  for (const auto& clause : c.untraced) joined += (joined.empty() ? "" : "; ") + clause;
  EXPECT_EQ(drives.undetermined, joined);
}

// sda..sdd on SATA ports, sde a USB stick; sda2 holds the root unless a case says else.
void Machine(testing::FakeLinuxTree& m) {
  FourDisks(m);
  const std::string usb = "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1";
  m.UsbDevice(usb, "0781", "5581", "4C530001");
  m.UsbInterface(usb + "/2-1:1.0", "50");
  m.ScsiDisk("sde", usb + "/2-1:1.0/host6/target6:0:0/6:0:0:0", "8:64");
  for (const char* disk : {"sda", "sdb", "sdc", "sdd", "sde"}) {
    const int major_base = 16 * (disk[2] - 'a');
    for (int p = 1; p <= 3; ++p) {
      m.Partition(disk, disk + std::to_string(p), "8:" + std::to_string(major_base + p));
    }
  }
}

const std::string kRootOnSda2 = Mount(20, "8:2", "/", "/dev/sda2");

// The live system of a USB stick: the root is an overlay whose lower layer is a squashfs
// image on the stick, mounted through loop0; the upper layer is `upper`.
void LiveStick(testing::FakeLinuxTree& m, const std::string& upper_mount) {
  Machine(m);
  m.Loop("loop0", "7:0", "/run/live/medium/live/filesystem.squashfs");
  m.File("/run/live/medium/live/filesystem.squashfs", "hsqs");
  m.Dir("/run/live/rootfs/filesystem.squashfs");
  m.Dir("/run/live/overlay/rw");
  m.Dir("/run/live/overlay/work");
  m.MountInfo(Mount(20, "0:33", "/", "overlay", "overlay",
                    "rw,lowerdir=/run/live/rootfs/filesystem.squashfs/,upperdir=/run/live/"
                    "overlay/rw,workdir=/run/live/overlay/work") +
              Mount(21, "0:24", "/run", "tmpfs", "tmpfs") +
              Mount(22, "8:65", "/run/live/medium", "/dev/sde1", "iso9660") +
              Mount(23, "7:0", "/run/live/rootfs/filesystem.squashfs", "/dev/loop0",
                    "squashfs") +
              upper_mount);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, LinuxSystemLayout,
    ::testing::Values(
        SystemCase{"RootOnAPartition",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.MountInfo(kRootOnSda2 + Mount(21, "8:49", "/home", "/dev/sdd1"));
                   },
                   {"sda"}, {}},
        SystemCase{"BootAndEfiOnOtherDisks",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.MountInfo(kRootOnSda2 + Mount(21, "8:17", "/boot", "/dev/sdb1") +
                                 Mount(22, "8:33", "/boot/efi", "/dev/sdc1", "vfat") +
                                 Mount(23, "8:49", "/srv", "/dev/sdd1"));
                   },
                   {"sda", "sdb", "sdc"}, {}},
        SystemCase{"UsrAndVarOnTheirOwnDisks",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.Stacked("dm-0", "253:0", {"sdd2"}, "vg-var");
                     m.MountInfo(kRootOnSda2 + Mount(21, "8:17", "/usr", "/dev/sdb1") +
                                 Mount(22, "253:0", "/var", "/dev/mapper/vg-var", "xfs") +
                                 Mount(23, "8:33", "/var/lib/images", "/dev/sdc1"));
                   },
                   {"sda", "sdb", "sdd"}, {}},
        SystemCase{"DmLinearOverTwoDisks",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.Stacked("dm-0", "253:0", {"sdb1", "sdd1"}, "vg-root");
                     m.MountInfo(Mount(20, "253:0", "/", "/dev/mapper/vg-root"));
                   },
                   {"sdb", "sdd"}, {}},
        SystemCase{"PartitionOfAnMdMirror",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.Stacked("md0", "9:0", {"sdc1", "sdd1"});
                     m.Partition("md0", "md0p1", "259:0");
                     m.MountInfo(Mount(20, "259:0", "/", "/dev/md0p1"));
                   },
                   {"sdc", "sdd"}, {}},
        SystemCase{"DmCryptOverLvmOverMd",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.Stacked("md1", "9:1", {"sda3", "sdb3"});
                     m.Stacked("dm-0", "253:0", {"md1", "sdc3"}, "vg-crypt");
                     m.Stacked("dm-1", "253:1", {"dm-0"}, "root_crypt");
                     m.MountInfo(Mount(20, "253:1", "/", "/dev/mapper/root_crypt"));
                   },
                   {"sda", "sdb", "sdc"}, {}},
        SystemCase{"BcacheBackingAndCacheDisks",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.Stacked("bcache0", "252:0", {"sdb1", "sdc1"});
                     m.MountInfo(Mount(20, "252:0", "/", "/dev/bcache0"));
                   },
                   {"sdb", "sdc"}, {}},
        // mountinfo names one member of the mirror; sysfs lists both.
        SystemCase{"BtrfsRaid1",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.Btrfs("9a0a3e3e-5a9b-4f0e-b7a3-2c3d4e5f6a7b", {"sda1", "sdb1"});
                     m.Btrfs("1b2c3d4e-0000-4000-8000-000000000001", {"sdd1"});
                     m.MountInfo(Mount(20, "0:31", "/", "/dev/sda1", "btrfs") +
                                 Mount(21, "0:32", "/home", "/dev/sda1", "btrfs") +
                                 Mount(22, "0:35", "/data", "/dev/sdd1", "btrfs"));
                   },
                   {"sda", "sdb"}, {}},
        SystemCase{"BtrfsOverTwoEncryptedPartitions",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.Stacked("dm-0", "253:0", {"sda2"}, "luks-a");
                     m.Stacked("dm-1", "253:1", {"sdc2"}, "luks-b");
                     m.Btrfs("5c6d7e8f-1111-4222-8333-444455556666", {"dm-0", "dm-1"});
                     m.MountInfo(Mount(20, "0:31", "/", "/dev/mapper/luks-b", "btrfs"));
                   },
                   {"sda", "sdc"}, {}},
        // The root is an image file on another disk, mounted through loop0.
        SystemCase{"LoopMountedRootImage",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.Loop("loop0", "7:0", "/host/plovix/root.img");
                     m.File("/host/plovix/root.img", "");
                     m.MountInfo(Mount(20, "7:0", "/", "/dev/loop0") +
                                 Mount(21, "8:17", "/host", "/dev/sdb1", "ntfs3"));
                   },
                   {"sdb"}, {}},
        SystemCase{"PartitionedLoopImageOnBtrfsRaid1",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.Btrfs("9a0a3e3e-5a9b-4f0e-b7a3-2c3d4e5f6a7b", {"sdc1", "sdd1"});
                     m.Loop("loop3", "7:3", "/images/disk.img");
                     m.Partition("loop3", "loop3p2", "259:1");
                     m.File("/images/disk.img", "");
                     m.MountInfo(Mount(20, "259:1", "/", "/dev/loop3p2") +
                                 Mount(21, "0:40", "/images", "/dev/sdc1", "btrfs"));
                   },
                   {"sdc", "sdd"}, {}},
        SystemCase{"LoopOverADeviceNode",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.Loop("loop1", "7:1", "/dev/sdc");
                     m.MountInfo(Mount(20, "7:1", "/", "/dev/loop1"));
                   },
                   {"sdc"}, {}},
        SystemCase{"LiveSystemOnAUsbStick",
                   [](testing::FakeLinuxTree& m) {
                     LiveStick(m, Mount(24, "0:34", "/run/live/overlay", "tmpfs", "tmpfs"));
                   },
                   {"sde"}, {}},
        SystemCase{"LiveSystemWithPersistenceOnADisk",
                   [](testing::FakeLinuxTree& m) {
                     LiveStick(m, Mount(24, "8:18", "/run/live/overlay", "/dev/sdb2"));
                   },
                   {"sdb", "sde"}, {}},
        SystemCase{"SwapPartitionOnAnotherDisk",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.MountInfo(kRootOnSda2);
                     m.Swaps("/dev/sdc2                               partition\t2097148\t\t0\t\t-2\n");
                   },
                   {"sda", "sdc"}, {}},
        SystemCase{"SwapOnLvmAndOnZram",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.Stacked("dm-1", "253:1", {"sdd3"}, "vg-swap");
                     m.Stacked("zram0", "251:0", {});
                     m.MountInfo(kRootOnSda2);
                     m.Swaps("/dev/dm-1 partition 1048572 0 -2\n/dev/zram0 partition 524284 0 100\n");
                   },
                   {"sda", "sdd", "zram0"}, {}},
        SystemCase{"SwapFilesOnOtherDisks",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.File("/srv/swap area/file", "");
                     m.MountInfo(kRootOnSda2 + Mount(21, "8:49", "/srv", "/dev/sdd1") +
                                 Mount(22, "8:33", "/scratch", "/dev/sdc1"));
                     // The second one was deleted while in use; its disk is still busy.
                     m.Swaps("/srv/swap\\040area/file file 1048572 0 -2\n"
                             "/scratch/old.swap\\040(deleted) file 65532 0 -3\n");
                   },
                   {"sda", "sdc", "sdd"}, {}},
        SystemCase{"NetworkRootMemoryVarAndAnUntriggeredAutomount",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.MountInfo(Mount(20, "0:40", "/", "10.0.0.1:/srv/nfsroot", "nfs4") +
                                 Mount(21, "0:41", "/var", "tmpfs", "tmpfs") +
                                 Mount(22, "0:42", "/boot/efi", "systemd-1", "autofs") +
                                 Mount(23, "8:49", "/media/data", "/dev/sdd1"));
                   },
                   {}, {}},
        SystemCase{"TriggeredAutomountAtBootEfi",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.MountInfo(kRootOnSda2 + Mount(21, "0:42", "/boot/efi", "systemd-1", "autofs") +
                                 Mount(22, "8:33", "/boot/efi", "/dev/sdc1", "vfat"));
                   },
                   {"sda", "sdc"}, {}},

        // --- what cannot be traced: the scan is told, and offers nothing ---
        SystemCase{"ZfsRoot",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.MountInfo(Mount(20, "0:25", "/", "rpool/ROOT/debian", "zfs") +
                                 Mount(21, "8:17", "/boot", "/dev/sdb1"));
                   },
                   {"sdb"},
                   {"/ cannot be traced to its disks (zfs rpool/ROOT/debian)"}},
        SystemCase{"PooledVarAndAZfsSwapFile",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.File("/tank/swapfile", "");
                     m.MountInfo(kRootOnSda2 +
                                 Mount(21, "0:50", "/var", "/mnt/disk1:/mnt/disk2", "fuse.mergerfs") +
                                 Mount(22, "0:51", "/tank", "tank", "zfs"));
                     m.Swaps("/tank/swapfile file 1048572 0 -2\n");
                   },
                   {"sda"},
                   {"/var cannot be traced to its disks (fuse.mergerfs /mnt/disk1:/mnt/disk2)",
                    "swap file /tank/swapfile cannot be traced to its disks (zfs tank)"}},
        SystemCase{"BtrfsNotListedInSysfs",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.MountInfo(Mount(20, "0:31", "/", "/dev/sdb2", "btrfs"));
                   },
                   {"sdb"},
                   {"/ cannot be traced to its disks (btrfs on /dev/sdb2 is not listed in "
                    "/sys/fs/btrfs)"}},
        // Mounted by the kernel itself, without an initramfs: no device by that name.
        SystemCase{"BtrfsRootNamedDevRoot",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.Btrfs("9a0a3e3e-5a9b-4f0e-b7a3-2c3d4e5f6a7b", {"sda1", "sdb1"});
                     m.MountInfo(Mount(20, "0:31", "/", "/dev/root", "btrfs"));
                   },
                   {}, {"/ cannot be traced to its disks (btrfs /dev/root)"}},
        // The file system that holds the image is not in this mount namespace.
        SystemCase{"LoopImageOutOfSight",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.Loop("loop0", "7:0", "/host/root.img");
                     m.MountInfo(Mount(20, "7:0", "/", "/dev/loop0"));
                   },
                   {}, {"/ cannot be traced to its disks (loop0's image /host/root.img cannot be found)"}},
        // What shows of such an image can also be a path that leads back to the loop.
        SystemCase{"LoopImageThatLeadsBackToItself",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.Loop("loop0", "7:0", "/root.img");
                     m.File("/root.img", "");
                     m.MountInfo(Mount(20, "7:0", "/", "/dev/loop0"));
                   },
                   {}, {"/ cannot be traced to its disks (/ leads back to itself)"}},
        SystemCase{"LoopWithoutABackingFile",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.Loop("loop0", "7:0", "");
                     m.MountInfo(Mount(20, "7:0", "/", "/dev/loop0"));
                   },
                   {}, {"/ cannot be traced to its disks (the image of loop0 cannot be read)"}},
        SystemCase{"OverlayWithRelativeOrNoLayers",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.Dir("/lower");
                     m.MountInfo(kRootOnSda2 +
                                 Mount(21, "0:33", "/usr", "overlay", "overlay",
                                       "rw,lowerdir=lower,upperdir=/upper,workdir=/work") +
                                 Mount(22, "0:34", "/var", "overlay", "overlay", "rw"));
                   },
                   {"sda"},
                   {"/usr cannot be traced to its disks (overlay layer lower is not an "
                    "absolute path)",
                    "/var cannot be traced to its disks (overlay overlay shows no layer "
                    "directories)"}},
        SystemCase{"BlockNumbersWithoutSysfs",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.MountInfo(Mount(20, "8:99", "/", "/dev/sdg3"));
                   },
                   {}, {"/ cannot be traced to its disks (block device 8:99 (/dev/sdg3) has no "
                        "entry in sysfs)"}},
        // A device-mapper table over a disk whose sysfs entry has gone, and a broken
        // tree whose devices stand on each other.
        SystemCase{"UnreadableAndLoopingStacks",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.Stacked("dm-0", "253:0", {"sdb1"}, "vg-root");
                     m.Link("/sys/devices/virtual/block/dm-0/slaves/sdx1",
                            "/sys/devices/pci0000:00/0000:00:1f.2/ata9/gone/sdx/sdx1");
                     m.Stacked("md0", "9:0", {"sdc1"});
                     m.Stacked("md1", "9:1", {"md0"});
                     m.Link("/sys/devices/virtual/block/md0/slaves/md1",
                            "/sys/devices/virtual/block/md1");
                     m.MountInfo(Mount(20, "253:0", "/", "/dev/mapper/vg-root") +
                                 Mount(21, "9:1", "/var", "/dev/md1"));
                   },
                   {"sdb", "sdc"},
                   {"/ cannot be traced to its disks (sdx1 has no entry in sysfs)",
                    "/var cannot be traced to its disks (md1 leads back to itself)"}},
        // A device that is neither a whole disk nor a partition of one is not taken for
        // a disk that holds no drive.
        SystemCase{"StackOverAnOddDevice",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.File("/sys/devices/platform/odd/block/odd0/dev", "240:0\n");
                     m.Link("/sys/class/block/odd0", "/sys/devices/platform/odd/block/odd0");
                     m.Stacked("dm-0", "253:0", {"sda1", "odd0"}, "vg-root");
                     m.MountInfo(Mount(20, "253:0", "/", "/dev/mapper/vg-root"));
                   },
                   {"sda"},
                   {"/ cannot be traced to its disks (odd0 is neither a whole disk nor a "
                    "partition in sysfs)"}},
        SystemCase{"SwapOnAnUnknownDevice",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.MountInfo(kRootOnSda2);
                     m.Swaps("/dev/nvme9n1p2 partition 1048572 0 -2\n");
                   },
                   {"sda"},
                   {"swap /dev/nvme9n1p2 cannot be traced to its disks (no such block device)"}},
        SystemCase{"NoRootInTheMountTable",
                   [](testing::FakeLinuxTree& m) {
                     Machine(m);
                     m.MountInfo(Mount(21, "8:17", "/boot", "/dev/sdb1"));
                   },
                   {"sdb"}, {"/ is not in the mount table"}},
        SystemCase{"NoMountTable", [](testing::FakeLinuxTree& m) { Machine(m); }, {},
                   {"the mount table (/proc/self/mountinfo) cannot be read"}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(LinuxOverlayLayers, FromTheSuperOptions) {
  struct Case {
    const char* options;
    std::vector<std::string> layers;
  };
  const Case cases[] = {
      {"rw,lowerdir=/l1:/l2,upperdir=/u,workdir=/w", {"/l1", "/l2", "/u", "/w"}},
      // A colon inside a name is escaped; a comma is shown in octal.
      {"rw,lowerdir=/a\\134:b:/c\\054d,xino=off", {"/a:b", "/c,d"}},
      // Data-only layers follow "::".
      {"ro,lowerdir=/base::/data", {"/base", "/data"}},
      // Layers added one by one.
      {"rw,lowerdir+=/x,lowerdir+=/y,datadir+=/z,upperdir=/u", {"/x", "/y", "/z", "/u"}},
      {"rw,relatime", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(OverlayLayers(c.options), c.layers) << c.options;
  }
}

TEST(LinuxSwaps, Lines) {
  const auto swaps = ParseSwaps(
      "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n"
      "/dev/sdb2                               partition\t2097148\t\t0\t\t-2\n"
      "/var/my\\040swap                          file\t\t65532\t\t0\t\t-3\n");
  ASSERT_EQ(swaps.size(), 2u);
  EXPECT_EQ(swaps[0].path, "/dev/sdb2");
  EXPECT_EQ(swaps[0].type, "partition");
  EXPECT_EQ(swaps[1].path, "/var/my swap");
  EXPECT_EQ(swaps[1].type, "file");
  EXPECT_TRUE(ParseSwaps("Filename Type Size Used Priority\n").empty());
}

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
