// The few Windows calls the device adapter makes, behind one interface, so that its
// translation of the program's requests can be checked call by call against a fake
// machine. RealSystemCalls passes each straight to Windows.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace plovix::win32 {

// A registry value as read: the Win32 status and, when it is ERROR_SUCCESS, its type
// and bytes.
struct RegistryValue {
  LONG status = ERROR_FILE_NOT_FOUND;
  DWORD type = REG_NONE;
  std::vector<std::uint8_t> data;
};

class SystemCalls {
 public:
  virtual ~SystemCalls() = default;

  // CreateFileW with OPEN_EXISTING, shared read and write. access 0 asks for no data
  // access: enough for the queries the system-disk trace makes on volumes and disks.
  // flags are CreateFileW's FILE_FLAG_* (the claimed disk's unbuffered handle).
  virtual HANDLE Open(const std::wstring& path, DWORD access, DWORD flags = 0) = 0;
  virtual void Close(HANDLE handle) = 0;
  // DeviceIoControl, synchronous. in and out may be the same buffer.
  virtual BOOL Control(HANDLE handle, DWORD code, void* in, DWORD in_bytes, void* out, DWORD out_bytes,
                       DWORD* returned) = 0;
  // ReadFile / WriteFile of bytes at a byte offset of the handle.
  virtual BOOL ReadAt(HANDLE handle, void* buffer, DWORD bytes, std::uint64_t offset, DWORD* done) = 0;
  virtual BOOL WriteAt(HANDLE handle, const void* buffer, DWORD bytes, std::uint64_t offset, DWORD* done) = 0;
  virtual BOOL Flush(HANDLE handle) = 0;
  // GetLastError of the call just made.
  virtual DWORD LastError() = 0;

  virtual std::optional<std::wstring> WindowsDirectory() = 0;
  // GetVolumePathNameW: the root of the volume a path lies on ("C:\", "C:\mnt\data\").
  virtual std::optional<std::wstring> VolumePathName(const std::wstring& path) = 0;
  // GetVolumeNameForVolumeMountPointW: "\\?\Volume{...}\" of a volume root.
  virtual std::optional<std::wstring> VolumeName(const std::wstring& root) = 0;
  virtual UINT DriveType(const std::wstring& root) = 0;
  // FindFirstVolumeW / FindNextVolumeW: every volume's "\\?\Volume{...}\"; none when
  // Windows does not list them.
  virtual std::optional<std::vector<std::wstring>> Volumes() = 0;
  // GetVolumePathNamesForVolumeNameW: where a volume is mounted ("D:\", "C:\mnt\data\").
  virtual std::vector<std::wstring> VolumeMountPaths(const std::wstring& volume) = 0;
  // A value under HKEY_LOCAL_MACHINE.
  virtual RegistryValue ReadMachineValue(const std::wstring& key, const std::wstring& value) = 0;
  // The build number of the running Windows (19045 for Windows 10 22H2), 0 if unknown.
  virtual DWORD WindowsBuild() = 0;
};

class RealSystemCalls : public SystemCalls {
 public:
  HANDLE Open(const std::wstring& path, DWORD access, DWORD flags = 0) override;
  void Close(HANDLE handle) override;
  BOOL Control(HANDLE handle, DWORD code, void* in, DWORD in_bytes, void* out, DWORD out_bytes,
               DWORD* returned) override;
  BOOL ReadAt(HANDLE handle, void* buffer, DWORD bytes, std::uint64_t offset, DWORD* done) override;
  BOOL WriteAt(HANDLE handle, const void* buffer, DWORD bytes, std::uint64_t offset, DWORD* done) override;
  BOOL Flush(HANDLE handle) override;
  DWORD LastError() override;
  std::optional<std::wstring> WindowsDirectory() override;
  std::optional<std::wstring> VolumePathName(const std::wstring& path) override;
  std::optional<std::wstring> VolumeName(const std::wstring& root) override;
  UINT DriveType(const std::wstring& root) override;
  std::optional<std::vector<std::wstring>> Volumes() override;
  std::vector<std::wstring> VolumeMountPaths(const std::wstring& volume) override;
  RegistryValue ReadMachineValue(const std::wstring& key, const std::wstring& value) override;
  DWORD WindowsBuild() override;
};

// UTF-16 as Windows gives it, in UTF-8 as the program's texts are ("?" for text that
// does not convert).
std::string Utf8(const std::wstring& text);

}  // namespace plovix::win32
