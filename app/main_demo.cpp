// Plovix-demo: the program on a built-in bench of simulated drives, in the terminal.
#include "app/CPlovixApp.h"
#include "platform/terminal/TerminalBackend.h"
#include "sim/Bench.h"
#include "sim/DemoBench.h"
#include "ui/Backend.h"

int main(int argc, char** argv) {
  ui::SetAppTitle(ui::TitleFromExecutablePath(argc > 0 && argv[0] ? argv[0] : "Plovix-demo"));
  ui::terminal::TerminalBackend backend;
  plovix::sim::Bench bench;
  plovix::sim::BuildDemoBench(bench);
  bench.SetClock([] { return ui::TickMs(); });
  plovix::CPlovixApp(bench, bench).InitInstance();
  return 0;
}
