// What keys and mouse clicks do to a dialog, a message box or the system menu.
// Terminal-independent: the back end translates its key codes into KeyEvents.
#pragma once

#include "platform/terminal/Render.h"

namespace ui::terminal {

enum class Key {
  Tab, BackTab, Enter, Space, Escape, Up, Down, Left, Right,
  PageUp, PageDown, Home, End, Backspace, Menu, Char
};

struct KeyEvent {
  Key key = Key::Char;
  char32_t ch = 0;  // for Key::Char
};

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
