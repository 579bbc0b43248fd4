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
#include "faces/scripted/ScriptedBackend.h"
#include "devices/sim/Bench.h"
#include "resources/ResourceIds.h"
#include "tests/support/temp_dir.h"
#include "tests/support/main_window_rig.h"

namespace plovix::testing_utils {

// Opcodes of the commands the utilities send to the disk surface, and of IDENTIFY
// DEVICE, with which an erase makes sure of the drive it opened before it writes.
inline constexpr std::uint8_t kIdentify = 0xEC;
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

// One received NVMe request: its queue and opcode, and what the commands the program
// sends carry in their dwords (log id or self-test code in CDW10, blocks in CDW10-12).
struct NvmeCmd {
  NvmeQueue queue = NvmeQueue::Admin;
  std::uint8_t opcode = 0;
  std::uint32_t nsid = 0;
  std::uint32_t cdw10 = 0;
  std::uint64_t slba = 0;    // I/O only
  std::uint32_t blocks = 0;  // I/O only: NLB + 1 (Flush: 0)
  bool operator==(const NvmeCmd&) const = default;
};
std::ostream& operator<<(std::ostream& os, const NvmeCmd& c);
NvmeCmd DecodeNvme(const sim::Received& r);
// Admin commands by what they are, and I/O commands by opcode.
inline constexpr std::uint8_t kNvmeLogPage = 0x02;
inline constexpr std::uint8_t kNvmeIdentify = 0x06;
inline constexpr std::uint8_t kNvmeSelfTest = 0x14;
inline constexpr std::uint8_t kNvmeFlush = 0x00;
inline constexpr std::uint8_t kNvmeWrite = 0x01;
inline constexpr std::uint8_t kNvmeRead = 0x02;
inline constexpr std::uint8_t kNvmeWriteZeroes = 0x08;
inline constexpr std::uint8_t kNvmeVerify = 0x0C;
bool IsAdmin(const NvmeCmd& c, std::uint8_t opcode);
bool IsIo(const NvmeCmd& c, std::uint8_t opcode);
// Get Log Page of this log id.
bool IsLogRead(const NvmeCmd& c, std::uint8_t log_id);

// Waits (real time, bounded) until pred holds; false when it never did.
bool WaitUntil(const std::function<bool()>& pred);

// A fault on one drive's requests with this ATA opcode (and start LBA, when given).
sim::Fault FaultOn(int drive_number, std::uint8_t opcode, sim::FaultEffect effect,
                   std::optional<std::uint64_t> lba = std::nullopt, std::uint64_t until_ms = 0);

using TempCwd = testing_support::TempWorkDir;

// The scripted user of the utility tests: it may look at the program whenever a message
// box comes up (on_message_box).
using RecordingBackend = testing_support::ScriptedUser;

// The bench's drives as the utility tests set them up: model "PLOVIX BENCH <serial>"
// (NVMe: "PLOVIX NVME <serial>"), a few healthy attributes, a USB dock that forwards both
// command forms, NVMe self-tests of 20 s and 60 s.
sim::DriveSpec BenchDriveSpec(const std::string& serial, std::uint64_t total_sectors);
sim::BridgeSpec BenchBridgeSpec(const std::string& serial);
sim::NvmeSpec BenchNvmeSpec(const std::string& serial, std::uint64_t blocks,
                            std::uint32_t block_bytes);

// The main window's rig with drive 0 as the system disk (volume C:, never listed); the
// drives added with Add... appear in the drive list in ascending drive number.
class UtilsRig : public ::testing::Test, protected testing_support::MainWindowRig {
 protected:
  UtilsRig();
  ~UtilsRig() override;

  static sim::DriveSpec DriveSetup(const std::string& serial, std::uint64_t total_sectors);
  sim::VirtualDrive& AddSata(int drive_number, std::uint64_t total_sectors,
                             const std::string& serial);
  sim::VirtualDrive& AddUsb(int drive_number, std::uint64_t total_sectors,
                            const std::string& serial);
  // An NVMe drive of this many blocks of this size; short self-test 20 s, extended 60 s.
  static sim::NvmeSpec NvmeDriveSetup(const std::string& serial, std::uint64_t blocks,
                                      std::uint32_t block_bytes);
  sim::VirtualNvme& AddNvme(int drive_number, sim::NvmeSpec setup);

  // First main-window step: remember the window, forget what the start-up scan sent,
  // check the given lines and press a button (Utilities unless told otherwise).
  ui::scripted::Step& Begin(const std::vector<int>& lines,
                            int button = ids::main_window::kUtilities);
  // Last main-window step: record the Status column, then close the window.
  void End();
  using MainWindowRig::Run;  // not ::testing::Test's

  // Decoded commands that reached a drive since Begin, optionally only some opcodes.
  std::vector<Cmd> Commands(int drive_number, const std::vector<std::uint8_t>& opcodes = {});
  // NVMe requests that reached a drive since Begin; ATA and SCSI ones are left out.
  std::vector<NvmeCmd> NvmeCommands(int drive_number);
  // Whether a drive received any ATA or SCSI request since Begin.
  bool AnyAtaOrScsi(int drive_number);
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
  CPlovixDlg* main_window = nullptr;
  std::vector<std::string> initial_status;  // Status column at Begin, by line
  std::vector<std::string> status;          // Status column at End, by line
  std::vector<int> drive_numbers;   // drives added, in list order
};

}  // namespace plovix::testing_utils
