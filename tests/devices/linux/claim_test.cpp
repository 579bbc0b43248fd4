// The Linux adapter's block path for erases: what keeps a disk in use, the exclusive
// claim, whole transfers and the release, on fake trees and fake system calls.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/devices/linux/fake_tree.h"
#include "devices/linux/LinuxDeviceIo.h"

namespace plovix::linuxdev {
namespace {

using Names = std::vector<std::string>;

std::string Ata(int port) {
  const std::string n = std::to_string(port);
  return "/sys/devices/pci0000:00/0000:00:1f.2/ata" + std::to_string(port + 1) + "/host" + n +
         "/target" + n + ":0:0/" + n + ":0:0:0";
}

std::string Mount(const std::string& dev, const std::string& point, const std::string& source,
                  const std::string& type = "ext4") {
  return "30 1 " + dev + " / " + point + " rw shared:1 - " + type + " " + source + " rw\n";
}

constexpr int kExclusive = O_RDWR | O_EXCL | O_DIRECT | O_CLOEXEC;

// sda (the system, on sda1), sdb with sdb1 and sdb2, sdc with sdc1, and nvme0n1 with
// nvme0n1p1 and nvme0n1p2 (drive 31); system calls that log what they are asked.
class ClaimRig {
 public:
  ClaimRig() {
    tree.ScsiDisk("sda", Ata(0), "8:0");
    tree.Partition("sda", "sda1", "8:1");
    tree.ScsiDisk("sdb", Ata(1), "8:16");
    tree.Partition("sdb", "sdb1", "8:17");
    tree.Partition("sdb", "sdb2", "8:18");
    tree.ScsiDisk("sdc", Ata(2), "8:32");
    tree.Partition("sdc", "sdc1", "8:33");
    const std::string nvme = "/sys/devices/pci0000:00/0000:01:00.0/nvme/nvme0";
    tree.NvmeDisk("nvme0n1", nvme, "259:0");
    tree.Partition("nvme0n1", "nvme0n1p1", "259:1");
    tree.Partition("nvme0n1", "nvme0n1p2", "259:2");
    tree.MountInfo(Mount("8:1", "/", "/dev/sda1"));
    LinuxSystem s;
    s.root = tree.root();
    s.open_device = [this](const std::string&) { return next_fd++; };
    s.close_device = [](int) {};
    s.sg_io = [](int, sg_io_hdr_t*) { return -1; };
    s.open_block = [this](const std::string& node, int flags) {
      const int fd = Next(opens, next_fd);
      Log("open " + node.substr(tree.root().size()) +
          (flags == kExclusive               ? " exclusive"
           : flags == (O_RDONLY | O_CLOEXEC) ? " read-only"
                                             : " flags " + std::to_string(flags)) +
          " = " + std::to_string(fd));
      if (fd == next_fd) ++next_fd;
      return fd;
    };
    const auto transfer = [this](int fd, std::size_t length, std::uint64_t offset) {
      calls.push_back({fd, offset, length});
      return static_cast<long long>(Next(moved, static_cast<int>(length)));
    };
    s.pwrite_block = [transfer](int fd, const void*, std::size_t length, std::uint64_t offset) {
      return transfer(fd, length, offset);
    };
    s.pread_block = [transfer](int fd, void* data, std::size_t length, std::uint64_t offset) {
      std::memset(data, 0xA5, length);
      return transfer(fd, length, offset);
    };
    s.block_ioctl = [this](int fd, unsigned long request, void* arg) {
      const char* name = request == BLKSSZGET      ? "BLKSSZGET"
                         : request == BLKGETSIZE64 ? "BLKGETSIZE64"
                         : request == BLKFLSBUF    ? "BLKFLSBUF"
                         : request == BLKRRPART    ? "BLKRRPART"
                                                   : "other";
      if (request == BLKSSZGET) *static_cast<int*>(arg) = block;
      if (request == BLKGETSIZE64) *static_cast<std::uint64_t*>(arg) = size;
      if (request == BLKFLSBUF || request == BLKRRPART) Log(name + (" " + std::to_string(fd)));
      return Next(ioctls[name], 0);
    };
    s.fsync_block = [this](int fd) {
      Log("fsync " + std::to_string(fd));
      return fsync;
    };
    s.close_block = [this](int fd) { Log("close " + std::to_string(fd)); };
    io = std::make_unique<LinuxDeviceIo>(std::move(s));
  }

