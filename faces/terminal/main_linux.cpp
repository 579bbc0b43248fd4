// Plovix on Linux: the program in a terminal, on the machine's real drives.
#include <cstdio>

#include "app/CPlovixApp.h"
#include "faces/command/CommandLine.h"
#include "devices/linux/LinuxDeviceCatalog.h"
#include "devices/linux/LinuxDeviceIo.h"
#include "devices/linux/Privileges.h"
#include "devices/linux/UeventWatcher.h"
#include "faces/terminal/TerminalBackend.h"
#include "reports/Help.h"
#include "ui/Backend.h"
#include "ui/Types.h"

// The installed data folder, from the build; where a package puts HELP.TXT.
#ifndef PLOVIX_DATA_DIR
#define PLOVIX_DATA_DIR "/usr/share/plovix"
#endif

int main(int argc, char** argv) {
  const std::string title = ui::TitleFromExecutablePath(argc > 0 && argv[0] ? argv[0] : "Plovix");
  // Raw commands to a drive need CAP_SYS_RAWIO; without it every drive would simply
  // fail to answer, so say why before the terminal is taken over.
  const std::string refusal = plovix::linuxdev::ProcessRawIoRefusal(title);
  if (plovix::command::HasCommand(argc, argv)) {
    ui::SetAppTitle(title);
    plovix::linuxdev::LinuxDeviceIo io;
    plovix::linuxdev::LinuxDeviceCatalog catalog;
    return plovix::command::RunCommandLine(argc, argv, io, catalog, refusal);
  }
  if (!refusal.empty()) {
    std::fprintf(stderr, "%s\n", refusal.c_str());
    return 1;
  }
  ui::SetAppTitle(title);
  plovix::SetHelpFolders({plovix::ProgramFolder(argc > 0 && argv[0] ? argv[0] : "Plovix"), PLOVIX_DATA_DIR});

  ui::terminal::TerminalBackend backend;
  plovix::linuxdev::LinuxDeviceIo io;
  plovix::linuxdev::LinuxDeviceCatalog catalog;
  plovix::linuxdev::UeventWatcher watcher(
      [] { ui::GetBackend().PostDeviceChange(ui::DBT_DEVICEARRIVAL); });
  watcher.Start();

  plovix::CPlovixApp(io, catalog).InitInstance();
  watcher.Stop();
  return 0;
}
