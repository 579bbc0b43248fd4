// The Linux adapter's block path for erases: the whole disk's block device, held with
// O_EXCL so that nothing can mount it, claim it for a stack or use it as swap meanwhile.
// The pass-through handles are plain read-only opens of the same node, which the kernel
// lets stand beside the exclusive one.
#include <fcntl.h>
#include <linux/fs.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "devices/linux/DiskUsers.h"
#include "devices/linux/LinuxDeviceIo.h"

namespace plovix::linuxdev {

namespace {

std::string ErrnoText(int error) { return std::generic_category().message(error); }

// What a logical block can be: a power of two from 512 bytes to 64 KiB.
bool UsableBlockSize(int bytes) {
  return bytes >= 512 && bytes <= 65536 && (bytes & (bytes - 1)) == 0;
}

}  // namespace

DiskClaim LinuxDeviceIo::ClaimDisk(int drive_number) {
  DiskClaim claim;
  if (!system_.open_block || !system_.pread_block || !system_.pwrite_block ||
      !system_.block_ioctl || !system_.fsync_block || !system_.close_block) {
    return claim;  // NoBlockPath
  }
  claim.outcome = ClaimOutcome::Failed;
  const auto disk = DiskOfDrive(drive_number);
  if (!disk) {
    claim.why = "no disk has drive number " + std::to_string(drive_number) + " now";
    return claim;
  }
  const std::string node = DeviceNode(*disk);

  DiskUsers users = FindDiskUsers(layout_, *disk);
  if (!users.users.empty()) {
    claim.outcome = ClaimOutcome::InUse;
    claim.users = std::move(users.users);
    return claim;
  }
  if (!users.why.empty()) {
    // Nothing found is not nothing there.
    claim.why = "what uses " + node + " cannot be told: " + users.why;
    return claim;
  }

  // The exclusive open also catches what the look above cannot see, and keeps anything
  // from mounting the disk or claiming it later.
  const int fd = system_.open_block(system_.root + node, O_RDWR | O_EXCL | O_DIRECT | O_CLOEXEC);
  if (fd < 0) {
    const int error = -fd;
    if (error == EBUSY) {
      claim.outcome = ClaimOutcome::InUse;
      claim.users.push_back("the kernel reports " + node +
                            " busy: something else holds it open exclusively");
    } else if (error == EACCES || error == EPERM) {
      claim.why = "permission denied";
    } else if (error == EROFS) {
      claim.why = "the disk is write-protected";
    } else {
      claim.why = ErrnoText(error);
    }
    return claim;
  }

  int block = 0;
  std::uint64_t size = 0;
  if (const int rc = system_.block_ioctl(fd, BLKSSZGET, &block); rc < 0) {
    claim.why = "the kernel did not tell the disk's block size: " + ErrnoText(-rc);
  } else if (!UsableBlockSize(block)) {
    claim.why = "the disk reports a block size of " + std::to_string(block) + " bytes";
  } else if (const int rc2 = system_.block_ioctl(fd, BLKGETSIZE64, &size); rc2 < 0) {
    claim.why = "the kernel did not tell the disk's size: " + ErrnoText(-rc2);
  } else if (size == 0 || size % static_cast<std::uint64_t>(block) != 0 ||
             size > static_cast<std::uint64_t>(INT64_MAX)) {
    claim.why = "the disk reports a size of " + std::to_string(size) + " bytes";
  }
  if (!claim.why.empty()) {
    system_.close_block(fd);
    return claim;
  }

  {
    std::lock_guard lock(mutex_);
    claims_[static_cast<DeviceHandle>(fd)] =
        Claim{fd, system_.root + node, static_cast<std::uint32_t>(block), size};
  }
  claim.outcome = ClaimOutcome::Claimed;
  claim.handle = static_cast<DeviceHandle>(fd);
  claim.logical_block_bytes = static_cast<std::uint32_t>(block);
  claim.size_bytes = size;
  return claim;
}

// One transfer on a live claim. A release from another thread waits for it to end: were
// the descriptor closed meanwhile, its number could be handed to another open and the
// rest of the transfer written there.
class LinuxDeviceIo::TransferGuard {
 public:
  TransferGuard(LinuxDeviceIo& io, DeviceHandle handle) : io_(io), handle_(handle) {
    std::lock_guard lock(io_.mutex_);
    const auto it = io_.claims_.find(handle);
    if (it == io_.claims_.end() || it->second.releasing) return;
    ++it->second.transfers;
    claim = it->second;
    live = true;
  }
  ~TransferGuard() {
    if (!live) return;
    {
      std::lock_guard lock(io_.mutex_);
      --io_.claims_.at(handle_).transfers;
    }
    io_.transfers_done_.notify_all();
  }
  TransferGuard(const TransferGuard&) = delete;
  TransferGuard& operator=(const TransferGuard&) = delete;

  bool live = false;
  Claim claim;

