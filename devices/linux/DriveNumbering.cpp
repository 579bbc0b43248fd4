#include "devices/linux/DriveNumbering.h"

#include <algorithm>
#include <utility>

namespace plovix::linuxdev {

void DriveNumbering::Update(const std::vector<PresentDisk>& disks) {
  std::vector<std::pair<int, const PresentDisk*>> scsi;
  std::vector<std::pair<NvmeName, const PresentDisk*>> nvme;
  for (const auto& disk : disks) {
    if (const auto index = SdIndex(disk.name)) {
      scsi.emplace_back(*index, &disk);
    } else if (const auto name = ParseNvmeName(disk.name)) {
      nvme.emplace_back(*name, &disk);
    }
  }
  std::sort(scsi.begin(), scsi.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::sort(nvme.begin(), nvme.end(), [](const auto& a, const auto& b) {
    return std::pair(a.first.controller, a.first.ns) < std::pair(b.first.controller, b.first.ns);
  });

  // Namespaces that went away give their numbers up; the others keep theirs.
  for (auto it = namespaces_.begin(); it != namespaces_.end();) {
    const bool present = std::any_of(nvme.begin(), nvme.end(),
                                     [&](const auto& n) { return *n.second == it->second; });
    it = present ? std::next(it) : namespaces_.erase(it);
  }

  at_.fill({});
  unnumbered_.clear();
  for (const auto& [number, disk] : namespaces_) at_[static_cast<std::size_t>(number)] = disk.name;

  for (const auto& [index, disk] : scsi) {
    if (index > kMaxDriveNumber) {
      unnumbered_.push_back(disk->name + " (beyond drive number " +
                            std::to_string(kMaxDriveNumber) + ")");
      continue;
    }
    const auto slot = static_cast<std::size_t>(index);
    if (!at_[slot].empty()) {
      // It came after the namespace: the number stays where the user may have seen it.
      unnumbered_.push_back(disk->name + " (drive number " + std::to_string(index) +
                            " is held by " + at_[slot] + ")");
      continue;
    }
    at_[slot] = disk->name;
  }

  for (const auto& entry : nvme) {
    const PresentDisk* disk = entry.second;
    const bool numbered = std::any_of(namespaces_.begin(), namespaces_.end(),
                                      [disk](const auto& held) { return held.second == *disk; });
    if (numbered) continue;
    int number = kMaxDriveNumber;
    while (number >= 0 && !at_[static_cast<std::size_t>(number)].empty()) --number;
    if (number < 0) {
      unnumbered_.push_back(disk->name + " (all " + std::to_string(kMaxDriveNumber + 1) +
                            " drive numbers are taken)");
      continue;
    }
    namespaces_[number] = *disk;
    at_[static_cast<std::size_t>(number)] = disk->name;
  }
}

namespace {

bool StartsWith(std::string_view name, std::string_view prefix) {
  return name.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::optional<std::string> KindOfOtherDisk(std::string_view name, bool has_device) {
  if (SdIndex(name) || ParseNvmeName(name) || !has_device) return std::nullopt;
  // Optical drives, tapes and floppies are no disks to test or erase.
  for (const char* passed : {"sr", "st", "nst", "fd"}) {
    if (StartsWith(name, passed)) return std::nullopt;
  }
  constexpr std::string_view kNoCommands = ", which takes no ATA or NVMe commands";
  if (StartsWith(name, "vd")) return "a virtio disk" + std::string(kNoCommands);
  if (StartsWith(name, "xvd")) return "a Xen virtual disk" + std::string(kNoCommands);
  if (StartsWith(name, "mmcblk")) {
    // The boot and RPMB areas of an eMMC are parts of the one device.
    if (name.find("boot") != std::string_view::npos ||
        name.find("rpmb") != std::string_view::npos) {
      return std::nullopt;
    }
    return "an SD card or eMMC" + std::string(kNoCommands);
  }
  return "a disk of a kind the program cannot send ATA or NVMe commands to";
}

std::optional<std::string> DriveNumbering::DiskAt(int number) const {
  if (number < 0 || number > kMaxDriveNumber) return std::nullopt;
  const std::string& name = at_[static_cast<std::size_t>(number)];
  if (name.empty()) return std::nullopt;
  return name;
}

std::optional<int> DriveNumbering::NumberOf(std::string_view disk) const {
  for (std::size_t i = 0; i < at_.size(); ++i) {
    if (!disk.empty() && at_[i] == disk) return static_cast<int>(i);
  }
  return std::nullopt;
}

}  // namespace plovix::linuxdev
