// Plovix-demo.exe: the program on the built-in bench of simulated drives, with native
// dialogs.
#include "app/CPlovixApp.h"
#include "platform/win32/Win32Backend.h"
#include "platform/win32/app/WinStart.h"
#include "sim/Bench.h"
#include "sim/DemoBench.h"

int main() {
  plovix::win32::StartWindowsProgram();
  ui::win32::Win32Backend backend;
  plovix::sim::Bench bench;
  plovix::sim::BuildDemoBench(bench);
  bench.SetClock([] { return ui::TickMs(); });
  plovix::CPlovixApp(bench, bench).InitInstance();
  return 0;
}
