// What keys and mouse clicks do to a dialog, a message box or the system menu.
// Terminal-independent: the back end translates its key codes into KeyEvents.
#pragma once

#include <optional>
#include <string_view>

#include "faces/terminal/Render.h"

namespace ui::terminal {

enum class Key {
  Tab, BackTab, Enter, Space, Escape, Up, Down, Left, Right,
  PageUp, PageDown, Home, End, Backspace, Menu, Char
};

struct KeyEvent {
  Key key = Key::Char;
  char32_t ch = 0;  // for Key::Char
};

// Keys that arrive as Escape and more: what follows the Escape ("[5~", "OH", " " for
// Alt+Space). The common sequences of Home, End, PgUp, PgDn, Shift+Tab, F10 and the
// arrows are known whatever the terminal's description says, so a key that a terminal
// inside another (tmux, screen) sends its own way still works. Unknown ones give nothing.
std::optional<KeyEvent> DecodeEscape(std::string_view rest);
// Whether rest is a whole sequence, so that no more of it is to be read.
bool EscapeComplete(std::string_view rest);

void MoveFocus(const Dialog& dlg, DialogView& view, int direction);

// Keys and clicks for the active dialog; they may run the dialog's handlers (and so
// nested modal loops).
void HandleDialogKey(Dialog& dlg, DialogView& view, const KeyEvent& key);
void HandleDialogClick(Dialog& dlg, DialogView& view, int x, int y, bool double_click);
// The mouse wheel over a list or an edit: lines > 0 scroll down.
void HandleDialogWheel(Dialog& dlg, DialogView& view, int x, int y, int lines);

// A message box: returns IDOK / IDCANCEL once answered, else 0.
int HandleBoxKey(BoxState& box, const KeyEvent& key);
int HandleBoxClick(BoxState& box, int cols, int rows, int x, int y);

}  // namespace ui::terminal
