// The device port on Linux: physical drives are the kernel's SCSI disks (sda = 0,
// sdb = 1, ...) and NVMe namespaces (from 31 down, see DriveNumbering), volumes are
// mounted file systems. The ATA and SCSI pass-through calls are carried by SG_IO on a
// SCSI disk's block device, NVMe commands by the NVMe pass-through ioctls on the
// namespace's block device.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include <linux/nvme_ioctl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>

#include "drive/DeviceIo.h"
#include "devices/linux/DriveNumbering.h"
#include "devices/linux/SysfsLayout.h"

namespace plovix::linuxdev {

// The operating-system edges of the adapter, replaceable in tests.
struct LinuxSystem {
  std::string root;  // prefix for /sys, /proc and /dev; "" on the running system
  // Opens a device node for SG_IO; returns a descriptor, or minus errno.
  std::function<int(const std::string& node)> open_device;
  std::function<void(int fd)> close_device;
  // ioctl(fd, SG_IO, hdr): 0 when the call went through, -1 when it did not.
  std::function<int(int fd, sg_io_hdr_t* hdr)> sg_io;
  // ioctl(fd, request, cmd) for NVME_IOCTL_ADMIN_CMD, NVME_IOCTL_IO_CMD and NVME_IOCTL_ID
  // (cmd null): the ioctl's value as an unsigned 32-bit number, or minus errno. Never
  // repeated on EINTR: the kernel answers so for a command it cancelled, which must not
  // reach the drive twice. Unset: the adapter carries no NVMe.
  std::function<long long(int fd, unsigned long request, nvme_passthru_cmd* cmd)> nvme_ioctl;
  // The block path of an erase. open_block opens a disk's block node with the given
  // flags: a descriptor, or minus errno. The others answer minus errno on failure:
  // pread_block and pwrite_block the bytes moved (a short count is possible, and EINTR
  // comes back to the adapter, which repeats the rest); block_ioctl 0 for BLKSSZGET
  // (int*), BLKGETSIZE64 (std::uint64_t*), BLKFLSBUF and BLKRRPART (no argument);
  // fsync_block 0. Unset open_block: the adapter has no block path.
  std::function<int(const std::string& node, int flags)> open_block;
  std::function<long long(int fd, void* data, std::size_t length, std::uint64_t offset)>
      pread_block;
  std::function<long long(int fd, const void* data, std::size_t length, std::uint64_t offset)>
      pwrite_block;
  std::function<int(int fd, unsigned long request, void* arg)> block_ioctl;
  std::function<int(int fd)> fsync_block;
  std::function<void(int fd)> close_block;
  // Whether the process holds CAP_SYS_ADMIN. Without it the kernel passes no NVMe
  // command before Linux 6.2, and after it only the identify commands: the namespaces
  // then get no numbers, and the user is told why they are missing.
  bool cap_sys_admin = true;
};

LinuxSystem RealLinuxSystem();

inline constexpr unsigned kDefaultTimeoutSeconds = 10;

class LinuxDeviceIo : public DeviceIo {
 public:
  explicit LinuxDeviceIo(LinuxSystem system = RealLinuxSystem());
  ~LinuxDeviceIo() override;
  LinuxDeviceIo(const LinuxDeviceIo&) = delete;
  LinuxDeviceIo& operator=(const LinuxDeviceIo&) = delete;

  DeviceHandle Open(const std::string& path) override;
  void Close(DeviceHandle handle) override;
  bool AtaPassThrough(DeviceHandle handle, const AtaPassThroughRequest& request,
                      AtaPassThroughRequest& reply) override;
  bool ScsiPassThrough(DeviceHandle handle, ScsiPassThroughRequest& request) override;
  std::vector<int> SystemDriveNumbers() override;
  SystemDrives FindSystemDrives() override;
  NvmeReply NvmePassThrough(DeviceHandle handle, const NvmeRequest& request) override;
  std::optional<std::uint32_t> NvmeNamespaceId(DeviceHandle handle) override;
  // A mount on the disk makes it in use, so there is nothing to take off-line first:
  // VolumesToDismount stays empty.
  DiskClaim ClaimDisk(int drive_number) override;
  BlockIo WriteDisk(DeviceHandle claim, std::uint64_t offset, const std::uint8_t* data,
                    std::uint32_t length) override;
  BlockIo ReadDisk(DeviceHandle claim, std::uint64_t offset, std::uint8_t* data,
                   std::uint32_t length) override;
  std::string ReleaseDisk(DeviceHandle claim) override;

  const SysfsLayout& layout() const { return layout_; }
  // The disk drive number n names now, and the number of a disk; both look at what is
  // present first.
  std::optional<std::string> DiskOfDrive(int number);
  std::optional<int> DriveOfDisk(const std::string& disk);
  // The drives present that no drive number reaches, each as "<name> (<why>)": no
  // number left, NVMe namespaces of a process without CAP_SYS_ADMIN, or a numbered disk
  // whose last open failed.
  std::vector<std::string> UnreachableDrives() override;
  std::vector<std::string> OtherDisks() override;
  std::string DriveName(int drive_number) override;

 private:
  struct OpenDisk {
    std::string name;
    bool usb = false;
    bool nvme = false;
  };
  // A disk held through O_EXCL for the block path; its handle is the descriptor.
  struct Claim {
    int fd = -1;
    std::string node;  // with the root prefix, for the re-read after release
    std::uint32_t block = 512;
    std::uint64_t size = 0;
    int transfers = 0;       // under way; the descriptor stays open until they end
    bool releasing = false;  // ReleaseDisk began: no new transfer starts
  };
  class TransferGuard;
  DeviceHandle OpenDiskNamed(const std::string& name);
  // Checks a transfer against the claim; the refusal, or "" when it may go.
  static std::string RefuseTransfer(const Claim& claim, std::uint64_t offset, std::uint32_t length,
                                    const void* data);
  bool Lookup(DeviceHandle handle, OpenDisk& disk);
  // Brings the numbering up to date with /sys/block; the caller holds mutex_.
  void RenumberLocked();

  LinuxSystem system_;
  SysfsLayout layout_;
  std::mutex mutex_;
  std::map<DeviceHandle, OpenDisk> open_;
  std::map<DeviceHandle, Claim> claims_;
  std::condition_variable transfers_done_;
  DriveNumbering numbering_;
  std::vector<std::string> withheld_;
  std::map<std::string, std::string> open_errors_;  // disk -> why its last open failed  // namespaces left out for want of CAP_SYS_ADMIN
};

}  // namespace plovix::linuxdev
