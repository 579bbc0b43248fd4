// The simulated bench: virtual ATA drives, USB bridges, volumes and the Windows device
// catalogue, answering the same bytes real hardware would. Not a mock: it decodes the
// requests it receives.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "devices/sim/SectorStore.h"  // PatternSector
#include "drive/DeviceIo.h"
#include "drive/NvmeDecode.h"
#include "inventory/DeviceCatalog.h"

namespace plovix::sim {

struct SmartAttr {
  std::uint8_t id = 0;
  std::uint16_t flags = 0x000F;
  std::uint8_t current = 100;
  std::uint8_t worst = 100;
  std::uint64_t raw = 0;        // six bytes used
  std::uint8_t threshold = 0;
};

// A self-test runs in the drive for duration_ms of bench time, reporting 0xF9..0xF1 as
// it goes, and then ends with final_status.
struct SelfTestPlan {
  std::uint8_t final_status = 0x00;
  std::uint64_t duration_ms = 15000;
};

struct DriveSpec {
  std::string model;
  std::string serial;
  std::string firmware;
  std::uint64_t total_sectors = 0;
  bool smart_supported = true;       // IDENTIFY word 82 bit 0
  bool smart_enabled = true;         // word 85 bit 0 (SMART ENABLE switches it on)
  bool selftest_supported = true;    // word 84 bit 1
  bool selftest_default = true;      // word 87 bit 1
  std::vector<SmartAttr> attributes;
  std::uint8_t selftest_status = 0x00;  // byte 363 before any test
  // SMART RETURN STATUS says the threshold is exceeded whatever the attributes show.
  bool smart_says_exceeded = false;
  SelfTestPlan short_test;
  SelfTestPlan extended_test{0x00, 60000};
  std::set<std::uint64_t> bad_lbas;     // READ VERIFY over any of them fails
  // Media speed for READ VERIFY and erase runs in sectors per bench second; 0 = instant.
  // Only the demo uses it (it really sleeps); tests keep 0.
  std::uint64_t sectors_per_second = 0;
  // Erasing. Only the original maker's drives know the vendor erase opcode (0x82); every
  // other drive answers it with an aborted command, as real ones do.
  bool vendor_erase = false;
  bool write_buffer = true;     // WRITE BUFFER accepted
  bool sct_write_same = false;  // IDENTIFY word 206: SCT Write Same, with SCT status
  // 0: the native size is total_sectors; more: a host protected area hides the rest
  // (READ NATIVE MAX ADDRESS EXT tells it).
  std::uint64_t native_sectors = 0;
  // Writes of any kind (vendor erase, SCT Write Same, the system's block path) that reach
  // this sector fail there with a write error; the sectors before it are written.
  std::optional<std::uint64_t> write_error_lba;
  // Writes to sectors [first, first + count) report success and change nothing.
  std::uint64_t dropped_writes_first = 0;
  std::uint64_t dropped_writes_count = 0;
};

// An NVMe device self-test runs for duration_ms of bench time and then leaves a result
// entry with this status (the log's status nibble), failing segment and, when set, the
// failing block of the drive's namespace.
struct NvmeSelfTestPlan {
  std::uint8_t result = kNvmeTestPassed;
  std::uint64_t duration_ms = 120000;
  std::uint8_t segment = 0;
  std::optional<std::uint64_t> failing_lba;
};

// A healthy drive's figures: 36 C, all spare left, nothing used up.
inline NvmeHealth HealthyNvme() {
  NvmeHealth health;
  health.temperature_kelvin = 309;
  health.available_spare = 100;
  health.available_spare_threshold = 10;
  return health;
}

// An NVMe drive: one namespace of a controller, reached at a physical drive number as
// Windows shows each namespace as a disk of its own.
struct NvmeSpec {
  std::string model;
  std::string serial;
  std::string firmware;
  std::uint32_t nsid = 1;             // the namespace this drive number reaches
  std::uint32_t namespace_count = 1;  // NN; the others answer as inactive
  std::uint64_t block_count = 0;      // NSZE
  std::uint32_t block_bytes = 512;    // a power of two from 512: the format in use
  std::uint8_t mdts = 5;              // largest transfer 4 KiB << mdts (0: no limit)
  bool self_test_supported = true;     // OACS bit 4
  bool verify_supported = true;        // ONCS bit 7
  bool write_zeroes_supported = true;  // ONCS bit 3
  NvmeSelfTestPlan short_test;
  NvmeSelfTestPlan extended_test{kNvmeTestPassed, 600000, 0, std::nullopt};
  // The health log; media_errors and error_log_entries count up with every unrecovered
  // read, as a drive's do.
  NvmeHealth health = HealthyNvme();
  std::set<std::uint64_t> bad_blocks;  // namespace blocks that Verify and Read cannot read
  // Opcodes the operating system does not let through (Windows passes only some).
  std::set<std::uint8_t> os_refused_admin;
  std::set<std::uint8_t> os_refused_io;
  // Media speed for Verify, Read and writes in blocks per bench second; 0 = instant.
  std::uint64_t blocks_per_second = 0;
};

// What a USB-to-ATA bridge forwards of the ATA commands wrapped in SCSI.
enum class BridgeForwarding {
  Standard,           // ATA PASS-THROUGH(12)/(16) blocks only
  Vendor,             // the DF vendor block (and the register write) only
  VendorAndStandard,  // both, as most real bridges of the recognised chips do
  None,               // neither: the drive answers nothing but INQUIRY
};

struct BridgeSpec {
  std::string vendor;    // INQUIRY bytes 8-15, padded with blanks
  std::string product;   // 16-31
  std::string revision;  // 32-35
  std::string chip_id;   // 36-39, e.g. "j329"
  bool inquiry_answers = true;
  BridgeForwarding forwarding = BridgeForwarding::Standard;
  // Catalogue entries the bench adds for this drive (as Windows would list them).
  std::string usb_serial = "0123456789AB";
  std::uint16_t vid = 0x1234;
  std::uint16_t pid = 0x5678;
  bool listed_as_usbstor = true;
  bool listed_as_usb_device = true;
};

// One request as the bench received it.
struct Received {
  int drive_number = -1;          // -1 when sent to a volume handle of no drive
  std::string path;               // path the handle was opened with
  bool scsi = false;
  AtaPassThroughRequest ata;      // DataBuffer pointer as sent
  ScsiPassThroughRequest scsi_request;
  std::vector<std::uint8_t> data_out;  // the bytes sent to the device, if any
  bool nvme = false;
  NvmeRequest nvme_request;            // data pointer as sent
};

enum class FaultEffect {
  CallFails,       // the pass-through call itself fails
  AtaError,        // status with ERR set (0x51)
  CheckCondition,  // SCSI status 02 without data
  Timeout,         // the call fails as a command time-out does
  Garbage,         // succeeds, but data-in bytes are random
  Block,           // waits until ReleaseBlocked() or the bench clock passes until_ms
  NvmeError,       // NVMe: completes with Fault::nvme_status (ATA/SCSI: as AtaError)
  Refused,         // NVMe: the operating system refuses the command (ATA/SCSI: call fails)
  Lost,            // reported done without error, but the drive never received it
};

// Which requests a fault hits. Empty fields match anything.
struct FaultMatch {
  std::optional<int> drive_number;
  std::optional<std::uint8_t> ata_command;   // ATA opcode, also inside SCSI blocks
  std::optional<std::uint8_t> smart_feature; // feature register (0xD0, 0xD4, ...)
  std::optional<std::uint8_t> cdb_opcode;    // Cdb[0] (0x12, 0xA1, 0x85, 0xDF)
  std::optional<std::uint64_t> lba;          // 48-bit LBA of READ VERIFY / erase
  int skip = 0;                              // let this many matching requests through first
  int times = -1;                            // how many to hit (-1: all)
  std::optional<NvmeQueue> nvme_queue;       // NVMe admin or I/O
  std::optional<std::uint8_t> nvme_opcode;   // NVMe opcode (the lba field: SLBA of I/O)
};

struct Fault {
  FaultMatch match;
  FaultEffect effect = FaultEffect::CallFails;
  std::uint64_t until_ms = 0;  // Block: released when the bench clock reaches it (0: never)
  // NvmeError and the other error effects on NVMe requests: the completion's status
  // field. The default is Internal Error (generic status 06h).
  std::uint16_t nvme_status = 0x0006;
};

class VirtualMedia;
class VirtualDrive;
class VirtualNvme;

class Bench : public DeviceIo, public DeviceCatalog {
 public:
  Bench();
  ~Bench() override;

