#include "devices/linux/LinuxDeviceCatalog.h"

#include <algorithm>
#include <cstdio>

namespace plovix::linuxdev {

std::string InstanceIdField(std::string_view text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.remove_suffix(1);
  std::string out;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F || c == ',') {
      out += '_';
    } else if (c >= 'a' && c <= 'z') {
      out += static_cast<char>(c - 'a' + 'A');
    } else {
      out += c;
    }
  }
  return out;
}

std::string UsbSerialPart(const SysfsLayout::UsbDisk& disk) {
  if (!disk.serial.empty()) return InstanceIdField(disk.serial);
  // Windows names a device without a serial number after its place on the bus; the
  // sysfs directory of the device says as much.
  std::uint32_t hash = 2166136261u;
  for (char c : disk.usb_device_dir) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  }
  char text[16];
  std::snprintf(text, sizeof text, "%08X", hash);
  return std::string("7&") + text + "&0";
}

std::string UsbStorageInstanceId(const SysfsLayout::UsbDisk& disk) {
  return "USBSTOR\\DISK&VEN_" + InstanceIdField(disk.vendor) + "&PROD_" +
         InstanceIdField(disk.model) + "&REV_" + InstanceIdField(disk.rev) + "\\" +
         UsbSerialPart(disk) + "&" + std::to_string(disk.lun);
}

std::string UsbDeviceInstanceId(const SysfsLayout::UsbDisk& disk) {
  return "USB\\VID_" + InstanceIdField(disk.id_vendor) + "&PID_" +
         InstanceIdField(disk.id_product) + "\\" + UsbSerialPart(disk);
}

std::optional<std::vector<std::optional<std::string>>> LinuxDeviceCatalog::PresentDevices(
    std::string_view class_guid, std::string_view enumerator) {
  const auto disks = layout_.BlockDisks();
  if (!disks) return std::nullopt;
  const bool storage = class_guid == kDiskDriveClassGuid && enumerator == "USBSTOR";
  const bool usb = class_guid == kUsbClassGuid && enumerator == "USB";
  std::vector<std::optional<std::string>> ids;
  if (!storage && !usb) return ids;
  std::vector<std::string> devices_seen;
  for (const auto& name : *disks) {
    const auto info = layout_.UsbDiskInfo(name);
    if (!info) continue;
    if (storage) {
      ids.emplace_back(UsbStorageInstanceId(*info));
      continue;
    }
    // One USB device may carry several logical units; it is listed once.
    if (std::find(devices_seen.begin(), devices_seen.end(), info->usb_device_dir) !=
        devices_seen.end()) {
      continue;
    }
    devices_seen.push_back(info->usb_device_dir);
    ids.emplace_back(UsbDeviceInstanceId(*info));
  }
  return ids;
}

}  // namespace plovix::linuxdev
