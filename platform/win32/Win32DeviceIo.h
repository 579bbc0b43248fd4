// Drives through the Windows pass-through interfaces.
#pragma once

#include "drive/DeviceIo.h"

namespace plovix::win32 {

class Win32DeviceIo : public DeviceIo {
 public:
  DeviceHandle Open(const std::string& path) override;
  void Close(DeviceHandle handle) override;
  bool AtaPassThrough(DeviceHandle handle, const AtaPassThroughRequest& request,
                      AtaPassThroughRequest& reply) override;
  bool ScsiPassThrough(DeviceHandle handle, ScsiPassThroughRequest& request) override;
};

}  // namespace plovix::win32