  // Bench time for self-tests and blocked commands (milliseconds); the ui back end's
  // TickMs in the program. Defaults to a clock that stands still at 0.
  void SetClock(std::function<std::uint64_t()> now_ms);

  VirtualDrive& AddSata(int drive_number, DriveSpec setup);
  VirtualDrive& AddUsb(int drive_number, DriveSpec setup, BridgeSpec bridge);
  VirtualNvme& AddNvme(int drive_number, NvmeSpec setup);
  // A volume whose handle reaches the drive (IDENTIFY answers only for SATA drives).
  void AddVolume(char letter, int drive_number);
  // A volume that opens but whose handle answers nothing.
  void AddSilentVolume(char letter);
  // Extra catalogue entries beyond the ones AddUsb adds.
  void AddCatalogEntry(std::string_view class_guid, std::string_view enumerator,
                       std::optional<std::string> instance_id);
  void FailCatalog(std::string_view class_guid, std::string_view enumerator);

  VirtualDrive& Drive(int drive_number);  // an ATA drive (SATA or behind USB)
  VirtualNvme& Nvme(int drive_number);
  VirtualMedia& Media(int drive_number);  // the sectors of either kind
  bool HasDrive(int drive_number) const;
  void RemoveDrive(int drive_number);

  // Faults.
  void FailOpen(int drive_number);
  void AddFault(Fault fault);
  void ClearFaults();  // also lifts FailOpen
  void ReleaseBlocked();

