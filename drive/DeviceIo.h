// The device port: everything the program needs from the operating system to talk
// to a drive. Adapters (Windows, Linux, the simulated bench) implement it.
#pragma once

#include <cstdint>
#include <optional>
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

// --- NVMe ---------------------------------------------------------------------------
// One command as the program fills it: the fields of a submission-queue entry that both
// Linux (struct nvme_passthru_cmd) and Windows (STORAGE_PROTOCOL_COMMAND around an
// NVME_COMMAND) let a caller set, with the data buffer and the time-out. Command
// identifier, PRPs and the metadata pointer belong to the operating system.

// Admin commands go to the controller; I/O commands to the namespace the handle reaches.
enum class NvmeQueue : std::uint8_t { Admin, Io };

// Direction of the data phase. NVMe ties it to the opcode's two low bits (01 host to
// controller, 10 controller to host); the connection refuses a request that disagrees.
enum class NvmeData : std::uint8_t { None, FromDevice, ToDevice };

struct NvmeRequest {
  NvmeQueue queue = NvmeQueue::Admin;
  std::uint8_t opcode = 0;
  std::uint32_t nsid = 0;
  std::uint32_t cdw2 = 0;
  std::uint32_t cdw3 = 0;
  std::uint32_t cdw10 = 0;
  std::uint32_t cdw11 = 0;
  std::uint32_t cdw12 = 0;
  std::uint32_t cdw13 = 0;
  std::uint32_t cdw14 = 0;
  std::uint32_t cdw15 = 0;
  NvmeData direction = NvmeData::None;
  std::uint8_t* data = nullptr;
  std::uint32_t data_length = 0;
  std::uint32_t timeout_seconds = 0;
};

// What became of a command. Only Completed carries a controller status; the others say
// why there is none, because the flows tell the user different things for each.
enum class NvmeOutcome : std::uint8_t {
  Completed,   // the controller posted a completion; status says how it went
  NoNvme,      // this adapter, or the device behind this handle, carries no NVMe
  Refused,     // an NVMe device, but the operating system does not pass this command
  CallFailed,  // the call itself failed: I/O error, time-out, device gone
  NotSent,     // the program did not send it: no open handle, or a malformed request
};

// The completion: dword 0 and the status field as it stands in dword 3 bits 31:17,
// shifted down (SC bits 0-7, SCT 8-10, CRD 11-12, More 13, DNR 14) - the value the Linux
// ioctl returns. Zero is success.
struct NvmeReply {
  NvmeOutcome outcome = NvmeOutcome::NotSent;
  std::uint32_t dw0 = 0;
  std::uint16_t status = 0;
};

inline std::uint8_t NvmeStatusCode(std::uint16_t status) {
  return static_cast<std::uint8_t>(status & 0xFF);
}
inline std::uint8_t NvmeStatusCodeType(std::uint16_t status) {
  return static_cast<std::uint8_t>((status >> 8) & 0x07);
}
inline bool NvmeDoNotRetry(std::uint16_t status) { return (status & 0x4000) != 0; }
inline std::uint16_t MakeNvmeStatus(std::uint8_t sct, std::uint8_t sc, bool dnr = false) {
  return static_cast<std::uint16_t>((dnr ? 0x4000 : 0) | (sct & 0x07) << 8 | sc);
}
// Completed with status code type and status code both zero.
inline bool NvmeSucceeded(const NvmeReply& reply) {
  return reply.outcome == NvmeOutcome::Completed && (reply.status & 0x07FF) == 0;
}

// The drives that carry the running system, as far as the adapter can tell.
struct SystemDrives {
  std::vector<int> numbers;
  // What the adapter could not trace to its disks, in its own words; empty when it could
  // trace everything. The system may then be on any drive, so the scan offers none.
  std::string undetermined;
};

// --- The operating system's own block path ------------------------------------------
// The whole disk as the operating system writes it (Linux: the disk's block device;
// Windows: the physical drive once its volumes are locked and dismounted). An erase
// claims the disk this way before it writes by any means, so that nothing can mount or
// open it meanwhile, and writes zeros through it where the drive refuses every
// drive-side fill; its verification reads back through it.

