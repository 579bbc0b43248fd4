// Basic types of the dialog framework: ids, styles, colours, fonts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ui {

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDC_STATIC = -1;

// Window messages / notifications the program reacts to.
inline constexpr int NM_DBLCLK = -3;
inline constexpr unsigned DBT_DEVICEARRIVAL = 0x8000;
inline constexpr int SC_CLOSE = 0xF060;
inline constexpr int IDM_ABOUTBOX = 0x0010;

// Message box types and answers.
inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_OKCANCEL = 0x1;
inline constexpr unsigned MB_ICONEXCLAMATION = 0x30;

using Color = std::uint32_t;  // 0x00BBGGRR
constexpr Color RGB(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return static_cast<Color>(r) | (static_cast<Color>(g) << 8) | (static_cast<Color>(b) << 16);
}

struct Rect {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
};

enum class Kind { Static, Button, Edit, Progress, ListView, Icon, Bitmap };

// Control styles (portable; backends translate).
namespace style {
inline constexpr std::uint32_t kDefButton = 1u << 0;     // default push button
inline constexpr std::uint32_t kLeft = 1u << 1;
inline constexpr std::uint32_t kCenter = 1u << 2;        // horizontally centred
inline constexpr std::uint32_t kRight = 1u << 3;
inline constexpr std::uint32_t kVCenter = 1u << 4;       // vertically centred
inline constexpr std::uint32_t kNoPrefix = 1u << 5;
inline constexpr std::uint32_t kMultiline = 1u << 6;
inline constexpr std::uint32_t kReadOnly = 1u << 7;
inline constexpr std::uint32_t kAutoHScroll = 1u << 8;
inline constexpr std::uint32_t kAutoVScroll = 1u << 9;
inline constexpr std::uint32_t kVScroll = 1u << 10;
inline constexpr std::uint32_t kWantReturn = 1u << 11;
inline constexpr std::uint32_t kBorder = 1u << 12;
inline constexpr std::uint32_t kTabStop = 1u << 13;
inline constexpr std::uint32_t kReport = 1u << 14;        // list view report mode
inline constexpr std::uint32_t kShowSelAlways = 1u << 15;
inline constexpr std::uint32_t kClientEdge = 1u << 16;    // sunken client edge
}  // namespace style

// Dialog styles.
namespace dstyle {
inline constexpr std::uint32_t kPopup = 1u << 0;
inline constexpr std::uint32_t kCaption = 1u << 1;
inline constexpr std::uint32_t kSysMenu = 1u << 2;
inline constexpr std::uint32_t kModalFrame = 1u << 3;
inline constexpr std::uint32_t kThickFrame = 1u << 4;     // resizable
inline constexpr std::uint32_t kMinMaxBox = 1u << 5;
inline constexpr std::uint32_t kVisible = 1u << 6;
inline constexpr std::uint32_t kAppWindow = 1u << 7;      // extended style
inline constexpr std::uint32_t kStandard = kPopup | kCaption | kSysMenu | kModalFrame;
}  // namespace dstyle

// A font by face and size. Point fonts give tenths of a point; a logical font gives
// a height in logical units instead (tenths 0).
struct Font {
  std::string face;
  int tenths_of_point = 0;
  int height = 0;
  int charset = 0;     // 0 default, 128 Shift-JIS
  int pitch = 0;       // 1 fixed
  bool operator==(const Font&) const = default;
};

using Brush = std::optional<Color>;  // a solid brush, or none
inline Brush CreateSolidBrush(Color c) { return Brush{c}; }

// What a control-colour handler decides for one control.
struct CtlColor {
  std::optional<Color> text_color;
  std::optional<Color> back_color;
  bool transparent = false;
  Brush brush;  // empty: the framework's default
};

// A title static drawn as a white band with black text, on the dialog's white brush.
inline CtlColor TitleBandColors(const Brush& white_brush) {
  CtlColor c;
  c.text_color = RGB(0, 0, 0);
  c.back_color = RGB(255, 255, 255);
  c.transparent = true;
  c.brush = white_brush;
  return c;
}

}  // namespace ui
