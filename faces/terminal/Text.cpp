#include "faces/terminal/Text.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "ui/TextFit.h"

namespace ui::terminal {

namespace {

constexpr Glyphs kUtf8Glyphs = {
    "\u2026", "\u2500", "\u2502", "\u250C", "\u2510", "\u2514", "\u2518",
    "\u2550", "\u2551", "\u2554", "\u2557", "\u255A", "\u255D",
    "\u2502", "\u25B2", "\u25BC", "\u25CF", "\u2717", "\u2588", "\u2591",
    "\u25B6", "\u25C0", "\u2191\u2193", "\u2190\u2192",
};
constexpr Glyphs kAsciiGlyphs = {
    "~", "-", "|", "+", "+", "+", "+",
    "=", "#", "#", "#", "#", "#",
    "|", "^", "v", "o", "X", "#", ".",
    ">", "<", "Up/Down", "Left/Right",
};
const Glyphs* g_glyphs = &kUtf8Glyphs;

std::uint32_t Offset(std::size_t at) {
  return static_cast<std::uint32_t>(std::min<std::size_t>(at, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace

char32_t NextCodePoint(std::string_view text, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  int extra = 0;
  char32_t cp = 0;
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    cp = b0 & 0x07;
  } else {
    ++i;
    return 0xFFFD;
  }
  if (i + static_cast<std::size_t>(extra) >= text.size()) {
    ++i;
    return 0xFFFD;
  }
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  i += static_cast<std::size_t>(extra) + 1;
  return cp;
}

const Glyphs& CurrentGlyphs() { return *g_glyphs; }

std::string Showable(std::string_view text) {
  if (g_glyphs == &kUtf8Glyphs) return std::string(text);
  if (std::none_of(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0x80) != 0; })) {
    return std::string(text);
  }
  // Stand-ins that read as the words they replace.
  static constexpr std::pair<std::string_view, std::string_view> kStandIns[] = {
      {"\u30D0\u30FC\u30B8\u30E7\u30F3\u60C5\u5831", "About"},  // version information
  };
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    bool replaced = false;
    for (const auto& [phrase, stand_in] : kStandIns) {
      if (text.substr(i, phrase.size()) == phrase) {
        out += stand_in;
        i += phrase.size();
        replaced = true;
        break;
      }
    }
    if (replaced) continue;
    const char32_t cp = NextCodePoint(text, i);
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (CharWidth(cp) > 0) {
      out.push_back('?');
    }
  }
  return out;
}

void UseUtf8Glyphs(bool utf8) { g_glyphs = utf8 ? &kUtf8Glyphs : &kAsciiGlyphs; }

std::u32string DecodeUtf8(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) out.push_back(NextCodePoint(text, i));
  return out;
}

std::string EncodeUtf8(char32_t cp) {
  std::string out;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
  return out;
}

