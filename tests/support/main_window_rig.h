// The main window under test, the one rig of the flow tests: a scripted user whose
// script mistakes fail the running test, a bench of simulated drives on that user's
// virtual clock, the program run through the script, and readers of what it leaves:
// the drive list's columns and the drives' log files.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "devices/sim/Bench.h"
#include "drive/DeviceIo.h"
#include "faces/scripted/ScriptedBackend.h"
#include "inventory/DeviceCatalog.h"
#include "ui/Dialog.h"

namespace plovix::testing_support {

// The scripted back end whose failures fail the running test, with a look at the
// program's state whenever a message box comes up (a box's own script step cannot
// inspect anything).
class ScriptedUser : public ui::scripted::ScriptedBackend {
 public:
  ScriptedUser();
  std::function<void(const std::string& text)> on_message_box;
  int MessageBox(const std::string& text, const std::string& caption, unsigned type) override;
};

// Runs the program on these devices until the script ends it; what InitInstance says.
bool RunProgram(DeviceIo& io, DeviceCatalog& catalog);
bool RunProgram(sim::Bench& bench);

// A column of the main window's drive list, top to bottom.
std::vector<std::string> DriveListColumn(ui::Dialog& main_window, int column);

// A drive's log file in the current directory: its bytes, and its lines split at CR LF
// (a last line without one ends in "<no CR LF>"); empty when there is none.
std::string LogFileBytes(const std::string& serial);
std::vector<std::string> LogFileLines(const std::string& serial);

// The user and a bench whose drives keep the user's time.
struct MainWindowRig {
  MainWindowRig();
  // Runs the program on the bench; fails on a script that did not fit or was not used up.
  void Run();

  ScriptedUser ui;
  sim::Bench bench;
};

}  // namespace plovix::testing_support
