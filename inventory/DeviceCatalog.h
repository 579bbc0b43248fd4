// The device catalogue port: the present devices of a class, as instance-id strings.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plovix {

inline constexpr std::string_view kDiskDriveClassGuid = "{4D36E967-E325-11CE-BFC1-08002BE10318}";
inline constexpr std::string_view kUsbClassGuid = "{36FC9E60-C465-11CF-8056-444553540000}";

class DeviceCatalog {
 public:
  virtual ~DeviceCatalog() = default;
  // The present devices of class class_guid enumerated by enumerator, in enumeration
  // order. nullopt when the list cannot be had at all. A device whose instance id
  // cannot be read is an empty optional. An enumeration that breaks off early returns
  // what it had up to then.
  virtual std::optional<std::vector<std::optional<std::string>>> PresentDevices(
      std::string_view class_guid, std::string_view enumerator) = 0;
};

}  // namespace plovix
