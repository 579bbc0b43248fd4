// NVMe namespaces among the Linux adapter's drives: their numbers beside the SCSI
// disks', and the system and volume layouts that stand on them, on fake trees.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/devices/linux/fake_tree.h"
#include "devices/linux/DriveNumbering.h"
#include "devices/linux/LinuxDeviceIo.h"
#include "devices/linux/SysfsLayout.h"

namespace plovix::linuxdev {
namespace {

using Names = std::vector<std::string>;
using Numbers = std::map<int, std::string>;

TEST(LinuxNvmeNaming, NamespacesPathNodesAndTheRest) {
  struct Case {
    const char* name;
    std::optional<NvmeName> nvme;
    bool path_node;
  };
  const Case cases[] = {
      {"nvme0n1", NvmeName{0, 1}, false},        {"nvme12n345", NvmeName{12, 345}, false},
      {"nvme0n1p1", std::nullopt, false},        {"nvme0c0n1", std::nullopt, true},
      {"nvme3c12n2", std::nullopt, true},        {"nvme0", std::nullopt, false},
      {"nvme0n", std::nullopt, false},           {"nvmen1", std::nullopt, false},
      {"nvme0c0n1p1", std::nullopt, false},      {"ng0n1", std::nullopt, false},
      {"nvme1234567890n1", std::nullopt, false}, {"sda", std::nullopt, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ParseNvmeName(c.name), c.nvme);
    EXPECT_EQ(IsNvmePathNode(c.name), c.path_node);
  }
}

// ---------------------------------------------------------------------------------------
// Numbering from what is present at one moment.

std::vector<PresentDisk> Present(const Names& names) {
  std::vector<PresentDisk> disks;
  int minor = 0;
  for (const auto& name : names) disks.push_back({name, "259:" + std::to_string(minor++)});
  return disks;
}

Names AllSd(int count) {
  Names names;
  for (int i = 0; i < count; ++i) names.push_back(SdName(i));
  return names;
}

Numbers NumbersOf(const DriveNumbering& numbering) {
  Numbers numbers;
  for (int n = -1; n <= kMaxDriveNumber + 1; ++n) {
    if (const auto disk = numbering.DiskAt(n)) numbers[n] = *disk;
  }
  return numbers;
}

struct NumberingCase {
  const char* name;
  Names present;
  Numbers numbers;
  Names unnumbered;
};

class LinuxDriveNumbers : public ::testing::TestWithParam<NumberingCase> {};

TEST_P(LinuxDriveNumbers, ScsiDisksByNameNamespacesFromTheTop) {
  const NumberingCase& c = GetParam();
  DriveNumbering numbering;
  numbering.Update(Present(c.present));
  EXPECT_EQ(NumbersOf(numbering), c.numbers);
  EXPECT_EQ(numbering.unnumbered(), c.unnumbered);
  for (const auto& [number, disk] : c.numbers) EXPECT_EQ(numbering.NumberOf(disk), number);
}

NumberingCase FullHouse() {
  NumberingCase c{"ThirtyTwoScsiDisksLeaveNoNumber",
                  AllSd(32),
                  {},
                  {"nvme0n1 (all 32 drive numbers are taken)"}};
  for (int i = 0; i < 32; ++i) c.numbers[i] = SdName(i);
  c.present.push_back("nvme0n1");
  return c;
}

NumberingCase CrowdedMixture() {
  // 29 SCSI disks and four namespaces: three fit above them, the fourth does not.
  NumberingCase c{
      "MoreDrivesThanNumbers", AllSd(29), {}, {"nvme1n2 (all 32 drive numbers are taken)"}};
  for (int i = 0; i < 29; ++i) c.numbers[i] = SdName(i);
  c.present.insert(c.present.end(), {"nvme1n2", "nvme0n1", "nvme1n1", "nvme0n2"});
  c.numbers[31] = "nvme0n1";
  c.numbers[30] = "nvme0n2";
  c.numbers[29] = "nvme1n1";
  return c;
}

INSTANTIATE_TEST_SUITE_P(
    Machines, LinuxDriveNumbers,
    ::testing::Values(
        NumberingCase{"ScsiDisksAsBefore",
                      {"sdb", "sda", "sdaf"},
                      {{0, "sda"}, {1, "sdb"}, {31, "sdaf"}},
                      {}},
        NumberingCase{"NamespacesDownFromThirtyOne",
                      {"nvme1n1", "nvme0n2", "nvme0n1"},
                      {{31, "nvme0n1"}, {30, "nvme0n2"}, {29, "nvme1n1"}},
                      {}},
        NumberingCase{"MixtureLeavesScsiNumbersAlone",
                      {"sda", "nvme0n1", "sdc", "nvme1n1"},
                      {{0, "sda"}, {2, "sdc"}, {31, "nvme0n1"}, {30, "nvme1n1"}},
                      {}},
        // By number, not by spelling: nvme2 before nvme10, n2 before n10.
        NumberingCase{"ControllersAndNamespacesInNumericOrder",
                      {"nvme10n1", "nvme2n10", "nvme2n2", "nvme2n1"},
                      {{31, "nvme2n1"}, {30, "nvme2n2"}, {29, "nvme2n10"}, {28, "nvme10n1"}},
                      {}},
        // Multipath: the joined node is the drive, its per-controller paths are not.
        NumberingCase{
            "PathNodesAreNoDrives", {"nvme0c0n1", "nvme0n1", "nvme0c1n1"}, {{31, "nvme0n1"}}, {}},
        NumberingCase{"ScsiDisksReachingTheTopPushNamespacesDown",
                      {"sdaf", "sdae", "sdac", "nvme0n1", "nvme0n2"},
                      {{28, "sdac"}, {30, "sdae"}, {31, "sdaf"}, {29, "nvme0n1"}, {27, "nvme0n2"}},
                      {}},
        FullHouse(), CrowdedMixture(),
        NumberingCase{"ScsiDiskBeyondThirtyOne",
                      {"sda", "sdag"},
                      {{0, "sda"}},
                      {"sdag (beyond drive number 31)"}},
        NumberingCase{"OtherBlockDevicesAreNoDrives",
                      {"dm-0", "md0", "loop0", "zram0", "mmcblk0", "vda", "nvme0n1p1", "sr0"},
                      {},
                      {}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// ---------------------------------------------------------------------------------------
// Numbers while drives come and go: a namespace keeps its number as long as it stays.

TEST(LinuxDriveNumbersOverTime, NamespacesKeepTheirNumbersWhileOthersComeAndGo) {
  const PresentDisk nvme0{"nvme0n1", "259:0"};
  const PresentDisk nvme1{"nvme1n1", "259:3"};
  const PresentDisk nvme2{"nvme2n1", "259:6"};
  const PresentDisk sdaf{"sdaf", "65:240"};
  const PresentDisk sda{"sda", "8:0"};
  struct Step {
    const char* what;
    std::vector<PresentDisk> present;
    Numbers numbers;
    Names unnumbered;
  };
  const Step steps[] = {
      {"two controllers", {nvme0, nvme1, sda}, {{0, "sda"}, {31, "nvme0n1"}, {30, "nvme1n1"}}, {}},
      // The first one leaves: the second is not moved onto its number.
      {"nvme0 removed", {nvme1, sda}, {{0, "sda"}, {30, "nvme1n1"}}, {}},
      {"a newcomer takes the highest free number",
       {nvme1, nvme2, sda},
       {{0, "sda"}, {31, "nvme2n1"}, {30, "nvme1n1"}},
       {}},
      // A SCSI disk arriving on a held number is named, never shadowed silently.
      {"sdaf arrives on 31",
       {nvme1, nvme2, sda, sdaf},
       {{0, "sda"}, {31, "nvme2n1"}, {30, "nvme1n1"}},
       {"sdaf (drive number 31 is held by nvme2n1)"}},
      {"and gets it once the namespace has gone",
       {nvme1, sda, sdaf},
       {{0, "sda"}, {31, "sdaf"}, {30, "nvme1n1"}},
       {}},
      // The same name on other device numbers is another device: it is numbered afresh.
      {"nvme1n1 re-created",
       {{"nvme1n1", "259:9"}, sda, sdaf},
       {{0, "sda"}, {31, "sdaf"}, {30, "nvme1n1"}},
       {}},
      {"nothing present", {}, {}, {}},
  };
  DriveNumbering numbering;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    numbering.Update(step.present);
    EXPECT_EQ(NumbersOf(numbering), step.numbers);
    EXPECT_EQ(numbering.unnumbered(), step.unnumbered);
  }
  // A fresh start with both present numbers the SCSI disk first.
  DriveNumbering fresh;
  fresh.Update({nvme2, sdaf});
  EXPECT_EQ(NumbersOf(fresh), (Numbers{{31, "sdaf"}, {30, "nvme2n1"}}));
}

// ---------------------------------------------------------------------------------------
// A machine: sda on SATA; namespaces 1 and 2 of controller nvme0; nvme1n1; and nvme2n1,
// a multipath namespace joined under its subsystem, with its path node nvme2c2n1.

std::string Ata(int port) {
  const std::string host = std::to_string(port);
  return "/sys/devices/pci0000:00/0000:00:1f.2/ata" + std::to_string(port + 1) + "/host" + host +
         "/target" + host + ":0:0/" + host + ":0:0:0";
}

constexpr const char* kCtrl0 = "/sys/devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0";
constexpr const char* kCtrl1 = "/sys/devices/pci0000:00/0000:00:1d.4/0000:3e:00.0/nvme/nvme1";
constexpr const char* kCtrl2 = "/sys/devices/pci0000:00/0000:00:1d.6/0000:3f:00.0/nvme/nvme2";
constexpr const char* kSubsys2 = "/sys/devices/virtual/nvme-subsystem/nvme-subsys2";

void NvmeMachine(testing::FakeLinuxTree& m) {
  m.ScsiDisk("sda", Ata(0), "8:0");
  m.Partition("sda", "sda1", "8:1");
  m.NvmeDisk("nvme0n1", kCtrl0, "259:0");
  for (int p = 1; p <= 3; ++p) {
    m.Partition("nvme0n1", "nvme0n1p" + std::to_string(p), "259:" + std::to_string(p));
  }
  m.NvmeDisk("nvme0n2", kCtrl0, "259:4");
  m.NvmeDisk("nvme1n1", kCtrl1, "259:5");
  for (int p = 1; p <= 3; ++p) {
    m.Partition("nvme1n1", "nvme1n1p" + std::to_string(p), "259:" + std::to_string(5 + p));
  }
  m.NvmeDisk("nvme2n1", kSubsys2, "259:9");
  m.Partition("nvme2n1", "nvme2n1p1", "259:10");
  m.NvmeDisk("nvme2c2n1", kCtrl2, "");
}

std::string Mount(int id, const std::string& dev, const std::string& point,
                  const std::string& source, const std::string& type = "ext4") {
  return std::to_string(id) + " 1 " + dev + " / " + point + " rw,relatime shared:1 - " + type +
         " " + source + " rw\n";
}

LinuxSystem NoDevices(const std::string& root, std::vector<std::string>* opened = nullptr) {
  LinuxSystem system;
  system.root = root;
  system.open_device = [root, opened](const std::string& node) {
    if (opened) opened->push_back(node.substr(root.size()));
    return 7;
  };
  system.close_device = [](int) {};
  system.sg_io = [](int, sg_io_hdr_t*) { return -1; };
  system.nvme_ioctl = [](int, unsigned long, nvme_passthru_cmd*) { return -1LL * ENOTTY; };
  return system;
}

TEST(LinuxNvmeMachine, DriveNumbersOpenTheirDisks) {
  testing::FakeLinuxTree tree;
  NvmeMachine(tree);
  tree.MountInfo("");
  std::vector<std::string> opened;
  LinuxDeviceIo io(NoDevices(tree.root(), &opened));
  std::vector<int> present;
  for (int n = 0; n <= 40; ++n) {
    const DeviceHandle h = io.Open("\\\\.\\PhysicalDrive" + std::to_string(n));
    if (h == kInvalidHandle) continue;
    present.push_back(n);
    io.Close(h);
  }
  EXPECT_EQ(present, (std::vector<int>{0, 28, 29, 30, 31}));
  EXPECT_EQ(opened,
            (Names{"/dev/sda", "/dev/nvme2n1", "/dev/nvme1n1", "/dev/nvme0n2", "/dev/nvme0n1"}));
  EXPECT_TRUE(io.UnreachableDrives().empty());
}

TEST(LinuxNvmeMachine, WithoutCapSysAdminNamespacesGetNoNumber) {
  testing::FakeLinuxTree tree;
  NvmeMachine(tree);
  tree.MountInfo("");
  std::vector<std::string> opened;
  LinuxSystem system = NoDevices(tree.root(), &opened);
  system.cap_sys_admin = false;
  LinuxDeviceIo io(system);
  for (int n = 0; n <= kMaxDriveNumber; ++n) {
    const DeviceHandle h = io.Open("\\\\.\\PhysicalDrive" + std::to_string(n));
    if (h != kInvalidHandle) io.Close(h);
  }
  EXPECT_EQ(opened, Names{"/dev/sda"});
  const std::string why =
      " (NVMe commands need the CAP_SYS_ADMIN capability, which this process lacks)";
  EXPECT_EQ(io.UnreachableDrives(),
            (Names{"nvme0n1" + why, "nvme0n2" + why, "nvme1n1" + why, "nvme2n1" + why}));
}

struct NvmeSystemCase {
  const char* name;
  std::string mounts;
  std::string swaps;
  Names disks;
  std::vector<int> numbers;
  std::vector<Names> lettered;  // disks of C:, D:, ...
};

class LinuxNvmeSystem : public ::testing::TestWithParam<NvmeSystemCase> {};

TEST_P(LinuxNvmeSystem, SystemDisksDriveNumbersAndVolumes) {
  const NvmeSystemCase& c = GetParam();
  testing::FakeLinuxTree tree;
  NvmeMachine(tree);
  tree.Stacked("dm-0", "253:0", {"nvme1n1p3", "sda1"}, "vg-root");
  tree.Stacked("dm-1", "253:1", {"nvme2n1p1"}, "luks-nvme");
  tree.Stacked("md0", "9:0", {"nvme1n1p1", "nvme2n1p1"});
  tree.Btrfs("7d1c0f3a-2b4e-4c5d-9e6f-a1b2c3d4e5f6", {"nvme0n1p2", "nvme1n1p2"});
  tree.MountInfo(c.mounts);
  if (!c.swaps.empty()) tree.Swaps(c.swaps);

  const SystemDisks found = SysfsLayout(tree.root()).FindSystemDisks();
  EXPECT_EQ(found.disks, c.disks);
  EXPECT_TRUE(found.untraced.empty());

  std::vector<std::string> opened;
  LinuxDeviceIo io(NoDevices(tree.root(), &opened));
  const SystemDrives drives = io.FindSystemDrives();
  EXPECT_EQ(drives.numbers, c.numbers);
  EXPECT_EQ(drives.undetermined, "");
  for (std::size_t i = 0; i < c.lettered.size(); ++i) {
    const char letter = static_cast<char>('C' + i);
    SCOPED_TRACE(letter);
    EXPECT_EQ(io.layout().DisksOfVolume(letter), c.lettered[i]);
    opened.clear();
    const DeviceHandle h = io.Open(std::string("\\\\.\\") + letter + ":");
    ASSERT_NE(h, kInvalidHandle);
    EXPECT_EQ(opened, Names{"/dev/" + c.lettered[i].front()});
    io.Close(h);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, LinuxNvmeSystem,
    ::testing::Values(NvmeSystemCase{"RootOnANvmePartition",
                                     Mount(20, "259:7", "/", "/dev/nvme1n1p2") +
                                         Mount(21, "8:1", "/data", "/dev/sda1"),
                                     "",
                                     {"nvme1n1"},
                                     {29},
                                     {{"nvme1n1"}, {"sda"}}},
                      // The controller's other namespace goes with the system's.
                      NvmeSystemCase{"EfiAndRootOnOneNamespaceOfTwo",
                                     Mount(20, "259:2", "/", "/dev/nvme0n1p2") +
                                         Mount(21, "259:1", "/boot/efi", "/dev/nvme0n1p1", "vfat") +
                                         Mount(22, "259:6", "/srv", "/dev/nvme1n1p1"),
                                     "",
                                     {"nvme0n1", "nvme0n2"},
                                     {30, 31},
                                     {{"nvme0n1"}, {"nvme0n1"}, {"nvme1n1"}}},
                      NvmeSystemCase{"LvmOverNvmeAndSata",
                                     Mount(20, "253:0", "/", "/dev/mapper/vg-root", "xfs"),
                                     "",
                                     {"sda", "nvme1n1"},
                                     {0, 29},
                                     {{"sda", "nvme1n1"}}},
                      NvmeSystemCase{"BtrfsRaid1OverTwoControllers",
                                     Mount(20, "0:31", "/", "/dev/nvme1n1p2", "btrfs") +
                                         Mount(21, "0:31", "/home", "/dev/nvme1n1p2", "btrfs"),
                                     "",
                                     {"nvme0n1", "nvme0n2", "nvme1n1"},
                                     {29, 30, 31},
                                     {{"nvme0n1", "nvme1n1"}}},
                      // A multipath namespace under LUKS: its path node is no disk of the system.
                      NvmeSystemCase{"EncryptedRootOnAMultipathNamespace",
                                     Mount(20, "253:1", "/", "/dev/mapper/luks-nvme"),
                                     "",
                                     {"nvme2n1"},
                                     {28},
                                     {{"nvme2n1"}}},
                      NvmeSystemCase{"MdMirrorAndSwapOnNvme",
                                     Mount(20, "9:0", "/", "/dev/md0") +
                                         Mount(21, "8:1", "/scratch", "/dev/sda1"),
                                     "/dev/nvme0n1p3 partition 1048572 0 -2\n",
                                     {"nvme0n1", "nvme0n2", "nvme1n1", "nvme2n1"},
                                     {28, 29, 30, 31},
                                     {{"nvme1n1", "nvme2n1"}, {"sda"}}},
                      NvmeSystemCase{"SataRootWithANvmeDataDisk",
                                     Mount(20, "8:1", "/", "/dev/sda1") +
                                         Mount(21, "259:4", "/data", "/dev/nvme0n2"),
                                     "",
                                     {"sda"},
                                     {0},
                                     {{"sda"}, {"nvme0n2"}}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// Siblings are told apart by where their disks hang (a controller's own namespaces, a
// subsystem's joined ones) and by the subsystem NQN their controllers carry; never
// another subsystem's.
TEST(LinuxNvmeMachine, SiblingsShareTheControllerOrSubsystem) {
  testing::FakeLinuxTree tree;
  NvmeMachine(tree);
  tree.File(std::string(kCtrl0) + "/subsysnqn", "nqn.2014.08.org.nvmexpress:144d144dS5GXNX0T1\n");
  tree.File(std::string(kCtrl1) + "/subsysnqn", "nqn.2014.08.org.nvmexpress:1e0f1e0fY2SA7020\n");
  tree.File(std::string(kSubsys2) + "/subsysnqn", "nqn.2019-08.org.qemu:mpath\n");
  // Two ports of one dual-port drive, the kernel's joining of paths switched off: each
  // controller shows the same namespace as a disk of its own.
  const std::string port_a = "/sys/devices/pci0000:00/0000:00:1e.0/0000:40:00.0/nvme/nvme3";
  const std::string port_b = "/sys/devices/pci0000:00/0000:00:1e.0/0000:41:00.0/nvme/nvme4";
  tree.NvmeDisk("nvme3n1", port_a, "259:12");
  tree.NvmeDisk("nvme4n1", port_b, "259:13");
  tree.File(port_a + "/subsysnqn", "nqn.2014-08.com.example:dualport.A1\n");
  tree.File(port_b + "/subsysnqn", "nqn.2014-08.com.example:dualport.A1\n");
  tree.MountInfo(Mount(20, "259:12", "/", "/dev/nvme3n1"));
  const SysfsLayout layout(tree.root());
  EXPECT_EQ(layout.NvmeSiblings("nvme0n1"), Names{"nvme0n2"});
  EXPECT_EQ(layout.NvmeSiblings("nvme0n2"), Names{"nvme0n1"});
  EXPECT_EQ(layout.NvmeSiblings("nvme1n1"), Names{});
  EXPECT_EQ(layout.NvmeSiblings("nvme2n1"), Names{});
  EXPECT_EQ(layout.NvmeSiblings("nvme3n1"), Names{"nvme4n1"});
  EXPECT_EQ(layout.NvmeSiblings("sda"), Names{});
  EXPECT_EQ(layout.FindSystemDisks().disks, (Names{"nvme3n1", "nvme4n1"}));
}

}  // namespace
}  // namespace plovix::linuxdev
