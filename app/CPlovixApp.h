#pragma once

#include "drive/DeviceIo.h"
#include "inventory/DeviceCatalog.h"

namespace plovix {

// The application object: shows the main window modally and ends when it closes.
class CPlovixApp {
 public:
  CPlovixApp(DeviceIo& io, DeviceCatalog& catalog) : io_(io), catalog_(catalog) {}
  // Always false: the program ends when the main window closes.
  bool InitInstance();

 private:
  DeviceIo& io_;
  DeviceCatalog& catalog_;
};

}  // namespace plovix
