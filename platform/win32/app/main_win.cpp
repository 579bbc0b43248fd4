// Plovix.exe: the program on the machine's own drives with native dialogs.
#include "app/CPlovixApp.h"
#include "platform/win32/SetupApiCatalog.h"
#include "platform/win32/Win32Backend.h"
#include "platform/win32/Win32DeviceIo.h"
#include "platform/win32/app/WinStart.h"

int main() {
  plovix::win32::StartWindowsProgram();
  ui::win32::Win32Backend backend;
  plovix::win32::Win32DeviceIo io;
  plovix::win32::SetupApiCatalog catalog;
  plovix::CPlovixApp(io, catalog).InitInstance();
  return 0;
}
