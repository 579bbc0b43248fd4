#include "devices/win32/Win32DeviceIo.h"

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "devices/win32/Win32Nvme.h"
#include "devices/win32/Win32SystemDisks.h"

namespace plovix::win32 {

namespace {

// The SCSI request and its sense area in one buffer, as the driver wants it. The sizes
// and the sense offset differ between 32- and 64-bit builds (the structure holds a
// pointer), so both come from the compiler, never from fixed numbers.
struct ScsiBuffer {
  SCSI_PASS_THROUGH_DIRECT sptd;
  ULONG filler;
  UCHAR sense[32];
};
static_assert(offsetof(ScsiBuffer, sense) >= sizeof(SCSI_PASS_THROUGH_DIRECT));
static_assert(IOCTL_ATA_PASS_THROUGH_DIRECT == 0x4D030 && IOCTL_SCSI_PASS_THROUGH_DIRECT == 0x4D014);
static_assert(sizeof(ScsiPassThroughRequest::Sense) == sizeof(ScsiBuffer::sense));
static_assert(sizeof(AtaPassThroughRequest::CurrentTaskFile) == sizeof(ATA_PASS_THROUGH_DIRECT::CurrentTaskFile));

// kInvalidHandle (-1) is INVALID_HANDLE_VALUE, so a handle passes both ways unchanged.

HANDLE Native(DeviceHandle handle) { return reinterpret_cast<HANDLE>(handle); }

RealSystemCalls& MachineCalls() {
  static RealSystemCalls calls;
  return calls;
}

}  // namespace

Win32DeviceIo::Win32DeviceIo() : calls_(MachineCalls()) {}

DeviceHandle Win32DeviceIo::Open(const std::string& path) {
  // The program's paths are ASCII ("\\.\PhysicalDrive3", "\\.\C:").
  const std::wstring wide(path.begin(), path.end());
  HANDLE h = calls_.Open(wide, GENERIC_READ | GENERIC_WRITE);
  if (h == INVALID_HANDLE_VALUE) return kInvalidHandle;
  return reinterpret_cast<DeviceHandle>(h);
}

void Win32DeviceIo::Close(DeviceHandle handle) {
  if (handle != kInvalidHandle) calls_.Close(Native(handle));
}

bool Win32DeviceIo::AtaPassThrough(DeviceHandle handle, const AtaPassThroughRequest& request,
                                   AtaPassThroughRequest& reply) {
  ATA_PASS_THROUGH_DIRECT in{};
  ATA_PASS_THROUGH_DIRECT out{};
  // The driver checks Length against its own structure size, which is 48 on x64.
  in.Length = sizeof(ATA_PASS_THROUGH_DIRECT);
  in.AtaFlags = request.AtaFlags;
  in.PathId = request.PathId;
  in.TargetId = request.TargetId;
  in.Lun = request.Lun;
  in.DataTransferLength = request.DataTransferLength;
  in.TimeOutValue = request.TimeOutValue;
  in.DataBuffer = request.DataBuffer;
  std::memcpy(in.PreviousTaskFile, request.PreviousTaskFile, sizeof in.PreviousTaskFile);
  std::memcpy(in.CurrentTaskFile, request.CurrentTaskFile, sizeof in.CurrentTaskFile);

  DWORD returned = 0;
  const BOOL ok =
      calls_.Control(Native(handle), IOCTL_ATA_PASS_THROUGH_DIRECT, &in, sizeof in, &out, sizeof out, &returned);
  reply = AtaPassThroughRequest{};
  reply.Length = out.Length;
  reply.AtaFlags = out.AtaFlags;
  reply.PathId = out.PathId;
  reply.TargetId = out.TargetId;
  reply.Lun = out.Lun;
  reply.DataTransferLength = out.DataTransferLength;
  reply.TimeOutValue = out.TimeOutValue;
  std::memcpy(reply.PreviousTaskFile, out.PreviousTaskFile, sizeof reply.PreviousTaskFile);
  std::memcpy(reply.CurrentTaskFile, out.CurrentTaskFile, sizeof reply.CurrentTaskFile);
  return ok != FALSE;
}

bool Win32DeviceIo::ScsiPassThrough(DeviceHandle handle, ScsiPassThroughRequest& request) {
  ScsiBuffer buffer{};
  SCSI_PASS_THROUGH_DIRECT& sptd = buffer.sptd;
  sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
  sptd.PathId = request.PathId;
  sptd.TargetId = request.TargetId;
  sptd.Lun = request.Lun;
  sptd.CdbLength = request.CdbLength;
  sptd.SenseInfoLength = static_cast<UCHAR>(std::min<std::size_t>(request.SenseInfoLength, sizeof buffer.sense));
  sptd.DataIn = request.DataIn;
  sptd.DataTransferLength = request.DataTransferLength;
  sptd.TimeOutValue = request.TimeOutValue;
  sptd.DataBuffer = request.DataBuffer;
  sptd.SenseInfoOffset = offsetof(ScsiBuffer, sense);
  std::memcpy(sptd.Cdb, request.Cdb, sizeof sptd.Cdb);

  DWORD returned = 0;
  const BOOL ok = calls_.Control(Native(handle), IOCTL_SCSI_PASS_THROUGH_DIRECT, &buffer, sizeof buffer, &buffer,
                                 sizeof buffer, &returned);
  request.ScsiStatus = sptd.ScsiStatus;
  request.DataTransferLength = sptd.DataTransferLength;
  std::memcpy(request.Sense, buffer.sense, sizeof request.Sense);
  return ok != FALSE;
}

std::vector<int> Win32DeviceIo::SystemDriveNumbers() { return FindSystemDrives().numbers; }

SystemDrives Win32DeviceIo::FindSystemDrives() { return TraceSystemDrives(calls_); }

NvmeReply Win32DeviceIo::NvmePassThrough(DeviceHandle handle, const NvmeRequest& request) {
  return SendNvme(calls_, Native(handle), request);
}

std::optional<std::uint32_t> Win32DeviceIo::NvmeNamespaceId(DeviceHandle handle) {
  return FindNvmeNamespace(calls_, Native(handle));
}

std::vector<std::string> Win32DeviceIo::VolumesToDismount(int drive_number) { return claims_.VolumesOn(drive_number); }

DiskClaim Win32DeviceIo::ClaimDisk(int drive_number) { return claims_.Claim(drive_number); }

BlockIo Win32DeviceIo::WriteDisk(DeviceHandle claim, std::uint64_t offset, const std::uint8_t* data,
                                 std::uint32_t length) {
  return claims_.Write(claim, offset, data, length);
}

BlockIo Win32DeviceIo::ReadDisk(DeviceHandle claim, std::uint64_t offset, std::uint8_t* data, std::uint32_t length) {
  return claims_.Read(claim, offset, data, length);
}

std::string Win32DeviceIo::ReleaseDisk(DeviceHandle claim) { return claims_.Release(claim); }

}  // namespace plovix::win32