enum class ClaimOutcome : std::uint8_t {
  Claimed,      // held for this program alone until ReleaseDisk
  InUse,        // something uses the disk: users names it, nothing was claimed
  NoBlockPath,  // this adapter has no block path for the drive
  Failed,       // the claim failed for another reason: why says it
};

struct DiskClaim {
  ClaimOutcome outcome = ClaimOutcome::NoBlockPath;
  DeviceHandle handle = kInvalidHandle;     // Claimed: for WriteDisk, ReadDisk, ReleaseDisk
  std::uint32_t logical_block_bytes = 512;  // Claimed: offsets and lengths are multiples
  std::uint64_t size_bytes = 0;             // Claimed: the disk's size as the system sees it
  // InUse: one sentence each, e.g. "/dev/sdb1 is mounted at /mnt/data".
  std::vector<std::string> users;
  std::string why;  // Failed: in the adapter's words, e.g. "permission denied"
};

// One transfer through the block path: whole, or not at all with the system's words.
struct BlockIo {
  bool ok = false;
  std::string error;  // e.g. "Input/output error"
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
  // Drives present that the adapter cannot reach (no physical drive number left for
  // them, or no right to send them commands), each named with the reason in the
  // adapter's words: no scan can list them, and the user is told so.
  virtual std::vector<std::string> UnreachableDrives() { return {}; }
  // Disks present that take neither ATA nor NVMe commands (virtio, Xen, MMC), each as
  // "<name> (<what it is>)". They are never listed; the user hears of them only when
  // nothing is, so that an empty list still says what was found.
  virtual std::vector<std::string> OtherDisks() { return {}; }
  // How the user knows the disk at a physical drive number ("sda" on Linux).
  virtual std::string DriveName(int drive_number) {
    return "Drive " + std::to_string(drive_number);
  }

  // The volumes on a disk that an erase takes off-line while it runs, as the user knows
  // them ("D:"); none where a mounted volume makes the disk in use instead (Linux).
  virtual std::vector<std::string> VolumesToDismount(int drive_number) {
    (void)drive_number;
    return {};
  }
  // Claims the whole disk of a physical drive number for writing through the system's
  // block path: first looks for what uses it (Linux: mounts, active swap, holders, and
  // an exclusive open the kernel refuses while anything holds the disk; Windows: a volume
  // on it that cannot be locked), and claims nothing when anything does. The claim holds
  // until ReleaseDisk: nothing can mount the disk meanwhile.
  virtual DiskClaim ClaimDisk(int drive_number) {
    (void)drive_number;
    return {};
  }
  // A whole transfer at a byte offset of a claimed disk. data is aligned to 4096 bytes;
  // offset and length are multiples of the claim's logical block size. A short transfer
  // is repeated for the rest, never reported whole.
  virtual BlockIo WriteDisk(DeviceHandle claim, std::uint64_t offset,
                            const std::uint8_t* data, std::uint32_t length) {
    (void)claim, (void)offset, (void)data, (void)length;
    return {false, "no block path"};
  }
  virtual BlockIo ReadDisk(DeviceHandle claim, std::uint64_t offset, std::uint8_t* data,
                           std::uint32_t length) {
    (void)claim, (void)offset, (void)data, (void)length;
    return {false, "no block path"};
  }
  // Tells the system that the disk's content changed (Linux: flush its buffer cache,
  // BLKFLSBUF, and re-read its partition table, BLKRRPART; Windows:
  // IOCTL_DISK_UPDATE_PROPERTIES), then gives the claim up. Empty when the system was
  // told; otherwise what failed, in the system's words. The claim is given up either way.
  virtual std::string ReleaseDisk(DeviceHandle claim) {
    (void)claim;
    return {};
  }

  // One NVMe command on an open handle. An adapter that carries no NVMe says so.
  virtual NvmeReply NvmePassThrough(DeviceHandle handle, const NvmeRequest& request) {
    (void)handle;
    (void)request;
    NvmeReply reply;
    reply.outcome = NvmeOutcome::NoNvme;
    return reply;
  }
  // The namespace an open handle reaches, when it reaches an NVMe namespace (Linux:
  // NVME_IOCTL_ID). I/O commands carry it in their nsid.
  virtual std::optional<std::uint32_t> NvmeNamespaceId(DeviceHandle handle) {
    (void)handle;
    return std::nullopt;
  }
};

}  // namespace plovix
