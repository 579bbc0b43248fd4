// The device port: everything the program needs from the operating system to talk
// to a drive. Adapters (Windows, Linux, the simulated bench) implement it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plovix {

using DeviceHandle = std::intptr_t;
inline constexpr DeviceHandle kInvalidHandle = -1;

// ATA_FLAGS_* values of the Windows ATA pass-through interface.
inline constexpr std::uint16_t kAtaFlagsDataIn = 0x02;
inline constexpr std::uint16_t kAtaFlagsDataOut = 0x04;
inline constexpr std::uint16_t kAtaFlags48Bit = 0x08;

// Task-file byte positions (IDEREGS order).
enum TaskFileIndex : int {
  kTfFeature = 0,
  kTfSectorCount = 1,
  kTfLbaLow = 2,
  kTfLbaMid = 3,
  kTfLbaHigh = 4,
  kTfDevice = 5,
  kTfCommand = 6,  // status register in a reply
  kTfReserved = 7,
};

// Mirrors the members of ATA_PASS_THROUGH_DIRECT that the program fills or reads.
struct AtaPassThroughRequest {
  std::uint16_t Length = 40;
  std::uint16_t AtaFlags = 0;
  std::uint8_t PathId = 0;
  std::uint8_t TargetId = 0;
  std::uint8_t Lun = 0;
  std::uint32_t DataTransferLength = 0;
  std::uint32_t TimeOutValue = 0;
  std::uint8_t* DataBuffer = nullptr;
  std::uint8_t PreviousTaskFile[8] = {};
  std::uint8_t CurrentTaskFile[8] = {};
};

// SCSI_IOCTL_DATA_* values.
inline constexpr std::uint8_t kScsiDataOut = 0;
inline constexpr std::uint8_t kScsiDataIn = 1;
inline constexpr std::uint8_t kScsiDataUnspecified = 2;

// Mirrors SCSI_PASS_THROUGH_DIRECT followed by filler and a 32-byte sense area: the one
// buffer that is both input and output of the call.
struct ScsiPassThroughRequest {
  std::uint16_t Length = 44;
  std::uint8_t ScsiStatus = 0;
  std::uint8_t PathId = 0;
  std::uint8_t TargetId = 0;
  std::uint8_t Lun = 0;
  std::uint8_t CdbLength = 0;
  std::uint8_t SenseInfoLength = 0;
  std::uint8_t DataIn = kScsiDataUnspecified;
  std::uint32_t DataTransferLength = 0;
  std::uint32_t TimeOutValue = 0;
  std::uint8_t* DataBuffer = nullptr;
  std::uint32_t SenseInfoOffset = 0;
  std::uint8_t Cdb[16] = {};
  std::uint8_t Sense[32] = {};
};

// The drives that carry the running system, as far as the adapter can tell.
struct SystemDrives {
  std::vector<int> numbers;
  // What the adapter could not trace to its disks, in its own words; empty when it could
  // trace everything. The system may then be on any drive, so the scan offers none.
  std::string undetermined;
};

class DeviceIo {
 public:
  virtual ~DeviceIo() = default;
  // Opens "\\.\PhysicalDriveN" or "\\.\X:" for read/write with shared read/write.
  // Returns kInvalidHandle when the path cannot be opened.
  virtual DeviceHandle Open(const std::string& path) = 0;
  virtual void Close(DeviceHandle handle) = 0;
  // One ATA pass-through call. Returns whether the call itself worked; the reply's
  // CurrentTaskFile[kTfCommand] then holds the drive's status register.
  virtual bool AtaPassThrough(DeviceHandle handle, const AtaPassThroughRequest& request,
                              AtaPassThroughRequest& reply) = 0;
  // One SCSI pass-through call on a buffer that is input and output. Returns whether
  // the call itself worked; request.ScsiStatus then holds the SCSI status.
  virtual bool ScsiPassThrough(DeviceHandle handle, ScsiPassThroughRequest& request) = 0;
  // Physical drive numbers that carry the running system, where the adapter can tell.
  // A system spread over several disks (RAID, volume groups) names all of them; the scan
  // keeps every one of them out of the table, like the disk behind volume C:.
  virtual std::vector<int> SystemDriveNumbers() { return {}; }
  // The same, and whether the adapter could trace the whole system; the scan asks this.
  virtual SystemDrives FindSystemDrives() { return {SystemDriveNumbers(), {}}; }
};

}  // namespace plovix
