#include "platform/linux/SysfsLayout.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace plovix::linuxdev {

std::optional<int> SdIndex(std::string_view name) {
  if (name.size() < 3 || name.size() > 6 || name.substr(0, 2) != "sd") return std::nullopt;
  int value = 0;
  for (char c : name.substr(2)) {
    if (c < 'a' || c > 'z') return std::nullopt;
    value = value * 26 + (c - 'a' + 1);
  }
  return value - 1;
}

std::string SdName(int index) {
  if (index < 0) return {};
  std::string letters;
  long n = static_cast<long>(index) + 1;
  while (n > 0) {
    --n;
    letters.insert(letters.begin(), static_cast<char>('a' + n % 26));
    n /= 26;
  }
  return "sd" + letters;
}

std::optional<int> DriveNumberOf(std::string_view name) {
  const auto index = SdIndex(name);
  if (!index || *index > kMaxDriveNumber) return std::nullopt;
  return index;
}

std::optional<int> ParsePhysicalDrivePath(std::string_view path) {
  constexpr std::string_view prefix = "\\\\.\\PhysicalDrive";
  if (path.size() <= prefix.size() || path.size() > prefix.size() + 4 ||
      path.substr(0, prefix.size()) != prefix) {
    return std::nullopt;
  }
  int value = 0;
  for (char c : path.substr(prefix.size())) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::optional<char> ParseVolumePath(std::string_view path) {
  if (path.size() != 6 || path.substr(0, 4) != "\\\\.\\" || path[5] != ':') return std::nullopt;
  char letter = path[4];
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter < 'A' || letter > 'Z') return std::nullopt;
  return letter;
}

namespace {

// mountinfo escapes blanks, tabs, newlines and backslashes as \ooo.
std::string Unescape(std::string_view text) {
  std::string out;
  const auto oct = [](char c) { return c >= '0' && c <= '7'; };
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && oct(text[i + 1]) && oct(text[i + 2]) &&
        oct(text[i + 3])) {
      out += static_cast<char>(((text[i + 1] - '0') << 6) | ((text[i + 2] - '0') << 3) |
                               (text[i + 3] - '0'));
      i += 3;
      continue;
    }
    out += text[i];
  }
  return out;
}

std::string Basename(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

bool DiskOrder(const std::string& a, const std::string& b) {
  const auto ia = SdIndex(a);
  const auto ib = SdIndex(b);
  if (ia && ib) return *ia < *ib;
  if (ia || ib) return ia.has_value();
  return a < b;
}

std::string ReadFileText(const std::string& path, bool* ok = nullptr) {
  std::ifstream in(path, std::ios::binary);
  if (ok) *ok = static_cast<bool>(in);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  std::vector<MountEntry> mounts;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::vector<std::string_view> fields;
    std::size_t at = start;
    while (at < end) {
      while (at < end && text[at] == ' ') ++at;
      std::size_t field_end = at;
      while (field_end < end && text[field_end] != ' ') ++field_end;
      if (field_end > at) fields.push_back(text.substr(at, field_end - at));
      at = field_end;
    }
    start = end + 1;
    // id parent major:minor root mount-point options [optional...] - type source super
    const auto dash = std::find(fields.begin(), fields.end(), std::string_view("-"));
    if (fields.size() < 6 || dash == fields.end() || dash - fields.begin() < 6 ||
        fields.end() - dash < 3) {
      continue;
    }
    MountEntry entry;
    entry.dev = std::string(fields[2]);
    entry.mount_point = Unescape(fields[4]);
    entry.fs_type = std::string(dash[1]);
    entry.source = Unescape(dash[2]);
    mounts.push_back(std::move(entry));
  }
  return mounts;
}

std::string SysfsLayout::ReadAttribute(const std::string& path) const {
  std::string text = ReadFileText(Path(path));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
  return text;
}

std::optional<std::string> SysfsLayout::CanonicalBlockDir(const std::string& block) const {
  if (block.empty() || block.find('/') != std::string::npos || block == "." || block == "..") {
    return std::nullopt;
  }
  for (const char* dir : {"/sys/class/block/", "/sys/block/"}) {
    std::error_code ec;
    const fs::path resolved = fs::canonical(Path(dir + block), ec);
    if (!ec) return resolved.string();
  }
  return std::nullopt;
}

void SysfsLayout::CollectDisks(const std::string& block, std::vector<std::string>& out,
                               int depth) const {
  if (depth > 16) return;  // a loop in a broken tree
  const auto dir = CanonicalBlockDir(block);
  if (!dir) return;
  if (Exists(*dir + "/partition")) {
    out.push_back(Basename(fs::path(*dir).parent_path().string()));
    return;
  }
  std::vector<std::string> slaves;
  std::error_code ec;
  for (fs::directory_iterator it(*dir + "/slaves", ec), end; !ec && it != end; it.increment(ec)) {
    slaves.push_back(it->path().filename().string());
  }
  if (slaves.empty()) {
    out.push_back(Basename(*dir));
    return;
  }
  for (const auto& slave : slaves) CollectDisks(slave, out, depth + 1);
}

std::vector<std::string> SysfsLayout::PhysicalDisksOf(const std::string& block) const {
  std::vector<std::string> disks;
  CollectDisks(block, disks, 0);
  std::sort(disks.begin(), disks.end(), DiskOrder);
  disks.erase(std::unique(disks.begin(), disks.end()), disks.end());
  return disks;
}

