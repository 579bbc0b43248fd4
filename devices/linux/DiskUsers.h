// What keeps a whole disk busy on Linux, told as the user can act on it: mounted file
// systems, active swap, and the device-mapper, md and bcache devices stacked over the
// disk or its partitions, found through sysfs holders at any depth.
#pragma once

#include <string>
#include <vector>

#include "devices/linux/SysfsLayout.h"

namespace plovix::linuxdev {

struct DiskUsers {
  // One English sentence each, e.g. "/dev/sdb1 is mounted at /mnt/data".
  std::vector<std::string> users;
  // What could not be read, e.g. the mount table; the disk's users are then unknown.
  std::string why;
};

DiskUsers FindDiskUsers(const SysfsLayout& layout, const std::string& disk);

// The device node of a kernel block name: sysfs spells subdirectories of /dev with '!'
// (cciss!c0d0 is /dev/cciss/c0d0).
std::string DeviceNode(const std::string& name);

}  // namespace plovix::linuxdev
