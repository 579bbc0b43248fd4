#include "faces/terminal/Canvas.h"

#include <algorithm>

#include "faces/terminal/Text.h"

namespace ui::terminal {

Ink InkFromColor(Color color) {
  const int r = static_cast<int>(color & 0xFF);
  const int g = static_cast<int>((color >> 8) & 0xFF);
  const int b = static_cast<int>((color >> 16) & 0xFF);
  const bool R = r >= 128;
  const bool G = g >= 128;
  const bool B = b >= 128;
  const int index = (R ? 1 : 0) | (G ? 2 : 0) | (B ? 4 : 0);
  static constexpr Ink kInks[] = {Ink::Black, Ink::Red,     Ink::Green, Ink::Yellow,
                                  Ink::Blue,  Ink::Magenta, Ink::Cyan,  Ink::White};
  return kInks[index];
}

void Canvas::Resize(int width, int height) {
  width_ = std::max(0, width);
  height_ = std::max(0, height);
  cells_.assign(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_), Cell{});
  overdraws_.clear();
}

void Canvas::Clear() {
  std::fill(cells_.begin(), cells_.end(), Cell{});
  overdraws_.clear();
}

void Canvas::Claim(Cell& cell, int x, int y) {
  if (owner_ >= 0 && cell.owner >= 0 && cell.owner != owner_ && !cell.glyph.empty() && cell.glyph != " ") {
    overdraws_.push_back(Overdraw{x, y, cell.owner, owner_});
  }
  cell.owner = owner_;
}

int Canvas::Put(int x, int y, std::string_view text, const Attr& attr, int max_w) {
  if (y < 0 || y >= height_) return 0;
  int used = 0;
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = NextCodePoint(text, i);
    const int w = CharWidth(cp);
    if (w == 0) continue;
    if (used + w > max_w || x + used + w > width_) break;
    const int cx = x + used;
    used += w;
    if (cx < 0) continue;
    auto& cell = cells_[static_cast<std::size_t>(y * width_ + cx)];
    Claim(cell, cx, y);
    cell.glyph = EncodeUtf8(cp);
    cell.attr = attr;
    if (w == 2) {
      auto& right = cells_[static_cast<std::size_t>(y * width_ + cx + 1)];
      Claim(right, cx + 1, y);
      right.glyph.clear();
      right.attr = attr;
    }
  }
  return used;
}

void Canvas::Fill(const Cells& area, const Attr& attr) {
  for (int y = std::max(0, area.y); y < std::min(height_, area.y + area.h); ++y) {
    for (int x = std::max(0, area.x); x < std::min(width_, area.x + area.w); ++x) {
      auto& cell = cells_[static_cast<std::size_t>(y * width_ + x)];
      Claim(cell, x, y);
      cell.glyph.assign(1, ' ');  // not = " ": GCC 12 warns falsely at -O3 (-Wrestrict)
      cell.attr = attr;
    }
  }
}

void Canvas::Frame(const Cells& a, const Attr& attr, bool focused) {
  if (a.w < 2 || a.h < 2) return;
  const Glyphs& g = CurrentGlyphs();
  const int right = a.x + a.w - 1;
  const int bottom = a.y + a.h - 1;
  for (int x = a.x + 1; x < right; ++x) {
    Put(x, a.y, focused ? g.fh : g.h, attr);
    Put(x, bottom, focused ? g.fh : g.h, attr);
  }
  for (int y = a.y + 1; y < bottom; ++y) {
    Put(a.x, y, focused ? g.fv : g.v, attr);
    Put(right, y, focused ? g.fv : g.v, attr);
  }
  Put(a.x, a.y, focused ? g.ftl : g.tl, attr);
  Put(right, a.y, focused ? g.ftr : g.tr, attr);
  Put(a.x, bottom, focused ? g.fbl : g.bl, attr);
  Put(right, bottom, focused ? g.fbr : g.br, attr);
}

void Canvas::Dim(const Cells& area) {
  for (int y = std::max(0, area.y); y < std::min(height_, area.y + area.h); ++y) {
    for (int x = std::max(0, area.x); x < std::min(width_, area.x + area.w); ++x) {
      cells_[static_cast<std::size_t>(y * width_ + x)].attr.dim = true;
    }
  }
}

const Cell& Canvas::At(int x, int y) const {
  static const Cell kOutside;
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return kOutside;
  return cells_[static_cast<std::size_t>(y * width_ + x)];
}

std::string Canvas::Row(int y) const {
  std::string row;
  if (y < 0 || y >= height_) return row;
  for (int x = 0; x < width_; ++x) row += cells_[static_cast<std::size_t>(y * width_ + x)].glyph;
  return row;
}

std::pair<int, int> Canvas::Find(std::string_view text) const {
  for (int y = 0; y < height_; ++y) {
    // Walk cells so the column is a cell index, not a byte offset.
    for (int x = 0; x < width_; ++x) {
      if (cells_[static_cast<std::size_t>(y * width_ + x)].glyph.empty()) continue;  // right half
      std::string rest;
      for (int k = x; k < width_ && rest.size() < text.size(); ++k) {
        rest += cells_[static_cast<std::size_t>(y * width_ + k)].glyph;
      }
      if (rest.compare(0, text.size(), text) == 0) return {x, y};
    }
  }
  return {-1, -1};
}

}  // namespace ui::terminal
