// The Windows system-disk trace on fake machines: which physical disks carry volume C:,
// the Windows folder, the boot partition and the paging files, and when the answer must
// be "cannot tell", so that the scan offers nothing.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "drive/DriveConnection.h"
#include "inventory/DriveScan.h"
#include "devices/win32/Win32DeviceIo.h"
#include "tests/devices/win32/fake_machine.h"

namespace plovix::win32 {
namespace {

using testing_fake::FakeMachine;

const std::wstring kSetup = L"SYSTEM\\Setup|SystemPartition";
const std::wstring kPaging =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management|ExistingPageFiles";

// The usual machine: C: with Windows on disk 0, the EFI partition (HarddiskVolume1) on
// disk 0, the paging file on C:.
void UsualMachine(FakeMachine& m) {
  m.AddVolume(L"C:\\", L"c", {0});
  m.devices[L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1"].extents = {0};
  m.registry[kSetup] = FakeMachine::Strings(REG_SZ, {L"\\Device\\HarddiskVolume1"});
  m.registry[kPaging] = FakeMachine::Strings(REG_MULTI_SZ, {L"\\??\\C:\\pagefile.sys"});
  for (int n = 0; n < 8; ++n) m.devices[L"\\\\.\\PhysicalDrive" + std::to_wstring(n)].bus = BusTypeNvme;
}

struct LayoutCase {
  const char* name;
  std::function<void(FakeMachine&)> change;
  std::vector<int> disks;
  std::string undetermined;  // a part of the text; empty: none at all
};

const LayoutCase kLayouts[] = {
    {"Usual", [](FakeMachine&) {}, {0}, ""},
    {"BootPartitionOnAnotherDisk",
     [](FakeMachine& m) { m.devices[L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1"].extents = {1}; }, {0, 1}, ""},
    {"WindowsOnD",
     [](FakeMachine& m) {
       m.AddVolume(L"D:\\", L"d", {2});
       m.windows_directory = L"D:\\Windows";
     },
     {0, 2}, ""},
    {"WindowsInAFolderMountedVolume",
     [](FakeMachine& m) {
       m.AddVolume(L"C:\\os\\", L"os", {5});
       m.windows_directory = L"C:\\os\\Windows";
     },
     {0, 5}, ""},
    {"SpannedC", [](FakeMachine& m) { m.devices[L"\\\\?\\Volume{c}"].extents = {0, 3}; }, {0, 3}, ""},
    {"MirrorOfManyExtents",
     [](FakeMachine& m) { m.devices[L"\\\\?\\Volume{c}"].extents = {4, 0, 1, 2, 3, 5, 6, 7, 4, 0, 6, 1}; },
     {0, 1, 2, 3, 4, 5, 6, 7}, ""},
    {"PagingFilesElsewhere",
     [](FakeMachine& m) {
       m.AddVolume(L"E:\\", L"e", {4});
       m.AddVolume(L"C:\\swap\\", L"swap", {6});
       m.devices[L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume9"].extents = {5};
       m.registry[kPaging] = FakeMachine::Strings(
           REG_MULTI_SZ, {L"\\??\\C:\\pagefile.sys", L"\\??\\E:\\pagefile.sys", L"\\??\\C:\\swap\\pagefile.sys",
                          L"\\Device\\HarddiskVolume9\\pagefile.sys"});
     },
     {0, 4, 5, 6}, ""},
    {"NoPagingFile", [](FakeMachine& m) { m.registry.erase(kPaging); }, {0}, ""},
    {"NoDriveC",
     [](FakeMachine& m) {
       m.drive_types[L"C:\\"] = DRIVE_NO_ROOT_DIR;
       m.AddVolume(L"D:\\", L"d", {2});
       m.windows_directory = L"D:\\Windows";
       m.registry[kPaging] = FakeMachine::Strings(REG_MULTI_SZ, {L"\\??\\D:\\pagefile.sys"});
     },
     {0, 2}, ""},
    {"CIsACdOfAStartedFromWinPe",
     [](FakeMachine& m) {
       m.drive_types[L"C:\\"] = DRIVE_CDROM;
       m.AddVolume(L"X:\\", L"x", {1});
       m.windows_directory = L"X:\\Windows";
       m.registry.erase(kPaging);
     },
     {0, 1}, ""},

    {"CGivesNoExtents",
     [](FakeMachine& m) {
       m.devices[L"\\\\?\\Volume{c}"].extents.clear();
       m.devices[L"\\\\?\\Volume{c}"].extents_error = ERROR_INVALID_FUNCTION;
     },
     {0}, "volume C: gives no disk extents (error 1)"},
    {"CHasNoVolumeName", [](FakeMachine& m) { m.volume_names.erase(L"C:\\"); }, {0}, "volume C: has no volume name"},
    {"CCannotBeOpened", [](FakeMachine& m) { m.devices.erase(L"\\\\?\\Volume{c}"); }, {0},
     "volume C: cannot be opened (error 2)"},
    {"NoBootPartitionInTheRegistry", [](FakeMachine& m) { m.registry.erase(kSetup); }, {0},
     "the boot partition is not named in the registry"},
    {"BootPartitionNotADevice",
     [](FakeMachine& m) { m.registry[kSetup] = FakeMachine::Strings(REG_SZ, {L"C:\\EFI"}); }, {0},
     "the boot partition's name C:\\EFI is not a device"},
    {"BootPartitionUntraced",
     [](FakeMachine& m) { m.devices.erase(L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1"); }, {0},
     "the boot partition \\Device\\HarddiskVolume1 cannot be opened"},
    {"PagingFileOnNoNamedVolume",
     [](FakeMachine& m) { m.registry[kPaging] = FakeMachine::Strings(REG_MULTI_SZ, {L"pagefile.sys"}); }, {0},
     "the paging file pagefile.sys is on no volume the program can name"},
    {"PagingFileVolumeUnknown",
     [](FakeMachine& m) { m.registry[kPaging] = FakeMachine::Strings(REG_MULTI_SZ, {L"\\??\\Q:\\pagefile.sys"}); },
     {0}, "the volume of the paging file \\??\\Q:\\pagefile.sys cannot be found"},
    {"PagingFilesUnreadable",
     [](FakeMachine& m) {
       RegistryValue denied;
       denied.status = ERROR_ACCESS_DENIED;
       m.registry[kPaging] = denied;
     },
     {0}, "the paging files cannot be read from the registry (error 5)"},
    {"NoWindowsFolder", [](FakeMachine& m) { m.windows_directory.reset(); }, {0},
     "the Windows folder cannot be found"},
    {"WindowsOnAVirtualDisk",
     [](FakeMachine& m) {
       m.devices[L"\\\\?\\Volume{c}"].extents = {2};
       m.devices[L"\\\\.\\PhysicalDrive2"].bus = BusTypeFileBackedVirtual;
     },
     {0, 2}, "volume C: is on virtual disk 2, whose host disk is not traced"},
    {"WindowsOnStorageSpaces",
     [](FakeMachine& m) {
       m.devices[L"\\\\?\\Volume{c}"].extents = {3};
       m.devices[L"\\\\.\\PhysicalDrive3"].bus = BusTypeSpaces;
     },
     {0, 3}, "volume C: is on Storage Spaces disk 3, whose member disks are not traced"},
};

class SystemLayout : public testing::TestWithParam<LayoutCase> {};

TEST_P(SystemLayout, NamesEverySystemDiskOrSaysWhatItCannotTrace) {
  const LayoutCase& c = GetParam();
  FakeMachine machine;
  UsualMachine(machine);
  c.change(machine);
  Win32DeviceIo io(machine);
  const SystemDrives found = io.FindSystemDrives();
  EXPECT_EQ(found.numbers, c.disks);
  if (c.undetermined.empty()) {
    EXPECT_EQ(found.undetermined, "");
  } else {
    EXPECT_NE(found.undetermined.find(c.undetermined), std::string::npos) << found.undetermined;
  }
  EXPECT_EQ(io.SystemDriveNumbers(), c.disks);
  // Volumes and disks are opened for queries only, by their device names, and closed.
  for (const auto& [path, access] : machine.opened) {
    EXPECT_EQ(access, 0u) << std::string(path.begin(), path.end());
    EXPECT_NE(path.back(), L'\\') << std::string(path.begin(), path.end());
  }
  EXPECT_EQ(machine.open_handles, 0);
}

INSTANTIATE_TEST_SUITE_P(Machines, SystemLayout, testing::ValuesIn(kLayouts),
                         [](const testing::TestParamInfo<LayoutCase>& param_info) {
                           return std::string(param_info.param.name);
                         });

TEST(Win32SystemDisks, ExtentsAreAskedAgainWithRoomForAllOfThem) {
  FakeMachine machine;
  UsualMachine(machine);
  machine.devices[L"\\\\?\\Volume{c}"].extents = {0, 1, 2, 3, 4, 5, 6, 7, 0, 1};
  Win32DeviceIo io(machine);
  EXPECT_EQ(io.FindSystemDrives().numbers, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
  std::vector<DWORD> sizes;
  for (const auto& call : machine.CallsWith(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS)) sizes.push_back(call.out_bytes);
  // C: twice (eight extents did not hold ten), the boot partition once.
  EXPECT_EQ(sizes, (std::vector<DWORD>{8 + 8 * 24, 8 + 10 * 24, 8 + 8 * 24}));
}

// The scan keeps every traced disk out, and offers nothing when the trace is incomplete.
TEST(Win32SystemDisks, ScanOffersNothingWhenTheSystemCannotBeTraced) {
  FakeMachine machine;
  UsualMachine(machine);
  machine.registry.erase(kSetup);
  Win32DeviceIo io(machine);
  IoBuffers buffers;
  DriveConnection connection(io, buffers);
  DriveTable table;
  std::string undetermined;
  ScanDrives(connection, table, table.count, &undetermined);
  EXPECT_EQ(table.count, 0);
  EXPECT_NE(undetermined.find("boot partition"), std::string::npos);
  // Not one disk was opened for the scan's probes.
  for (const auto& [path, access] : machine.opened) EXPECT_EQ(access, 0u);
}

}  // namespace
}  // namespace plovix::win32
