// The physical disks that carry the running Windows: every disk under volume C:, under
// the Windows folder's volume, under the system partition the machine booted from (the
// EFI system partition, or the active partition on BIOS machines) and under every
// paging file, through IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS (a spanned, striped or
// mirrored volume names each of its disks).
//
// Whatever cannot be traced to physical disks makes the answer undetermined, and the scan
// then offers no disk at all: a volume that gives no extents, a boot partition the
// registry does not name, a paging file whose path cannot be read, and a system volume
// on a virtual disk (VHD boot) or on Storage Spaces, whose real disks lie beneath
// another layer.
#pragma once

#include "drive/DeviceIo.h"
#include "devices/win32/Win32Calls.h"

#include <string>
#include <vector>

namespace plovix::win32 {

SystemDrives TraceSystemDrives(SystemCalls& calls);

// The physical disks a volume device ("\\?\Volume{...}", no trailing backslash) lies
// on, each extent's disk in the order Windows gives them, opened for queries only.
struct VolumeDisks {
  bool opened = false;
  std::vector<int> disks;  // empty: no extents (error says why, 0 for a reply that makes no sense)
  DWORD error = ERROR_SUCCESS;
};
VolumeDisks FindVolumeDisks(SystemCalls& calls, const std::wstring& device);

}  // namespace plovix::win32
