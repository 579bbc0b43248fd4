// The Utilities menu of the main window.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ui/Dialog.h"

namespace plovix {

// What the menu leaves in the main window's utility choice byte.
namespace utility {
inline constexpr std::uint8_t kNone = 0;
inline constexpr std::uint8_t kEraseMbr = 1;
inline constexpr std::uint8_t kEraseDisk = 2;
inline constexpr std::uint8_t kLogView = 3;
inline constexpr std::uint8_t kSurfaceShort = 4;
inline constexpr std::uint8_t kSurfaceLong = 5;
}  // namespace utility

// Said when the drive an erase would write to is no longer the one that was listed.
inline constexpr const char* kDriveChangedText =
    "This is no longer the drive that was listed: it may have been unplugged or replaced "
    "since the last scan, or it does not answer. Nothing was written.\n\n"
    "Press \"Scan\" and choose the drive again.";

class CUtilMenu : public ui::Dialog {
 public:
  CUtilMenu();
  ~CUtilMenu() override;
  bool OnInitDialog() override;
  void OnCommand(int id) override;

  std::uint8_t* utility_choice = nullptr;  // the main window's byte; set before DoModal
  std::string drive_caption;               // the drive the menu acts on, for its captions
  // What to tell the user before an erase's confirmation (empty: nothing); a notice
  // declined ends the menu like a declined warning.
  std::function<std::string(std::uint8_t choice)> erase_notice;

 private:
  void Choose(std::uint8_t choice);
  bool NoticeAccepted(std::uint8_t choice);
};

}  // namespace plovix
