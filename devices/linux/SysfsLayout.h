// How the Linux block layer is laid out under /sys and /proc, read through a root
// prefix so that tests can hand in a fake tree ("" is the running system). The kernel's
// disk names are decoded in KernelNames.cpp, the /proc texts in ProcParsers.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plovix::linuxdev {

inline constexpr int kMaxDriveNumber = 31;

// Kernel SCSI disk names follow sda..sdz, sdaa..sdzz, sdaaa...; physical drive n is the
// n-th name of that sequence, so a drive keeps its number when another one goes away.
std::optional<int> SdIndex(std::string_view name);
std::string SdName(int index);  // "" for a negative index
// Drive number of a SCSI disk name, only for 0..31. NVMe namespaces are numbered by
// the adapter (DriveNumbering), from what is present.
std::optional<int> DriveNumberOf(std::string_view name);

// An NVMe namespace's block device, "nvme<c>n<n>": c is the controller's number, or the
// subsystem's when the kernel joins the paths of a multipath namespace, and n the
// kernel's count of that controller's namespaces (not always the namespace id).
struct NvmeName {
  unsigned controller = 0;
  unsigned ns = 0;
  friend bool operator==(const NvmeName&, const NvmeName&) = default;
};
// None for anything else: partitions (nvme0n1p1), controllers (nvme0), path nodes.
std::optional<NvmeName> ParseNvmeName(std::string_view name);
// "nvme<s>c<c>n<n>": one controller's path to a multipath namespace, a hidden disk with
// no device node; the namespace is reached through its joined node nvme<s>n<n>.
bool IsNvmePathNode(std::string_view name);

// "\\.\PhysicalDrive<n>" -> n; "\\.\X:" -> X (upper case).
std::optional<int> ParsePhysicalDrivePath(std::string_view path);
std::optional<char> ParseVolumePath(std::string_view path);

struct MountEntry {
  std::string dev;          // "major:minor"
  std::string mount_point;  // escapes decoded
  std::string fs_type;
  std::string source;
  std::string super_options;  // as shown, escapes kept: values may hold escaped commas
};
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// One line of /proc/swaps.
struct SwapEntry {
  std::string path;  // escapes decoded
  std::string type;  // "partition" or "file"
};
std::vector<SwapEntry> ParseSwaps(std::string_view text);

// The directories of an overlay mount's layers (lower, upper and work), from its super
// options, in the order shown. Relative paths are kept as they are.
std::vector<std::string> OverlayLayers(std::string_view super_options);

// The running machine cannot do without the file systems mounted here, nor its swap.
inline constexpr std::string_view kSystemMountPoints[] = {"/", "/boot", "/boot/efi", "/usr",
                                                          "/var"};

// The whole disks the running system lives on.
struct SystemDisks {
  std::vector<std::string> disks;  // ordered by drive number
  // One clause for each part of the system that could not be followed down to its disks
  // ("/ cannot be traced to its disks (zfs rpool/ROOT)"); the system may then be on any.
  std::vector<std::string> untraced;
};

class SysfsLayout {
 public:
  explicit SysfsLayout(std::string root) : root_(std::move(root)) {}

  const std::string& root() const { return root_; }

  // Every whole disk under the system mounts and the active swap, through partitions,
  // device-mapper and md stacks, bcache, btrfs multi-device file systems, loop devices
  // (to the file system that holds the image) and overlay layers; with an NVMe
  // namespace, every namespace of its controller.
  SystemDisks FindSystemDisks() const;
  // The other NVMe namespaces of the controller or subsystem that `disk` belongs to
  // (the same parent directory, or the same subsystem NQN); none for a disk that is no
  // NVMe namespace.
  std::vector<std::string> NvmeSiblings(const std::string& disk) const;

  // Whole disks under the root file system.
  std::vector<std::string> RootDisks() const;
  // Drive numbers (0..31) of the root disks.
  std::vector<int> RootDriveNumbers() const;
  // The disks behind each lettered volume: C is the root; D.. the other mounted block
  // file systems in mount order. Empty when the letter names no volume.
  std::vector<std::string> DisksOfVolume(char letter) const;

  // All whole block devices listed in /sys/block: SCSI disks first in drive order, then
  // NVMe namespaces by controller and namespace, then the rest by name.
  std::optional<std::vector<std::string>> BlockDisks() const;
  bool IsDisk(const std::string& name) const;
  // A disk with a device behind it (a controller, a virtio or MMC device), unlike loop,
  // dm, md or zram devices.
  bool HasDevice(const std::string& name) const;

  // A disk attached through USB mass storage (bulk-only or UAS).
  struct UsbDisk {
    std::string vendor;    // SCSI vendor, product and revision as sysfs shows them
    std::string model;
    std::string rev;
    unsigned lun = 0;
    std::string usb_device_dir;  // sysfs directory of the USB device
    std::string serial;          // USB serial number, "" when the device has none
    std::string id_vendor;       // four hex digits
    std::string id_product;
    std::string interface_protocol;  // "50" bulk-only, "62" UAS
  };
  std::optional<UsbDisk> UsbDiskInfo(const std::string& disk) const;
  bool IsUsbDisk(const std::string& disk) const { return UsbDiskInfo(disk).has_value(); }

  std::string ReadAttribute(const std::string& path) const;  // root-relative, trimmed of '\n'

  // The block device behind "major:minor", or behind a device node's path.
  std::optional<std::string> BlockOfNumbers(const std::string& dev) const;
  std::optional<std::string> BlockOfDevicePath(const std::string& path) const;
  // The members of the btrfs file system one of whose devices is `block`.
  std::vector<std::string> BtrfsMembers(const std::string& block) const;

 private:
  class Tracer;

  std::string Path(const std::string& relative) const { return root_ + relative; }
  std::optional<std::string> CanonicalBlockDir(const std::string& block) const;
  std::vector<std::vector<std::string>> VolumeDisks() const;

  std::string root_;
};

}  // namespace plovix::linuxdev
