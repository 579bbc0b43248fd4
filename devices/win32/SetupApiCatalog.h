// The present devices of a class, from SetupAPI.
#pragma once

#include "inventory/DeviceCatalog.h"

namespace plovix::win32 {

class SetupApiCatalog : public DeviceCatalog {
 public:
  std::optional<std::vector<std::optional<std::string>>> PresentDevices(std::string_view class_guid,
                                                                         std::string_view enumerator) override;
};

}  // namespace plovix::win32
