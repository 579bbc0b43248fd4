// The bench's block path: what uses a disk, its claim for an erase, writes and reads
// through the claim, and telling the system afterwards.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "devices/sim/BenchState.h"

namespace plovix::sim {

void Bench::SetDiskUsers(int drive_number, std::vector<std::string> users) {
  std::lock_guard lock(impl_->mutex);
  impl_->disks[drive_number].users = std::move(users);
}

void Bench::FailClaim(int drive_number, std::string why) {
  std::lock_guard lock(impl_->mutex);
  impl_->disks[drive_number].claim_failure = std::move(why);
}

void Bench::FailRelease(int drive_number, std::string why) {
  std::lock_guard lock(impl_->mutex);
  impl_->disks[drive_number].release_failure = std::move(why);
}

bool Bench::IsClaimed(int drive_number) const {
  std::lock_guard lock(impl_->mutex);
  for (const auto& [handle, number] : impl_->claims) {
    if (number == drive_number) return true;
  }
  return false;
}

int Bench::ReleaseCount(int drive_number) const {
  std::lock_guard lock(impl_->mutex);
  const auto it = impl_->disks.find(drive_number);
  return it == impl_->disks.end() ? 0 : it->second.releases;
}

std::uint64_t Bench::BlockBytesWritten(int drive_number) const {
  std::lock_guard lock(impl_->mutex);
  const auto it = impl_->disks.find(drive_number);
  return it == impl_->disks.end() ? 0 : it->second.bytes_written;
}

std::vector<std::string> Bench::VolumesToDismount(int drive_number) {
  std::lock_guard lock(impl_->mutex);
  std::vector<std::string> letters;
  for (const auto& [letter, drive] : impl_->volumes) {
    if (drive == drive_number) letters.push_back(std::string(1, letter) + ":");
  }
  return letters;
}

DiskClaim Bench::ClaimDisk(int drive_number) {
  std::lock_guard lock(impl_->mutex);
  DiskClaim claim;
  AtaDrive* ata = impl_->FindDrive(drive_number);
  NvmeDrive* nvme = impl_->FindNvme(drive_number);
  if ((!ata && !nvme) || impl_->fail_open.count(drive_number) != 0) {
    claim.outcome = ClaimOutcome::Failed;
    claim.why = "no such disk";
    return claim;
  }
  Impl::DiskState& disk = impl_->disks[drive_number];
  if (!disk.claim_failure.empty()) {
    claim.outcome = ClaimOutcome::Failed;
    claim.why = disk.claim_failure;
    return claim;
  }
  claim.users = disk.users;
  for (const auto& [handle, number] : impl_->claims) {
    if (number == drive_number) claim.users.push_back("another erase holds the disk");
  }
  if (!claim.users.empty()) {
    claim.outcome = ClaimOutcome::InUse;
    return claim;
  }
  claim.outcome = ClaimOutcome::Claimed;
  claim.handle = impl_->next_handle++;
  if (ata) {
    claim.size_bytes = ata->setup().total_sectors * 512;
  } else {
    claim.logical_block_bytes = nvme->setup().block_bytes;
    claim.size_bytes = nvme->setup().block_count * nvme->setup().block_bytes;
  }
  impl_->claims[claim.handle] = drive_number;
  return claim;
}

BlockIo Bench::WriteDisk(DeviceHandle claim, std::uint64_t offset, const std::uint8_t* data,
                         std::uint32_t length) {
  std::uint64_t sectors_per_second = 0;
  {
    std::lock_guard lock(impl_->mutex);
    const auto it = impl_->claims.find(claim);
    if (it == impl_->claims.end()) return {false, "not claimed"};
    if (offset % 512 != 0 || length % 512 != 0 || data == nullptr) return {false, "Invalid argument"};
    const std::uint64_t lba = offset / 512;
    const std::uint64_t count = length / 512;
    impl_->disks[it->second].bytes_written += length;
    if (AtaDrive* ata = impl_->FindDrive(it->second)) {
      if (lba + count > ata->setup().total_sectors) return {false, "No space left on device"};
      std::uint64_t failed_at = 0;
      if (!ata->WriteLocked(lba, data, count, failed_at)) return {false, "Input/output error"};
      sectors_per_second = ata->setup().sectors_per_second;
    } else if (NvmeDrive* nvme = impl_->FindNvme(it->second)) {
      const NvmeSpec& ns_setup = nvme->setup();
      if (lba + count > ns_setup.block_count * (ns_setup.block_bytes / 512)) {
        return {false, "No space left on device"};
      }
      nvme->WriteLocked(lba, data, count);
      sectors_per_second = ns_setup.blocks_per_second * (ns_setup.block_bytes / 512);
    } else {
      return {false, "No such device"};
    }
  }
  if (sectors_per_second > 0) {
    std::this_thread::sleep_for(
        std::chrono::microseconds(length / 512 * 1000000 / sectors_per_second));
  }
  return {true, {}};
}

BlockIo Bench::ReadDisk(DeviceHandle claim, std::uint64_t offset, std::uint8_t* data,
                        std::uint32_t length) {
  std::lock_guard lock(impl_->mutex);
  const auto it = impl_->claims.find(claim);
  if (it == impl_->claims.end()) return {false, "not claimed"};
  if (offset % 512 != 0 || length % 512 != 0 || data == nullptr) return {false, "Invalid argument"};
  const std::uint64_t lba = offset / 512;
  AtaDrive* ata = impl_->FindDrive(it->second);
  NvmeDrive* nvme = impl_->FindNvme(it->second);
  for (std::uint64_t i = 0; i < length / 512; ++i) {
    Sector sector;
    if (ata) {
      sector = ata->ReadLocked(lba + i);
    } else if (nvme) {
      sector = nvme->ReadLocked(lba + i);
    } else {
      return {false, "No such device"};
    }
    std::memcpy(data + i * 512, sector.data(), sector.size());
  }
  return {true, {}};
}

std::string Bench::ReleaseDisk(DeviceHandle claim) {
  std::lock_guard lock(impl_->mutex);
  const auto it = impl_->claims.find(claim);
  if (it == impl_->claims.end()) return "not claimed";
  Impl::DiskState& disk = impl_->disks[it->second];
  ++disk.releases;
  impl_->claims.erase(it);
  return disk.release_failure;
}

}  // namespace plovix::sim
