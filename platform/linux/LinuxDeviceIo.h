// The device port on Linux: physical drives are the kernel's SCSI disks (sda = 0,
// sdb = 1, ...), volumes are mounted file systems, and both pass-through calls are
// carried by SG_IO on the disk's block device.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>

#include <scsi/sg.h>

#include "drive/DeviceIo.h"
#include "platform/linux/SysfsLayout.h"

namespace plovix::linuxdev {

// The operating-system edges of the adapter, replaceable in tests.
struct LinuxSystem {
  std::string root;  // prefix for /sys, /proc and /dev; "" on the running system
  // Opens a device node for SG_IO; returns a descriptor or -1.
  std::function<int(const std::string& node)> open_device;
  std::function<void(int fd)> close_device;
  // ioctl(fd, SG_IO, hdr): 0 when the call went through, -1 when it did not.
  std::function<int(int fd, sg_io_hdr_t* hdr)> sg_io;
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

  const SysfsLayout& layout() const { return layout_; }

 private:
  struct OpenDisk {
    std::string name;
    bool usb = false;
  };
  DeviceHandle OpenDiskNamed(const std::string& name);
  bool Lookup(DeviceHandle handle, OpenDisk& disk);

  LinuxSystem system_;
  SysfsLayout layout_;
  std::mutex mutex_;
  std::map<DeviceHandle, OpenDisk> open_;
};

}  // namespace plovix::linuxdev