std::optional<std::string> SysfsLayout::BlockOfMount(const MountEntry& mount) const {
  if (!mount.dev.empty() && mount.dev.rfind("0:", 0) != 0) {
    std::error_code ec;
    const fs::path resolved = fs::canonical(Path("/sys/dev/block/" + mount.dev), ec);
    if (!ec) return resolved.filename().string();
  }
  if (mount.source.rfind("/dev/", 0) != 0) return std::nullopt;
  const std::string base = Basename(mount.source);
  if (mount.source.rfind("/dev/mapper/", 0) == 0) {
    std::error_code ec;
    for (fs::directory_iterator it(Path("/sys/class/block"), ec), end; !ec && it != end;
         it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (ReadAttribute("/sys/class/block/" + name + "/dm/name") == base) return name;
    }
    return std::nullopt;
  }
  if (CanonicalBlockDir(base)) return base;
  return std::nullopt;
}

std::vector<std::vector<std::string>> SysfsLayout::VolumeDisks() const {
  const auto mounts = ParseMountInfo(ReadFileText(Path("/proc/self/mountinfo")));
  std::vector<std::vector<std::string>> volumes(1);  // [0] is C:
  std::optional<std::string> root_block;
  for (const auto& mount : mounts) {
    if (mount.mount_point == "/") root_block = BlockOfMount(mount);  // the last one shows
  }
  if (root_block) volumes[0] = PhysicalDisksOf(*root_block);

  std::vector<std::string> seen;
  if (root_block) seen.push_back(*root_block);
  for (const auto& mount : mounts) {
    if (volumes.size() >= static_cast<std::size_t>('Z' - 'C' + 1)) break;
    if (mount.mount_point == "/") continue;
    const auto block = BlockOfMount(mount);
    if (!block || std::find(seen.begin(), seen.end(), *block) != seen.end()) continue;
    seen.push_back(*block);
    auto disks = PhysicalDisksOf(*block);
    if (!disks.empty()) volumes.push_back(std::move(disks));
  }
  return volumes;
}

std::vector<std::string> SysfsLayout::RootDisks() const { return VolumeDisks()[0]; }

std::vector<int> SysfsLayout::RootDriveNumbers() const {
  std::vector<int> numbers;
  for (const auto& disk : RootDisks()) {
    if (const auto n = DriveNumberOf(disk)) numbers.push_back(*n);
  }
  return numbers;
}

std::vector<std::string> SysfsLayout::DisksOfVolume(char letter) const {
  if (letter < 'C' || letter > 'Z') return {};
  const auto volumes = VolumeDisks();
  const std::size_t index = static_cast<std::size_t>(letter - 'C');
  return index < volumes.size() ? volumes[index] : std::vector<std::string>{};
}

std::optional<std::vector<std::string>> SysfsLayout::BlockDisks() const {
  std::vector<std::string> disks;
  std::error_code ec;
  fs::directory_iterator it(Path("/sys/block"), ec);
  if (ec) return std::nullopt;
  for (fs::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) break;
    disks.push_back(it->path().filename().string());
  }
  std::sort(disks.begin(), disks.end(), DiskOrder);
  return disks;
}

bool SysfsLayout::IsDisk(const std::string& name) const {
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
    return false;
  }
  return Exists(Path("/sys/block/" + name));
}

std::optional<SysfsLayout::UsbDisk> SysfsLayout::UsbDiskInfo(const std::string& disk) const {
  if (!IsDisk(disk)) return std::nullopt;
  std::error_code ec;
  const fs::path scsi = fs::canonical(Path("/sys/block/" + disk + "/device"), ec);
  if (ec) return std::nullopt;
  const fs::path sys_top = fs::weakly_canonical(Path("/sys"), ec);
  std::string iface;
  std::string usb_device;
  for (fs::path p = scsi.parent_path(); !p.empty() && p != sys_top && p != p.root_path();
       p = p.parent_path()) {
    const std::string dir = p.string();
    if (iface.empty() && Exists(dir + "/bInterfaceClass")) iface = dir;
    if (Exists(dir + "/idVendor") && Exists(dir + "/idProduct")) {
      usb_device = dir;
      break;
    }
  }
  if (usb_device.empty()) return std::nullopt;

  auto read_abs = [](const std::string& path) {
    std::string text = ReadFileText(path);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  };
  UsbDisk info;
  info.vendor = read_abs(scsi.string() + "/vendor");
  info.model = read_abs(scsi.string() + "/model");
  info.rev = read_abs(scsi.string() + "/rev");
  const std::string address = scsi.filename().string();  // host:channel:target:lun
  const auto colon = address.find_last_of(':');
  if (colon != std::string::npos) {
    try {
      info.lun = static_cast<unsigned>(std::stoul(address.substr(colon + 1)));
    } catch (...) {
      info.lun = 0;
    }
  }
  info.usb_device_dir = usb_device;
  info.serial = read_abs(usb_device + "/serial");
  info.id_vendor = read_abs(usb_device + "/idVendor");
  info.id_product = read_abs(usb_device + "/idProduct");
  if (!iface.empty()) info.interface_protocol = read_abs(iface + "/bInterfaceProtocol");
  return info;
}

}  // namespace plovix::linuxdev
