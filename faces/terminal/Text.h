// Text measuring for character cells: UTF-8 in, terminal columns out.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace ui::terminal {

// The drawing characters: box drawing and symbols on a UTF-8 terminal, plain ASCII on
// any other (where those bytes would show as garbage).
struct Glyphs {
  const char* ellipsis;
  const char* h;  // frame: horizontal, vertical, corners
  const char* v;
  const char* tl;
  const char* tr;
  const char* bl;
  const char* br;
  const char* fh;  // the frame of the focused list or text
  const char* fv;
  const char* ftl;
  const char* ftr;
  const char* fbl;
  const char* fbr;
  const char* grid;       // between list columns
  const char* up;         // more above / below
  const char* down;
  const char* good;       // a list line's image: a healthy attribute, a failing one;
  const char* bad;        // shapes apart, for terminals that show no colour
  const char* full;       // progress bar cells
  const char* empty;
  const char* focus_in;   // around the focused button, and the focused list line
  const char* focus_out;
  const char* up_down;    // key names in the hint line
  const char* left_right;
};
const Glyphs& CurrentGlyphs();
// The back end says once what the terminal shows; UTF-8 unless told otherwise.
void UseUtf8Glyphs(bool utf8);

// A text as the terminal can show it: unchanged on a UTF-8 terminal; on any other, the
// program's Japanese words in an ASCII stand-in ("バージョン情報" reads "About") and every
// other character beyond ASCII as "?", where the terminal would show garbage.
std::string Showable(std::string_view text);

// Splits UTF-8 into code points; a broken sequence gives U+FFFD for its first byte.
std::u32string DecodeUtf8(std::string_view text);
// The code point at byte i (i < text.size()); i moves past it.
char32_t NextCodePoint(std::string_view text, std::size_t& i);
std::string EncodeUtf8(char32_t cp);

// Columns a code point takes: 0 for combining marks, 2 for East Asian wide ones.
int CharWidth(char32_t cp);
int DisplayWidth(std::string_view text);

// The longest prefix that fits in width columns.
std::string TruncateToWidth(std::string_view text, int width);

// text whole when it fits in width columns, else cut so that it ends in the ellipsis.
std::string Ellipsize(std::string_view text, int width);

// The columns [left, left + width) of text; a wide character cut by either edge is
// left out.
std::string SliceColumns(std::string_view text, int left, int width);

// Lines of at most width columns: breaks at blanks where it can, hard breaks a word
// that is longer than a line, and honours "\n" ("\r" is dropped).
std::vector<std::string> WrapText(std::string_view text, int width);

// A line as a byte range of the text it came from; long texts keep their lines this way
// rather than as copies.
struct Span {
  std::uint32_t begin = 0;
  std::uint32_t end = 0;
};
// WrapText's lines as spans (texts longer than 4 GiB are cut there).
std::vector<Span> WrapSpans(std::string_view text, int width);
// The lines between "\n"s, unwrapped; widest_bytes gets the longest line's byte count.
std::vector<Span> SplitLines(std::string_view text, std::size_t* widest_bytes);
// A span's text as drawn: "\r" dropped, a tab shown as a blank.
std::string SpanText(std::string_view text, Span span);

// The pieces one after another. (Chains of "x" + s + "y" set off a false -Wrestrict
// warning in GCC 12 at -O3; appending does not.)
std::string Concat(std::initializer_list<std::string_view> parts);

// Button and label texts: "&Abort" shows "Abort"; "&&" is one "&".
std::string StripMnemonic(std::string_view text);

enum class Align { Left, Center, Right };
// text truncated or padded with blanks to exactly width columns.
std::string AlignText(std::string_view text, int width, Align align);

}  // namespace ui::terminal
