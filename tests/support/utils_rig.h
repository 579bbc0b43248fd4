// A bench with a system disk and drives to work on, the scripted user in front of the
// main window, and readers for what the drives received and what the logs hold.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/CPlovixDlg.h"
#include "platform/scripted/ScriptedBackend.h"
#include "sim/Bench.h"
#include "support/temp_dir.h"

namespace plovix::testing_utils {

// Opcodes of the commands the utilities send to the disk surface.
inline constexpr std::uint8_t kReadVerify = 0x42;
inline constexpr std::uint8_t kWriteBuffer = 0xE8;
inline constexpr std::uint8_t kErase = 0x82;
inline constexpr std::uint8_t kSmart = 0xB0;

// One received request, decoded from its task file or command block.
struct Cmd {
  std::uint8_t opcode = 0;
  std::uint64_t lba = 0;     // 48-bit commands only
  std::uint32_t count = 0;   // sector count (READ VERIFY) or run length (erase)
  bool scsi = false;
  std::uint8_t cdb0 = 0;     // SCSI only: the command block's operation code
  bool operator==(const Cmd& o) const {
    return opcode == o.opcode && lba == o.lba && count == o.count;
  }
};
std::ostream& operator<<(std::ostream& os, const Cmd& c);
Cmd Decode(const sim::Received& r);

// Waits (real time, bounded) until pred holds; false when it never did.
bool WaitUntil(const std::function<bool()>& pred);

// A fault on one drive's requests with this ATA opcode (and start LBA, when given).
sim::Fault FaultOn(int drive_number, std::uint8_t opcode, sim::FaultEffect effect,
                   std::optional<std::uint64_t> lba = std::nullopt, std::uint64_t until_ms = 0);

using TempCwd = testing_support::TempWorkDir;

// The scripted back end, with a look at the program's state whenever a message box comes up
// (a box's own script step cannot inspect anything).
class RecordingBackend : public ui::scripted::ScriptedBackend {
 public:
  std::function<void(const std::string& text)> on_message_box;
  int MessageBox(const std::string& text, const std::string& caption, unsigned type) override {
    if (on_message_box) on_message_box(text);
    return ui::scripted::ScriptedBackend::MessageBox(text, caption, type);
  }
};

// Drive 0 is the system disk (volume C:, never listed); the drives added with Add...
// appear in the drive list in ascending drive number.
class UtilsRig : public ::testing::Test {
 protected:
  UtilsRig();
  ~UtilsRig() override;

  static sim::DriveSpec DriveSetup(const std::string& serial, std::uint64_t total_sectors);
  sim::VirtualDrive& AddSata(int drive_number, std::uint64_t total_sectors,
                             const std::string& serial);
  sim::VirtualDrive& AddUsb(int drive_number, std::uint64_t total_sectors,
                            const std::string& serial);

  // First main-window step: remember the window, forget what the start-up scan sent,
  // check the given lines and press a button (Utilities unless told otherwise).
  ui::scripted::Step& Begin(const std::vector<int>& lines, int button = main_ids::kUtilities);
  // Last main-window step: record the Status column, then close the window.
  void End();
  // Runs the program through the script; fails on a script that did not fit.
  void Run();

  // Decoded commands that reached a drive since Begin, optionally only some opcodes.
  std::vector<Cmd> Commands(int drive_number, const std::vector<std::uint8_t>& opcodes = {});
  // Every request since Begin to a drive other than the ones given.
  std::vector<sim::Received> RequestsToOthers(const std::vector<int>& chosen);
  // The lines of a drive's log file (CR LF split); empty when there is none.
  std::vector<std::string> LogLines(const std::string& serial) const;
  // Raw bytes of a drive's log file.
  std::string LogBytes(const std::string& serial) const;
  // Waits (real time, bounded) until the drive has received a command with this opcode
  // at this LBA; a worker blocked inside it is then known to be there.
  bool WaitForCommand(int drive_number, std::uint8_t opcode, std::uint64_t lba);

  TempCwd cwd;
  RecordingBackend ui;
  sim::Bench bench;
  CPlovixDlg* main_window = nullptr;
  std::vector<std::string> initial_status;  // Status column at Begin, by line
  std::vector<std::string> status;          // Status column at End, by line
  std::vector<int> drive_numbers;   // drives added, in list order
};

}  // namespace plovix::testing_utils