  // What the bench received, in order.
  std::vector<Received> Log() const;
  std::vector<Received> LogFor(int drive_number) const;
  void ClearLog();
  std::vector<std::string> OpenedPaths() const;  // every Open, successful or not
  int OpenHandleCount() const;                    // handles currently open

  // DeviceIo
  DeviceHandle Open(const std::string& path) override;
  void Close(DeviceHandle handle) override;
  bool AtaPassThrough(DeviceHandle handle, const AtaPassThroughRequest& request,
                      AtaPassThroughRequest& reply) override;
  bool ScsiPassThrough(DeviceHandle handle, ScsiPassThroughRequest& request) override;
  // NVMe drives answer on their own handles and on the handles of their volumes; every
  // other handle carries no NVMe.
  NvmeReply NvmePassThrough(DeviceHandle handle, const NvmeRequest& request) override;
  std::optional<std::uint32_t> NvmeNamespaceId(DeviceHandle handle) override;
  // Drives the bench declares as carrying the system (a root spread over several disks).
  std::vector<int> SystemDriveNumbers() override;
  void SetSystemDrives(std::vector<int> drive_numbers);
  // A bench whose system the adapter cannot trace: `why` is what it could not (""
  // lifts it again).
  SystemDrives FindSystemDrives() override;
  void SetSystemDrivesUndetermined(std::string why);
  // Disks of kinds that take no ATA or NVMe command, as an adapter names them.
  std::vector<std::string> OtherDisks() override;
  void SetOtherDisks(std::vector<std::string> disks);

  // The system's block path (the disk claimed, written and read as the operating system
  // would). What uses a disk, one sentence each: a claim is refused while any is set.
  void SetDiskUsers(int drive_number, std::vector<std::string> users);
  // The claim fails outright, in these words (a system that cannot open the disk).
  void FailClaim(int drive_number, std::string why);
  // Telling the system of the erase fails, in these words.
  void FailRelease(int drive_number, std::string why);
  // Whether the disk is claimed now, and how often a claim was given up (and the system
  // told) since the bench began.
  bool IsClaimed(int drive_number) const;
  int ReleaseCount(int drive_number) const;
  // Bytes written through the block path to a drive since the bench began.
  std::uint64_t BlockBytesWritten(int drive_number) const;

  std::vector<std::string> VolumesToDismount(int drive_number) override;
  DiskClaim ClaimDisk(int drive_number) override;
  BlockIo WriteDisk(DeviceHandle claim, std::uint64_t offset, const std::uint8_t* data,
                    std::uint32_t length) override;
  BlockIo ReadDisk(DeviceHandle claim, std::uint64_t offset, std::uint8_t* data,
                   std::uint32_t length) override;
  std::string ReleaseDisk(DeviceHandle claim) override;

  // DeviceCatalog
  std::optional<std::vector<std::optional<std::string>>> PresentDevices(
      std::string_view class_guid, std::string_view enumerator) override;

  // Named here for the bench's own files (BenchState.h defines it); nothing else can
  // see inside.
  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// The media of any drive, in the program's 512-byte sectors.
class VirtualMedia {
 public:
  virtual ~VirtualMedia() = default;
  // The 512 bytes of a sector; unwritten sectors hold a pattern made from their LBA.
  virtual std::array<std::uint8_t, 512> ReadSector(std::uint64_t lba) const = 0;
  virtual bool IsZeroed(std::uint64_t first, std::uint64_t count) const = 0;
};

class VirtualDrive : public VirtualMedia {
 public:
  virtual const DriveSpec& setup() const = 0;
  virtual DriveSpec& mutable_setup() = 0;
  // The loaded sector buffer (WRITE BUFFER).
  virtual std::array<std::uint8_t, 512> SectorBuffer() const = 0;
  // Self-test execution status as SMART READ DATA would report it now.
  virtual std::uint8_t SelfTestStatus() = 0;
  virtual bool smart_enabled() const = 0;
};

class VirtualNvme : public VirtualMedia {
 public:
  virtual const NvmeSpec& setup() const = 0;
  virtual NvmeSpec& mutable_setup() = 0;
  // One block of the namespace (block_bytes long), as Read would return it.
  virtual std::vector<std::uint8_t> ReadBlock(std::uint64_t block) const = 0;
  // The Device Self-test log (564 bytes) and the health figures as they stand now.
  virtual std::vector<std::uint8_t> SelfTestLog() = 0;
  virtual NvmeHealth Health() const = 0;
};

}  // namespace plovix::sim
