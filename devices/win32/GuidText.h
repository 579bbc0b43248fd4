// Reading a class GUID from its registry text "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
// No operating-system header: the fields are filled in the order of Windows' GUID.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace plovix::win32 {

struct GuidFields {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};
};

// nullopt unless the text is exactly the braced form (hex digits in either case).
inline std::optional<GuidFields> ParseGuidText(std::string_view text) {
  constexpr std::string_view kShape = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
  if (text.size() != kShape.size()) return std::nullopt;
  std::array<std::uint8_t, 16> bytes{};
  std::size_t nibble = 0;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const char c = text[i];
    if (kShape[i] != 'X') {
      if (c != kShape[i]) return std::nullopt;
      continue;
    }
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    if (v < 0) return std::nullopt;
    bytes[nibble / 2] = static_cast<std::uint8_t>((bytes[nibble / 2] << 4) | v);
    ++nibble;
  }
  GuidFields g;
  g.data1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) |
            bytes[3];
  g.data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
  g.data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
  for (std::size_t i = 0; i < 8; ++i) g.data4[i] = bytes[8 + i];
  return g;
}

}  // namespace plovix::win32
