#include "devices/win32/Win32DiskClaim.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>
#include <utility>

#include "devices/win32/Win32SystemDisks.h"

namespace plovix::win32 {

namespace {

static_assert(FSCTL_LOCK_VOLUME == 0x90018 && FSCTL_UNLOCK_VOLUME == 0x9001C && FSCTL_DISMOUNT_VOLUME == 0x90020);
static_assert(IOCTL_DISK_GET_DRIVE_GEOMETRY_EX == 0x700A0 && IOCTL_DISK_UPDATE_PROPERTIES == 0x70140);

struct Phrase {
  DWORD code;
  const char* text;
};

// The errors a claim or a transfer meets on a working machine, in the program's words;
// the system's own messages are long and in the user's language.
constexpr Phrase kPhrases[] = {
    {ERROR_INVALID_FUNCTION, "the device does not support the request"},
    {ERROR_FILE_NOT_FOUND, "no such device"},
    {ERROR_PATH_NOT_FOUND, "no such device"},
    {ERROR_ACCESS_DENIED, "access denied"},
    {ERROR_INVALID_HANDLE, "the handle is not valid"},
    {ERROR_WRITE_PROTECT, "the disk is write-protected"},
    {ERROR_NOT_READY, "the device is not ready"},
    {ERROR_CRC, "data error (cyclic redundancy check)"},
    {ERROR_SECTOR_NOT_FOUND, "sector not found"},
    {ERROR_WRITE_FAULT, "write fault"},
    {ERROR_READ_FAULT, "read fault"},
    {ERROR_GEN_FAILURE, "the device does not work"},
    {ERROR_SHARING_VIOLATION, "another program has the device open"},
    {ERROR_LOCK_VIOLATION, "another program has locked part of the device"},
    {ERROR_NOT_SUPPORTED, "not supported"},
    {ERROR_INVALID_PARAMETER, "invalid parameter"},
    {ERROR_SEM_TIMEOUT, "the device timed out"},
    {ERROR_DEV_NOT_EXIST, "the device is gone"},
    {ERROR_IO_DEVICE, "I/O device error"},
    {ERROR_DEVICE_NOT_CONNECTED, "the device is not connected"},
};

std::optional<std::string> SystemMessage(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (n == 0 || text == nullptr) return std::nullopt;
  std::wstring message(text, n);
  LocalFree(text);
  // Messages end in a full stop and a line break.
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' ' ||
                              message.back() == L'.')) {
    message.pop_back();
  }
  if (message.empty()) return std::nullopt;
  return Utf8(message);
}

bool IsDriveLetter(const std::wstring& path) {
  return path.size() == 3 && path[1] == L':' && path[2] == L'\\' &&
         ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

std::string DiskName(int drive_number) { return "disk " + std::to_string(drive_number); }

}  // namespace

std::string WinErrorText(DWORD error) {
  const std::string number = "(error " + std::to_string(error) + ")";
  for (const Phrase& p : kPhrases) {
    if (p.code == error) return std::string(p.text) + " " + number;
  }
  const auto message = SystemMessage(error);
  return message ? *message + " " + number : number.substr(1, number.size() - 2);
}

DiskClaims::~DiskClaims() {
  for (auto& [handle, held] : held_) {
    const std::lock_guard io(held->io);
    if (!held->released) GiveUp(*held);
  }
}

