// Dialog units to character cells. One cell is about 4 x 8 dialog units. A dialog wider
// than the terminal is scaled down across; one taller is packed down: gaps and tall
// controls shrink first, while every label stays on the row of the control beside it
// and no two controls share a cell.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "ui/Controls.h"
#include "ui/Dialog.h"
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
// The screen's bottom row holds the key hint; windows stay above it.
inline constexpr int kHintRows = 1;

// Templates were drawn for a proportional font, about 7 pixels to one of our cells.
inline constexpr double kPixelsPerCell = 7.0;
inline int CeilDiv(double a, double b) { return static_cast<int>(std::ceil(a / b - 1e-9)); }

struct Scale {
  double sx = 1.0;  // across: dialog units to columns, times 1/4
  double sy = 1.0;  // down: how much of each gap and tall control is kept
};

// The factors (at most 1) that make a client area of w x h dialog units fit in
// cols x rows cells together with its frame (one cell each side).
Scale FitScale(int w_units, int h_units, int cols, int rows);

// Cell column of a horizontal dialog-unit coordinate.
int ColumnOf(int x_units, const Scale& scale);

// Where a dialog goes on a cols x rows terminal: its frame centred (or at the top
// left when even the packed frame is too big), the client inside the frame.
struct Placement {
  Cells frame;
  Cells client;
  Scale scale;
};

// Where a dialog's caption goes on the top row of a frame frame_w wide, from the frame's
// left edge: between the system menu's "[-]" and "[x]" when the frame has them, with a
// blank either side of the text.
struct CaptionSlot {
  int x = 0;
  int room = 0;  // columns for the blanks and the text
};
inline constexpr int kSysMenuFrameMin = 12;  // narrower frames leave the boxes off
CaptionSlot CaptionSlotOf(int frame_w, bool sysmenu);
// The narrowest frame that shows caption whole (0 for no caption).
int CaptionFrameWidth(const std::string& caption, bool sysmenu);

// Every control's cells (absolute; w and h 0 for controls that are not drawn, such as
// bitmaps), by control index. cols x rows is the screen area windows may use.
struct DialogLayout {
  Placement placement;
  std::vector<Cells> cells;
};
// A caption longer than the template's frame widens the window on both sides alike, as
// far as the screen allows; the controls keep their places, centred in it.
// line_widths, when given, holds by control index the widest line of each multi-line
// edit that does not wrap, so that such an edit can widen into free cells to show it.
DialogLayout LayoutDialog(const Dialog& dlg, int cols, int rows, const std::vector<int>* line_widths = nullptr);

// What a static or a button shows: its text on one line, "&" mnemonics resolved.
std::string ShownText(const Control& control);
// Whether a static is laid out as one line of text beside others (a label or a value)
// rather than as a block of its own (a title band, a paragraph).
bool IsLineStatic(const Control& control);

// A list view inside its cells: a frame when there is room, a header row, the lines.
struct ListGeometry {
  bool framed = false;
  Cells inner;
  int header_y = 0;
  int body_y = 0;
  int body_rows = 0;
};
ListGeometry ListLayout(const Cells& cells);

// Prefix columns of a list's first column (check box and image).
int ListPrefixWidth(const ListCtrl& list);
// Columns each list column needs to show its title and every line whole. The drive
// list's status column needs at least the room its template gives it at full size, so
// that the columns stand still as statuses come and go.
std::vector<int> ColumnNeeds(const ListCtrl& list);
// Cell widths of the columns in a list whose inner area is inner_width wide, with one
// separator between columns. Columns get what their texts need, more in proportion
// to the template's widths when there is room, and the last column takes what is left;
// when even the needs do not fit, the widest columns give up cells first, the drive
// list's status column last of all.
std::vector<int> ColumnWidths(const ListCtrl& list, int inner_width, double sx);

// A multi-line edit: a frame when it has at least three rows.
Cells EditTextArea(const Cells& cells, bool multiline);

// Keeps line `focus` visible in a window of `rows` lines starting at `top`.
int ScrollToShow(int top, int focus, int rows, int count);

}  // namespace ui::terminal
