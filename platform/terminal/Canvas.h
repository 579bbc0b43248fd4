// An in-memory screen of character cells. The renderer draws into it; the terminal
// back end copies it to the real terminal, and tests read it back.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/terminal/Layout.h"
#include "ui/Types.h"

namespace ui::terminal {

enum class Ink : signed char { Default = -1, Black, Red, Green, Yellow, Blue, Magenta, Cyan, White };

// The nearest of the eight terminal colours to a Windows colour.
Ink InkFromColor(Color color);

struct Attr {
  Ink fg = Ink::Default;
  Ink bg = Ink::Default;
  bool bold = false;
  bool reverse = false;
  bool underline = false;
  bool dim = false;
  bool operator==(const Attr&) const = default;
};

struct Cell {
  std::string glyph = " ";  // one character; empty for the right half of a wide one
  Attr attr;
};

class Canvas {
 public:
  Canvas(int width = 0, int height = 0) { Resize(width, height); }
  void Resize(int width, int height);
  void Clear();
  int width() const { return width_; }
  int height() const { return height_; }

  // Writes text from (x, y), at most max_w columns and never past the canvas edge.
  // Returns the columns used.
  int Put(int x, int y, std::string_view text, const Attr& attr, int max_w = 1 << 20);
  void Fill(const Cells& area, const Attr& attr);
  void Frame(const Cells& area, const Attr& attr);
  // Overlays attributes on an area without touching its text (dimming a window).
  void Dim(const Cells& area);

  const Cell& At(int x, int y) const;
  // The text of row y (wide characters once), for tests and for the screen copy.
  std::string Row(int y) const;
  // Whether row y contains text (anywhere).
  bool RowContains(int y, std::string_view text) const { return Row(y).find(text) != std::string::npos; }
  // First cell position of text on the canvas, or {-1, -1}.
  std::pair<int, int> Find(std::string_view text) const;

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<Cell> cells_;
};

}  // namespace ui::terminal
