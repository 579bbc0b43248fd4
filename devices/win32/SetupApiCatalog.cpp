#include "devices/win32/SetupApiCatalog.h"

#include <windows.h>
#include <setupapi.h>

#include <algorithm>

#include "devices/win32/GuidText.h"

namespace plovix::win32 {

namespace {

// One device's instance id, in a buffer that grows until SetupAPI is satisfied.
std::optional<std::string> InstanceId(HDEVINFO set, SP_DEVINFO_DATA& info) {
  DWORD required = 0;
  char* buffer = nullptr;
  BOOL ok = SetupDiGetDeviceInstanceIdA(set, &info, nullptr, 0, &required);
  // A device whose id keeps growing is given up after a few rounds.
  for (int round = 0; !ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER && round < 8; ++round) {
    if (buffer != nullptr) LocalFree(buffer);
    buffer = static_cast<char*>(LocalAlloc(LPTR, static_cast<SIZE_T>(std::max<DWORD>(required, 1)) * 2));
    if (buffer == nullptr) break;
    ok = SetupDiGetDeviceInstanceIdA(set, &info, buffer, required, &required);
  }
  std::optional<std::string> id;
  if (ok && buffer != nullptr) id = std::string(buffer);
  if (buffer != nullptr) LocalFree(buffer);
  return id;
}

}  // namespace

std::optional<std::vector<std::optional<std::string>>> SetupApiCatalog::PresentDevices(
    std::string_view class_guid, std::string_view enumerator) {
  const auto fields = ParseGuidText(class_guid);
  if (!fields) return std::nullopt;
  GUID guid{};
  guid.Data1 = fields->data1;
  guid.Data2 = fields->data2;
  guid.Data3 = fields->data3;
  for (std::size_t i = 0; i < 8; ++i) guid.Data4[i] = fields->data4[i];

  const std::string enumerator_text(enumerator);
  HDEVINFO set = SetupDiGetClassDevsA(&guid, enumerator_text.c_str(), nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  if (set == INVALID_HANDLE_VALUE) return std::nullopt;
  std::vector<std::optional<std::string>> devices;
  for (DWORD index = 0;; ++index) {
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    // Ends with ERROR_NO_MORE_ITEMS, or early on any other error: keep what we have.
    if (!SetupDiEnumDeviceInfo(set, index, &info)) break;
    devices.push_back(InstanceId(set, info));
  }
  SetupDiDestroyDeviceInfoList(set);
  return devices;
}

}  // namespace plovix::win32
