// A throw-away directory laid out like the parts of /sys, /proc and /dev that the
// Linux adapter reads, for tests.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace plovix::testing {

class FakeLinuxTree {
 public:
  FakeLinuxTree() {
    // Memory-backed when the machine has it: these trees are built and torn down by the
    // hundred.
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    std::string pattern = (base / "plovix-sys-XXXXXX").string();
    root_ = mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~FakeLinuxTree() {
    std::error_code ec;
    if (!root_.empty()) std::filesystem::remove_all(root_, ec);
  }
  FakeLinuxTree(const FakeLinuxTree&) = delete;
  FakeLinuxTree& operator=(const FakeLinuxTree&) = delete;

  const std::string& root() const { return root_; }

  void File(const std::string& path, const std::string& text) {
    const std::filesystem::path full = root_ + path;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream(full, std::ios::binary) << text;
  }
  void Dir(const std::string& path) { std::filesystem::create_directories(root_ + path); }
  // A relative symbolic link, as sysfs makes them.
  void Link(const std::string& link, const std::string& target) {
    const std::filesystem::path full = root_ + link;
    std::filesystem::create_directories(full.parent_path());
    std::filesystem::create_directory_symlink(
        std::filesystem::path(root_ + target).lexically_relative(full.parent_path()), full);
  }

  // A SCSI disk whose SCSI device lives at scsi_dir (".../host0/target0:0:0/0:0:0:0").
  void ScsiDisk(const std::string& name, const std::string& scsi_dir, const std::string& dev,
                const std::string& vendor = "ATA     ", const std::string& model = "DISK",
                const std::string& rev = "1.0 ") {
    File(scsi_dir + "/vendor", vendor + "\n");
    File(scsi_dir + "/model", model + "\n");
    File(scsi_dir + "/rev", rev + "\n");
    const std::string block = scsi_dir + "/block/" + name;
    Block(name, block, dev, /*whole=*/true);
    Link(block + "/device", scsi_dir);
  }
  // An NVMe namespace's disk under its controller (or multipath subsystem) directory,
  // ".../0000:01:00.0/nvme/nvme0" or "/sys/devices/virtual/nvme-subsystem/nvme-subsys0".
  // A multipath path node has no device numbers: dev "".
  void NvmeDisk(const std::string& name, const std::string& parent_dir, const std::string& dev) {
    const std::string block = parent_dir + "/" + name;
    if (!dev.empty()) {
      Block(name, block, dev, /*whole=*/true);
      return;
    }
    Dir(block);
    Link("/sys/class/block/" + name, block);
    Link("/sys/block/" + name, block);
  }
  // A virtio block disk: a device behind it, but no SCSI one.
  void VirtioDisk(const std::string& name, const std::string& dev) {
    const std::string device = "/sys/devices/pci0000:00/0000:00:04.0/virtio2";
    Block(name, device + "/block/" + name, dev, /*whole=*/true);
    Link(device + "/block/" + name + "/device", device);
  }
  void Partition(const std::string& disk, const std::string& name, const std::string& dev) {
    const auto target = std::filesystem::canonical(root_ + "/sys/block/" + disk).string();
    const std::string block = target.substr(root_.size()) + "/" + name;
    File(block + "/partition", "1\n");
    Block(name, block, dev, /*whole=*/false);
  }
  // A device-mapper or md device over the given block devices.
  void Stacked(const std::string& name, const std::string& dev,
               const std::vector<std::string>& slaves, const std::string& dm_name = "") {
    const std::string block = "/sys/devices/virtual/block/" + name;
    Block(name, block, dev, /*whole=*/true);
    Dir(block + "/slaves");
    for (const auto& slave : slaves) {
      const std::string below =
          std::filesystem::canonical(root_ + "/sys/class/block/" + slave).string().substr(
              root_.size());
      Link(block + "/slaves/" + slave, below);
      Link(below + "/holders/" + name, block);  // sysfs links both ways
    }
    if (!dm_name.empty()) File(block + "/dm/name", dm_name + "\n");
  }
  // A loop device bound to an image (its path as the kernel shows it).
  void Loop(const std::string& name, const std::string& dev, const std::string& backing_file) {
    const std::string block = "/sys/devices/virtual/block/" + name;
    Block(name, block, dev, /*whole=*/true);
    Dir(block + "/slaves");
    File(block + "/loop/backing_file", backing_file + "\n");
  }
  // A btrfs file system whose devices are the given block devices.
  void Btrfs(const std::string& fsid, const std::vector<std::string>& devices) {
    const std::string dir = "/sys/fs/btrfs/" + fsid + "/devices";
    Dir(dir);
    for (const auto& device : devices) {
      Link(dir + "/" + device,
           std::filesystem::canonical(root_ + "/sys/class/block/" + device).string().substr(
               root_.size()));
    }
  }
  void UsbDevice(const std::string& dir, const std::string& id_vendor,
                 const std::string& id_product, const std::string& serial) {
    File(dir + "/idVendor", id_vendor + "\n");
    File(dir + "/idProduct", id_product + "\n");
    if (!serial.empty()) File(dir + "/serial", serial + "\n");
  }
  void UsbInterface(const std::string& dir, const std::string& protocol) {
    File(dir + "/bInterfaceClass", "08\n");
    File(dir + "/bInterfaceProtocol", protocol + "\n");
  }
  void MountInfo(const std::string& text) { File("/proc/self/mountinfo", text); }
  // /proc/swaps: its header, then the given lines.
  void Swaps(const std::string& lines) {
    File("/proc/swaps", "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n" + lines);
  }

 private:
  void Block(const std::string& name, const std::string& block, const std::string& dev,
             bool whole) {
    File(block + "/dev", dev + "\n");
    Link("/sys/class/block/" + name, block);
    Link("/sys/dev/block/" + dev, block);
    if (whole) Link("/sys/block/" + name, block);
  }

  std::string root_;
};

}  // namespace plovix::testing