std::optional<std::vector<DiskClaims::Volume>> DiskClaims::FindVolumes(int drive_number, DWORD& list_error) {
  const auto names = calls_.Volumes();
  if (!names) {
    list_error = calls_.LastError();
    return std::nullopt;
  }
  std::vector<Volume> found;
  for (const std::wstring& name : *names) {
    // Without its trailing backslash the name opens the volume, not its root folder.
    std::wstring device = name;
    if (!device.empty() && device.back() == L'\\') device.pop_back();
    if (device.empty()) continue;
    if (std::any_of(found.begin(), found.end(), [&](const Volume& v) { return v.device == device; })) continue;
    // A volume that gives no extents (a card reader without a card, an optical drive)
    // is on no disk it could be traced to; should it lie on this one after all, Windows
    // refuses the writes into it and the erase fails rather than harms it.
    const VolumeDisks disks = FindVolumeDisks(calls_, device);
    if (std::find(disks.disks.begin(), disks.disks.end(), drive_number) == disks.disks.end()) continue;

    Volume volume;
    volume.device = device;
    const std::vector<std::wstring> paths = calls_.VolumeMountPaths(name);
    const auto letter = std::find_if(paths.begin(), paths.end(), IsDriveLetter);
    if (letter != paths.end()) {
      volume.name = Utf8(letter->substr(0, 2));
    } else if (!paths.empty()) {
      std::wstring folder = paths.front();
      if (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
      volume.name = Utf8(folder);
    } else {
      volume.name = Utf8(device);
    }
    found.push_back(std::move(volume));
  }
  // Letters first, in order, then folders and unnamed volumes.
  std::sort(found.begin(), found.end(), [](const Volume& a, const Volume& b) {
    const bool a_letter = a.name.size() == 2 && a.name[1] == ':';
    const bool b_letter = b.name.size() == 2 && b.name[1] == ':';
    if (a_letter != b_letter) return a_letter;
    return a.name < b.name;
  });
  return found;
}

std::vector<std::string> DiskClaims::VolumesOn(int drive_number) {
  DWORD error = ERROR_SUCCESS;
  const auto volumes = FindVolumes(drive_number, error);
  std::vector<std::string> names;
  if (volumes) {
    for (const Volume& v : *volumes) names.push_back(v.name);
  }
  return names;
}

void DiskClaims::Unlock(std::vector<Volume>& volumes) {
  for (Volume& v : volumes) {
    if (v.handle == INVALID_HANDLE_VALUE) continue;
    // Closing the handle would unlock too; the explicit unlock says so at once.
    DWORD returned = 0;
    calls_.Control(v.handle, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &returned);
    calls_.Close(v.handle);
    v.handle = INVALID_HANDLE_VALUE;
  }
}

DiskClaim DiskClaims::LockVolumes(std::vector<Volume>& volumes) {
  DiskClaim result;
  result.outcome = ClaimOutcome::Claimed;
  // Every volume is tried, so the user hears of all those in use at once.
  for (Volume& v : volumes) {
    v.handle = calls_.Open(v.device, GENERIC_READ | GENERIC_WRITE);
    if (v.handle == INVALID_HANDLE_VALUE) {
      const DWORD error = calls_.LastError();
      if (error == ERROR_SHARING_VIOLATION) {
        result.users.push_back(v.name + " is held open by another program");
        continue;
      }
      result.outcome = ClaimOutcome::Failed;
      result.why = error == ERROR_ACCESS_DENIED ? "access denied to " + v.name + " (run as administrator)"
                                                : v.name + " cannot be opened: " + WinErrorText(error);
      break;
    }
    DWORD returned = 0;
    if (!calls_.Control(v.handle, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned)) {
      const DWORD error = calls_.LastError();
      calls_.Close(v.handle);
      v.handle = INVALID_HANDLE_VALUE;
      if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
        result.users.push_back(v.name + " has files open and cannot be locked");
        continue;
      }
      result.outcome = ClaimOutcome::Failed;
      result.why = v.name + " cannot be locked: " + WinErrorText(error);
      break;
    }
  }
  if (result.outcome == ClaimOutcome::Claimed && !result.users.empty()) result.outcome = ClaimOutcome::InUse;
  if (result.outcome == ClaimOutcome::Claimed) {
    for (Volume& v : volumes) {
      DWORD returned = 0;
      if (!calls_.Control(v.handle, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned)) {
        result.outcome = ClaimOutcome::Failed;
        result.why = v.name + " cannot be dismounted: " + WinErrorText(calls_.LastError());
        break;
      }
    }
  }
  if (result.outcome != ClaimOutcome::Claimed) Unlock(volumes);
  if (result.outcome == ClaimOutcome::Failed) result.users.clear();
  return result;
}

