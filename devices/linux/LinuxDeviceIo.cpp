#include "devices/linux/LinuxDeviceIo.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "drive/DriveConnection.h"
#include "devices/linux/DiskUsers.h"
#include "devices/linux/NvmeTranslate.h"
#include "devices/linux/Privileges.h"
#include "devices/linux/SgTranslate.h"

namespace plovix::linuxdev {

namespace {

// Status a drive shows after a command that went through without sense data:
// DRDY and DSC, no error.
constexpr std::uint8_t kQuietStatus = 0x50;

// SG_IO itself worked and the transport carried the command to the device.
bool TransportOk(int rc, const sg_io_hdr_t& hdr) {
  if (rc != 0) return false;
  if (hdr.host_status != 0) return false;        // time-out, reset, no connection
  if ((hdr.driver_status & 0x07) != 0) return false;  // driver error (the sense flag aside)
  return true;
}

unsigned TimeoutMs(std::uint32_t seconds) {
  return (seconds != 0 ? seconds : kDefaultTimeoutSeconds) * 1000u;
}

}  // namespace

LinuxSystem RealLinuxSystem() {
  LinuxSystem system;
  // Read-only is enough: with CAP_SYS_RAWIO the kernel lets every command through SG_IO
  // whatever the open mode. It also opens write-protected media, and it spares the disk
  // the re-probe that udev runs whenever a device opened for writing is closed.
  system.open_device = [](const std::string& node) {
    const int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    return fd < 0 ? -errno : fd;
  };
  system.close_device = [](int fd) { ::close(fd); };
  system.sg_io = [](int fd, sg_io_hdr_t* hdr) {
    int rc;
    do {
      rc = ::ioctl(fd, SG_IO, hdr);
    } while (rc < 0 && errno == EINTR);
    return rc < 0 ? -1 : 0;
  };
  // The NVMe pass-through needs no write access either: with CAP_SYS_ADMIN the kernel
  // passes every command whatever the open mode (Linux 6.2 on also lets a process
  // without it send identify commands, and I/O commands the controller lists as
  // harmless, writes only on a descriptor open for writing).
  system.nvme_ioctl = [](int fd, unsigned long request, nvme_passthru_cmd* cmd) -> long long {
    const int rc = ::ioctl(fd, request, cmd);
    if (rc == -1) return -static_cast<long long>(errno);
    return static_cast<long long>(static_cast<std::uint32_t>(rc));
  };
  system.open_block = [](const std::string& node, int flags) {
    int fd;
    do {
      fd = ::open(node.c_str(), flags);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? -errno : fd;
  };
  system.pread_block = [](int fd, void* data, std::size_t length,
                          std::uint64_t offset) -> long long {
    const ssize_t n = ::pread(fd, data, length, static_cast<off_t>(offset));
    return n < 0 ? -static_cast<long long>(errno) : static_cast<long long>(n);
  };
  system.pwrite_block = [](int fd, const void* data, std::size_t length,
                           std::uint64_t offset) -> long long {
    const ssize_t n = ::pwrite(fd, data, length, static_cast<off_t>(offset));
    return n < 0 ? -static_cast<long long>(errno) : static_cast<long long>(n);
  };
  system.block_ioctl = [](int fd, unsigned long request, void* arg) {
    return ::ioctl(fd, request, arg) < 0 ? -errno : 0;
  };
  system.fsync_block = [](int fd) { return ::fsync(fd) < 0 ? -errno : 0; };
  system.close_block = [](int fd) { ::close(fd); };
  system.cap_sys_admin = ProcessHasCapability(kCapSysAdmin);
  return system;
}

LinuxDeviceIo::LinuxDeviceIo(LinuxSystem system)
    : system_(std::move(system)), layout_(system_.root) {}

LinuxDeviceIo::~LinuxDeviceIo() {
  for (const auto& [handle, disk] : open_) system_.close_device(static_cast<int>(handle));
  for (const auto& [handle, claim] : claims_) system_.close_block(claim.fd);
}

DeviceHandle LinuxDeviceIo::OpenDiskNamed(const std::string& name) {
  if (!layout_.IsDisk(name) || IsNvmePathNode(name)) return kInvalidHandle;
  const int fd = system_.open_device(system_.root + DeviceNode(name));
  if (fd < 0) {
    std::string why = std::error_code(-fd, std::generic_category()).message();
    if (!why.empty()) why.front() = static_cast<char>(std::tolower(why.front()));
    std::lock_guard lock(mutex_);
    open_errors_[name] = "cannot be opened: " + why;
    return kInvalidHandle;
  }
  OpenDisk disk;
  disk.name = name;
  disk.nvme = ParseNvmeName(name).has_value();
  disk.usb = !disk.nvme && layout_.IsUsbDisk(name);
  std::lock_guard lock(mutex_);
  open_errors_.erase(name);
  open_[static_cast<DeviceHandle>(fd)] = std::move(disk);
  return static_cast<DeviceHandle>(fd);
}

DeviceHandle LinuxDeviceIo::Open(const std::string& path) {
  if (const auto number = ParsePhysicalDrivePath(path)) {
    const auto disk = DiskOfDrive(*number);
    if (!disk) return kInvalidHandle;
    return OpenDiskNamed(*disk);
  }
  if (const auto letter = ParseVolumePath(path)) {
    // A volume's handle reaches its (first) disk, as a Windows volume handle reaches
    // the disk under a simple volume.
    const auto disks = layout_.DisksOfVolume(*letter);
    if (disks.empty()) return kInvalidHandle;
    return OpenDiskNamed(disks.front());
  }
  return kInvalidHandle;
}

void LinuxDeviceIo::Close(DeviceHandle handle) {
  {
    std::lock_guard lock(mutex_);
    if (open_.erase(handle) == 0) return;
  }
  system_.close_device(static_cast<int>(handle));
}

bool LinuxDeviceIo::Lookup(DeviceHandle handle, OpenDisk& disk) {
  std::lock_guard lock(mutex_);
  const auto it = open_.find(handle);
  if (it == open_.end()) return false;
  disk = it->second;
  return true;
}

bool LinuxDeviceIo::AtaPassThrough(DeviceHandle handle, const AtaPassThroughRequest& request,
                                   AtaPassThroughRequest& reply) {
  OpenDisk disk;
  if (!Lookup(handle, disk)) return false;
  // USB storage offers no ATA pass-through; USB drives are reached by SCSI commands.
  // An NVMe namespace answers neither: the kernel has not translated SCSI commands for
  // NVMe since Linux 4.13, and SG_IO on one fails.
  if (disk.usb || disk.nvme) return false;

  const AtaData direction = DataOfRequest(request);
  if (direction != AtaData::None &&
      (request.DataBuffer == nullptr || request.DataTransferLength == 0)) {
    return false;
  }
  auto cdb = BuildAtaPassThrough16(request);
  std::uint8_t sense[32] = {};
  sg_io_hdr_t hdr;
  std::memset(&hdr, 0, sizeof hdr);
  hdr.interface_id = 'S';
  hdr.cmd_len = static_cast<unsigned char>(cdb.size());
  hdr.cmdp = cdb.data();
  hdr.mx_sb_len = sizeof sense;
  hdr.sbp = sense;
  hdr.timeout = TimeoutMs(request.TimeOutValue);
  switch (direction) {
    case AtaData::In:
      hdr.dxfer_direction = SG_DXFER_FROM_DEV;
      break;
    case AtaData::Out:
      hdr.dxfer_direction = SG_DXFER_TO_DEV;
      break;
    case AtaData::None:
      hdr.dxfer_direction = SG_DXFER_NONE;
      break;
  }
  if (direction != AtaData::None) {
    hdr.dxfer_len = request.DataTransferLength;
    hdr.dxferp = request.DataBuffer;
  }

  const int rc = system_.sg_io(static_cast<int>(handle), &hdr);
  reply = request;
  std::memset(reply.PreviousTaskFile, 0, sizeof reply.PreviousTaskFile);
  std::memset(reply.CurrentTaskFile, 0, sizeof reply.CurrentTaskFile);
  if (!TransportOk(rc, hdr)) return false;

  const std::size_t sense_length = hdr.sb_len_wr < sizeof sense ? hdr.sb_len_wr : sizeof sense;
  if (ReplyFromSense(sense, sense_length, reply)) return true;
  if (hdr.status != 0) return false;  // CHECK CONDITION with nothing of the drive's in it
  reply.CurrentTaskFile[kTfCommand] = kQuietStatus;
  return true;
}

bool LinuxDeviceIo::ScsiPassThrough(DeviceHandle handle, ScsiPassThroughRequest& request) {
  OpenDisk disk;
  if (!Lookup(handle, disk) || disk.nvme) return false;
  if (request.CdbLength == 0 || request.CdbLength > sizeof request.Cdb) return false;

  std::uint8_t cdb[16];
  std::memcpy(cdb, request.Cdb, sizeof cdb);
  std::uint8_t sense[32] = {};
  std::size_t sense_max = request.SenseInfoLength;
  if (sense_max == 0 || sense_max > sizeof sense) sense_max = sizeof sense;

  sg_io_hdr_t hdr;
  std::memset(&hdr, 0, sizeof hdr);
  hdr.interface_id = 'S';
  hdr.cmd_len = request.CdbLength;
  hdr.cmdp = cdb;
  hdr.mx_sb_len = static_cast<unsigned char>(sense_max);
  hdr.sbp = sense;
  hdr.timeout = TimeoutMs(request.TimeOutValue);
  hdr.dxfer_direction = SG_DXFER_NONE;
  if (request.DataTransferLength != 0 && request.DataBuffer != nullptr) {
    if (request.DataIn == kScsiDataIn) {
      hdr.dxfer_direction = SG_DXFER_FROM_DEV;
    } else if (request.DataIn == kScsiDataOut) {
      hdr.dxfer_direction = SG_DXFER_TO_DEV;
    }
    if (hdr.dxfer_direction != SG_DXFER_NONE) {
      hdr.dxfer_len = request.DataTransferLength;
      hdr.dxferp = request.DataBuffer;
    }
  }

  const int rc = system_.sg_io(static_cast<int>(handle), &hdr);
  if (!TransportOk(rc, hdr)) return false;
  request.ScsiStatus = hdr.status;
  const std::size_t written = hdr.sb_len_wr < sense_max ? hdr.sb_len_wr : sense_max;
  std::memcpy(request.Sense, sense, written);
  request.SenseInfoLength = static_cast<std::uint8_t>(written);
  if (hdr.dxfer_direction != SG_DXFER_NONE && hdr.resid > 0 &&
      static_cast<std::uint32_t>(hdr.resid) <= request.DataTransferLength) {
    request.DataTransferLength -= static_cast<std::uint32_t>(hdr.resid);
  }
  return true;
}

NvmeReply LinuxDeviceIo::NvmePassThrough(DeviceHandle handle, const NvmeRequest& request) {
  NvmeReply reply;
  OpenDisk disk;
  if (!Lookup(handle, disk)) return reply;
  if (!disk.nvme || !system_.nvme_ioctl) {
    reply.outcome = NvmeOutcome::NoNvme;
    return reply;
  }
  // The kernel moves data by the opcode's direction: a buffer that disagrees would be
  // read from or written into where the program did not mean it to.
  if (!NvmeRequestIsWellFormed(request)) return reply;
  nvme_passthru_cmd cmd = BuildNvmePassthru(request);
  const long long result =
      system_.nvme_ioctl(static_cast<int>(handle), NvmeIoctlFor(request.queue), &cmd);
  return NvmeReplyOf(result, cmd);
}

std::optional<std::uint32_t> LinuxDeviceIo::NvmeNamespaceId(DeviceHandle handle) {
  OpenDisk disk;
  if (!Lookup(handle, disk) || !disk.nvme || !system_.nvme_ioctl) return std::nullopt;
  return NamespaceIdOf(system_.nvme_ioctl(static_cast<int>(handle), NVME_IOCTL_ID, nullptr));
}

void LinuxDeviceIo::RenumberLocked() {
  std::vector<PresentDisk> present;
  withheld_.clear();
  if (const auto disks = layout_.BlockDisks()) {
    for (const auto& name : *disks) {
      if (!system_.cap_sys_admin && ParseNvmeName(name)) {
        withheld_.push_back(name +
                            " (NVMe commands need the CAP_SYS_ADMIN capability, which this "
                            "process lacks)");
        continue;
      }
      present.push_back({name, layout_.ReadAttribute("/sys/block/" + name + "/dev")});
    }
  }
  numbering_.Update(present);
}

std::optional<std::string> LinuxDeviceIo::DiskOfDrive(int number) {
  std::lock_guard lock(mutex_);
  RenumberLocked();
  return numbering_.DiskAt(number);
}

std::optional<int> LinuxDeviceIo::DriveOfDisk(const std::string& disk) {
  std::lock_guard lock(mutex_);
  RenumberLocked();
  return numbering_.NumberOf(disk);
}

std::vector<std::string> LinuxDeviceIo::UnreachableDrives() {
  std::lock_guard lock(mutex_);
  RenumberLocked();
  std::vector<std::string> drives = numbering_.unnumbered();
  drives.insert(drives.end(), withheld_.begin(), withheld_.end());
  for (const auto& [disk, why] : open_errors_) {
    if (!numbering_.NumberOf(disk)) continue;
    std::string told = disk;
    told.append(" (").append(why).append(")");
    drives.push_back(std::move(told));
  }
  return drives;
}

std::vector<std::string> LinuxDeviceIo::OtherDisks() {
  std::vector<std::string> found;
  if (const auto disks = layout_.BlockDisks()) {
    for (const auto& name : *disks) {
      if (const auto kind = KindOfOtherDisk(name, layout_.HasDevice(name))) {
        found.push_back(name + " (" + *kind + ")");
      }
    }
  }
  return found;
}

std::string LinuxDeviceIo::DriveName(int drive_number) {
  return DiskOfDrive(drive_number).value_or(DeviceIo::DriveName(drive_number));
}

std::vector<int> LinuxDeviceIo::SystemDriveNumbers() { return FindSystemDrives().numbers; }

SystemDrives LinuxDeviceIo::FindSystemDrives() {
  const SystemDisks found = layout_.FindSystemDisks();
  SystemDrives drives;
  {
    std::lock_guard lock(mutex_);
    RenumberLocked();
    for (const auto& disk : found.disks) {
      if (const auto n = numbering_.NumberOf(disk)) drives.numbers.push_back(*n);
    }
  }
  std::sort(drives.numbers.begin(), drives.numbers.end());
  for (const auto& clause : found.untraced) {
    if (!drives.undetermined.empty()) drives.undetermined += "; ";
    drives.undetermined += clause;
  }
  return drives;
}

}  // namespace plovix::linuxdev
