// Plovix-demo: the program on a built-in bench of simulated drives, in the terminal.
#include "app/CPlovixApp.h"
#include "faces/command/CommandLine.h"
#include "faces/terminal/TerminalBackend.h"
#include "reports/Help.h"
#include "devices/sim/Bench.h"
#include "devices/sim/DemoBench.h"
#include "ui/Backend.h"

// The installed data folder, from the build; where a package puts HELP.TXT.
#ifndef PLOVIX_DATA_DIR
#define PLOVIX_DATA_DIR "/usr/share/plovix"
#endif

int main(int argc, char** argv) {
  const std::string program = argc > 0 && argv[0] ? argv[0] : "Plovix-demo";
  ui::SetAppTitle(ui::TitleFromExecutablePath(program));
  plovix::SetHelpFolders({plovix::ProgramFolder(program), PLOVIX_DATA_DIR});
  plovix::sim::Bench bench;
  plovix::sim::BuildDemoBench(bench);
  bench.SetClock([] { return ui::TickMs(); });
  if (plovix::command::HasCommand(argc, argv)) {
    // Real time, as the windows have it: the bench's drives take the time a drive takes.
    return plovix::command::RunCommandLine(argc, argv, bench, bench);
  }
  ui::terminal::TerminalBackend backend;
  plovix::CPlovixApp(bench, bench).InitInstance();
  return 0;
}
