#include "devices/win32/Win32SystemDisks.h"

#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "devices/win32/Win32Nvme.h"

namespace plovix::win32 {

namespace {

static_assert(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS == 0x560000);
static_assert(offsetof(VOLUME_DISK_EXTENTS, Extents) == 8 && sizeof(DISK_EXTENT) == 24);
static_assert(BusTypeFileBackedVirtual == 15 && BusTypeSpaces == 16);

constexpr wchar_t kSetupKey[] = L"SYSTEM\\Setup";
constexpr wchar_t kMemoryKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management";
// More extents than any real volume has; a driver that claims more is not believed.
constexpr DWORD kMaxExtents = 4096;

std::string ErrorText(DWORD error) { return "error " + std::to_string(error); }

// The strings of a REG_MULTI_SZ (or the one of a REG_SZ), without the empty end.
std::vector<std::wstring> RegistryStrings(const RegistryValue& value) {
  std::vector<std::wstring> strings;
  const std::size_t chars = value.data.size() / sizeof(wchar_t);
  std::wstring all(chars, L'\0');
  if (chars != 0) std::memcpy(all.data(), value.data.data(), chars * sizeof(wchar_t));
  std::size_t start = 0;
  while (start < all.size()) {
    const std::size_t end = std::min(all.find(L'\0', start), all.size());
    if (end == start) break;  // the empty string that ends the list
    strings.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return strings;
}

// "\Device\HarddiskVolume3\pagefile.sys" -> "\Device\HarddiskVolume3"; empty if the
// path is not below a device.
std::wstring DeviceOfNtPath(const std::wstring& path) {
  constexpr std::wstring_view kDevice = L"\\Device\\";
  if (path.compare(0, kDevice.size(), kDevice) != 0) return {};
  const std::size_t end = path.find(L'\\', kDevice.size());
  const std::wstring device = path.substr(0, end);
  return device.size() > kDevice.size() ? device : std::wstring{};
}

class SystemTrace {
 public:
  explicit SystemTrace(SystemCalls& calls) : calls_(calls) {}

  SystemDrives Run() {
    TraceVolumeC();
    TraceWindowsFolder();
    TraceSystemPartition();
    TracePagingFiles();
    CheckDiskKinds();
    std::sort(drives_.numbers.begin(), drives_.numbers.end());
    drives_.numbers.erase(std::unique(drives_.numbers.begin(), drives_.numbers.end()), drives_.numbers.end());
    return drives_;
  }

 private:
  struct Found {
    int disk;
    std::string what;
  };

  void Fail(const std::string& clause) {
    if (!drives_.undetermined.empty()) drives_.undetermined += "; ";
    drives_.undetermined += clause;
  }

  // A volume root ("C:\", "C:\mount\") as the path its volume device opens by.
  std::optional<std::wstring> VolumeDevice(const std::wstring& root) {
    auto name = calls_.VolumeName(root);
    if (!name || name->empty()) return std::nullopt;
    if (name->back() == L'\\') name->pop_back();  // with it, the root folder would open
    return name;
  }

  void TraceVolumeC() {
    const std::wstring root = L"C:\\";
    switch (calls_.DriveType(root)) {
      case DRIVE_NO_ROOT_DIR:  // no C: at all
      case DRIVE_REMOTE:       // a network share or a CD: no disk of this machine
      case DRIVE_CDROM:
        return;
      default:
        break;
    }
    const auto device = VolumeDevice(root);
    if (!device) return Fail("volume C: has no volume name (" + ErrorText(calls_.LastError()) + ")");
    TraceVolume(*device, "volume C:");
  }

  void TraceWindowsFolder() {
    const auto folder = calls_.WindowsDirectory();
    if (!folder) return Fail("the Windows folder cannot be found (" + ErrorText(calls_.LastError()) + ")");
    const auto root = calls_.VolumePathName(*folder);
    const auto device = root ? VolumeDevice(*root) : std::nullopt;
    if (!device) {
      return Fail("the volume of " + Utf8(*folder) + " cannot be found (" + ErrorText(calls_.LastError()) + ")");
    }
    TraceVolume(*device, "the volume of " + Utf8(*folder));
  }

  // Setup records the partition the machine starts from, as an NT device path.
  void TraceSystemPartition() {
    const RegistryValue value = calls_.ReadMachineValue(kSetupKey, L"SystemPartition");
    if (value.status != ERROR_SUCCESS || (value.type != REG_SZ && value.type != REG_EXPAND_SZ)) {
      return Fail("the boot partition is not named in the registry (" + ErrorText(value.status) + ")");
    }
    const auto strings = RegistryStrings(value);
    const std::wstring device = strings.empty() ? std::wstring{} : DeviceOfNtPath(strings.front());
    if (device.empty()) {
      return Fail("the boot partition's name " + (strings.empty() ? std::string("(empty)") : Utf8(strings.front())) +
                  " is not a device");
    }
    TraceVolume(L"\\\\?\\GLOBALROOT" + device, "the boot partition " + Utf8(device));
  }

  // The paging files in use, as the memory manager lists them: "\??\C:\pagefile.sys".
  void TracePagingFiles() {
    const RegistryValue value = calls_.ReadMachineValue(kMemoryKey, L"ExistingPageFiles");
    if (value.status == ERROR_FILE_NOT_FOUND) return;  // no paging file
    if (value.status != ERROR_SUCCESS || (value.type != REG_MULTI_SZ && value.type != REG_SZ)) {
      return Fail("the paging files cannot be read from the registry (" + ErrorText(value.status) + ")");
    }
    for (const std::wstring& file : RegistryStrings(value)) {
      const std::string what = "the paging file " + Utf8(file);
      constexpr std::wstring_view kDosPrefix = L"\\??\\";
      if (file.compare(0, kDosPrefix.size(), kDosPrefix) == 0) {
        const std::wstring dos = file.substr(kDosPrefix.size());
        const auto root = calls_.VolumePathName(dos);
        const auto device = root ? VolumeDevice(*root) : std::nullopt;
        if (!device) {
          Fail("the volume of " + what + " cannot be found (" + ErrorText(calls_.LastError()) + ")");
          continue;
        }
        TraceVolume(*device, what);
        continue;
      }
      const std::wstring device = DeviceOfNtPath(file);
      if (device.empty()) {
        Fail(what + " is on no volume the program can name");
        continue;
      }
      TraceVolume(L"\\\\?\\GLOBALROOT" + device, what);
    }
  }

  void TraceVolume(const std::wstring& device, const std::string& what) {
    if (std::find(traced_.begin(), traced_.end(), device) != traced_.end()) return;
    traced_.push_back(device);
    const VolumeDisks found = FindVolumeDisks(calls_, device);
    if (!found.opened) return Fail(what + " cannot be opened (" + ErrorText(found.error) + ")");
    if (found.disks.empty()) {
      return Fail(what + " gives no disk extents" +
                  (found.error != ERROR_SUCCESS ? " (" + ErrorText(found.error) + ")" : std::string{}));
    }
    for (const int disk : found.disks) {
      drives_.numbers.push_back(disk);
      found_.push_back({disk, what});
    }
  }

  // A system volume inside a VHD or on a storage space sits on disks this trace does
  // not reach: the disk holding the VHD file, the pool's members.
  void CheckDiskKinds() {
    std::vector<int> checked;
    for (const Found& f : found_) {
      if (std::find(checked.begin(), checked.end(), f.disk) != checked.end()) continue;
      checked.push_back(f.disk);
      const HANDLE disk = calls_.Open(L"\\\\.\\PhysicalDrive" + std::to_wstring(f.disk), 0);
      if (disk == INVALID_HANDLE_VALUE) continue;  // a disk that does not open is never listed either
      const auto bus = StorageBusType(calls_, disk);
      calls_.Close(disk);
      if (bus == BusTypeFileBackedVirtual) {
        Fail(f.what + " is on virtual disk " + std::to_string(f.disk) + ", whose host disk is not traced");
      } else if (bus == BusTypeSpaces) {
        Fail(f.what + " is on Storage Spaces disk " + std::to_string(f.disk) +
             ", whose member disks are not traced");
      }
    }
  }

  SystemCalls& calls_;
  SystemDrives drives_;
  std::vector<std::wstring> traced_;
  std::vector<Found> found_;
};

}  // namespace

SystemDrives TraceSystemDrives(SystemCalls& calls) { return SystemTrace(calls).Run(); }

VolumeDisks FindVolumeDisks(SystemCalls& calls, const std::wstring& device) {
  VolumeDisks found;
  const HANDLE volume = calls.Open(device, 0);
  if (volume == INVALID_HANDLE_VALUE) {
    found.error = calls.LastError();
    return found;
  }
  found.opened = true;
  std::vector<std::uint8_t> buffer(offsetof(VOLUME_DISK_EXTENTS, Extents) + 8 * sizeof(DISK_EXTENT), 0);
  DWORD returned = 0;
  auto size = static_cast<DWORD>(buffer.size());
  BOOL ok = calls.Control(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, buffer.data(), size, &returned);
  DWORD error = ok ? ERROR_SUCCESS : calls.LastError();
  if (!ok && error == ERROR_MORE_DATA) {
    // The first call says how many extents there are.
    DWORD wanted = 0;
    std::memcpy(&wanted, buffer.data(), sizeof wanted);
    if (wanted > 0 && wanted <= kMaxExtents) {
      buffer.assign(offsetof(VOLUME_DISK_EXTENTS, Extents) + wanted * sizeof(DISK_EXTENT), 0);
      size = static_cast<DWORD>(buffer.size());
      returned = 0;
      ok = calls.Control(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, buffer.data(), size, &returned);
      error = ok ? ERROR_SUCCESS : calls.LastError();
    }
  }
  calls.Close(volume);
  if (!ok) {
    found.error = error;
    return found;
  }
  DWORD count = 0;
  std::memcpy(&count, buffer.data(), sizeof count);
  const std::size_t capacity = (buffer.size() - offsetof(VOLUME_DISK_EXTENTS, Extents)) / sizeof(DISK_EXTENT);
  if (returned < offsetof(VOLUME_DISK_EXTENTS, Extents) || count == 0 || count > capacity ||
      returned < offsetof(VOLUME_DISK_EXTENTS, Extents) + count * sizeof(DISK_EXTENT)) {
    return found;
  }
  for (DWORD i = 0; i < count; ++i) {
    DISK_EXTENT extent{};
    std::memcpy(&extent, buffer.data() + offsetof(VOLUME_DISK_EXTENTS, Extents) + i * sizeof(DISK_EXTENT),
                sizeof extent);
    found.disks.push_back(static_cast<int>(extent.DiskNumber));
  }
  return found;
}

}  // namespace plovix::win32