DiskClaim DiskClaims::OpenDisk(int drive_number, Held& held) {
  DiskClaim result;
  const std::string name = DiskName(drive_number);
  // Unbuffered and written through: a write reported done has reached the drive, and
  // the verification reads the drive, not the system's cache.
  held.disk = calls_.Open(L"\\\\.\\PhysicalDrive" + std::to_wstring(drive_number), GENERIC_READ | GENERIC_WRITE,
                          FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH);
  if (held.disk == INVALID_HANDLE_VALUE) {
    const DWORD error = calls_.LastError();
    if (error == ERROR_SHARING_VIOLATION) {
      result.outcome = ClaimOutcome::InUse;
      result.users.push_back("another program holds " + name + " open");
      return result;
    }
    result.outcome = ClaimOutcome::Failed;
    result.why = error == ERROR_ACCESS_DENIED ? "access denied (run as administrator)"
                                              : name + " cannot be opened: " + WinErrorText(error);
    return result;
  }

  // The reply carries partition and detection data after the geometry; room for them
  // keeps a driver from refusing a buffer that is too small.
  std::vector<std::uint8_t> buffer(256, 0);
  DWORD returned = 0;
  const BOOL ok = calls_.Control(held.disk, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, buffer.data(),
                                 static_cast<DWORD>(buffer.size()), &returned);
  const DWORD error = ok ? ERROR_SUCCESS : calls_.LastError();
  DISK_GEOMETRY_EX geometry{};
  std::memcpy(&geometry, buffer.data(), std::min(buffer.size(), sizeof geometry));
  const DWORD sector = geometry.Geometry.BytesPerSector;
  const LONGLONG size = geometry.DiskSize.QuadPart;
  result.outcome = ClaimOutcome::Failed;
  if (!ok) {
    result.why = "Windows gives no geometry for " + name + ": " + WinErrorText(error);
  } else if (returned < offsetof(DISK_GEOMETRY_EX, Data)) {
    result.why = "Windows gives no geometry for " + name;
  } else if (sector < 512 || sector > 65536 || (sector & (sector - 1)) != 0 || size < static_cast<LONGLONG>(sector)) {
    result.why = "Windows gives " + name + " " + std::to_string(sector) + "-byte sectors and " +
                 std::to_string(size) + " bytes, which cannot be right";
  } else {
    result.outcome = ClaimOutcome::Claimed;
    held.block_bytes = sector;
    // A tail shorter than a sector cannot be written.
    held.size_bytes = static_cast<std::uint64_t>(size) - static_cast<std::uint64_t>(size) % sector;
    result.logical_block_bytes = held.block_bytes;
    result.size_bytes = held.size_bytes;
    return result;
  }
  calls_.Close(held.disk);
  held.disk = INVALID_HANDLE_VALUE;
  return result;
}

DiskClaim DiskClaims::Claim(int drive_number) {
  const std::lock_guard claiming(claiming_);
  DiskClaim claim;
  if (drive_number < 0) {
    claim.outcome = ClaimOutcome::Failed;
    claim.why = "no such disk";
    return claim;
  }
  {
    const std::lock_guard lock(mutex_);
    for (const auto& [handle, held] : held_) {
      if (held->drive != drive_number) continue;
      claim.outcome = ClaimOutcome::InUse;
      claim.users.push_back("another erase holds " + DiskName(drive_number));
      return claim;
    }
  }
  DWORD list_error = ERROR_SUCCESS;
  auto volumes = FindVolumes(drive_number, list_error);
  if (!volumes) {
    // Without the list no volume on the disk could be locked.
    claim.outcome = ClaimOutcome::Failed;
    claim.why = "Windows does not list its volumes: " + WinErrorText(list_error);
    return claim;
  }
  claim = LockVolumes(*volumes);
  if (claim.outcome != ClaimOutcome::Claimed) return claim;

  auto held = std::make_shared<Held>();
  held->drive = drive_number;
  held->volumes = std::move(*volumes);
  claim = OpenDisk(drive_number, *held);
  if (claim.outcome != ClaimOutcome::Claimed) {
    Unlock(held->volumes);
    return claim;
  }
  const std::lock_guard lock(mutex_);
  claim.handle = next_++;
  held_[claim.handle] = std::move(held);
  return claim;
}

