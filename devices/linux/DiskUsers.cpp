#include "devices/linux/DiskUsers.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace plovix::linuxdev {

std::string DeviceNode(const std::string& name) {
  std::string node = "/dev/" + name;
  for (char& c : node) {
    if (c == '!') c = '/';
  }
  return node;
}

namespace {

// Stacks deeper than this are taken for a loop in sysfs rather than followed on.
constexpr int kMaxDepth = 16;

bool ReadWhole(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// The names in a directory; false when it exists but cannot be listed.
bool List(const std::string& dir, std::vector<std::string>& names) {
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec) return ec == std::errc::no_such_file_or_directory;
  for (fs::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) return false;
    names.push_back(it->path().filename().string());
  }
  return !ec;
}

// sdb2 before sdb10.
bool NameOrder(const std::string& a, const std::string& b) {
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

// Mount points come from the kernel as any bytes; a control character in one would break
// the line it is shown on.
std::string Printable(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return text;
}

bool IsAnonymous(const std::string& dev) { return dev.empty() || dev.rfind("0:", 0) == 0; }

std::vector<std::string> SplitColons(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find(':', at);
    if (end == std::string::npos) end = text.size();
    if (end > at) parts.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return parts;
}

class Finder {
 public:
  Finder(const SysfsLayout& layout, std::string disk) : layout_(layout), disk_(std::move(disk)) {}

  DiskUsers Run() {
    Collect();
    Mounts();
    Swaps();
    Loops();
    HeldBy();
    return std::move(result_);
  }

 private:
  struct Device {
    std::string dev;  // "major:minor"
    bool holder = false;
    std::set<std::string, decltype(&NameOrder)> bases{&NameOrder};  // a holder's footing
    std::vector<std::string> holders;  // the devices directly over this one
    bool used = false;                 // mounted, swap or a loop's backing
  };

  std::string Sys(const std::string& relative) const { return layout_.root() + relative; }

  void Fail(std::string text) {
    if (result_.why.empty()) result_.why = std::move(text);
  }
  void Say(std::string sentence) {
    if (std::find(result_.users.begin(), result_.users.end(), sentence) == result_.users.end()) {
      result_.users.push_back(std::move(sentence));
    }
  }

  // The disk, its partitions, and every device stacked over any of them.
  void Collect() {
    devices_[disk_].dev = layout_.ReadAttribute("/sys/block/" + disk_ + "/dev");
    bases_.push_back(disk_);
    std::vector<std::string> entries;
    if (!List(Sys("/sys/block/" + disk_), entries))
      Fail("the partitions of " + disk_ + " cannot be read");
    std::sort(entries.begin(), entries.end(), NameOrder);
    for (const auto& entry : entries) {
      std::error_code ec;
      if (!fs::exists(Sys("/sys/block/" + disk_ + "/" + entry + "/partition"), ec)) continue;
      devices_[entry].dev = layout_.ReadAttribute("/sys/block/" + disk_ + "/" + entry + "/dev");
      bases_.push_back(entry);
    }
    for (const auto& base : bases_) AddHolders(base, base, 0);
  }

  void AddHolders(const std::string& name, const std::string& base, int depth) {
    if (depth > kMaxDepth) return Fail("too many devices are stacked over " + base);
    std::vector<std::string> holders;
    if (!List(Sys("/sys/class/block/" + name + "/holders"), holders)) {
      return Fail("the devices over " + name + " cannot be read");
    }
    std::sort(holders.begin(), holders.end(), NameOrder);
    for (const auto& holder : holders) {
      if (holder == disk_ || (devices_.count(holder) != 0 && !devices_[holder].holder)) continue;
      auto& over = devices_[name].holders;
      if (std::find(over.begin(), over.end(), holder) == over.end()) over.push_back(holder);
      Device& device = devices_[holder];
      if (!device.holder) {
        device.holder = true;
        device.dev = layout_.ReadAttribute("/sys/class/block/" + holder + "/dev");
      }
      // Met again from the same footing: already followed (or a loop in sysfs).
      if (device.bases.insert(base).second) AddHolders(holder, base, depth + 1);
    }
  }

  std::optional<std::string> Member(const std::string& path) const {
    if (path.empty() || path.front() != '/') return std::nullopt;
    auto block = layout_.BlockOfDevicePath(path);
    if (!block || devices_.count(*block) == 0) return std::nullopt;
    return block;
  }

  // How a device is named to the user: a holder with the disk's devices under it.
  std::string Shown(const std::string& name) const {
    const Device& device = devices_.at(name);
    if (!device.holder) return DeviceNode(name);
    const std::string dm = layout_.ReadAttribute("/sys/class/block/" + name + "/dm/name");
    std::string shown = dm.empty() ? DeviceNode(name) : "/dev/mapper/" + dm;
    std::string under;
    for (const auto& base : device.bases) under += (under.empty() ? "" : ", ") + DeviceNode(base);
    return Printable(shown) + " (on " + under + ")";
  }

  std::string Kind(const std::string& holder) const {
    const std::string dm = layout_.ReadAttribute("/sys/class/block/" + holder + "/dm/name");
    if (!dm.empty()) return "the device-mapper device " + Printable(dm) + " (" + holder + ")";
    std::error_code ec;
    if (fs::exists(Sys("/sys/class/block/" + holder + "/md"), ec)) return "the md array " + holder;
    if (holder.rfind("bcache", 0) == 0) return "the bcache device " + holder;
    return holder;
  }

  void Mounts() {
    std::string text;
    if (!ReadWhole(Sys("/proc/self/mountinfo"), text)) {
      return Fail("the mount table (/proc/self/mountinfo) cannot be read");
    }
    for (const auto& mount : ParseMountInfo(text)) {
      const std::string point = Printable(mount.mount_point);
      std::vector<std::string> hit;
      if (!IsAnonymous(mount.dev)) {
        for (const auto& [name, device] : devices_) {
          if (device.dev == mount.dev) hit.push_back(name);
        }
      }
      // btrfs shows its own anonymous numbers, and bcachefs lists its devices with ':'.
      if (hit.empty()) {
        const auto sources = mount.fs_type == "bcachefs" ? SplitColons(mount.source)
                                                         : std::vector<std::string>{mount.source};
        for (const auto& source : sources) {
          if (const auto name = Member(source)) hit.push_back(*name);
        }
      }
      for (const auto& name : hit) {
        devices_[name].used = true;
        Say(Shown(name) + " is mounted at " + point);
      }
      if (mount.fs_type != "btrfs") continue;
      // The source names one device of the file system; all of them carry it.
      const auto block = layout_.BlockOfDevicePath(mount.source);
      if (!block) continue;
      for (const auto& member : layout_.BtrfsMembers(*block)) {
        if (devices_.count(member) == 0 || std::find(hit.begin(), hit.end(), member) != hit.end()) {
          continue;
        }
        devices_[member].used = true;
        Say(Shown(member) + " is part of the btrfs file system mounted at " + point);
      }
    }
  }

  void Swaps() {
    std::error_code ec;
    if (!fs::exists(Sys("/proc/swaps"), ec)) return;  // a kernel without swap support
    std::string text;
    if (!ReadWhole(Sys("/proc/swaps"), text)) {
      return Fail("the list of swap areas (/proc/swaps) cannot be read");
    }
    for (const auto& swap : ParseSwaps(text)) {
      if (swap.type != "partition") continue;  // a swap file's file system shows as mounted
      if (const auto name = Member(swap.path)) {
        devices_[*name].used = true;
        Say(Shown(*name) + " is in use as swap");
      }
    }
  }

  // A loop device set up over the disk itself: no holder, and no exclusive claim either.
  void Loops() {
    std::vector<std::string> blocks;
    if (!List(Sys("/sys/block"), blocks)) return;
    std::sort(blocks.begin(), blocks.end(), NameOrder);
    for (const auto& loop : blocks) {
      if (loop.rfind("loop", 0) != 0) continue;
      const std::string backing =
          layout_.ReadAttribute("/sys/block/" + loop + "/loop/backing_file");
      if (const auto name = Member(backing)) {
        devices_[*name].used = true;
        Say(Shown(*name) + " is the backing device of " + loop);
      }
    }
  }

  bool UsedOver(const std::string& name, int depth) const {
    const Device& device = devices_.at(name);
    if (device.used) return true;
    if (depth > kMaxDepth) return false;
    return std::any_of(device.holders.begin(), device.holders.end(),
                       [&](const std::string& h) { return UsedOver(h, depth + 1); });
  }

  // Holders that nothing above explains already (an inactive volume group's device, an md
  // array not mounted, a crypt mapping left open).
  void HeldBy() {
    for (const auto& base : bases_) {
      for (const auto& holder : devices_[base].holders) {
        if (!UsedOver(holder, 0)) Say(DeviceNode(base) + " is held by " + Kind(holder));
      }
    }
  }

  const SysfsLayout& layout_;
  const std::string disk_;
  std::map<std::string, Device> devices_;
  std::vector<std::string> bases_;  // the disk, then its partitions
  DiskUsers result_;
};

}  // namespace

DiskUsers FindDiskUsers(const SysfsLayout& layout, const std::string& disk) {
  return Finder(layout, disk).Run();
}

}  // namespace plovix::linuxdev
