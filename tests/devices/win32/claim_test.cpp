// The Windows adapter's claim of a whole disk for an erase, on a fake machine: which
// volumes it locks and dismounts and in what order, when it claims nothing, how it
// writes and reads through the claim, and what its release tells and gives back.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "devices/win32/Win32DeviceIo.h"
#include "tests/devices/win32/fake_machine.h"

namespace plovix::win32 {
namespace {

using testing_fake::Device;
using testing_fake::FakeMachine;
using Steps = std::vector<std::string>;

const std::wstring kDisk = L"\\\\.\\PhysicalDrive3";
constexpr std::size_t kDiskBytes = 64 * 512;

// Disk 3, 32 KiB, holding 0xAA; Windows on volume C: of disk 0.
struct Rig {
  FakeMachine machine;
  Win32DeviceIo io{machine};
  Rig() {
    machine.AddVolume(L"C:\\", L"c", {0});
    machine.devices[L"\\\\.\\PhysicalDrive0"].content.assign(kDiskBytes, 0);
    disk().content.assign(kDiskBytes, 0xAA);
  }
  Device& disk() { return machine.devices[kDisk]; }
  // Nothing left open or locked, nothing closed twice.
  void ExpectAllGivenBack() {
    EXPECT_EQ(machine.open_handles, 0);
    EXPECT_EQ(machine.bad_closes, 0);
    for (const auto& [path, device] : machine.devices) EXPECT_EQ(device.locked_by, nullptr);
  }
};

// Memory aligned as the erase gives it.
struct Pages {
  explicit Pages(std::size_t bytes) : raw(bytes + 4096) {
    data = raw.data() + (4096 - reinterpret_cast<std::uintptr_t>(raw.data()) % 4096) % 4096;
  }
  std::vector<std::uint8_t> raw;
  std::uint8_t* data;
};

struct ClaimCase {
  const char* name;
  std::function<void(Rig&)> setup;
  ClaimOutcome outcome;
  std::vector<std::string> volumes;  // VolumesToDismount(3)
  std::string said;                  // InUse: the users joined by "|"; Failed: why
  Steps steps;                       // of the claim, and of a release when Claimed
};

const Steps kTwoLocked = {"open d", "lock d", "open e", "lock e", "dismount d", "dismount e"};

Steps Then(Steps a, const Steps& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

void TwoVolumes(Rig& r) {
  r.machine.AddVolume(L"E:\\", L"e", {3});  // listed first, named second
  r.machine.AddVolume(L"D:\\", L"d", {3});
}

const ClaimCase kClaims[] = {
    {"NoVolumes", [](Rig&) {}, ClaimOutcome::Claimed, {}, "",
     {"open disk3 direct", "geometry disk3", "flush disk3", "update disk3", "close disk3"}},
    {"TwoVolumesLockedDismountedAndGivenBack", TwoVolumes, ClaimOutcome::Claimed, {"D:", "E:"}, "",
     Then(kTwoLocked, {"open disk3 direct", "geometry disk3", "flush disk3", "update disk3", "close disk3",
                       "unlock d", "close d", "unlock e", "close e"})},
    {"SpannedAndUnletteredVolumesCount",
     [](Rig& r) {
       r.machine.AddVolume(L"C:\\data\\", L"f", {2, 3});
       r.machine.AddVolumeWithoutRoot(L"esp", {3});
     },
     ClaimOutcome::Claimed, {"C:\\data", "\\\\?\\Volume{esp}"}, "",
     {"open f", "lock f", "open esp", "lock esp", "dismount f", "dismount esp", "open disk3 direct",
      "geometry disk3", "flush disk3", "update disk3", "close disk3", "unlock f", "close f", "unlock esp",
      "close esp"}},
    {"VolumeWithOpenFiles",
     [](Rig& r) {
       TwoVolumes(r);
       r.machine.VolumeDevice(L"e").lock_error = ERROR_ACCESS_DENIED;
     },
     ClaimOutcome::InUse, {"D:", "E:"}, "E: has files open and cannot be locked",
     {"open d", "lock d", "open e", "lock e", "close e", "unlock d", "close d"}},
    {"VolumeOpenWithoutSharing",
     [](Rig& r) {
       TwoVolumes(r);
       r.machine.VolumeDevice(L"d").open_error = ERROR_SHARING_VIOLATION;
       r.machine.VolumeDevice(L"e").lock_error = ERROR_SHARING_VIOLATION;
     },
     ClaimOutcome::InUse, {"D:", "E:"},
     "D: is held open by another program|E: has files open and cannot be locked",
     {"open e", "lock e", "close e"}},
    {"VolumeNotForUsers", [](Rig& r) {
       TwoVolumes(r);
       r.machine.VolumeDevice(L"e").open_error = ERROR_ACCESS_DENIED;
     },
     ClaimOutcome::Failed, {"D:", "E:"}, "access denied to E: (run as administrator)",
     {"open d", "lock d", "unlock d", "close d"}},
    {"LockRefused", [](Rig& r) {
       TwoVolumes(r);
       r.machine.VolumeDevice(L"d").lock_error = ERROR_INVALID_FUNCTION;
     },
     ClaimOutcome::Failed, {"D:", "E:"}, "D: cannot be locked: the device does not support the request (error 1)",
     {"open d", "lock d", "close d"}},
    {"DismountFails", [](Rig& r) {
       TwoVolumes(r);
       r.machine.VolumeDevice(L"e").dismount_error = ERROR_NOT_READY;
     },
     ClaimOutcome::Failed, {"D:", "E:"}, "E: cannot be dismounted: the device is not ready (error 21)",
     Then(kTwoLocked, {"unlock d", "close d", "unlock e", "close e"})},
    {"DiskNotForUsers", [](Rig& r) { r.disk().open_error = ERROR_ACCESS_DENIED; }, ClaimOutcome::Failed, {},
     "access denied (run as administrator)", {}},
    {"DiskOpenWithoutSharing", [](Rig& r) { r.disk().open_error = ERROR_SHARING_VIOLATION; }, ClaimOutcome::InUse,
     {}, "another program holds disk 3 open", {}},
    {"NoGeometry",
     [](Rig& r) {
       r.machine.AddVolume(L"D:\\", L"d", {3});
       r.disk().geometry_error = ERROR_IO_DEVICE;
     },
     ClaimOutcome::Failed, {"D:"}, "Windows gives no geometry for disk 3: I/O device error (error 1117)",
     {"open d", "lock d", "dismount d", "open disk3 direct", "geometry disk3", "close disk3", "unlock d",
      "close d"}},
    {"NonsenseGeometry", [](Rig& r) { r.disk().bytes_per_sector = 520; }, ClaimOutcome::Failed, {},
     "Windows gives disk 3 520-byte sectors and 32768 bytes, which cannot be right",
     {"open disk3 direct", "geometry disk3", "close disk3"}},
    {"NoVolumeList", [](Rig& r) { r.machine.volumes_error = ERROR_GEN_FAILURE; }, ClaimOutcome::Failed, {},
     "Windows does not list its volumes: the device does not work (error 31)", {}},
};

void PrintTo(const ClaimCase& c, std::ostream* os) { *os << c.name; }

class Claim : public testing::TestWithParam<ClaimCase> {};

TEST_P(Claim, LocksTheDisksVolumesOrClaimsNothing) {
  const ClaimCase& c = GetParam();
  Rig rig;
  c.setup(rig);
  EXPECT_EQ(rig.io.VolumesToDismount(3), c.volumes);
  rig.machine.steps.clear();
  const DiskClaim claim = rig.io.ClaimDisk(3);
  EXPECT_EQ(claim.outcome, c.outcome);
  std::string said = claim.why;
  for (const std::string& user : claim.users) said += (said.empty() ? "" : "|") + user;
  EXPECT_EQ(said, c.said);
  if (claim.outcome == ClaimOutcome::Claimed) {
    EXPECT_EQ(claim.logical_block_bytes, 512u);
    EXPECT_EQ(claim.size_bytes, kDiskBytes);
    // Windows refuses writes into a mounted volume's sectors: the claim got past them.
    Pages zeros(512);
    std::memset(zeros.data, 0, 512);
    EXPECT_TRUE(rig.io.WriteDisk(claim.handle, 0, zeros.data, 512).ok);
    EXPECT_EQ(rig.io.ReleaseDisk(claim.handle), "");
  } else {
    EXPECT_EQ(claim.handle, kInvalidHandle);
  }
  EXPECT_EQ(rig.machine.steps, c.steps);
  rig.ExpectAllGivenBack();
}

INSTANTIATE_TEST_SUITE_P(Cases, Claim, testing::ValuesIn(kClaims),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(Win32Claim, FourKilobyteSectorsAndOneClaimPerDiskUntilTheAdapterEnds) {
  Rig rig;
  rig.disk().bytes_per_sector = 4096;
  rig.machine.AddVolume(L"D:\\", L"d", {3});
  {
    Win32DeviceIo io(rig.machine);
    const DiskClaim claim = io.ClaimDisk(3);
    ASSERT_EQ(claim.outcome, ClaimOutcome::Claimed);
    EXPECT_EQ(claim.logical_block_bytes, 4096u);
    const DiskClaim again = io.ClaimDisk(3);
    EXPECT_EQ(again.outcome, ClaimOutcome::InUse);
    EXPECT_EQ(again.users, std::vector<std::string>{"another erase holds disk 3"});
    EXPECT_EQ(rig.machine.open_handles, 2);
  }
  rig.ExpectAllGivenBack();
}

enum class Use { Claim, Released, PassThrough };

struct TransferCase {
  const char* name;
  bool write;
  std::function<void(Device&)> setup;
  std::uint64_t offset;
  std::uint32_t length;
  std::size_t misalign = 0;  // bytes past the page the buffer starts
  Use use = Use::Claim;
  std::string error;                                           // empty: whole
  std::vector<std::pair<std::uint64_t, DWORD>> transfers = {};  // offset, bytes asked
};

const TransferCase kTransfers[] = {
    {"WholeWrite", true, [](Device&) {}, 1024, 2048, 0, Use::Claim, "", {{1024, 2048}}},
    {"ShortWriteRepeated", true, [](Device& d) { d.transfer_limits = {512, 1024}; }, 0, 2048, 0, Use::Claim, "",
     {{0, 2048}, {512, 1536}, {1536, 512}}},
    {"PartSectorWrittenAgain", true, [](Device& d) { d.transfer_limits = {700}; }, 0, 2048, 0, Use::Claim, "",
     {{0, 2048}, {512, 1536}}},
    {"ShortReadRepeated", false, [](Device& d) { d.transfer_limits = {1536}; }, 512, 2048, 0, Use::Claim, "",
     {{512, 2048}, {2048, 512}}},
    {"NothingMoved", true, [](Device& d) { d.transfer_limits = {512, 0}; }, 0, 2048, 0, Use::Claim,
     "Windows moved no bytes at offset 512", {{0, 2048}, {512, 1536}}},
    {"WriteError", true, [](Device& d) { d.write_error = ERROR_IO_DEVICE; }, 0, 512, 0, Use::Claim,
     "I/O device error (error 1117)", {{0, 512}}},
    {"ReadError", false, [](Device& d) { d.read_error = ERROR_CRC; }, 0, 512, 0, Use::Claim,
     "data error (cyclic redundancy check) (error 23)", {{0, 512}}},
    {"UnknownError", true, [](Device& d) { d.write_error = 0x20000001; }, 0, 512, 0, Use::Claim, "error 536870913",
     {{0, 512}}},
    {"OddOffset", true, [](Device&) {}, 100, 512, 0, Use::Claim, "the transfer is not in whole 512-byte blocks"},
    {"OddLength", false, [](Device&) {}, 0, 1000, 0, Use::Claim, "the transfer is not in whole 512-byte blocks"},
    {"UnalignedMemory", true, [](Device&) {}, 0, 512, 16, Use::Claim, "the buffer is not aligned to 512 bytes"},
    {"PastTheEnd", true, [](Device&) {}, kDiskBytes - 512, 1024, 0, Use::Claim,
     "the transfer reaches past the end of the disk"},
    {"ReleasedClaim", true, [](Device&) {}, 0, 512, 0, Use::Released, "the disk is not claimed"},
    {"PassThroughHandle", false, [](Device&) {}, 0, 512, 0, Use::PassThrough, "the disk is not claimed"},
};

void PrintTo(const TransferCase& c, std::ostream* os) { *os << c.name; }

class Transfer : public testing::TestWithParam<TransferCase> {};

TEST_P(Transfer, IsWholeOrFailsInWindowsWords) {
  const TransferCase& c = GetParam();
  Rig rig;
  c.setup(rig.disk());
  const DiskClaim claim = rig.io.ClaimDisk(3);
  ASSERT_EQ(claim.outcome, ClaimOutcome::Claimed);
  DeviceHandle handle = claim.handle;
  if (c.use == Use::Released) {
    EXPECT_EQ(rig.io.ReleaseDisk(claim.handle), "");
  }
  if (c.use == Use::PassThrough) handle = rig.io.Open("\\\\.\\PhysicalDrive3");

  Pages pages(4096 + c.misalign);
  std::uint8_t* data = pages.data + c.misalign;
  for (std::uint32_t i = 0; i < c.length; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 1);
  const BlockIo done = c.write ? rig.io.WriteDisk(handle, c.offset, data, c.length)
                               : rig.io.ReadDisk(handle, c.offset, data, c.length);
  EXPECT_EQ(done.ok, c.error.empty());
  EXPECT_EQ(done.error, c.error);
  std::vector<std::pair<std::uint64_t, DWORD>> transfers;
  for (const auto& t : rig.machine.transfers) {
    EXPECT_EQ(t.write, c.write);
    transfers.emplace_back(t.offset, t.bytes);
  }
  // The write that shows the volumes were taken off-line is the claim table's.
  EXPECT_EQ(transfers, c.transfers);
  if (done.ok) {
    const std::vector<std::uint8_t>& content = rig.disk().content;
    for (std::uint32_t i = 0; i < c.length; ++i) {
      ASSERT_EQ(c.write ? content[c.offset + i] : data[i], c.write ? data[i] : 0xAA) << "byte " << i;
    }
  }
  if (c.use == Use::PassThrough) rig.io.Close(handle);
  if (c.use != Use::Released) rig.io.ReleaseDisk(claim.handle);
  rig.ExpectAllGivenBack();
}

INSTANTIATE_TEST_SUITE_P(Cases, Transfer, testing::ValuesIn(kTransfers),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

struct ReleaseCase {
  const char* name;
  DWORD flush_error;
  DWORD update_error;
  std::string said;
};

const ReleaseCase kReleases[] = {
    {"Told", 0, 0, ""},
    {"PropertiesNotUpdated", 0, ERROR_INVALID_FUNCTION,
     "Windows did not update the disk's properties: the device does not support the request (error 1)"},
    {"CacheNotWritten", ERROR_WRITE_FAULT, 0, "Windows did not write the disk's cache out: write fault (error 29)"},
    {"Both", ERROR_IO_DEVICE, ERROR_DEV_NOT_EXIST,
     "Windows did not write the disk's cache out: I/O device error (error 1117); "
     "Windows did not update the disk's properties: the device is gone (error 55)"},
};

void PrintTo(const ReleaseCase& c, std::ostream* os) { *os << c.name; }

class Release : public testing::TestWithParam<ReleaseCase> {};

TEST_P(Release, SaysWhatFailedAndGivesEverythingBack) {
  const ReleaseCase& c = GetParam();
  Rig rig;
  rig.machine.AddVolume(L"D:\\", L"d", {3});
  rig.disk().flush_error = c.flush_error;
  rig.disk().update_error = c.update_error;
  const DiskClaim claim = rig.io.ClaimDisk(3);
  ASSERT_EQ(claim.outcome, ClaimOutcome::Claimed);
  rig.machine.steps.clear();
  EXPECT_EQ(rig.io.ReleaseDisk(claim.handle), c.said);
  EXPECT_EQ(rig.machine.steps, (Steps{"flush disk3", "update disk3", "close disk3", "unlock d", "close d"}));
  rig.ExpectAllGivenBack();
  // Given back once: a second release of the same claim touches nothing.
  EXPECT_EQ(rig.io.ReleaseDisk(claim.handle), "the disk is not claimed");
  EXPECT_EQ(rig.machine.steps.size(), 5u);
}

INSTANTIATE_TEST_SUITE_P(Cases, Release, testing::ValuesIn(kReleases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace plovix::win32
