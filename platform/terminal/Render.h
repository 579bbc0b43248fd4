// Drawing dialogs, message boxes and the system menu into a Canvas. No terminal I/O
// here, so the look can be checked in tests.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/terminal/Canvas.h"
#include "platform/terminal/Layout.h"
#include "ui/Dialog.h"

namespace ui::terminal {

// What the terminal keeps per open dialog besides the dialog's own state.
struct DialogView {
  int focus = -1;                  // index into the dialog's controls, -1 none
  std::map<int, int> edit_top;     // first shown line of multi-line edits, by control index
  std::map<int, int> edit_left;    // first shown column of edits that do not wrap
  Placement placement;             // from the last drawing
  bool menu_open = false;
  int menu_index = 0;
};

struct MenuEntry {
  int command = 0;  // 0: separator
  std::string text;
};
// The system menu: "Close", then what the dialog appended.
std::vector<MenuEntry> SystemMenuEntries(const Dialog& dlg);
Cells MenuCells(const Dialog& dlg, const DialogView& view);

struct BoxState {
  std::string text;
  std::string caption;
  unsigned type = 0;
  int focus = 0;  // 0 OK, 1 Cancel
};
struct BoxLayout {
  Cells frame;
  std::vector<std::string> lines;
  Cells ok;
  Cells cancel;  // w 0 without a Cancel button
};
bool BoxHasCancel(unsigned type);
BoxLayout LayoutMessageBox(const BoxState& box, int cols, int rows);

// Keyboard focus candidates: buttons, lists, edits and other tab stops.
bool IsFocusable(const Control& control);
// The first tab stop, else the first focusable control, else -1.
int InitialFocus(const Dialog& dlg);

// Absolute cells of a control of a dialog placed as in view.
Cells ControlArea(const DialogView& view, const Control& control);
// The lines an edit shows in an area width columns wide; edits that do not wrap give
// their lines whole (see EditWraps).
std::vector<std::string> EditLines(const Control& control, int width);
bool EditWraps(const Control& control);
// Prefix columns of a list's first column (check box and image).
int ListPrefixWidth(const ListCtrl& list);

// Draws one dialog; an inactive one (beneath another window) is dimmed. Records the
// placement in view.
void DrawDialog(Canvas& canvas, Dialog& dlg, DialogView& view, bool active);
void DrawSystemMenu(Canvas& canvas, const Dialog& dlg, const DialogView& view);
void DrawMessageBox(Canvas& canvas, const BoxState& box);

}  // namespace ui::terminal
