// What the flows share for NVMe drives: how a device self-test reads in the self-test
// status byte the result dialogs already know, and how a flow tells the user that a
// command did not go through.
#pragma once

#include <cstdint>
#include <string>

#include "drive/DeviceIo.h"
#include "drive/NvmeDecode.h"

namespace plovix {

// The status byte of a running device self-test: high nibble 15, low nibble the tenths
// still to run (1..9, never 0 while it runs).
std::uint8_t NvmeRunningStatus(std::uint8_t completion_percent);
// The status byte of a finished device self-test, by the nearest sentence the result
// dialog has: passed 0x00; aborted by an Abort, a Format, a Sanitize or the namespace's
// removal 0x10; by a reset 0x20; fatal or for no known reason 0x30; a failed segment
// 0x40, or 0x70 when the drive names the block it could not read; anything else 0x80.
std::uint8_t NvmeResultStatus(const NvmeSelfTestResult& result);

// The controller does not know the command (generic Invalid Command Opcode): a drive that
// names a command in its identity and then refuses it.
bool NvmeInvalidOpcode(const NvmeReply& reply);

// A message box about the drive named by drive_caption (see DriveCaption), in the
// program's window title.
void TellUser(const std::string& text, const std::string& drive_caption);
// The same with OK and Cancel; true for OK.
bool AskUser(const std::string& text, const std::string& drive_caption);

// Texts of the NVMe flows.
namespace nvme_text {
inline constexpr const char* kSelfTestUnsupported =
    "This drive does not offer a device self-test, so no self-test was run.";
inline constexpr const char* kSelfTestStartRefused =
    "The operating system does not pass the self-test command to this drive, so no "
    "self-test was run.";
inline constexpr const char* kSelfTestBusy =
    "The drive is running a self-test already and did not start a new one. Let that test "
    "end, then start again.";
inline constexpr const char* kSelfTestNotStarted =
    "The drive did not start the self-test, so no self-test was run.";
inline constexpr const char* kAbortRefused =
    "The operating system does not pass the abort command to this drive. The self-test "
    "goes on.";
inline constexpr const char* kAbortFailed =
    "The drive did not accept the abort command. The self-test goes on.";
inline constexpr const char* kHealthRefused =
    "The operating system does not pass the health log request to this drive, so its "
    "health figures could not be read.";
inline constexpr const char* kScanNeedsVerify =
    "This drive's block format carries metadata, which plain reads cannot take, and the "
    "drive offers no Verify command, so the surface scan cannot run on it.";
inline constexpr const char* kEraseNeedsWriteZeroes =
    "This drive's block format carries metadata, which plain writes cannot fill, and the "
    "drive offers no Write Zeroes command, so it cannot be erased here.";
inline constexpr const char* kMbrRefused =
    "The operating system refused the write to this drive (as it does while the disk has "
    "mounted volumes, or when the program lacks the rights to write to it), so the MBR was "
    "not erased.";
}  // namespace nvme_text

// What Erase MBR writes on a namespace whose blocks are larger than a sector, asked
// before it is written.
std::string MbrBlockNote(std::uint32_t block_bytes);
// "... refused ..., so the surface scan stopped at sector N." and the erase's own.
std::string SurfaceRefusedText(std::uint64_t stopped_at_sector);
std::string EraseRefusedText(std::uint64_t stopped_at_sector);

}  // namespace plovix
