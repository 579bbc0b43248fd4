#include "platform/terminal/Text.h"

#include <algorithm>

namespace ui::terminal {

std::u32string DecodeUtf8(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    int extra = 0;
    char32_t cp = 0;
    if (b0 < 0x80) {
      cp = b0;
    } else if ((b0 & 0xE0) == 0xC0) {
      extra = 1;
      cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
      extra = 2;
      cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
      extra = 3;
      cp = b0 & 0x07;
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    if (i + static_cast<std::size_t>(extra) >= text.size()) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      const auto b = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      if ((b & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (b & 0x3F);
    }
    if (!ok) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    out.push_back(cp);
    i += static_cast<std::size_t>(extra) + 1;
  }
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
  for (char32_t cp : DecodeUtf8(text)) width += CharWidth(cp);
  return width;
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

std::vector<std::string> WrapText(std::string_view text, int width) {
  std::vector<std::string> lines;
  if (width <= 0) return lines;
  std::u32string para;
  auto flush_paragraph = [&](const std::u32string& p) {
    if (p.empty()) {
      lines.emplace_back();
      return;
    }
    std::size_t start = 0;
    while (start < p.size()) {
      // Take as much as fits.
      int used = 0;
      std::size_t end = start;
      while (end < p.size() && used + CharWidth(p[end]) <= width) used += CharWidth(p[end++]);
      if (end < p.size()) {
        // Break at the last blank inside the piece, if there is one.
        std::size_t blank = end;
        while (blank > start && p[blank] != U' ') --blank;
        if (blank > start) end = blank;
        if (end == start) end = start + 1;  // a character wider than the line
      }
      std::string line;
      for (std::size_t k = start; k < end; ++k) line += EncodeUtf8(p[k]);
      while (!line.empty() && line.back() == ' ') line.pop_back();
      lines.push_back(std::move(line));
      start = end;
      while (start < p.size() && p[start] == U' ') ++start;  // blanks at a break vanish
    }
  };
  for (char32_t cp : DecodeUtf8(text)) {
    if (cp == U'\r') continue;
    if (cp == U'\n') {
      flush_paragraph(para);
      para.clear();
      continue;
    }
    para.push_back(cp == U'\t' ? U' ' : cp);
  }
  if (!para.empty() || lines.empty()) flush_paragraph(para);
  return lines;
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
