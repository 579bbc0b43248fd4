// The one open-drive handle of the program and the two pass-through send operations.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "drive/DeviceIo.h"
#include "drive/IoBuffers.h"

namespace plovix {

class DriveConnection {
 public:
  DriveConnection(DeviceIo& io, IoBuffers& buffers) : io_(io), buffers_(buffers) {}
  ~DriveConnection() { Close(); }
  DriveConnection(const DriveConnection&) = delete;
  DriveConnection& operator=(const DriveConnection&) = delete;

  // Opens "\\.\PhysicalDrive<n>"; the handle is kept whether or not it is valid.
  bool Open(int drive_number);
  void Close();
  bool IsOpen() const { return handle_ != kInvalidHandle; }

  // Success: the call worked and ERR (status bit 0) is clear. Fails without I/O when closed.
  bool SendAta(const AtaPassThroughRequest& request, AtaPassThroughRequest& reply);
  // Success: the call worked and ScsiStatus is 0. Fails without I/O when closed.
  bool SendScsi(ScsiPassThroughRequest& request);
  // Success: the controller completed the command with a zero status; reply tells the
  // rest (error status, refused by the system, no NVMe here, call failed). Sends
  // nothing, with outcome NotSent, when closed or when the request's data phase does not
  // agree with its opcode and buffer: the adapters move data by the opcode's direction,
  // so a mismatch would read from or write into the wrong memory.
  bool SendNvme(const NvmeRequest& request, NvmeReply& reply);
  // The NVMe namespace the open handle reaches; none when closed or not NVMe.
  std::optional<std::uint32_t> NvmeNamespaceId();

  DeviceIo& io() { return io_; }
  IoBuffers& buffers() { return buffers_; }
  DeviceHandle handle() const { return handle_; }

  // Target of the INQUIRY probe; cleared before each INQUIRY.
  std::uint8_t inquiry_data[40] = {};

 private:
  DeviceIo& io_;
  IoBuffers& buffers_;
  DeviceHandle handle_ = kInvalidHandle;
};

// Probes used by the drive scan. Data lands in buffer A (IDENTIFY) or inquiry_data.
bool IdentifyDevice(DriveConnection& connection);                              // ATA form
bool IdentifyDeviceScsi(DriveConnection& connection, std::uint8_t behind_bridge);  // SCSI forms
bool Inquiry(DriveConnection& connection);

// IDENTIFY DEVICE over ATA pass-through on a handle other than the connection's own
// (the scan's volume probe). Data lands in buffer A.
bool IdentifyDeviceOnHandle(DeviceIo& io, DeviceHandle handle, IoBuffers& buffers);

// Whether an NVMe request's data phase agrees with its opcode (bits 1:0: 00 none, 01 to
// the device, 10 from it; 11 is not used by any command the program sends) and whether a
// data phase has a buffer and a length, and a command without one has neither.
bool NvmeRequestIsWellFormed(const NvmeRequest& request);

// "\\.\PhysicalDrive%d" and "\\.\%c:".
std::string PhysicalDrivePath(int drive_number);
std::string VolumePath(char letter);

}  // namespace plovix
