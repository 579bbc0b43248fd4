#include "devices/win32/Win32Calls.h"

#include <winioctl.h>

#include <algorithm>

namespace plovix::win32 {

HANDLE RealSystemCalls::Open(const std::wstring& path, DWORD access, DWORD flags) {
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags,
                     nullptr);
}

void RealSystemCalls::Close(HANDLE handle) {
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}

BOOL RealSystemCalls::Control(HANDLE handle, DWORD code, void* in, DWORD in_bytes, void* out, DWORD out_bytes,
                              DWORD* returned) {
  return DeviceIoControl(handle, code, in, in_bytes, out, out_bytes, returned, nullptr);
}

BOOL RealSystemCalls::ReadAt(HANDLE handle, void* buffer, DWORD bytes, std::uint64_t offset, DWORD* done) {
  // On a handle opened for synchronous I/O the OVERLAPPED only carries the offset.
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ReadFile(handle, buffer, bytes, done, &at);
}

BOOL RealSystemCalls::WriteAt(HANDLE handle, const void* buffer, DWORD bytes, std::uint64_t offset, DWORD* done) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return WriteFile(handle, buffer, bytes, done, &at);
}

BOOL RealSystemCalls::Flush(HANDLE handle) { return FlushFileBuffers(handle); }

DWORD RealSystemCalls::LastError() { return GetLastError(); }

std::optional<std::wstring> RealSystemCalls::WindowsDirectory() {
  wchar_t path[MAX_PATH + 1] = {};
  const UINT n = GetWindowsDirectoryW(path, MAX_PATH + 1);
  if (n == 0 || n > MAX_PATH) return std::nullopt;
  return std::wstring(path, n);
}

std::optional<std::wstring> RealSystemCalls::VolumePathName(const std::wstring& path) {
  wchar_t root[MAX_PATH + 1] = {};
  if (!GetVolumePathNameW(path.c_str(), root, MAX_PATH + 1)) return std::nullopt;
  return std::wstring(root);
}

std::optional<std::wstring> RealSystemCalls::VolumeName(const std::wstring& root) {
  wchar_t name[MAX_PATH + 1] = {};
  if (!GetVolumeNameForVolumeMountPointW(root.c_str(), name, MAX_PATH + 1)) return std::nullopt;
  return std::wstring(name);
}

UINT RealSystemCalls::DriveType(const std::wstring& root) { return GetDriveTypeW(root.c_str()); }

std::optional<std::vector<std::wstring>> RealSystemCalls::Volumes() {
  // A volume name is 49 characters; MAX_PATH leaves room.
  wchar_t name[MAX_PATH + 1] = {};
  const HANDLE find = FindFirstVolumeW(name, MAX_PATH + 1);
  if (find == INVALID_HANDLE_VALUE) return std::nullopt;
  std::vector<std::wstring> names;
  do {
    names.emplace_back(name);
  } while (FindNextVolumeW(find, name, MAX_PATH + 1));
  const DWORD error = GetLastError();
  FindVolumeClose(find);
  // A list cut short could leave out the very volume that lies on the disk.
  if (error != ERROR_NO_MORE_FILES) {
    SetLastError(error);
    return std::nullopt;
  }
  return names;
}

std::vector<std::wstring> RealSystemCalls::VolumeMountPaths(const std::wstring& volume) {
  std::vector<wchar_t> buffer(MAX_PATH + 1, L'\0');
  DWORD needed = 0;
  BOOL ok = GetVolumePathNamesForVolumeNameW(volume.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                             &needed);
  if (!ok && GetLastError() == ERROR_MORE_DATA && needed > buffer.size()) {
    buffer.assign(needed, L'\0');
    ok = GetVolumePathNamesForVolumeNameW(volume.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                          &needed);
  }
  std::vector<std::wstring> paths;
  if (!ok) return paths;
  // A list of strings, each ended by a null, the list by another.
  for (auto at = buffer.begin(); at != buffer.end() && *at != L'\0';) {
    const auto end = std::find(at, buffer.end(), L'\0');
    paths.emplace_back(at, end);
    at = end == buffer.end() ? end : end + 1;
  }
  return paths;
}

RegistryValue RealSystemCalls::ReadMachineValue(const std::wstring& key, const std::wstring& value) {
  RegistryValue result;
  DWORD bytes = 0;
  DWORD type = REG_NONE;
  constexpr DWORD kAnyType = RRF_RT_ANY | RRF_NOEXPAND;
  result.status = RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), value.c_str(), kAnyType, &type, nullptr, &bytes);
  // The value may grow between the two calls; a few rounds settle it.
  for (int round = 0; round < 4 && (result.status == ERROR_SUCCESS || result.status == ERROR_MORE_DATA); ++round) {
    result.data.assign(bytes, 0);
    result.status = RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), value.c_str(), kAnyType, &type,
                                 result.data.empty() ? nullptr : result.data.data(), &bytes);
    if (result.status == ERROR_SUCCESS) {
      result.data.resize(bytes);
      result.type = type;
      return result;
    }
  }
  result.data.clear();
  return result;
}

DWORD RealSystemCalls::WindowsBuild() {
  // GetVersionEx answers what the manifest declares; ntdll answers what is running.
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return 0;
  const auto get_version = reinterpret_cast<RtlGetVersionFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlGetVersion")));
  if (get_version == nullptr) return 0;
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (get_version(&info) != 0) return 0;
  return info.dwBuildNumber;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                    nullptr);
  if (n <= 0) return "?";
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace plovix::win32
