// Which disk each physical drive number 0..31 names on Linux.
//
// SCSI disks (SATA, SAS, USB) keep the number of their kernel name, sda = 0, sdb = 1 ...
// sdaf = 31, as they always had: the kernel hands a disk the lowest free name, so a
// number stays with its disk while others come and go.
//
// NVMe namespaces take the numbers from 31 downward, in the order of their kernel names
// (nvme0n1, nvme0n2, nvme1n1, ...), skipping every number a present SCSI disk holds. A
// namespace keeps its number for as long as it stays present (the same name on the same
// device numbers): the program's table names drives by number, and a drive that came
// or went must not move another namespace onto the number the user chose. Newcomers take
// the highest number still free. The multipath path nodes nvmeXcYnZ are not drives; the
// namespace is reached through its joined node.
//
// No number ever names two disks. A disk that finds no number is listed as unnumbered,
// with the reason: a SCSI disk beyond sdaf, a SCSI disk that arrived on a number a
// namespace already holds, a namespace when all 32 numbers are taken.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devices/linux/SysfsLayout.h"

namespace plovix::linuxdev {

// A whole disk as the kernel shows it: its name and its device numbers ("259:0").
struct PresentDisk {
  std::string name;
  std::string dev;
  friend bool operator==(const PresentDisk&, const PresentDisk&) = default;
};

// What a whole disk that gets no drive number is, in the user's words, when it is a disk
// of a kind that takes neither ATA nor NVMe commands (virtio, Xen, MMC/SD); nullopt for
// the names of other block devices. has_device: sysfs shows a device behind it.
std::optional<std::string> KindOfOtherDisk(std::string_view name, bool has_device);

class DriveNumbering {
 public:
  // Takes the whole disks present now; other block devices (dm, md, loop ...) are no
  // drives and are passed over.
  void Update(const std::vector<PresentDisk>& disks);

  std::optional<std::string> DiskAt(int number) const;
  std::optional<int> NumberOf(std::string_view disk) const;
  // The drives left without a number by the last Update, each as "<name> (<why>)".
  const std::vector<std::string>& unnumbered() const { return unnumbered_; }

 private:
  std::map<int, PresentDisk> namespaces_;  // numbers the NVMe namespaces hold
  std::array<std::string, kMaxDriveNumber + 1> at_{};
  std::vector<std::string> unnumbered_;
};

}  // namespace plovix::linuxdev