 private:
  LinuxDeviceIo& io_;
  DeviceHandle handle_;
};

std::string LinuxDeviceIo::RefuseTransfer(const Claim& claim, std::uint64_t offset,
                                          std::uint32_t length, const void* data) {
  if (offset % claim.block != 0 || length % claim.block != 0) {
    return "offset " + std::to_string(offset) + " or length " + std::to_string(length) +
           " is not a multiple of the disk's " + std::to_string(claim.block) + "-byte blocks";
  }
  if (offset > claim.size || length > claim.size - offset) {
    return "byte " + std::to_string(offset) + " and on for " + std::to_string(length) +
           " bytes lies beyond the end of the disk (" + std::to_string(claim.size) + " bytes)";
  }
  if (data == nullptr && length != 0) return "no buffer for the transfer";
  return {};
}

namespace {

// The whole transfer: `move(done, rest)` moves part of it (bytes moved, or minus errno),
// and is asked again for what a short or interrupted one leaves.
template <typename Move>
BlockIo MoveAll(std::uint64_t offset, std::uint32_t length, const char* what, Move move) {
  std::uint32_t done = 0;
  while (done < length) {
    const std::uint32_t rest = length - done;
    const long long n = move(done, rest);
    if (n == -EINTR) continue;
    if (n < 0) return {false, ErrnoText(static_cast<int>(-n))};
    // Nothing moved would repeat forever; more than asked is not to be believed.
    if (n == 0 || n > rest) {
      return {false, std::string("short ") + what + " at byte " + std::to_string(offset + done)};
    }
    done += static_cast<std::uint32_t>(n);
  }
  return {true, {}};
}

}  // namespace

BlockIo LinuxDeviceIo::WriteDisk(DeviceHandle handle, std::uint64_t offset,
                                 const std::uint8_t* data, std::uint32_t length) {
  const TransferGuard guard(*this, handle);
  if (!guard.live) return {false, "the disk is not claimed"};
  const Claim& claim = guard.claim;
  if (std::string refusal = RefuseTransfer(claim, offset, length, data); !refusal.empty()) {
    return {false, std::move(refusal)};
  }
  return MoveAll(offset, length, "write", [&](std::uint32_t done, std::uint32_t rest) {
    return system_.pwrite_block(claim.fd, data + done, rest, offset + done);
  });
}

BlockIo LinuxDeviceIo::ReadDisk(DeviceHandle handle, std::uint64_t offset, std::uint8_t* data,
                                std::uint32_t length) {
  const TransferGuard guard(*this, handle);
  if (!guard.live) return {false, "the disk is not claimed"};
  const Claim& claim = guard.claim;
  if (std::string refusal = RefuseTransfer(claim, offset, length, data); !refusal.empty()) {
    return {false, std::move(refusal)};
  }
  return MoveAll(offset, length, "read", [&](std::uint32_t done, std::uint32_t rest) {
    return system_.pread_block(claim.fd, data + done, rest, offset + done);
  });
}

std::string LinuxDeviceIo::ReleaseDisk(DeviceHandle handle) {
  Claim claim;
  {
    std::unique_lock lock(mutex_);
    const auto it = claims_.find(handle);
    if (it == claims_.end() || it->second.releasing) return "the disk was not claimed";
    it->second.releasing = true;
    transfers_done_.wait(lock, [&] { return claims_.at(handle).transfers == 0; });
    claim = claims_.at(handle);
    claims_.erase(handle);
  }
  std::vector<std::string> failures;
  if (const int rc = system_.fsync_block(claim.fd); rc < 0) {
    failures.push_back("the disk did not confirm the written data: " + ErrnoText(-rc));
  }
  // Reads of the disk through the kernel's cache must show what was written, not the old.
  if (const int rc = system_.block_ioctl(claim.fd, BLKFLSBUF, nullptr); rc < 0) {
    failures.push_back("the kernel did not drop its cached copy of the disk: " + ErrnoText(-rc));
  }
  int rc = system_.block_ioctl(claim.fd, BLKRRPART, nullptr);
  bool held = true;
  if (rc == -EBUSY) {
    // Some kernels refuse the re-read while anyone, the caller too, holds the disk
    // exclusively: let go of it and ask again through a plain open.
    system_.close_block(claim.fd);
    held = false;
    const int plain = system_.open_block(claim.node, O_RDONLY | O_CLOEXEC);
    if (plain < 0) {
      rc = plain;
    } else {
      rc = system_.block_ioctl(plain, BLKRRPART, nullptr);
      system_.close_block(plain);
    }
  }
  // EINVAL: a disk the kernel keeps no partitions for; there is nothing to re-read.
  if (rc < 0 && rc != -EINVAL) {
    failures.push_back("the kernel did not re-read the partition table: " + ErrnoText(-rc));
  }
  if (held) system_.close_block(claim.fd);

  std::string text;
  for (const auto& failure : failures) text += (text.empty() ? "" : "; ") + failure;
  return text;
}

}  // namespace plovix::linuxdev
