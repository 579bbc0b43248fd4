#include "diagnostics/NvmeSupport.h"

#include <algorithm>

#include "drive/NvmeCommands.h"
#include "ui/Backend.h"

namespace plovix {

std::uint8_t NvmeRunningStatus(std::uint8_t completion_percent) {
  const int left = 10 - std::min<int>(completion_percent, 100) / 10;
  return static_cast<std::uint8_t>(0xF0 | std::clamp(left, 1, 9));
}

std::uint8_t NvmeResultStatus(const NvmeSelfTestResult& result) {
  switch (result.status) {
    case kNvmeTestPassed:
      return 0x00;
    case kNvmeTestAbortedByCommand:
    case kNvmeTestAbortedByNamespaceRemoval:
    case kNvmeTestAbortedByFormat:
    case kNvmeTestAbortedBySanitize:
      return 0x10;  // each is the host's doing
    case kNvmeTestAbortedByReset:
      return 0x20;
    case kNvmeTestFatalError:
    case kNvmeTestAbortedUnknown:
      return 0x30;  // the test did not finish, and the drive cannot say why
    case kNvmeTestFailedUnknownSegment:
      return 0x40;
    case kNvmeTestFailedSegment:
      return result.failing_lba ? 0x70 : 0x40;
    default:
      return 0x80;
  }
}

bool NvmeInvalidOpcode(const NvmeReply& reply) {
  return reply.outcome == NvmeOutcome::Completed && NvmeStatusCodeType(reply.status) == 0 &&
         NvmeStatusCode(reply.status) == kNvmeScInvalidOpcode;
}

void TellUser(const std::string& text, const std::string& drive_caption) {
  ui::MessageBox(text, ui::AppTitle() + drive_caption, ui::MB_OK | ui::MB_ICONEXCLAMATION);
}

bool AskUser(const std::string& text, const std::string& drive_caption) {
  return ui::MessageBox(text, ui::AppTitle() + drive_caption,
                        ui::MB_OKCANCEL | ui::MB_ICONEXCLAMATION) == ui::IDOK;
}

std::string MbrBlockNote(std::uint32_t block_bytes) {
  return "This drive's blocks are " + std::to_string(block_bytes) +
         " bytes long, so Erase MBR zeroes the whole first block: sectors 0 to " +
         std::to_string(block_bytes / 512 - 1) + ".";
}

std::string SurfaceRefusedText(std::uint64_t stopped_at_sector) {
  return "The operating system does not pass the surface scan's read commands to this "
         "drive, so the scan stopped at sector " +
         std::to_string(stopped_at_sector) + ".";
}

std::string EraseRefusedText(std::uint64_t stopped_at_sector) {
  std::string text =
      "The operating system refused the writes to this drive (as it does while the disk has "
      "mounted volumes, or when the program lacks the rights to write to it), so the erase "
      "stopped at sector " +
      std::to_string(stopped_at_sector) + ".";
  if (stopped_at_sector > 0) text += " The sectors before it are zeroed.";
  return text;
}

}  // namespace plovix
