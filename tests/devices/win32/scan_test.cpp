// The program's drive scan over the Windows adapter on a fake machine with NVMe disks:
// the data disk is listed with its identity and size, the system's NVMe disk is not.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "drive/DriveConnection.h"
#include "inventory/DriveScan.h"
#include "devices/win32/Win32DeviceIo.h"
#include "tests/devices/win32/fake_machine.h"

namespace plovix::win32 {
namespace {

using testing_fake::FakeMachine;
using testing_fake::NvmeDisk;
using testing_fake::PutDword;

void Text(std::vector<std::uint8_t>& data, std::size_t at, std::size_t size, const std::string& text) {
  std::fill(data.begin() + static_cast<std::ptrdiff_t>(at), data.begin() + static_cast<std::ptrdiff_t>(at + size),
            ' ');
  std::memcpy(data.data() + at, text.data(), text.size());
}

// A StorNVMe disk with one namespace of blocks x block_bytes.
testing_fake::Device NvmeDevice(const std::string& model, const std::string& serial, std::uint64_t blocks,
                                DWORD block_bytes) {
  testing_fake::Device d;
  d.bus = BusTypeNvme;
  d.bytes_per_sector = block_bytes;
  d.content.assign(std::size_t{64} * block_bytes, 0);
  d.nvme = NvmeDisk{};
  std::vector<std::uint8_t>& id = d.nvme->identify_controller;
  Text(id, 4, 20, serial);
  Text(id, 24, 40, model);
  Text(id, 64, 8, "FW1.0");
  id[256] = 0x10;                  // device self-test
  PutDword(id.data() + 516, 1);    // one namespace
  std::vector<std::uint8_t> ns(4096, 0);
  for (int i = 0; i < 8; ++i) ns[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(blocks >> (8 * i));
  ns[130] = block_bytes == 4096 ? 12 : 9;
  d.nvme->identify_namespace[1] = ns;
  return d;
}

TEST(Win32Scan, ListsTheDataNvmeDiskAndNotTheSystemOne) {
  FakeMachine machine;
  machine.AddVolume(L"C:\\", L"c", {0});
  machine.devices[L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1"].extents = {0};
  machine.registry[L"SYSTEM\\Setup|SystemPartition"] =
      FakeMachine::Strings(REG_SZ, {L"\\Device\\HarddiskVolume1"});
  machine.devices[L"\\\\.\\PhysicalDrive0"] = NvmeDevice("System SSD", "SYS0001", 1u << 20, 512);
  machine.devices[L"\\\\.\\PhysicalDrive1"] = NvmeDevice("Data SSD 4K", "DATA0002", 1u << 18, 4096);
  // The scan also opens the volume C: and identifies its disk.
  machine.devices[L"\\\\.\\C:"] = machine.devices[L"\\\\.\\PhysicalDrive0"];

  Win32DeviceIo io(machine);
  IoBuffers buffers;
  DriveConnection connection(io, buffers);
  DriveTable table;
  std::string undetermined = "unset";
  ScanDrives(connection, table, table.count, &undetermined);
  EXPECT_EQ(undetermined, "");
  ASSERT_EQ(table.count, 1);
  const DriveRecord& r = table.records[0];
  EXPECT_EQ(r.drive_number, 1);
  EXPECT_STREQ(r.model, "Data SSD 4K");
  EXPECT_STREQ(r.serial, "DATA0002");
  EXPECT_EQ(r.nvme, 1);
  EXPECT_EQ(r.nvme_nsid, 1u);
  EXPECT_EQ(r.nvme_block_bytes, 4096u);
  EXPECT_EQ(r.total_sectors, std::uint64_t{1} << 21);  // in 512-byte sectors
  EXPECT_EQ(machine.open_handles, 0);
}

}  // namespace
}  // namespace plovix::win32
