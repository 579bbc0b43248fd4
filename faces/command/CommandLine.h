// The program driven by its arguments: a command plays the same flows a user plays in
// the dialogs, on a face that shows nothing, and prints what they said.
#pragma once

#include <ctime>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "drive/DeviceIo.h"
#include "inventory/DeviceCatalog.h"

namespace plovix::command {

// The exit status is a mask of these; 0 when everything asked for was done and passed.
namespace exit_bits {
inline constexpr int kBadArguments = 1;   // unknown option, missing value, a --confirm that does not match
inline constexpr int kDriveNotFound = 2;  // a drive named is not listed or cannot be reached
inline constexpr int kVerdictFailing = 4; // a drive's SMART verdict is Failing
inline constexpr int kFailed = 8;         // a test or an erase failed, was refused or aborted
inline constexpr int kStillRunning = 16;  // a self-test still runs in the drive
}  // namespace exit_bits

struct Setup {
  DeviceIo* io = nullptr;
  DeviceCatalog* catalog = nullptr;
  // Real drives take real time; the simulated bench runs on a clock of its own that
  // jumps ahead, so a demo's self-test ends at once.
  bool real_time = true;
  std::time_t start_time = 0;  // the clock's start; 0: now
  std::ostream* out = nullptr;
  std::ostream* err = nullptr;  // progress lines and errors
  // Why no drive can be commanded at all (no raw I/O privilege): said instead of
  // running a command that needs the drives.
  std::string refusal;
};

// Whether the arguments name a command (any argument at all): the dialogs open only
// without one.
bool HasCommand(int argc, const char* const* argv);

// Runs the command; returns the exit status.
int RunCommandLine(int argc, const char* const* argv, const Setup& setup);
// The same over these drives, the rest of Setup as it stands; what a main needs.
inline int RunCommandLine(int argc, const char* const* argv, DeviceIo& io, DeviceCatalog& catalog,
                          std::string refusal = {}) {
  Setup setup;
  setup.io = &io;
  setup.catalog = &catalog;
  setup.refusal = std::move(refusal);
  return RunCommandLine(argc, argv, setup);
}

// The manual page (roff, section 1) from the same option table as --help.
std::string ManPage(const std::string& program);

}  // namespace plovix::command
