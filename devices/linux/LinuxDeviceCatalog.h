// The device catalogue on Linux: USB storage disks and their USB devices, found in
// sysfs and named the way Windows names their device instances.
#pragma once

#include <string>

#include "inventory/DeviceCatalog.h"
#include "devices/linux/SysfsLayout.h"

namespace plovix::linuxdev {

// One field of a USB storage id: trailing blanks dropped, the rest upper-cased, blanks,
// commas and unprintable characters turned into underscores.
std::string InstanceIdField(std::string_view text);

// "USBSTOR\DISK&VEN_<v>&PROD_<p>&REV_<r>\<serial>&<lun>" and "USB\VID_<x>&PID_<y>\<serial>".
std::string UsbStorageInstanceId(const SysfsLayout::UsbDisk& disk);
std::string UsbDeviceInstanceId(const SysfsLayout::UsbDisk& disk);
// The serial part of both ids: the device's USB serial number, or, for a device without
// one, a stand-in derived from where it is plugged in.
std::string UsbSerialPart(const SysfsLayout::UsbDisk& disk);

class LinuxDeviceCatalog : public DeviceCatalog {
 public:
  explicit LinuxDeviceCatalog(std::string root = "") : layout_(std::move(root)) {}

  std::optional<std::vector<std::optional<std::string>>> PresentDevices(
      std::string_view class_guid, std::string_view enumerator) override;

 private:
  SysfsLayout layout_;
};

}  // namespace plovix::linuxdev
