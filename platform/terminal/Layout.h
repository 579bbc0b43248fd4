// Dialog units to character cells. One cell is about 4 x 8 dialog units; a dialog
// larger than the terminal is scaled down on each axis until it fits.
#pragma once

#include <vector>

#include "ui/Controls.h"
#include "ui/Template.h"

namespace ui::terminal {

struct Cells {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
  bool Contains(int px, int py) const { return px >= x && px < x + w && py >= y && py < y + h; }
  bool operator==(const Cells&) const = default;
};

inline constexpr int kUnitsPerColumn = 4;
inline constexpr int kUnitsPerRow = 8;

struct Scale {
  double sx = 1.0;
  double sy = 1.0;
};

// The factors (at most 1) that make a client area of w x h dialog units fit in
// cols x rows cells together with its frame (one cell each side).
Scale FitScale(int w_units, int h_units, int cols, int rows);

// Cell column of a horizontal / cell row of a vertical dialog-unit coordinate.
int ColumnOf(int x_units, const Scale& scale);
int RowOf(int y_units, const Scale& scale);

// A control's cells relative to the client origin: at least one cell each way, and
// inside a client area of client_w x client_h cells.
Cells ControlCells(const Rect& units, const Scale& scale, int client_w, int client_h);

// Where a dialog goes on a cols x rows terminal: its frame centred (or at the top
// left when even the scaled frame is too big), the client inside the frame.
struct Placement {
  Cells frame;
  Cells client;
  Scale scale;
};
Placement PlaceDialog(int w_units, int h_units, int cols, int rows);

// A list view inside its cells: a frame when there is room, a header row, the lines.
struct ListGeometry {
  bool framed = false;
  Cells inner;
  int header_y = 0;
  int body_y = 0;
  int body_rows = 0;
};
ListGeometry ListLayout(const Cells& cells);

// Cell widths of list columns given in pixels (about 7 pixels a cell), scaled like the
// dialog; the first column always has room for min_first cells.
std::vector<int> ColumnWidths(const std::vector<ListColumn>& columns, double sx, int min_first);

// A multi-line edit: a frame when it has at least three rows.
Cells EditTextArea(const Cells& cells, bool multiline);

// Keeps line `focus` visible in a window of `rows` lines starting at `top`.
int ScrollToShow(int top, int focus, int rows, int count);

}  // namespace ui::terminal
