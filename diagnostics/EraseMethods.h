// How an erase puts zeros on a drive, below the dialogs: one method per drive, chosen
// before anything is written, that Erase MBR and the disk erase's worker both drive.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drive/Commands.h"
#include "drive/DeviceIo.h"
#include "drive/DriveConnection.h"
#include "drive/NvmeDecode.h"

namespace plovix {

enum class EraseMethodKind : std::uint8_t { VendorFill, SctWriteSame, SystemWrites, NvmeZeroes };

// "vendor fill", "SCT Write Same", "operating-system writes", "NVMe Write Zeroes".
const char* EraseMethodName(EraseMethodKind kind);

// An NVMe namespace's part: how it is to be written.
struct NvmeEraseTarget {
  NvmeNamespace ns;
  std::uint8_t mdts = 0;
  std::uint8_t write_zeroes = 0;  // offered by the controller
};

// What is known of the drive before anything is written.
struct EraseTarget {
  DriveConnection* connection = nullptr;
  DeviceIo* io = nullptr;
  std::uint8_t via_scsi = 0;
  std::uint64_t total_sectors = 0;  // 512-byte sectors the erase covers
  bool nvme = false;
  NvmeEraseTarget nvme_target;
  bool sct_write_same = false;  // IDENTIFY word 206
  DiskClaim claim;              // Claimed: the system's block path is this erase's
};

enum class EraseStatus : std::uint8_t {
  Done,
  Refused,        // this method cannot erase this drive; nothing was written by it
  Failed,         // the drive or the system failed a write; lba and answer say where, what
  SystemRefused,  // the system would not pass the commands, and no other method can
  Aborted,
};

struct EraseResult {
  EraseStatus status = EraseStatus::Done;
  std::uint64_t lba = 0;  // Failed, SystemRefused, Aborted: first sector of the run
  std::string answer;     // Failed: what the drive or the system answered
};

// What the erase shares with its dialog: where it is, and whether to stop. Either may be
// missing (Erase MBR runs without a dialog).
struct EraseControl {
  std::atomic<std::uint64_t>* current_lba = nullptr;
  const std::atomic<std::uint8_t>* abort_requested = nullptr;

  void At(std::uint64_t lba) const {
    if (current_lba != nullptr) current_lba->store(lba, std::memory_order_relaxed);
  }
  bool Aborting() const {
    return abort_requested != nullptr && abort_requested->load(std::memory_order_acquire) != 0;
  }
};

class EraseMethod {
 public:
  virtual ~EraseMethod() = default;
  virtual EraseMethodKind kind() const = 0;
  // Zeroes sectors [first, first + count), checking for an abort between commands. A
  // method answers Refused only before it has written anything.
  virtual EraseResult Zero(std::uint64_t first, std::uint64_t count,
                           const EraseControl& control) = 0;
  // After the last range: what makes the zeros stick (a flush).
  virtual EraseResult Complete() { return {}; }
};

// One erase of one drive. The first range is offered to the methods the drive may take,
// in order (the drive's own fills, then the system's writes); the first that does not
// refuse it is kept for everything after.
class EraseSession {
 public:
  explicit EraseSession(EraseTarget target);
  ~EraseSession();
  EraseSession(const EraseSession&) = delete;
  EraseSession& operator=(const EraseSession&) = delete;

  EraseResult Zero(std::uint64_t first, std::uint64_t count, const EraseControl& control);
  EraseResult Complete();
  // The method that took the erase; none while every one refused or none was tried.
  std::optional<EraseMethodKind> method() const;
  const EraseTarget& target() const { return target_; }
  // Sectors the erase has written so far, by what it was told went through.
  std::uint64_t sectors_written() const { return written_; }

 private:
  EraseTarget target_;
  std::vector<std::unique_ptr<EraseMethod>> candidates_;
  EraseMethod* chosen_ = nullptr;
  std::uint64_t written_ = 0;
};

// The read-back after an erase: the first and last MiB and one block at a pseudo-random
// place in every 256 MiB, through the system's block path.
struct VerifyResult {
  enum class Kind : std::uint8_t { Verified, NotZero, ReadFailed, NotPossible } kind =
      Kind::NotPossible;
  std::uint64_t lba = 0;  // NotZero: the first block found not zero; ReadFailed: where
  std::string why;        // ReadFailed, NotPossible
  std::uint64_t blocks_read = 0;
};
// The LBAs (512-byte sectors) of the places read, ascending, each block_sectors long.
std::vector<std::uint64_t> VerifyPlaces(std::uint64_t total_sectors, std::uint32_t block_sectors,
                                        std::uint64_t seed);
VerifyResult VerifyZeroed(DeviceIo& io, const DiskClaim& claim, std::uint64_t total_sectors,
                          std::uint64_t seed);
// "Verified", "Not zero at LBA n", ... as the result and the erase record say it.
std::string VerifyText(const VerifyResult& result);

}  // namespace plovix
