// A fake Windows machine under the device adapter: devices by path, each answering the
// DeviceIoControl requests the adapter makes the way Windows documents them (StorNVMe
// disks, volumes with their disk extents and locks, plain disks with a bus type), disk
// contents for ReadFile and WriteFile, the registry values and folders the system-disk
// trace reads. Every call is recorded, so tests can look at the bytes the adapter sent;
// every open gives a handle of its own, which stops working once closed.
#pragma once

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "devices/win32/Win32Calls.h"

namespace plovix::win32::testing_fake {

inline std::uint32_t Dword(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | bytes.at(at + static_cast<std::size_t>(i));
  return v;
}

inline void PutDword(std::uint8_t* at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// An NVMe namespace under StorNVMe, with its controller.
struct NvmeDisk {
  std::vector<std::uint8_t> identify_controller = std::vector<std::uint8_t>(4096, 0);
  std::map<std::uint32_t, std::vector<std::uint8_t>> identify_namespace;  // by NSID
  std::map<std::uint32_t, std::vector<std::uint8_t>> logs;                // by log id
  // Protocol-specific queries: a Win32 error instead of an answer; or an answer whose
  // descriptor or data fields are as given.
  DWORD query_error = 0;
  std::optional<DWORD> descriptor_version;
  std::optional<DWORD> answer_data_length;
  std::optional<DWORD> answer_data_offset;
  std::optional<DWORD> answer_returned;
  DWORD fixed_return = 0;
  // IOCTL_STORAGE_PROTOCOL_COMMAND.
  DWORD command_error = 0;
  DWORD command_return_status = 1;  // STORAGE_PROTOCOL_STATUS_SUCCESS
  DWORD command_error_code = 0;
  std::uint16_t command_error_info_status = 0;  // written into the error information entry
  DWORD command_fixed = 0;
  std::optional<SCSI_ADDRESS> address;
};

struct Device {
  std::optional<STORAGE_BUS_TYPE> bus;  // none: the device property query fails
  std::optional<NvmeDisk> nvme;
  // Disk geometry and contents.
  DWORD bytes_per_sector = 512;
  std::vector<std::uint8_t> content;
  DWORD geometry_error = 0;
  DWORD read_error = 0;
  DWORD write_error = 0;
  DWORD flush_error = 0;
  std::optional<DWORD> transfer_done;  // bytes a read or write reports done
  std::deque<DWORD> transfer_limits;   // the next transfers move at most these many bytes
  DWORD update_error = 0;              // IOCTL_DISK_UPDATE_PROPERTIES
  DWORD open_error = 0;                // opens for data access fail so (access 0 still opens)
  // Volume.
  std::vector<DWORD> extents;
  DWORD extents_error = ERROR_INVALID_FUNCTION;  // when extents is empty
  DWORD lock_error = 0;
  DWORD dismount_error = 0;
  HANDLE locked_by = nullptr;  // the handle holding FSCTL_LOCK_VOLUME
  bool dismounted = false;     // until the lock is given up
  // Windows refuses writes into its sectors through the disk (it is mounted).
  bool Mounted() const { return !extents.empty() && locked_by == nullptr && !dismounted; }
};

struct Call {
  HANDLE handle;
  DWORD code;
  std::vector<std::uint8_t> in;
  DWORD out_bytes;
};

struct Transfer {
  bool write;
  std::uint64_t offset;
  DWORD bytes;
  bool page_aligned;
};

class FakeMachine : public SystemCalls {
 public:
  std::map<std::wstring, Device> devices;  // by the path CreateFileW is given
  std::map<std::wstring, UINT> drive_types;
  std::map<std::wstring, std::wstring> volume_names;  // root -> "\\?\Volume{...}\"
  std::vector<std::wstring> mount_roots;              // for GetVolumePathNameW
  std::optional<std::wstring> windows_directory = L"C:\\Windows";
  std::map<std::wstring, RegistryValue> registry;  // "key|value"
  DWORD build = 19045;

  std::vector<Call> calls;
  std::vector<Transfer> transfers;
  std::vector<std::pair<std::wstring, DWORD>> opened;  // path, access
  std::vector<DWORD> open_flags;                       // beside opened
  int flushes = 0;
  int open_handles = 0;
  int bad_closes = 0;  // of handles never opened or closed already
  // FindFirstVolumeW's list (AddVolume adds to it); with volumes_error it fails.
  std::vector<std::wstring> volume_list;
  DWORD volumes_error = 0;
  // What the adapter did to volumes and disks, one line per step: "open d", "lock d",
  // "dismount d", "unlock d", "close d", "open disk3 direct" (unbuffered, written
  // through), "geometry disk3", "flush disk3", "update disk3". Volumes are named by their
  // id, disks as diskN; opens for queries only (access 0) and their closes are left out.
  std::vector<std::string> steps;

  HANDLE Open(const std::wstring& path, DWORD access, DWORD flags = 0) override {
    opened.emplace_back(path, access);
    open_flags.push_back(flags);
    const auto it = devices.find(path);
    if (it == devices.end()) {
      Fail(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    if (access != 0 && it->second.open_error != 0) {
      Fail(it->second.open_error);
      return INVALID_HANDLE_VALUE;
    }
    if (access != 0) {
      const bool direct = (flags & FILE_FLAG_NO_BUFFERING) != 0 && (flags & FILE_FLAG_WRITE_THROUGH) != 0;
      Step("open", path, direct ? " direct" : "");
    }
    ++open_handles;
    handles_.push_back({path, access, flags, true});
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(0x1000 + 16 * (handles_.size() - 1)));
  }
  void Close(HANDLE handle) override {
    Handle* h = HandleEntry(handle);
    if (h == nullptr || !h->open) {
      ++bad_closes;
      return;
    }
    h->open = false;
    --open_handles;
    if (h->access != 0) Step("close", h->path);
    const auto it = devices.find(h->path);
    if (it != devices.end() && it->second.locked_by == handle) {
      // Windows gives a lock up with the handle that holds it.
      it->second.locked_by = nullptr;
      it->second.dismounted = false;
    }
  }

  BOOL Control(HANDLE handle, DWORD code, void* in, DWORD in_bytes, void* out, DWORD out_bytes,
               DWORD* returned) override {
    Call call{handle, code, {}, out_bytes};
    if (in != nullptr) call.in.assign(static_cast<std::uint8_t*>(in), static_cast<std::uint8_t*>(in) + in_bytes);
    calls.push_back(call);
    *returned = 0;
    Device* device = DeviceOf(handle);
    if (device == nullptr) return Fail(ERROR_INVALID_HANDLE);
    auto* o = static_cast<std::uint8_t*>(out);
    const std::wstring& path = HandleEntry(handle)->path;
    switch (code) {
      case FSCTL_LOCK_VOLUME:
        Step("lock", path);
        if (device->extents.empty()) return Fail(ERROR_INVALID_FUNCTION);
        if (device->lock_error != 0) return Fail(device->lock_error);
        if (device->locked_by != nullptr) return Fail(ERROR_ACCESS_DENIED);
        device->locked_by = handle;
        return TRUE;
      case FSCTL_DISMOUNT_VOLUME:
        Step("dismount", path);
        if (device->extents.empty()) return Fail(ERROR_INVALID_FUNCTION);
        if (device->dismount_error != 0) return Fail(device->dismount_error);
        device->dismounted = true;
        return TRUE;
      case FSCTL_UNLOCK_VOLUME:
        Step("unlock", path);
        if (device->locked_by != handle) return Fail(ERROR_NOT_LOCKED);
        device->locked_by = nullptr;
        device->dismounted = false;
        return TRUE;
      case IOCTL_DISK_UPDATE_PROPERTIES:
        Step("update", path);
        if (device->update_error != 0) return Fail(device->update_error);
        return TRUE;
      case IOCTL_STORAGE_QUERY_PROPERTY:
        return Property(*device, call.in, o, out_bytes, returned);
      case IOCTL_STORAGE_PROTOCOL_COMMAND:
        return ProtocolCommand(*device, o, out_bytes, returned);
      case IOCTL_DISK_GET_DRIVE_GEOMETRY_EX: {
        Step("geometry", path);
        if (device->geometry_error != 0) return Fail(device->geometry_error);
        DISK_GEOMETRY_EX g{};
        g.Geometry.BytesPerSector = device->bytes_per_sector;
        g.DiskSize.QuadPart = static_cast<LONGLONG>(device->content.size());
        std::memcpy(o, &g, std::min<std::size_t>(out_bytes, sizeof g));
        *returned = static_cast<DWORD>(offsetof(DISK_GEOMETRY_EX, Data));
        return TRUE;
      }
      case IOCTL_DISK_GET_LENGTH_INFO: {
        GET_LENGTH_INFORMATION length{};
        length.Length.QuadPart = static_cast<LONGLONG>(device->content.size());
        std::memcpy(o, &length, sizeof length);
        *returned = sizeof length;
        return TRUE;
      }
      case IOCTL_SCSI_GET_ADDRESS:
        if (!device->nvme || !device->nvme->address) return Fail(ERROR_INVALID_FUNCTION);
        std::memcpy(o, &*device->nvme->address, sizeof(SCSI_ADDRESS));
        *returned = sizeof(SCSI_ADDRESS);
        return TRUE;
      case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: {
        if (device->extents.empty()) return Fail(device->extents_error);
        const auto count = static_cast<DWORD>(device->extents.size());
        std::memset(o, 0, out_bytes);
        PutDword(o, count);
        const std::size_t need = offsetof(VOLUME_DISK_EXTENTS, Extents) + count * sizeof(DISK_EXTENT);
        if (out_bytes < need) {
          *returned = 8;
          return Fail(ERROR_MORE_DATA);
        }
        for (DWORD i = 0; i < count; ++i) {
          DISK_EXTENT e{};
          e.DiskNumber = device->extents[i];
          e.ExtentLength.QuadPart = 1 << 20;
          std::memcpy(o + offsetof(VOLUME_DISK_EXTENTS, Extents) + i * sizeof e, &e, sizeof e);
        }
        *returned = static_cast<DWORD>(need);
        return TRUE;
      }
      default:
        return Fail(ERROR_INVALID_FUNCTION);
    }
  }

  BOOL ReadAt(HANDLE handle, void* buffer, DWORD bytes, std::uint64_t offset, DWORD* done) override {
    return Move(handle, buffer, bytes, offset, done, false);
  }
  BOOL WriteAt(HANDLE handle, const void* buffer, DWORD bytes, std::uint64_t offset, DWORD* done) override {
    return Move(handle, const_cast<void*>(buffer), bytes, offset, done, true);
  }
  BOOL Flush(HANDLE handle) override {
    Device* device = DeviceOf(handle);
    if (device == nullptr) return Fail(ERROR_INVALID_HANDLE);
    Step("flush", HandleEntry(handle)->path);
    if (device->flush_error != 0) return Fail(device->flush_error);
    ++flushes;
    return TRUE;
  }
  DWORD LastError() override { return last_error_; }

  std::optional<std::wstring> WindowsDirectory() override {
    if (!windows_directory) Fail(ERROR_PATH_NOT_FOUND);
    return windows_directory;
  }
  std::optional<std::wstring> VolumePathName(const std::wstring& path) override {
    std::optional<std::wstring> best;
    for (const std::wstring& root : mount_roots) {
      if (path.size() + 1 < root.size()) continue;
      const std::wstring head = path.substr(0, root.size());
      const bool whole = path + L"\\" == root;
      if ((head == root || whole) && (!best || root.size() > best->size())) best = root;
    }
    if (!best) Fail(ERROR_PATH_NOT_FOUND);
    return best;
  }
  std::optional<std::wstring> VolumeName(const std::wstring& root) override {
    const auto it = volume_names.find(root);
    if (it == volume_names.end()) {
      Fail(ERROR_FILE_NOT_FOUND);
      return std::nullopt;
    }
    return it->second;
  }
  UINT DriveType(const std::wstring& root) override {
    const auto it = drive_types.find(root);
    return it == drive_types.end() ? DRIVE_NO_ROOT_DIR : it->second;
  }
  std::optional<std::vector<std::wstring>> Volumes() override {
    if (volumes_error != 0) {
      Fail(volumes_error);
      return std::nullopt;
    }
    return volume_list;
  }
  std::vector<std::wstring> VolumeMountPaths(const std::wstring& volume) override {
    std::vector<std::wstring> paths;
    for (const std::wstring& root : mount_roots) {
      const auto it = volume_names.find(root);
      if (it != volume_names.end() && it->second == volume) paths.push_back(root);
    }
    return paths;
  }
  RegistryValue ReadMachineValue(const std::wstring& key, const std::wstring& value) override {
    const auto it = registry.find(key + L"|" + value);
    if (it == registry.end()) return RegistryValue{};
    return it->second;
  }
  DWORD WindowsBuild() override { return build; }

  // --- Setting the machine up -----------------------------------------------------------

  static RegistryValue Strings(DWORD type, const std::vector<std::wstring>& strings) {
    RegistryValue value;
    value.status = ERROR_SUCCESS;
    value.type = type;
    std::wstring all;
    for (const auto& s : strings) all += s + L'\0';
    if (type == REG_MULTI_SZ) all += L'\0';
    value.data.resize(all.size() * sizeof(wchar_t));
    std::memcpy(value.data.data(), all.data(), value.data.size());
    return value;
  }

  // A volume mounted at root (e.g. L"C:\\") named \\?\Volume{id}\, on the given disks.
  void AddVolume(const std::wstring& root, const std::wstring& id, std::vector<DWORD> disks,
                 UINT type = DRIVE_FIXED) {
    const std::wstring name = AddVolumeWithoutRoot(id, std::move(disks));
    volume_names[root] = name;
    mount_roots.push_back(root);
    if (root.size() == 3) drive_types[root] = type;
  }
  // A volume that Windows lists but that has no drive letter or folder (an EFI or a
  // recovery partition); returns its name, "\\?\Volume{id}\".
  std::wstring AddVolumeWithoutRoot(const std::wstring& id, std::vector<DWORD> disks) {
    const std::wstring name = L"\\\\?\\Volume{" + id + L"}\\";
    if (std::find(volume_list.begin(), volume_list.end(), name) == volume_list.end()) volume_list.push_back(name);
    devices[name.substr(0, name.size() - 1)].extents = std::move(disks);
    return name;
  }
  Device& VolumeDevice(const std::wstring& id) { return devices.at(L"\\\\?\\Volume{" + id + L"}"); }

  // The handle of the latest open of a path, open or not.
  HANDLE HandleOf(const std::wstring& path) const {
    for (std::size_t i = handles_.size(); i-- > 0;) {
      if (handles_[i].path == path) return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(0x1000 + 16 * i));
    }
    return INVALID_HANDLE_VALUE;
  }

  std::vector<Call> CallsWith(DWORD code) const {
    std::vector<Call> found;
    for (const Call& c : calls) {
      if (c.code == code) found.push_back(c);
    }
    return found;
  }

 private:
  BOOL Fail(DWORD error) {
    last_error_ = error;
    return FALSE;
  }

  struct Handle {
    std::wstring path;
    DWORD access;
    DWORD flags;
    bool open;
  };

  Handle* HandleEntry(HANDLE handle) {
    const auto value = reinterpret_cast<std::intptr_t>(handle);
    if (value < 0x1000 || (value - 0x1000) % 16 != 0) return nullptr;
    const auto index = static_cast<std::size_t>((value - 0x1000) / 16);
    return index < handles_.size() ? &handles_[index] : nullptr;
  }

  Device* DeviceOf(HANDLE handle) {
    const Handle* h = HandleEntry(handle);
    if (h == nullptr || !h->open) return nullptr;
    const auto it = devices.find(h->path);
    return it == devices.end() ? nullptr : &it->second;
  }

  static std::string Label(const std::wstring& path) {
    const std::wstring volume = L"\\\\?\\Volume{", disk = L"\\\\.\\PhysicalDrive";
    std::wstring label = path;
    if (path.rfind(volume, 0) == 0 && path.back() == L'}') {
      label = path.substr(volume.size(), path.size() - volume.size() - 1);
    } else if (path.rfind(disk, 0) == 0) {
      label = L"disk" + path.substr(disk.size());
    }
    return std::string(label.begin(), label.end());  // the fake's paths are ASCII
  }

  void Step(const char* what, const std::wstring& path, const char* how = "") {
    steps.push_back(std::string(what) + " " + Label(path) + how);
  }

  // Whether a mounted volume has an extent on the disk a path names.
  bool UnderMountedVolume(const std::wstring& path) const {
    const std::string label = Label(path);
    if (label.rfind("disk", 0) != 0) return false;
    const DWORD number = static_cast<DWORD>(std::stoul(label.substr(4)));
    for (const auto& [name, device] : devices) {
      if (device.Mounted() &&
          std::find(device.extents.begin(), device.extents.end(), number) != device.extents.end()) {
        return true;
      }
    }
    return false;
  }

  BOOL Property(Device& device, const std::vector<std::uint8_t>& in, std::uint8_t* out, DWORD out_bytes,
                DWORD* returned) {
    if (in.size() < 8) return Fail(ERROR_INVALID_PARAMETER);
    const DWORD property = Dword(in, 0);
    if (property == StorageDeviceProperty) {
      if (!device.bus) return Fail(ERROR_INVALID_FUNCTION);
      STORAGE_DEVICE_DESCRIPTOR d{};
      d.Version = d.Size = sizeof d;
      d.BusType = *device.bus;
      std::memcpy(out, &d, std::min<std::size_t>(out_bytes, sizeof d));
      *returned = std::min<DWORD>(out_bytes, sizeof d);
      return TRUE;
    }
    if (property != StorageAdapterProtocolSpecificProperty && property != StorageDeviceProtocolSpecificProperty) {
      return Fail(ERROR_INVALID_FUNCTION);
    }
    if (!device.nvme) return Fail(ERROR_INVALID_FUNCTION);
    NvmeDisk& nvme = *device.nvme;
    if (nvme.query_error != 0) return Fail(nvme.query_error);
    if (in.size() < 48) return Fail(ERROR_INVALID_PARAMETER);
    const DWORD type = Dword(in, 12), value = Dword(in, 16), sub = Dword(in, 20);
    const DWORD data_offset = Dword(in, 24), length = Dword(in, 28), sub2 = Dword(in, 36);
    if (data_offset != 40 || 48 + std::size_t{length} > out_bytes) return Fail(ERROR_INVALID_PARAMETER);
    const std::vector<std::uint8_t>* source = nullptr;
    std::size_t from = 0;
    if (type == NVMeDataTypeIdentify && value == 1 && property == StorageAdapterProtocolSpecificProperty) {
      source = &nvme.identify_controller;
    } else if (type == NVMeDataTypeIdentify && value == 0 && property == StorageDeviceProtocolSpecificProperty) {
      const auto it = nvme.identify_namespace.find(sub);
      if (it == nvme.identify_namespace.end()) return Fail(ERROR_IO_DEVICE);
      source = &it->second;
    } else if (type == NVMeDataTypeLogPage) {
      const auto it = nvme.logs.find(value);
      if (it == nvme.logs.end()) return Fail(ERROR_IO_DEVICE);
      source = &it->second;
      from = sub | std::size_t{sub2} << 32;
    } else {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    std::memset(out, 0, out_bytes);
    for (DWORD i = 0; i < length && from + i < source->size(); ++i) out[48 + i] = (*source)[from + i];
    PutDword(out, nvme.descriptor_version.value_or(48));
    PutDword(out + 4, nvme.descriptor_version.value_or(48));
    std::memcpy(out + 8, in.data() + 8, 40);
    PutDword(out + 8 + 16, nvme.answer_data_offset.value_or(40));
    PutDword(out + 8 + 20, nvme.answer_data_length.value_or(length));
    PutDword(out + 8 + 24, nvme.fixed_return);
    *returned = nvme.answer_returned.value_or(48 + length);
    return TRUE;
  }

  BOOL ProtocolCommand(Device& device, std::uint8_t* out, DWORD out_bytes, DWORD* returned) {
    if (!device.nvme) return Fail(ERROR_INVALID_FUNCTION);
    const NvmeDisk& nvme = *device.nvme;
    if (nvme.command_error != 0) return Fail(nvme.command_error);
    if (out_bytes < 80) return Fail(ERROR_INVALID_PARAMETER);
    PutDword(out + 16, nvme.command_return_status);
    PutDword(out + 20, nvme.command_error_code);
    PutDword(out + 64, nvme.command_fixed);
    const DWORD info_length = Dword(std::vector<std::uint8_t>(out, out + 80), 28);
    const DWORD info_offset = Dword(std::vector<std::uint8_t>(out, out + 80), 44);
    if (info_length >= 64 && info_offset + std::size_t{info_length} <= out_bytes) {
      out[info_offset + 12] = static_cast<std::uint8_t>(nvme.command_error_info_status);
      out[info_offset + 13] = static_cast<std::uint8_t>(nvme.command_error_info_status >> 8);
    }
    *returned = out_bytes;
    return TRUE;
  }

  BOOL Move(HANDLE handle, void* buffer, DWORD bytes, std::uint64_t offset, DWORD* done, bool write) {
    *done = 0;
    transfers.push_back({write, offset, bytes, reinterpret_cast<std::uintptr_t>(buffer) % 4096 == 0});
    Device* device = DeviceOf(handle);
    if (device == nullptr) return Fail(ERROR_INVALID_HANDLE);
    const Handle& h = *HandleEntry(handle);
    if ((h.access & (write ? GENERIC_WRITE : GENERIC_READ)) == 0) return Fail(ERROR_ACCESS_DENIED);
    const DWORD error = write ? device->write_error : device->read_error;
    if (error != 0) return Fail(error);
    if (offset % device->bytes_per_sector != 0 || bytes % device->bytes_per_sector != 0) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    // Unbuffered handles take memory aligned to the sector only.
    if ((h.flags & FILE_FLAG_NO_BUFFERING) != 0 &&
        reinterpret_cast<std::uintptr_t>(buffer) % device->bytes_per_sector != 0) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    if (write && UnderMountedVolume(h.path)) return Fail(ERROR_ACCESS_DENIED);
    const std::uint64_t size = device->content.size();
    DWORD moved = offset >= size ? 0 : static_cast<DWORD>(std::min<std::uint64_t>(bytes, size - offset));
    if (!device->transfer_limits.empty()) {
      moved = std::min(moved, device->transfer_limits.front());
      device->transfer_limits.pop_front();
    }
    auto* b = static_cast<std::uint8_t*>(buffer);
    if (moved == 0) {
      // past the end: nothing moves, and the call still succeeds
    } else if (write) {
      std::copy(b, b + moved, device->content.begin() + static_cast<std::ptrdiff_t>(offset));
    } else {
      std::copy(device->content.begin() + static_cast<std::ptrdiff_t>(offset),
                device->content.begin() + static_cast<std::ptrdiff_t>(offset + moved), b);
    }
    *done = device->transfer_done.value_or(moved);
    return TRUE;
  }

  std::vector<Handle> handles_;  // by handle value
  DWORD last_error_ = 0;
};

}  // namespace plovix::win32::testing_fake
