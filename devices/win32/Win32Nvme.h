// NVMe commands through what the Windows storage stack (StorNVMe) lets a program send:
//
//   Identify controller     IOCTL_STORAGE_QUERY_PROPERTY, StorageAdapterProtocolSpecificProperty
//   Identify namespace      IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceProtocolSpecificProperty
//   Get Log Page            IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceProtocolSpecificProperty
//   Device Self-test        IOCTL_STORAGE_PROTOCOL_COMMAND (Windows 10 1903 and later)
//   Read / Write            ReadFile / WriteFile on the disk at block offset
//   Flush                   FlushFileBuffers (the disk driver sends SYNCHRONIZE CACHE)
//   Verify, Write Zeroes,   Refused: StorNVMe carries neither, nor any other command
//   everything else
//
// Windows refuses writes to sectors of a mounted volume (ERROR_ACCESS_DENIED); that comes
// back Refused, so the flow can tell the user. The adapter never locks or dismounts a
// volume.
#pragma once

#include <windows.h>
#include <winioctl.h>

#include <cstdint>
#include <optional>

#include "drive/DeviceIo.h"
#include "devices/win32/Win32Calls.h"

namespace plovix::win32 {

// From the build that StorNVMe carries Device Self-test and log page offsets.
inline constexpr DWORD kFirstBuildWithNvmeCommands = 18362;  // Windows 10 1903

// The namespace an open disk (or volume) handle reaches, when StorNVMe drives it.
// Windows shows each namespace as a disk of its own but names no NSID: a controller
// with one namespace (nearly all) has NSID 1; with more, the one whose size is the
// disk's, tried first at the SCSI address StorNVMe gives it (LUN, then target, plus 1).
// None when that is not one namespace for certain.
std::optional<std::uint32_t> FindNvmeNamespace(SystemCalls& calls, HANDLE handle);

// One command on an open handle, translated as above.
NvmeReply SendNvme(SystemCalls& calls, HANDLE handle, const NvmeRequest& request);

// The bus Windows reports for the disk under a handle (StorageDeviceProperty).
std::optional<STORAGE_BUS_TYPE> StorageBusType(SystemCalls& calls, HANDLE handle);

// What a failed call's Win32 error means for the flows: the system's refusal, or a call
// that failed.
NvmeOutcome OutcomeOfError(DWORD error);

}  // namespace plovix::win32
