#include "devices/linux/SysfsLayout.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <set>
#include <system_error>
#include <utility>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace fs = std::filesystem;

namespace plovix::linuxdev {

namespace {

std::string Basename(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

// SCSI disks in drive order, then NVMe namespaces by controller and namespace (nvme2n1
// before nvme10n1), then the rest by name.
bool DiskOrder(const std::string& a, const std::string& b) {
  const auto ia = SdIndex(a);
  const auto ib = SdIndex(b);
  if (ia && ib) return *ia < *ib;
  if (ia || ib) return ia.has_value();
  const auto na = ParseNvmeName(a);
  const auto nb = ParseNvmeName(b);
  if (na && nb) return std::pair(na->controller, na->ns) < std::pair(nb->controller, nb->ns);
  if (na || nb) return na.has_value();
  return a < b;
}

std::string ReadFileText(const std::string& path, bool* ok = nullptr) {
  std::ifstream in(path, std::ios::binary);
  if (ok) *ok = static_cast<bool>(in);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace


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

std::optional<std::string> SysfsLayout::BlockOfNumbers(const std::string& dev) const {
  if (dev.empty() || dev.find('/') != std::string::npos) return std::nullopt;
  std::error_code ec;
  const fs::path resolved = fs::canonical(Path("/sys/dev/block/" + dev), ec);
  if (ec) return std::nullopt;
  return resolved.filename().string();
}

std::optional<std::string> SysfsLayout::BlockOfDevicePath(const std::string& path) const {
  if (path.empty() || path.front() != '/') return std::nullopt;
  // The node itself says which device it is, whatever it is called (/dev/disk/by-id/...).
  struct stat st {};
  if (::stat(Path(path).c_str(), &st) == 0) {
    if (!S_ISBLK(st.st_mode)) return std::nullopt;
    return BlockOfNumbers(std::to_string(major(st.st_rdev)) + ":" +
                          std::to_string(minor(st.st_rdev)));
  }
  // No node to look at (a /dev that is not the kernel's, or a name from another root):
  // go by the kernel's names.
  const std::string base = Basename(path);
  if (path == "/dev/mapper/" + base) {
    std::error_code ec;
    for (fs::directory_iterator it(Path("/sys/class/block"), ec), end; !ec && it != end;
         it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (ReadAttribute("/sys/class/block/" + name + "/dm/name") == base) return name;
    }
    return std::nullopt;
  }
  if (path == "/dev/" + base && CanonicalBlockDir(base)) return base;
  return std::nullopt;
}

std::vector<std::string> SysfsLayout::BtrfsMembers(const std::string& block) const {
  std::error_code ec;
  for (fs::directory_iterator it(Path("/sys/fs/btrfs"), ec), end; !ec && it != end;
       it.increment(ec)) {
    const fs::path devices = it->path() / "devices";
    if (!Exists((devices / block).string())) continue;
    std::vector<std::string> members;
    std::error_code list_ec;
    for (fs::directory_iterator m(devices, list_ec), m_end; !list_ec && m != m_end;
         m.increment(list_ec)) {
      members.push_back(m->path().filename().string());
    }
    if (list_ec) return {};
    return members;
  }
  return {};
}

namespace {

// Whether a path exists; nullopt when that cannot be told (an error other than its absence).
std::optional<bool> Present(const std::string& path) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(path, ec);
  if (ec && ec != std::errc::no_such_file_or_directory) return std::nullopt;
  return fs::exists(status);
}

bool IsAnonymous(const std::string& dev) { return dev.empty() || dev.rfind("0:", 0) == 0; }

// File systems with no local disk under them: kept in memory, reached over a network or
// from a virtual machine's host, or views of the kernel's own state. An automount point
// holds nothing until it is triggered; the file system it then mounts is listed after it.
bool HoldsNoLocalDisk(const std::string& type) {
  static const std::set<std::string, std::less<>> kTypes = {
      // memory
      "tmpfs", "ramfs", "rootfs", "devtmpfs",
      // network and virtual machine hosts
      "nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "9p", "virtiofs", "vboxsf", "ceph",
      "afs", "coda", "glusterfs", "lustre", "fuse.sshfs", "fuse.glusterfs", "fuse.s3fs",
      "fuse.rclone", "fuse.vmhgfs-fuse",
      // the kernel's state
      "proc", "sysfs", "devpts", "cgroup", "cgroup2", "securityfs", "debugfs", "tracefs",
      "pstore", "efivarfs", "bpf", "configfs", "fusectl", "hugetlbfs", "mqueue",
      "binfmt_misc", "autofs", "nsfs", "rpc_pipefs", "nfsd", "selinuxfs", "fuse.lxcfs",
      "fuse.gvfsd-fuse"};
  return kTypes.count(type) != 0;
}

bool IsLoopName(const std::string& name) {
  if (name.size() <= 4 || name.rfind("loop", 0) != 0) return false;
  return std::all_of(name.begin() + 4, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Whether mount point `point` contains `path` (both canonical).
bool Contains(const std::string& point, const std::string& path) {
  if (point == "/") return true;
  return path == point || (path.size() > point.size() && path.rfind(point, 0) == 0 &&
                           path[point.size()] == '/');
}

}  // namespace

// Follows one part of the system down to the whole disks under it. Every step that
// cannot be followed is a failure: a cautious tool must not take "no disk found" for
// "on no disk".
class SysfsLayout::Tracer {
 public:
  Tracer(const SysfsLayout& layout, const std::vector<MountEntry>& mounts)
      : layout_(layout), mounts_(mounts) {}

  bool Mount(std::size_t index) {
    const MountEntry& m = mounts_[index];
    const Guard guard(*this, "mount " + std::to_string(index));
    if (guard.too_deep) return Fail("too many layers under " + m.mount_point);
    if (!guard.entered) return Fail(m.mount_point + " leads back to itself");
    if (!IsAnonymous(m.dev)) {
      if (const auto block = layout_.BlockOfNumbers(m.dev)) return Block(*block);
      if (const auto block = layout_.BlockOfDevicePath(m.source)) return Block(*block);
      return Fail("block device " + m.dev + " (" + m.source + ") has no entry in sysfs");
    }
    if (m.fs_type == "overlay") {
      const auto layers = OverlayLayers(m.super_options);
      if (layers.empty()) return Fail("overlay " + m.source + " shows no layer directories");
      bool ok = true;
      for (const auto& layer : layers) ok = File(layer, "overlay layer") && ok;
      return ok;
    }
    if (HoldsNoLocalDisk(m.fs_type)) return true;

    std::vector<std::string> sources = {m.source};
    if (m.fs_type == "bcachefs") sources = Split(m.source, ':');  // "/dev/sda:/dev/sdb"
    bool ok = true;
    for (const auto& source : sources) {
      const auto block = layout_.BlockOfDevicePath(source);
      if (!block) {
        ok = Fail(m.fs_type + " " + m.source);
        continue;
      }
      if (m.fs_type != "btrfs") {
        ok = Block(*block) && ok;
        continue;
      }
      // The source names one member; all of them hold the file system.
      const auto members = layout_.BtrfsMembers(*block);
      if (members.empty()) ok = Fail("btrfs on " + m.source + " is not listed in /sys/fs/btrfs");
      ok = Block(*block) && ok;
      for (const auto& member : members) ok = Block(member) && ok;
    }
    return ok;
  }

  bool Block(const std::string& name) {
    const Guard guard(*this, "block " + name);
    if (guard.too_deep) return Fail("too many layers under " + name);
    if (!guard.entered) return Fail(name + " leads back to itself");
    if (guard.done) return true;
    const auto dir = layout_.CanonicalBlockDir(name);
    if (!dir) return Fail(name + " has no entry in sysfs");
    const std::string base = Basename(*dir);
    const auto partition = Present(*dir + "/partition");
    const auto loop = Present(*dir + "/loop");
    if (!partition || !loop) return Fail("the sysfs entry of " + base + " cannot be read");
    if (*partition) return Block(Basename(fs::path(*dir).parent_path().string()));
    if (*loop) {
      bool read = false;
      std::string backing = ReadFileText(*dir + "/loop/backing_file", &read);
      while (!backing.empty() && backing.back() == '\n') backing.pop_back();
      if (!read || backing.empty()) return Fail("the image of " + base + " cannot be read");
      return File(backing, base + "'s image");
    }
    if (IsLoopName(base)) return Fail(base + " shows no backing file");

    std::vector<std::string> slaves;
    std::error_code ec;
    for (fs::directory_iterator it(*dir + "/slaves", ec), end; !ec && it != end;
         it.increment(ec)) {
      slaves.push_back(it->path().filename().string());
    }
    if (ec && ec != std::errc::no_such_file_or_directory) {
      return Fail("the devices under " + base + " cannot be read");
    }
    if (slaves.empty()) {
      // Whatever stands on nothing else must be a whole disk, or it would be taken for
      // one that holds no drive.
      if (Present(layout_.Path("/sys/block/" + base)) != true) {
        return Fail(base + " is neither a whole disk nor a partition in sysfs");
      }
      disks.push_back(base);
      return true;
    }
    bool ok = true;
    for (const auto& slave : slaves) ok = Block(slave) && ok;
    return ok;
  }

  // A file or directory: a loop device's image, a swap file, an overlay layer. `what`
  // says which, for the failures.
  bool File(std::string path, const std::string& what = "") {
    constexpr std::string_view kDeleted = " (deleted)";
    bool deleted = false;
    if (path.size() > kDeleted.size() &&
        path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0) {
      path.resize(path.size() - kDeleted.size());
      deleted = true;
    }
    const std::string label = what.empty() ? path : what + " " + path;
    if (path.empty() || path.front() != '/') return Fail(label + " is not an absolute path");
    if (const auto block = layout_.BlockOfDevicePath(path)) return Block(*block);
    std::error_code ec;
    fs::path full = deleted ? fs::weakly_canonical(layout_.Path(path), ec)
                            : fs::canonical(layout_.Path(path), ec);
    if (ec) return Fail(label + " cannot be found");
    std::string resolved = full.string();
    if (!layout_.root_.empty()) {
      if (resolved.rfind(layout_.root_, 0) != 0) return Fail(label + " cannot be found");
      resolved = resolved.substr(layout_.root_.size());
      if (resolved.empty()) resolved = "/";
    }
    // The last of the deepest mount points over the path is the one that shows.
    std::optional<std::size_t> holder;
    for (std::size_t i = 0; i < mounts_.size(); ++i) {
      if (!Contains(mounts_[i].mount_point, resolved)) continue;
      if (!holder || mounts_[i].mount_point.size() >= mounts_[*holder].mount_point.size()) {
        holder = i;
      }
    }
    if (!holder) return Fail(label + " is on no mounted file system");
    return Mount(*holder);
  }

  std::vector<std::string> disks;
  std::string why;  // the first step that could not be followed

 private:
  // Marks a node as being followed; a node met again on its own path is a loop.
  struct Guard {
    Guard(Tracer& tracer, std::string key) : tracer_(tracer), key_(std::move(key)) {
      too_deep = ++tracer_.depth_ > kMaxDepth;
      if (too_deep || tracer_.active_.count(key_) != 0) return;
      done = tracer_.done_.count(key_) != 0;
      tracer_.active_.insert(key_);
      entered = true;
    }
    ~Guard() {
      --tracer_.depth_;
      if (!entered) return;
      tracer_.active_.erase(key_);
      tracer_.done_.insert(key_);
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    Tracer& tracer_;
    std::string key_;
    bool too_deep = false;
    bool entered = false;
    bool done = false;
  };
  static constexpr int kMaxDepth = 64;

  bool Fail(std::string text) {
    if (why.empty()) why = std::move(text);
    return false;
  }

  static std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t at = 0;
    while (at <= text.size()) {
      std::size_t end = text.find(separator, at);
      if (end == std::string::npos) end = text.size();
      if (end > at) parts.push_back(text.substr(at, end - at));
      at = end + 1;
    }
    return parts;
  }

  const SysfsLayout& layout_;
  const std::vector<MountEntry>& mounts_;
  std::set<std::string> active_;
  std::set<std::string> done_;
  int depth_ = 0;
};

SystemDisks SysfsLayout::FindSystemDisks() const {
  SystemDisks result;
  bool read = false;
  const std::string text = ReadFileText(Path("/proc/self/mountinfo"), &read);
  if (!read) {
    result.untraced.push_back("the mount table (/proc/self/mountinfo) cannot be read");
    return result;
  }
  const auto mounts = ParseMountInfo(text);
  const auto take = [&result](Tracer& tracer, bool ok, const std::string& what) {
    result.disks.insert(result.disks.end(), tracer.disks.begin(), tracer.disks.end());
    if (ok) return;
    std::string clause = what + " cannot be traced to its disks (" + tracer.why + ")";
    if (std::find(result.untraced.begin(), result.untraced.end(), clause) ==
        result.untraced.end()) {
      result.untraced.push_back(std::move(clause));
    }
  };

  bool root_seen = false;
  for (std::size_t i = 0; i < mounts.size(); ++i) {
    const std::string& point = mounts[i].mount_point;
    if (std::find(std::begin(kSystemMountPoints), std::end(kSystemMountPoints), point) ==
        std::end(kSystemMountPoints)) {
      continue;
    }
    // Every mount at the place counts, the covered ones too: they stay in use.
    root_seen = root_seen || point == "/";
    Tracer tracer(*this, mounts);
    const bool ok = tracer.Mount(i);
    take(tracer, ok && tracer.why.empty(), point);
  }
  if (!root_seen) result.untraced.push_back("/ is not in the mount table");

  // Without swap support the kernel has no /proc/swaps at all.
  if (Exists(Path("/proc/swaps"))) {
    const std::string swaps = ReadFileText(Path("/proc/swaps"), &read);
    if (!read) result.untraced.push_back("the list of swap areas (/proc/swaps) cannot be read");
    for (const auto& swap : ParseSwaps(swaps)) {
      Tracer tracer(*this, mounts);
      bool ok = false;
      if (swap.type == "partition") {
        const auto block = BlockOfDevicePath(swap.path);
        if (block) {
          ok = tracer.Block(*block);
        } else {
          tracer.why = "no such block device";
        }
        take(tracer, ok, "swap " + swap.path);
      } else {
        ok = tracer.File(swap.path);
        take(tracer, ok, "swap file " + swap.path);
      }
    }
  }

  // An NVMe drive is its controller: the namespaces beside the system's share its
  // self-test, its health log and its flash, and are the system's drive as well.
  const std::size_t traced = result.disks.size();
  for (std::size_t i = 0; i < traced; ++i) {
    const auto siblings = NvmeSiblings(result.disks[i]);
    result.disks.insert(result.disks.end(), siblings.begin(), siblings.end());
  }

  std::sort(result.disks.begin(), result.disks.end(), DiskOrder);
  result.disks.erase(std::unique(result.disks.begin(), result.disks.end()), result.disks.end());
  return result;
}

std::vector<std::string> SysfsLayout::NvmeSiblings(const std::string& disk) const {
  if (!ParseNvmeName(disk)) return {};
  const auto dir = CanonicalBlockDir(disk);
  const auto all = BlockDisks();
  if (!dir || !all) return {};
  // A namespace's disk hangs under its controller, or under its subsystem when the
  // kernel joins the paths of a multipath namespace. Without that joining, the
  // controllers of one subsystem each show the same namespaces as disks of their own:
  // the subsystem's NQN, which both directories carry, ties them together.
  const auto nqn_of = [](const fs::path& parent) {
    std::string nqn = ReadFileText((parent / "subsysnqn").string());
    while (!nqn.empty() && (nqn.back() == '\n' || nqn.back() == ' ')) nqn.pop_back();
    return nqn;
  };
  const fs::path parent = fs::path(*dir).parent_path();
  const std::string nqn = nqn_of(parent);
  std::vector<std::string> siblings;
  for (const auto& other : *all) {
    if (other == disk || !ParseNvmeName(other)) continue;
    const auto other_dir = CanonicalBlockDir(other);
    if (!other_dir) continue;
    const fs::path other_parent = fs::path(*other_dir).parent_path();
    if (other_parent == parent || (!nqn.empty() && nqn_of(other_parent) == nqn)) {
      siblings.push_back(other);
    }
  }
  return siblings;
}

std::vector<std::vector<std::string>> SysfsLayout::VolumeDisks() const {
  const auto mounts = ParseMountInfo(ReadFileText(Path("/proc/self/mountinfo")));
  const auto disks_of = [&](std::size_t index) {
    Tracer tracer(*this, mounts);
    tracer.Mount(index);  // a volume letter is a convenience: what can be traced will do
    std::sort(tracer.disks.begin(), tracer.disks.end(), DiskOrder);
    tracer.disks.erase(std::unique(tracer.disks.begin(), tracer.disks.end()), tracer.disks.end());
    return tracer.disks;
  };
  // One volume per file system: bind mounts share its numbers, btrfs subvolumes its source.
  const auto key_of = [](const MountEntry& m) {
    return m.fs_type == "btrfs" ? "btrfs " + m.source : m.dev;
  };

  std::vector<std::vector<std::string>> volumes(1);  // [0] is C:
  std::optional<std::size_t> root;
  for (std::size_t i = 0; i < mounts.size(); ++i) {
    if (mounts[i].mount_point == "/") root = i;  // the last one shows
  }
  std::vector<std::string> seen;
  if (root) {
    volumes[0] = disks_of(*root);
    seen.push_back(key_of(mounts[*root]));
  }
  for (std::size_t i = 0; i < mounts.size(); ++i) {
    if (volumes.size() >= static_cast<std::size_t>('Z' - 'C' + 1)) break;
    if (mounts[i].mount_point == "/") continue;
    const std::string key = key_of(mounts[i]);
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
    seen.push_back(key);
    auto disks = disks_of(i);
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

bool SysfsLayout::HasDevice(const std::string& name) const {
  return IsDisk(name) && Exists(Path("/sys/block/" + name + "/device"));
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
