// An in-memory screen of character cells. The renderer draws into it; the terminal
// back end copies it to the real terminal, and tests read it back.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "faces/terminal/Layout.h"
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
  int owner = -1;           // the control that drew it, -1 for none (frames, captions)
};

// One control drawing over what another had drawn.
struct Overdraw {
  int x = 0;
  int y = 0;
  int first = -1;   // the control whose cell was written over
  int second = -1;  // the control that wrote
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
  // A box; the focused list or text gets a double line.
  void Frame(const Cells& area, const Attr& attr, bool focused = false);
  // Overlays attributes on an area without touching its text (dimming a window).
  void Dim(const Cells& area);
  // Whose drawing follows (a control index, -1 for a window's own frame and caption).
  // A control that writes over another's text is recorded as an overdraw.
  void SetOwner(int owner) { owner_ = owner; }
  const std::vector<Overdraw>& overdraws() const { return overdraws_; }

  const Cell& At(int x, int y) const;
  // The text of row y (wide characters once), for tests and for the screen copy.
  std::string Row(int y) const;
  // Whether row y contains text (anywhere).
  bool RowContains(int y, std::string_view text) const { return Row(y).find(text) != std::string::npos; }
  // First cell position of text on the canvas, or {-1, -1}.
  std::pair<int, int> Find(std::string_view text) const;

 private:
  void Claim(Cell& cell, int x, int y);

  int width_ = 0;
  int height_ = 0;
  std::vector<Cell> cells_;
  int owner_ = -1;
  std::vector<Overdraw> overdraws_;
};

}  // namespace ui::terminal
