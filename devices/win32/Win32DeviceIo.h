// Drives through the Windows pass-through interfaces, NVMe drives through what StorNVMe
// carries (Win32Nvme.h), the system's disks traced from its volumes (Win32SystemDisks.h),
// and a whole disk claimed for an erase's writes (Win32DiskClaim.h).
#pragma once

#include "drive/DeviceIo.h"
#include "devices/win32/Win32Calls.h"
#include "devices/win32/Win32DiskClaim.h"

namespace plovix::win32 {

class Win32DeviceIo : public DeviceIo {
 public:
  // On the machine's own Windows.
  Win32DeviceIo();
  // On the given calls: a fake machine in tests.
  explicit Win32DeviceIo(SystemCalls& calls) : calls_(calls) {}

  DeviceHandle Open(const std::string& path) override;
  void Close(DeviceHandle handle) override;
  bool AtaPassThrough(DeviceHandle handle, const AtaPassThroughRequest& request,
                      AtaPassThroughRequest& reply) override;
  bool ScsiPassThrough(DeviceHandle handle, ScsiPassThroughRequest& request) override;
  std::vector<int> SystemDriveNumbers() override;
  SystemDrives FindSystemDrives() override;
  NvmeReply NvmePassThrough(DeviceHandle handle, const NvmeRequest& request) override;
  std::optional<std::uint32_t> NvmeNamespaceId(DeviceHandle handle) override;

  std::vector<std::string> VolumesToDismount(int drive_number) override;
  DiskClaim ClaimDisk(int drive_number) override;
  BlockIo WriteDisk(DeviceHandle claim, std::uint64_t offset, const std::uint8_t* data,
                    std::uint32_t length) override;
  BlockIo ReadDisk(DeviceHandle claim, std::uint64_t offset, std::uint8_t* data, std::uint32_t length) override;
  std::string ReleaseDisk(DeviceHandle claim) override;

 private:
  SystemCalls& calls_;
  DiskClaims claims_{calls_};
};

}  // namespace plovix::win32
