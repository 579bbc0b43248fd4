// How a dialog template becomes a Windows in-memory dialog (DLGTEMPLATEEX): window
// styles, control classes, native control ids and the byte layout. Plain code with no
// operating-system header, so the Linux build checks it too; the Windows back end only
// hands the bytes to the dialog manager.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ui/Template.h"

namespace ui::win32 {

// Win32 values used by the mapping.
namespace ws {
inline constexpr std::uint32_t kPopup = 0x80000000;
inline constexpr std::uint32_t kChild = 0x40000000;
inline constexpr std::uint32_t kVisible = 0x10000000;
inline constexpr std::uint32_t kCaption = 0x00C00000;
inline constexpr std::uint32_t kBorder = 0x00800000;
inline constexpr std::uint32_t kVScroll = 0x00200000;
inline constexpr std::uint32_t kSysMenu = 0x00080000;
inline constexpr std::uint32_t kThickFrame = 0x00040000;
inline constexpr std::uint32_t kMinimizeBox = 0x00020000;
inline constexpr std::uint32_t kMaximizeBox = 0x00010000;
inline constexpr std::uint32_t kTabStop = 0x00010000;
inline constexpr std::uint32_t kExClientEdge = 0x00000200;
inline constexpr std::uint32_t kExAppWindow = 0x00040000;
inline constexpr std::uint32_t kDsSetFont = 0x40;
inline constexpr std::uint32_t kDsModalFrame = 0x80;
}  // namespace ws

struct NativeStyle {
  std::uint32_t style = 0;
  std::uint32_t ex_style = 0;
  bool operator==(const NativeStyle&) const = default;
};

NativeStyle DialogStyle(const DialogTemplate& t);
NativeStyle ControlStyle(const ControlTemplate& c);

// The window class of a control: a predefined atom (0x80 button, 0x81 edit, 0x82
// static) or, for common controls, a class name (atom 0).
struct ControlClass {
  std::uint16_t atom = 0;
  std::string_view name;
};
ControlClass ClassOf(Kind kind);

// Native id of every control, in template order. Ids must be unique for the dialog
// manager to find a control again, but the program gives all its plain statics the
// same id (-1); those and any repeated id get ids of their own above the program's.
inline constexpr int kFirstPrivateId = 0x7000;
std::vector<int> NativeIds(const DialogTemplate& t);

// UTF-8 to UTF-16; a malformed sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// Lone "\n" line ends become "\r\n", which multi-line edit controls need.
std::string WithCrLf(std::string_view text);

// The DLGTEMPLATEEX image of a template, ready for DialogBoxIndirectParamW.
std::vector<std::uint8_t> BuildDialogTemplateEx(const DialogTemplate& t);

}  // namespace ui::win32