  DiskClaim ClaimSdb() {
    const DiskClaim claim = io->ClaimDisk(1);
    EXPECT_EQ(claim.outcome, ClaimOutcome::Claimed);
    events.clear();
    return claim;
  }

  struct Call {
    int fd;
    std::uint64_t offset;
    std::size_t length;
    friend bool operator==(const Call&, const Call&) = default;
  };
  testing::FakeLinuxTree tree;
  std::deque<int> opens;                          // minus errno; none left: a new descriptor
  std::map<std::string, std::deque<int>> ioctls;  // by request; none left: 0
  std::deque<int> moved;                          // bytes per transfer; none left: all asked
  int fsync = 0;
  int block = 4096;
  std::uint64_t size = 1ull << 30;
  int next_fd = 10;
  Names events;
  std::vector<Call> calls;
  std::unique_ptr<LinuxDeviceIo> io;

 private:
  static int Next(std::deque<int>& queue, int otherwise) {
    if (queue.empty()) return otherwise;
    const int value = queue.front();
    queue.pop_front();
    return value;
  }
  void Log(std::string event) { events.push_back(std::move(event)); }
};

// ---------------------------------------------------------------------------------------

struct ClaimCase {
  const char* name;
  int drive;
  void (*setup)(ClaimRig&);
  ClaimOutcome outcome;
  Names users;
  std::string why;
  Names events;  // open and close calls, in order
};

void PrintTo(const ClaimCase& c, std::ostream* os) { *os << c.name; }
class LinuxClaim : public ::testing::TestWithParam<ClaimCase> {};

TEST_P(LinuxClaim, FindsUsersThenHoldsTheDiskExclusively) {
  const ClaimCase& c = GetParam();
  ClaimRig rig;
  if (c.setup) c.setup(rig);
  const DiskClaim claim = rig.io->ClaimDisk(c.drive);
  EXPECT_EQ(claim.outcome, c.outcome);
  EXPECT_EQ(claim.users, c.users);
  EXPECT_EQ(claim.why, c.why);
  EXPECT_EQ(rig.events, c.events);
  EXPECT_TRUE(rig.io->VolumesToDismount(c.drive).empty());
  if (c.outcome != ClaimOutcome::Claimed) {
    EXPECT_EQ(claim.handle, kInvalidHandle);
    return;
  }
  EXPECT_EQ(claim.handle, 10);
  EXPECT_EQ(claim.logical_block_bytes, 4096u);
  EXPECT_EQ(claim.size_bytes, 1ull << 30);
  // A pass-through handle beside the claim is no claim.
  const DeviceHandle plain = rig.io->Open("\\\\.\\PhysicalDrive" + std::to_string(c.drive));
  ASSERT_NE(plain, kInvalidHandle);
  EXPECT_NE(plain, claim.handle);
  std::uint8_t data[4096] = {};
  EXPECT_EQ(rig.io->WriteDisk(plain, 0, data, 4096).error, "the disk is not claimed");
}

const Names kOpenSdb = {"open /dev/sdb exclusive = 10"};

INSTANTIATE_TEST_SUITE_P(
    Disks, LinuxClaim,
    ::testing::Values(
        ClaimCase{"Free", 1, nullptr, ClaimOutcome::Claimed, {}, "", kOpenSdb},
        ClaimCase{"FreeNvme", 31, nullptr, ClaimOutcome::Claimed, {}, "",
                  {"open /dev/nvme0n1 exclusive = 10"}},
        ClaimCase{"PartitionMounted", 1,
                  [](ClaimRig& r) { r.tree.MountInfo(Mount("8:17", "/mnt/data", "/dev/sdb1")); },
                  ClaimOutcome::InUse, {"/dev/sdb1 is mounted at /mnt/data"}, "", {}},
        ClaimCase{"NvmePartitionMounted", 31,
                  [](ClaimRig& r) { r.tree.MountInfo(Mount("259:2", "/var/lib", "/dev/x")); },
                  ClaimOutcome::InUse, {"/dev/nvme0n1p2 is mounted at /var/lib"}, "", {}},
        ClaimCase{"WholeDiskMountedTwice", 1,
                  [](ClaimRig& r) {
                    r.tree.MountInfo(Mount("8:16", "/media/usb", "/dev/sdb") +
                                     Mount("8:16", "/srv/usb", "/dev/sdb", "vfat"));
                  },
                  ClaimOutcome::InUse,
                  {"/dev/sdb is mounted at /media/usb", "/dev/sdb is mounted at /srv/usb"}, "",
                  {}},
        ClaimCase{"EscapedMountPoint", 1,
                  [](ClaimRig& r) {
                    r.tree.MountInfo(Mount("8:18", "/media/my\\040disk\\012", "/dev/sdb2"));
                  },
                  ClaimOutcome::InUse, {"/dev/sdb2 is mounted at /media/my disk?"}, "", {}},
        ClaimCase{"LvmOverBothPartitionsUnderCrypt", 1,
                  [](ClaimRig& r) {
                    r.tree.Stacked("dm-0", "253:0", {"sdb1", "sdb2"}, "vg-data");
                    r.tree.Stacked("dm-1", "253:1", {"dm-0"}, "home_crypt");
                    r.tree.MountInfo(Mount("253:1", "/home", "/dev/mapper/home_crypt"));
                  },
                  ClaimOutcome::InUse,
                  {"/dev/mapper/home_crypt (on /dev/sdb1, /dev/sdb2) is mounted at /home"}, "",
                  {}},
        ClaimCase{"DmHolderNotMounted", 1,
                  [](ClaimRig& r) { r.tree.Stacked("dm-0", "253:0", {"sdb2"}, "vg-data"); },
                  ClaimOutcome::InUse,
                  {"/dev/sdb2 is held by the device-mapper device vg-data (dm-0)"}, "", {}},
        ClaimCase{"MdArrayMounted", 2,
                  [](ClaimRig& r) {
                    r.tree.Stacked("md0", "9:0", {"sdb1", "sdc1"});
                    r.tree.Dir("/sys/devices/virtual/block/md0/md");
                    r.tree.MountInfo(Mount("9:0", "/srv", "/dev/md0"));
                  },
                  ClaimOutcome::InUse, {"/dev/md0 (on /dev/sdc1) is mounted at /srv"}, "", {}},
        ClaimCase{"MdArrayIdle", 1,
                  [](ClaimRig& r) {
                    r.tree.Stacked("md0", "9:0", {"sdb1", "sdc1"});
                    r.tree.Dir("/sys/devices/virtual/block/md0/md");
                  },
                  ClaimOutcome::InUse, {"/dev/sdb1 is held by the md array md0"}, "", {}},
        ClaimCase{"SwapOnPartition", 1,
                  [](ClaimRig& r) { r.tree.Swaps("/dev/sdb2\tpartition\t1048572\t0\t-2\n"); },
                  ClaimOutcome::InUse, {"/dev/sdb2 is in use as swap"}, "", {}},
        ClaimCase{"BtrfsOverTwoDisks", 1,
                  [](ClaimRig& r) {
                    r.tree.Btrfs("5e1f", {"sdc1", "sdb1"});
                    r.tree.MountInfo(Mount("0:45", "/data", "/dev/sdc1", "btrfs"));
                  },
                  ClaimOutcome::InUse,
                  {"/dev/sdb1 is part of the btrfs file system mounted at /data"}, "", {}},
        ClaimCase{"LoopOverTheDisk", 1,
                  [](ClaimRig& r) { r.tree.Loop("loop0", "7:0", "/dev/sdb"); },
                  ClaimOutcome::InUse, {"/dev/sdb is the backing device of loop0"}, "", {}},
        ClaimCase{"MountTableUnreadable", 1,
                  [](ClaimRig& r) {
                    std::filesystem::remove(r.tree.root() + "/proc/self/mountinfo");
                  },
                  ClaimOutcome::Failed, {},
                  "what uses /dev/sdb cannot be told: the mount table (/proc/self/mountinfo) "
                  "cannot be read",
                  {}},
        ClaimCase{"KernelSaysBusy", 1, [](ClaimRig& r) { r.opens = {-EBUSY}; },
                  ClaimOutcome::InUse,
                  {"the kernel reports /dev/sdb busy: something else holds it open exclusively"},
                  "", {"open /dev/sdb exclusive = -16"}},
        ClaimCase{"NoPermission", 1, [](ClaimRig& r) { r.opens = {-EACCES}; },
                  ClaimOutcome::Failed, {}, "permission denied",
                  {"open /dev/sdb exclusive = -13"}},
        ClaimCase{"WriteProtected", 1, [](ClaimRig& r) { r.opens = {-EROFS}; },
                  ClaimOutcome::Failed, {}, "the disk is write-protected",
                  {"open /dev/sdb exclusive = -30"}},
        ClaimCase{"SizeUnknown", 1, [](ClaimRig& r) { r.ioctls["BLKGETSIZE64"] = {-EIO}; },
                  ClaimOutcome::Failed, {},
                  "the kernel did not tell the disk's size: Input/output error",
                  {"open /dev/sdb exclusive = 10", "close 10"}},
        ClaimCase{"OddBlockSize", 1, [](ClaimRig& r) { r.block = 520; }, ClaimOutcome::Failed,
                  {}, "the disk reports a block size of 520 bytes",
                  {"open /dev/sdb exclusive = 10", "close 10"}},
        ClaimCase{"NoSuchDrive", 5, nullptr, ClaimOutcome::Failed, {},
                  "no disk has drive number 5 now", {}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// ---------------------------------------------------------------------------------------

struct ReleaseCase {
  const char* name;
  void (*setup)(ClaimRig&);
  std::string said;
  Names events;
};

void PrintTo(const ReleaseCase& c, std::ostream* os) { *os << c.name; }
class LinuxRelease : public ::testing::TestWithParam<ReleaseCase> {};

TEST_P(LinuxRelease, FlushesRereadsAndAlwaysLetsGo) {
  const ReleaseCase& c = GetParam();
  ClaimRig rig;
  const DiskClaim claim = rig.ClaimSdb();
  if (c.setup) c.setup(rig);
  EXPECT_EQ(rig.io->ReleaseDisk(claim.handle), c.said);
  EXPECT_EQ(rig.events, c.events);
  std::uint8_t data[4096] = {};
  EXPECT_EQ(rig.io->WriteDisk(claim.handle, 0, data, 4096).error, "the disk is not claimed");
  EXPECT_EQ(rig.io->ReleaseDisk(claim.handle), "the disk was not claimed");
  EXPECT_EQ(rig.io->ClaimDisk(1).outcome, ClaimOutcome::Claimed);  // free to claim again
}

const Names kTold = {"fsync 10", "BLKFLSBUF 10", "BLKRRPART 10", "close 10"};
const Names kRetried = {"fsync 10",   "BLKFLSBUF 10", "BLKRRPART 10",
                        "close 10",   "open /dev/sdb read-only = 11", "BLKRRPART 11",
                        "close 11"};

INSTANTIATE_TEST_SUITE_P(
    Releases, LinuxRelease,
    ::testing::Values(
        ReleaseCase{"Told", nullptr, "", kTold},
        ReleaseCase{"NoPartitionTableSupport",
                    [](ClaimRig& r) { r.ioctls["BLKRRPART"] = {-EINVAL}; }, "", kTold},
        ReleaseCase{"BusyWhileHeldThenRereadOnAPlainOpen",
                    [](ClaimRig& r) { r.ioctls["BLKRRPART"] = {-EBUSY, 0}; }, "", kRetried},
        ReleaseCase{"BusyEvenThen", [](ClaimRig& r) { r.ioctls["BLKRRPART"] = {-EBUSY, -EBUSY}; },
                    "the kernel did not re-read the partition table: Device or resource busy",
                    kRetried},
        ReleaseCase{"PlainOpenFails",
                    [](ClaimRig& r) {
                      r.ioctls["BLKRRPART"] = {-EBUSY};
                      r.opens = {-ENOENT};
                    },
                    "the kernel did not re-read the partition table: No such file or directory",
                    {"fsync 10", "BLKFLSBUF 10", "BLKRRPART 10", "close 10",
                     "open /dev/sdb read-only = -2"}},
        ReleaseCase{"FlushAndCacheFail",
                    [](ClaimRig& r) {
                      r.fsync = -EIO;
                      r.ioctls["BLKFLSBUF"] = {-EIO};
                    },
                    "the disk did not confirm the written data: Input/output error; the kernel "
                    "did not drop its cached copy of the disk: Input/output error",
                    kTold}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// ---------------------------------------------------------------------------------------

struct TransferCase {
  const char* name;
  bool write;
  std::uint64_t offset;
  std::uint32_t length;
  std::deque<int> moved;  // what each call answers
  std::string error;      // "" when whole
  std::vector<ClaimRig::Call> calls;
};

void PrintTo(const TransferCase& c, std::ostream* os) { *os << c.name; }
class LinuxTransfer : public ::testing::TestWithParam<TransferCase> {};

TEST_P(LinuxTransfer, WholeOrNotAtAll) {
  const TransferCase& c = GetParam();
  ClaimRig rig;
  const DiskClaim claim = rig.ClaimSdb();
  rig.moved = c.moved;
  std::vector<std::uint8_t> data(c.length);
  const BlockIo io = c.write ? rig.io->WriteDisk(claim.handle, c.offset, data.data(), c.length)
                             : rig.io->ReadDisk(claim.handle, c.offset, data.data(), c.length);
  EXPECT_EQ(io.ok, c.error.empty());
  EXPECT_EQ(io.error, c.error);
  EXPECT_EQ(rig.calls, c.calls);
}

constexpr std::uint64_t kEnd = 1ull << 30;

INSTANTIATE_TEST_SUITE_P(
    Transfers, LinuxTransfer,
    ::testing::Values(
        TransferCase{"Whole", true, 8192, 16384, {}, "", {{10, 8192, 16384}}},
        TransferCase{"ShortWriteRepeatedForTheRest", true, 0, 16384, {4096, 8192}, "",
                     {{10, 0, 16384}, {10, 4096, 12288}, {10, 12288, 4096}}},
        TransferCase{"InterruptedWriteRepeated", true, 0, 8192, {-EINTR}, "",
                     {{10, 0, 8192}, {10, 0, 8192}}},
        TransferCase{"NothingWritten", true, 4096, 8192, {4096, 0}, "short write at byte 8192",
                     {{10, 4096, 8192}, {10, 8192, 4096}}},
        TransferCase{"WriteError", true, 0, 4096, {-EIO}, "Input/output error", {{10, 0, 4096}}},
        TransferCase{"ShortReadRepeated", false, 0, 8192, {4096}, "",
                     {{10, 0, 8192}, {10, 4096, 4096}}},
        TransferCase{"ReadAtTheEnd", false, kEnd - 4096, 4096, {0},
                     "short read at byte 1073737728", {{10, kEnd - 4096, 4096}}},
        TransferCase{"UnalignedOffset", true, 512, 4096, {},
                     "offset 512 or length 4096 is not a multiple of the disk's 4096-byte blocks",
                     {}},
        TransferCase{"UnalignedLength", false, 0, 6144, {},
                     "offset 0 or length 6144 is not a multiple of the disk's 4096-byte blocks",
                     {}},
        TransferCase{"PastTheEnd", true, kEnd - 4096, 8192, {},
                     "byte 1073737728 and on for 8192 bytes lies beyond the end of the disk "
                     "(1073741824 bytes)",
                     {}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace plovix::linuxdev
