// Plovix.exe: the program on the machine's own drives with native dialogs.
#include "app/CPlovixApp.h"
#include "faces/command/CommandLine.h"
#include "devices/win32/SetupApiCatalog.h"
#include "faces/win32/Win32Backend.h"
#include "devices/win32/Win32DeviceIo.h"
#include "faces/win32/WinStart.h"

int main(int argc, char** argv) {
  plovix::win32::StartWindowsProgram();
  plovix::win32::Win32DeviceIo io;
  plovix::win32::SetupApiCatalog catalog;
  if (plovix::command::HasCommand(argc, argv)) {
    // A command prints to the console it was started from; no window opens.
    plovix::win32::UseParentConsole();
    return plovix::command::RunCommandLine(argc, argv, io, catalog);
  }
  ui::win32::Win32Backend backend;
  plovix::CPlovixApp(io, catalog).InitInstance();
  return 0;
}