int CharWidth(char32_t cp) {
  if (cp < 0x20 || cp == 0x7F) return 0;
  if ((cp >= 0x0300 && cp <= 0x036F) || (cp >= 0x200B && cp <= 0x200F) ||
      (cp >= 0xFE00 && cp <= 0xFE0F) || cp == 0x3099 || cp == 0x309A) {
    return 0;
  }
  if ((cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0x303E) ||
      (cp >= 0x3041 && cp <= 0x33FF) || (cp >= 0x3400 && cp <= 0x4DBF) ||
      (cp >= 0x4E00 && cp <= 0x9FFF) || (cp >= 0xA000 && cp <= 0xA4CF) ||
      (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
      (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
      (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD)) {
    return 2;
  }
  return 1;
}

int DisplayWidth(std::string_view text) {
  int width = 0;
  std::size_t i = 0;
  while (i < text.size()) width += CharWidth(NextCodePoint(text, i));
  return width;
}

std::string Ellipsize(std::string_view text, int width) {
  return FitText(text, std::max(0, width), [](std::string_view piece) { return DisplayWidth(piece); },
                 CurrentGlyphs().ellipsis)
      .text;
}

std::string TruncateToWidth(std::string_view text, int width) {
  std::string out;
  int used = 0;
  for (char32_t cp : DecodeUtf8(text)) {
    const int w = CharWidth(cp);
    if (used + w > width) break;
    used += w;
    out += EncodeUtf8(cp);
  }
  return out;
}

std::string SliceColumns(std::string_view text, int left, int width) {
  std::string out;
  int column = 0;
  int used = 0;
  for (char32_t cp : DecodeUtf8(text)) {
    const int w = CharWidth(cp);
    if (column < left) {
      column += w;
      continue;
    }
    if (used + w > width) break;
    used += w;
    out += EncodeUtf8(cp);
  }
  return out;
}

std::vector<Span> WrapSpans(std::string_view text, int width) {
  std::vector<Span> lines;
  if (width <= 0) return lines;
  struct Unit {
    std::size_t at;  // byte offset of the code point
    char32_t cp;     // a tab counts as a blank
    int width;
  };
  std::vector<Unit> units;
  auto wrap_paragraph = [&](std::size_t para_begin, std::size_t para_end) {
    units.clear();
    for (std::size_t i = para_begin; i < para_end;) {
      const std::size_t at = i;
      char32_t cp = NextCodePoint(text, i);
      if (cp == U'\r') continue;
      if (cp == U'\t') cp = U' ';
      units.push_back(Unit{at, cp, CharWidth(cp)});
    }
    if (units.empty()) {
      lines.push_back(Span{Offset(para_begin), Offset(para_begin)});
      return;
    }
    const std::size_t n = units.size();
    auto byte_at = [&](std::size_t k) { return k < n ? units[k].at : para_end; };
    std::size_t start = 0;
    while (start < n) {
      int used = 0;
      std::size_t end = start;
      while (end < n && used + units[end].width <= width) used += units[end++].width;
      if (end < n) {
        // Break at the last blank inside the piece, if there is one.
        std::size_t blank = end;
        while (blank > start && units[blank].cp != U' ') --blank;
        if (blank > start) end = blank;
        if (end == start) end = start + 1;  // a character wider than the line
      }
      std::size_t last = end;
      while (last > start && units[last - 1].cp == U' ') --last;
      lines.push_back(Span{Offset(units[start].at), Offset(last > start ? byte_at(last) : units[start].at)});
      start = end;
      while (start < n && units[start].cp == U' ') ++start;  // blanks at a break vanish
    }
  };
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t nl = text.find('\n', begin);
    if (nl == std::string_view::npos) {
      wrap_paragraph(begin, text.size());
      return lines;
    }
    wrap_paragraph(begin, nl);
    begin = nl + 1;
  }
  if (lines.empty()) lines.push_back(Span{});
  return lines;
}

std::vector<Span> SplitLines(std::string_view text, std::size_t* widest_bytes) {
  // Plain pointers and memchr: this runs over multi-megabyte reports in unoptimised
  // builds too, where every small call counts.
  const char* const base = text.data();
  const char* const end = base + text.size();
  std::size_t count = 1;
  for (const char* at = base; at < end; ++count) {
    const void* nl = std::memchr(at, '\n', static_cast<std::size_t>(end - at));
    if (nl == nullptr) break;
    at = static_cast<const char*>(nl) + 1;
  }
  std::vector<Span> lines(count);
  Span* out = lines.data();
  std::size_t widest = 0;
  const char* at = base;
  for (;;) {
    const void* found = std::memchr(at, '\n', static_cast<std::size_t>(end - at));
    const char* line_end = found != nullptr ? static_cast<const char*>(found) : end;
    const char* shown_end = line_end > at && line_end[-1] == '\r' ? line_end - 1 : line_end;
    const auto bytes = static_cast<std::size_t>(shown_end - at);
    if (bytes > widest) widest = bytes;
    out->begin = Offset(static_cast<std::size_t>(at - base));
    out->end = Offset(static_cast<std::size_t>(shown_end - base));
    ++out;
    if (found == nullptr) break;
    at = line_end + 1;
    if (at == end) break;  // a final line break ends the last line; no empty line after it
  }
  lines.resize(static_cast<std::size_t>(out - lines.data()));
  if (lines.empty()) lines.push_back(Span{});
  if (widest_bytes != nullptr) *widest_bytes = widest;
  return lines;
}

std::string SpanText(std::string_view text, Span span) {
  std::string out;
  const std::size_t end = std::min<std::size_t>(span.end, text.size());
  for (std::size_t i = span.begin; i < end; ++i) {
    if (text[i] == '\r') continue;
    out.push_back(text[i] == '\t' ? ' ' : text[i]);
  }
  return out;
}

std::vector<std::string> WrapText(std::string_view text, int width) {
  std::vector<std::string> lines;
  for (const Span& span : WrapSpans(text, width)) lines.push_back(SpanText(text, span));
  return lines;
}

std::string Concat(std::initializer_list<std::string_view> parts) {
  std::size_t size = 0;
  for (std::string_view part : parts) size += part.size();
  std::string out;
  out.reserve(size);
  for (std::string_view part : parts) out.append(part);
  return out;
}

std::string StripMnemonic(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      if (i + 1 < text.size() && text[i + 1] == '&') {
        out.push_back('&');
        ++i;
      }
      continue;
    }
    out.push_back(text[i]);
  }
  return out;
}

std::string AlignText(std::string_view text, int width, Align align) {
  if (width <= 0) return {};
  std::string cut = TruncateToWidth(text, width);
  const int pad = width - DisplayWidth(cut);
  int left = 0;
  if (align == Align::Center) left = pad / 2;
  if (align == Align::Right) left = pad;
  return std::string(static_cast<std::size_t>(left), ' ') + cut +
         std::string(static_cast<std::size_t>(pad - left), ' ');
}

}  // namespace ui::terminal
