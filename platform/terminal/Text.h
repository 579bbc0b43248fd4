// Text measuring for character cells: UTF-8 in, terminal columns out.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ui::terminal {

// Splits UTF-8 into code points; a broken sequence gives U+FFFD for its first byte.
std::u32string DecodeUtf8(std::string_view text);
std::string EncodeUtf8(char32_t cp);

// Columns a code point takes: 0 for combining marks, 2 for East Asian wide ones.
int CharWidth(char32_t cp);
int DisplayWidth(std::string_view text);

// The longest prefix that fits in width columns.
std::string TruncateToWidth(std::string_view text, int width);

// The columns [left, left + width) of text; a wide character cut by either edge is
// left out.
std::string SliceColumns(std::string_view text, int left, int width);

// Lines of at most width columns: breaks at blanks where it can, hard breaks a word
// that is longer than a line, and honours "\n" ("\r" is dropped).
std::vector<std::string> WrapText(std::string_view text, int width);

// Button and label texts: "&Abort" shows "Abort"; "&&" is one "&".
std::string StripMnemonic(std::string_view text);

enum class Align { Left, Center, Right };
// text truncated or padded with blanks to exactly width columns.
std::string AlignText(std::string_view text, int width, Align align);

}  // namespace ui::terminal