std::shared_ptr<DiskClaims::Held> DiskClaims::Find(DeviceHandle claim) {
  const std::lock_guard lock(mutex_);
  const auto it = held_.find(claim);
  return it == held_.end() ? nullptr : it->second;
}

BlockIo DiskClaims::Transfer(DeviceHandle claim, std::uint64_t offset, std::uint8_t* in, const std::uint8_t* out,
                             std::uint32_t length) {
  const std::shared_ptr<Held> held = Find(claim);
  if (!held) return {false, "the disk is not claimed"};
  const std::lock_guard io(held->io);
  if (held->released) return {false, "the disk is not claimed"};
  const std::uint32_t block = held->block_bytes;
  const auto address = reinterpret_cast<std::uintptr_t>(in != nullptr ? static_cast<const void*>(in) : out);
  if (length == 0) return {true, {}};
  if (address == 0) return {false, "no buffer"};
  // An unbuffered handle takes whole sectors only, from memory aligned to them.
  if (offset % block != 0 || length % block != 0) {
    return {false, "the transfer is not in whole " + std::to_string(block) + "-byte blocks"};
  }
  if (address % block != 0) return {false, "the buffer is not aligned to " + std::to_string(block) + " bytes"};
  if (offset > held->size_bytes || length > held->size_bytes - offset) {
    return {false, "the transfer reaches past the end of the disk"};
  }

  std::uint32_t moved = 0;
  while (moved < length) {
    const std::uint32_t rest = length - moved;
    DWORD done = 0;
    const BOOL ok = in != nullptr ? calls_.ReadAt(held->disk, in + moved, rest, offset + moved, &done)
                                  : calls_.WriteAt(held->disk, out + moved, rest, offset + moved, &done);
    if (!ok) return {false, WinErrorText(calls_.LastError())};
    done = std::min<DWORD>(done, rest);
    // A part of a sector is moved again whole, from an address that stays aligned.
    done -= done % block;
    if (done == 0) return {false, "Windows moved no bytes at offset " + std::to_string(offset + moved)};
    moved += done;
  }
  return {true, {}};
}

BlockIo DiskClaims::Write(DeviceHandle claim, std::uint64_t offset, const std::uint8_t* data, std::uint32_t length) {
  return Transfer(claim, offset, nullptr, data, length);
}

BlockIo DiskClaims::Read(DeviceHandle claim, std::uint64_t offset, std::uint8_t* data, std::uint32_t length) {
  if (data == nullptr && length != 0) return {false, "no buffer"};
  return Transfer(claim, offset, data, nullptr, length);
}

std::string DiskClaims::GiveUp(Held& held) {
  std::string problems;
  const auto add = [&problems](const std::string& text) {
    if (!problems.empty()) problems += "; ";
    problems += text;
  };
  if (!calls_.Flush(held.disk)) {
    add("Windows did not write the disk's cache out: " + WinErrorText(calls_.LastError()));
  }
  // The partition table was overwritten: Windows drops the old partitions and their
  // volumes once it reads the disk again.
  DWORD returned = 0;
  if (!calls_.Control(held.disk, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned)) {
    add("Windows did not update the disk's properties: " + WinErrorText(calls_.LastError()));
  }
  calls_.Close(held.disk);
  held.disk = INVALID_HANDLE_VALUE;
  Unlock(held.volumes);
  held.released = true;
  return problems;
}

std::string DiskClaims::Release(DeviceHandle claim) {
  std::shared_ptr<Held> held;
  {
    const std::lock_guard lock(mutex_);
    const auto it = held_.find(claim);
    if (it == held_.end()) return "the disk is not claimed";
    held = it->second;
    held_.erase(it);
  }
  const std::lock_guard io(held->io);
  return GiveUp(*held);
}

}  // namespace plovix::win32
