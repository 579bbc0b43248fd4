// Plovix-demo.exe: the program on the built-in bench of simulated drives, with native
// dialogs.
#include "app/CPlovixApp.h"
#include "faces/command/CommandLine.h"
#include "faces/win32/Win32Backend.h"
#include "faces/win32/WinStart.h"
#include "devices/sim/Bench.h"
#include "devices/sim/DemoBench.h"

int main(int argc, char** argv) {
  plovix::win32::StartWindowsProgram();
  plovix::sim::Bench bench;
  plovix::sim::BuildDemoBench(bench);
  bench.SetClock([] { return ui::TickMs(); });
  if (plovix::command::HasCommand(argc, argv)) {
    // A command prints to the console it was started from; no window opens.
    plovix::win32::UseParentConsole();
    return plovix::command::RunCommandLine(argc, argv, bench, bench);
  }
  ui::win32::Win32Backend backend;
  plovix::CPlovixApp(bench, bench).InitInstance();
  return 0;
}
