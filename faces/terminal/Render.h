// Drawing dialogs, message boxes, the system menu and the key hint into a Canvas. No
// terminal I/O here, so the look can be checked in tests. The painters are in
// Render.cpp, the key hint in KeyHint.cpp, the fitting to the screen in ScreenFit.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "faces/terminal/Canvas.h"
#include "faces/terminal/Layout.h"
#include "faces/terminal/Text.h"
#include "ui/Dialog.h"

namespace ui::terminal {

// A multi-line edit's lines, kept until its text or width changes: long texts are
// split once, and scrolling only looks up lines.
struct TextLines {
  std::uint64_t stamp = 0;
  int width = -1;            // the width wrapped at; 0 for a text that does not wrap
  std::vector<Span> lines;
  std::size_t widest = 0;    // bytes of the longest line (columns for plain text)
};

// What the terminal keeps per open dialog besides the dialog's own state.
struct DialogView {
  int focus = -1;                  // index into the dialog's controls, -1 none
  std::map<int, int> edit_top;     // first shown line of multi-line edits, by control index
  std::map<int, int> edit_left;    // first shown column of edits that do not wrap
  std::map<int, TextLines> text_lines;  // by control index
  DialogLayout layout;             // from the last drawing
  Placement placement;             // the same, for short
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
// The letter after "&" in a menu text, lower-cased; 0 for none.
char32_t MnemonicOf(const std::string& text);

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
// cols x rows is the screen area windows may use.
BoxLayout LayoutMessageBox(const BoxState& box, int cols, int rows);

// Keyboard focus candidates: buttons, lists, edits and other tab stops.
bool IsFocusable(const Control& control);
// The first tab stop, else the first focusable control, else -1.
int InitialFocus(const Dialog& dlg);

// Absolute cells of a control as last drawn in view.
Cells ControlArea(const DialogView& view, const Control& control);
bool EditWraps(const Control& control);
// The lines of a multi-line edit whose text area is width columns wide.
const TextLines& EditLines(DialogView& view, int index, const Control& edit, int width);
// The line a list's keys act on: the focused line, else the first selected one, else
// the first line (-1 when the list is empty).
int CursorLine(const ListCtrl& list);

// Shared by the drawing files: a text on one line (line breaks as blanks), a menu text
// as shown with the column of its mnemonic letter (-1 for none), and whether a window
// drawn with this layout reads whole on a screen of cols x rows (ScreenFit.cpp).
std::string OneLine(const std::string& text);
std::pair<std::string, int> MenuLabel(const std::string& text);
bool LayoutReads(const Dialog& dlg, const DialogLayout& layout, int cols, int rows);

// Draws one dialog; an inactive one (beneath another window) is dimmed. Records the
// layout in view. The screen's bottom kHintRows rows are left to the key hint.
void DrawDialog(Canvas& canvas, Dialog& dlg, DialogView& view, bool active);
void DrawSystemMenu(Canvas& canvas, const Dialog& dlg, const DialogView& view);
void DrawMessageBox(Canvas& canvas, const BoxState& box);

// The keys beyond those every terminal has (Tab, Enter, Escape, Space, arrows, letters)
// that this terminal can send, by its description; the hint offers no others.
struct SendableKeys {
  bool back_tab = true;
  bool paging = true;    // PgUp and PgDn
  bool home_end = true;
  bool f10 = true;
  bool alt = true;       // a meta key, so Alt+Space
  bool operator==(const SendableKeys&) const = default;
};
// From the description's key strings by capability name ("kcbt", "kpp", "knp", "khome",
// "kend", "kf10"; null or empty for a key it lacks) and whether it has a meta key.
SendableKeys SendableFromDescription(const std::function<const char*(const char*)>& key_string, bool meta);
// The back end says once what its terminal sends; everything unless told otherwise.
void UseSendableKeys(const SendableKeys& keys);
const SendableKeys& CurrentSendableKeys();

// The key hint: which keys do what on the focused control, most useful first.
struct KeyHelp {
  std::string keys;
  std::string action;
};
std::vector<KeyHelp> DialogKeyHint(const Dialog& dlg, const DialogView& view, bool main_window);
std::vector<KeyHelp> BoxKeyHint(const BoxState& box);
// On the screen's bottom row; what does not fit is left off from the end.
void DrawKeyHint(Canvas& canvas, const std::vector<KeyHelp>& hint);

struct ScreenSize {
  int cols = 0;
  int rows = 0;
  bool operator==(const ScreenSize&) const = default;
};
// Whether a dialog fits a screen of that size: its window inside the screen above the
// hint row, and no control drawn over another.
bool DialogFits(Dialog& dlg, const DialogView& view, ScreenSize size);
// The smallest screen the dialog fits, near the screen's size `now` ({0, 0} when none up
// to a few hundred cells does): the rows it needs at now's width (or at the least width
// it takes, if more), and the fewest columns those rows allow.
ScreenSize SmallestFit(Dialog& dlg, const DialogView& view, ScreenSize now);
// The one line that says the screen is too small, as much of it as width allows.
std::string TooSmallText(ScreenSize need, ScreenSize now, int width);

// One window on the screen: a dialog with its view, or a message box.
struct ScreenLayer {
  Dialog* dlg = nullptr;
  DialogView* view = nullptr;
  const BoxState* box = nullptr;
};
// The whole screen: the windows bottom first (all but the top one dimmed), then the key
// hint of the top one. On a screen too small for a dialog there, only the line that
// says how big it must be; returns false then.
bool DrawScreen(Canvas& canvas, const std::vector<ScreenLayer>& layers);

}  // namespace ui::terminal
