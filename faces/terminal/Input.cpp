#include "faces/terminal/Input.h"

#include <algorithm>
#include <cctype>

#include "faces/terminal/Text.h"
#include "resources/ResourceIds.h"

namespace ui::terminal {

namespace {

Control* Focused(Dialog& dlg, const DialogView& view) {
  const auto& controls = dlg.controls();
  if (view.focus < 0 || view.focus >= static_cast<int>(controls.size())) return nullptr;
  return controls[static_cast<std::size_t>(view.focus)].get();
}

// The line the user has moved to (-1 before any): keys that move start from it.
int CurrentLine(const ListCtrl& list) {
  int line = list.GetNextItem(-1, LVIS_FOCUSED);
  if (line < 0) line = list.GetNextItem(-1, LVNI_SELECTED);
  return line;
}

int ListRows(const DialogView& view, const ListCtrl& list) {
  return std::max(1, ListLayout(ControlArea(view, list)).body_rows);
}

void SelectLine(ListCtrl& list, int line, int rows) {
  list.SetItemState(-1, 0, LVIS_SELECTED | LVIS_FOCUSED);
  list.SetItemState(line, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  list.top_index = ScrollToShow(list.top_index, line, rows, list.GetItemCount());
}

void ToggleCheck(ListCtrl& list, int line) {
  if ((list.GetExtendedStyle() & LVS_EX_CHECKBOXES) == 0 || line < 0) return;
  list.SetCheck(line, !list.GetCheck(line));
}

bool MoveInList(ListCtrl& list, const DialogView& view, Key key) {
  const int count = list.GetItemCount();
  if (count == 0) return true;
  const int rows = ListRows(view, list);
  // From the line drawn as the cursor (the first before any was chosen); paging goes to
  // the edge of the page first, then a page on, as list views do.
  const int current = CursorLine(list);
  const int top = list.top_index;
  const int bottom = top + rows - 1;
  int line = current;
  switch (key) {
    case Key::Up: line = current - 1; break;
    case Key::Down: line = current + 1; break;
    case Key::PageUp: line = current > top ? top : current - (rows - 1); break;
    case Key::PageDown: line = current < bottom ? bottom : current + (rows - 1); break;
    case Key::Home: line = 0; break;
    case Key::End: line = count - 1; break;
    default: return false;
  }
  SelectLine(list, std::clamp(line, 0, count - 1), rows);
  return true;
}

int IndexOf(const Dialog& dlg, const Control& control) {
  const auto& controls = dlg.controls();
  for (std::size_t i = 0; i < controls.size(); ++i) {
    if (controls[i].get() == &control) return static_cast<int>(i);
  }
  return -1;
}

// Scrolling a multi-line edit looks up its kept lines: the same few steps for a text
// of ten lines or of a million.
bool ScrollText(Dialog& dlg, Control& edit, DialogView& view, Key key) {
  if ((edit.style() & style::kMultiline) == 0) return false;
  const int index = IndexOf(dlg, edit);
  const Cells area = EditTextArea(ControlArea(view, edit), true);
  const TextLines& lines = EditLines(view, index, edit, area.w);
  const int count = static_cast<int>(lines.lines.size());
  const int max_top = std::max(0, count - area.h);
  if ((key == Key::Left || key == Key::Right) && !EditWraps(edit)) {
    // At the far right the lines' ends show behind the cut mark on the left.
    int& left = view.edit_left[index];
    left = std::clamp(left + (key == Key::Left ? -8 : 8), 0, std::max(0, static_cast<int>(lines.widest) - area.w));
    dlg.ControlChanged(edit);
    return true;
  }
  int& top = view.edit_top[index];
  switch (key) {
    case Key::Up: --top; break;
    case Key::Down: ++top; break;
    case Key::PageUp: top -= std::max(1, area.h - 1); break;
    case Key::PageDown: top += std::max(1, area.h - 1); break;
    case Key::Home: top = 0; break;
    case Key::End: top = max_top; break;
    default: return false;
  }
  top = std::clamp(top, 0, max_top);
  dlg.ControlChanged(edit);  // redraw
  return true;
}

// A read-only one-line edit whose text is wider than its field scrolls sideways.
bool ScrollField(Dialog& dlg, Control& edit, DialogView& view, Key key) {
  if ((edit.style() & (style::kMultiline | style::kReadOnly)) != style::kReadOnly) return false;
  std::string text = Showable(edit.text());
  std::replace(text.begin(), text.end(), '\n', ' ');
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  while (!text.empty() && text.back() == ' ') text.pop_back();
  const int over = DisplayWidth(text) - ControlArea(view, edit).w;
  if (over <= 0) return false;
  // The last position shows the text's end behind the cut mark on the left.
  const int max_left = over;
  int& left = view.edit_left[IndexOf(dlg, edit)];
  switch (key) {
    case Key::Left: --left; break;
    case Key::Right: ++left; break;
    case Key::Home:
    case Key::PageUp: left = 0; break;
    case Key::End:
    case Key::PageDown: left = max_left; break;
    default: return false;
  }
  left = std::clamp(left, 0, max_left);
  dlg.ControlChanged(edit);
  return true;
}

// The one multi-line edit of a dialog (the help text, the report), or nullptr.
Control* SoleText(Dialog& dlg) {
  Control* found = nullptr;
  for (const auto& control : dlg.controls()) {
    if (control->kind() != Kind::Edit || (control->style() & style::kMultiline) == 0) continue;
    if (found != nullptr) return nullptr;
    found = control.get();
  }
  return found;
}

void TypeInto(Control& edit, const KeyEvent& key) {
  if ((edit.style() & style::kReadOnly) != 0) return;
  std::string text = edit.text();
  if (key.key == Key::Backspace) {
    if (text.empty()) return;
    std::size_t cut = text.size() - 1;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.erase(cut);
  } else {
    if (key.ch < 0x20) return;
    const std::size_t limit = edit.limit_text();
    if (limit != 0 && DecodeUtf8(text).size() >= limit) return;
    text += EncodeUtf8(key.ch);
  }
  edit.SetText(text);
}

void PressDefault(Dialog& dlg) {
  for (const auto& control : dlg.controls()) {
    if (control->kind() == Kind::Button && (control->style() & style::kDefButton) != 0) {
      dlg.OnCommand(control->id());
      return;
    }
  }
  if (dlg.GetDlgItem(IDOK) != nullptr) dlg.OnCommand(IDOK);
}

void HandleMenuKey(Dialog& dlg, DialogView& view, const KeyEvent& key) {
  const auto entries = SystemMenuEntries(dlg);
  const int count = static_cast<int>(entries.size());
  auto step = [&](int direction) {
    int index = view.menu_index;
    for (int k = 0; k < count; ++k) {
      index = (index + direction + count) % count;
      if (entries[static_cast<std::size_t>(index)].command != 0) break;
    }
    view.menu_index = index;
  };
  switch (key.key) {
    case Key::Up: step(-1); break;
    case Key::Down:
    case Key::Tab: step(1); break;
    case Key::Escape:
    case Key::Menu: view.menu_open = false; break;
    case Key::Enter:
    case Key::Space: {
      view.menu_open = false;
      const int command = entries[static_cast<std::size_t>(std::clamp(view.menu_index, 0, count - 1))].command;
      if (command != 0) dlg.OnSysCommand(command);
      return;
    }
    case Key::Char: {
      // The underlined letter runs its item at once, as a menu's mnemonic does.
      const char32_t letter = key.ch < 0x80 ? static_cast<char32_t>(std::tolower(static_cast<int>(key.ch))) : key.ch;
      for (int i = 0; i < count; ++i) {
        const auto& entry = entries[static_cast<std::size_t>(i)];
        if (entry.command == 0 || MnemonicOf(entry.text) != letter) continue;
        view.menu_open = false;
        view.menu_index = i;
        dlg.OnSysCommand(entry.command);
        return;
      }
      break;
    }
    default: break;
  }
}

}  // namespace

bool EscapeComplete(std::string_view rest) {
  constexpr std::size_t kLongest = 16;
  if (rest.empty()) return false;
  if (rest.size() >= kLongest) return true;
  if (rest[0] == 'O') return rest.size() >= 2;
  if (rest[0] != '[') return true;  // Alt and a key
  // A control sequence ends in its final byte; the first after "[" may be a parameter.
  const auto last = static_cast<unsigned char>(rest.back());
  return rest.size() >= 2 && last >= 0x40 && last <= 0x7E && !(rest.size() == 2 && last == '[');
}

std::optional<KeyEvent> DecodeEscape(std::string_view rest) {
  if (rest == " ") return KeyEvent{Key::Menu};
  if (rest.size() < 2) return std::nullopt;
  const char final = rest.back();
  auto letter = [](char c) -> std::optional<KeyEvent> {
    switch (c) {
      case 'A': return KeyEvent{Key::Up};
      case 'B': return KeyEvent{Key::Down};
      case 'C': return KeyEvent{Key::Right};
      case 'D': return KeyEvent{Key::Left};
      case 'H': return KeyEvent{Key::Home};
      case 'F': return KeyEvent{Key::End};
      default: return std::nullopt;
    }
  };
  if (rest[0] == 'O') {
    if (rest.size() != 2) return std::nullopt;
    if (final == 'M') return KeyEvent{Key::Enter};  // the keypad's Enter
    return letter(final);
  }
  if (rest[0] != '[') return std::nullopt;
  // Parameters: digits and ";" (a modifier after the ";" is ignored: Ctrl+Home is Home).
  const std::string_view params = rest.substr(1, rest.size() - 2);
  if (params.find_first_not_of("0123456789;") != std::string_view::npos) return std::nullopt;
  int first = 0;
  for (char c : params.substr(0, params.find(';'))) first = first * 10 + (c - '0');
  if (final == '~') {
    switch (first) {
      case 1:
      case 7: return KeyEvent{Key::Home};
      case 4:
      case 8: return KeyEvent{Key::End};
      case 5: return KeyEvent{Key::PageUp};
      case 6: return KeyEvent{Key::PageDown};
      case 21: return KeyEvent{Key::Menu};  // F10
      default: return std::nullopt;
    }
  }
  if (final == 'Z') return KeyEvent{Key::BackTab};
  return letter(final);
}

void MoveFocus(const Dialog& dlg, DialogView& view, int direction) {
  const auto& controls = dlg.controls();
  const int count = static_cast<int>(controls.size());
  if (count == 0) return;
  int index = view.focus < 0 ? (direction > 0 ? -1 : count) : view.focus;
  for (int k = 0; k < count; ++k) {
    index = (index + direction + count) % count;
    if (IsFocusable(*controls[static_cast<std::size_t>(index)])) {
      view.focus = index;
      return;
    }
  }
}

void HandleDialogKey(Dialog& dlg, DialogView& view, const KeyEvent& key) {
  if (view.menu_open) {
    HandleMenuKey(dlg, view, key);
    return;
  }
  Control* focused = Focused(dlg, view);
  switch (key.key) {
    case Key::Menu:
      view.menu_open = true;
      view.menu_index = 0;
      return;
    case Key::Tab:
      MoveFocus(dlg, view, 1);
      return;
    case Key::BackTab:
      MoveFocus(dlg, view, -1);
      return;
    case Key::Escape:
      dlg.OnCancel();
      return;
    case Key::Enter:
      if (focused != nullptr && focused->kind() == Kind::Button) {
        dlg.OnCommand(focused->id());
      } else if (focused != nullptr && focused->kind() == Kind::ListView &&
                 focused->id() == plovix::ids::main_window::kDriveList) {
        // The line drawn as the cursor, which is the first one before any was chosen.
        auto& list = static_cast<ListCtrl&>(*focused);
        const int line = CursorLine(list);
        if (line >= 0) {
          SelectLine(list, line, ListRows(view, list));
          dlg.OnNotify(list.id(), NM_DBLCLK);
        }
      } else {
        PressDefault(dlg);
      }
      return;
    case Key::Space:
      if (focused != nullptr && focused->kind() == Kind::Button) {
        dlg.OnCommand(focused->id());
      } else if (focused != nullptr && focused->kind() == Kind::ListView) {
        auto& list = static_cast<ListCtrl&>(*focused);
        int line = CurrentLine(list);
        if (line < 0 && list.GetItemCount() > 0) {
          line = 0;
          SelectLine(list, 0, ListRows(view, list));
        }
        ToggleCheck(list, line);
      } else if (focused != nullptr && focused->kind() == Kind::Edit) {
        TypeInto(*focused, KeyEvent{Key::Char, U' '});
      }
      return;
    case Key::Char:
    case Key::Backspace:
      if (focused != nullptr && focused->kind() == Kind::Edit) TypeInto(*focused, key);
      return;
    default:
      break;
  }
  // Arrows and paging.
  if (focused != nullptr && focused->kind() == Kind::ListView) {
    if (MoveInList(static_cast<ListCtrl&>(*focused), view, key.key)) return;
  }
  if (focused != nullptr && focused->kind() == Kind::Edit) {
    if (ScrollText(dlg, *focused, view, key.key)) return;
    if (ScrollField(dlg, *focused, view, key.key)) return;
  }
  // A reader pages through the help or the report whatever has the focus.
  if (key.key == Key::PageUp || key.key == Key::PageDown || key.key == Key::Home || key.key == Key::End) {
    if (Control* text = SoleText(dlg)) {
      ScrollText(dlg, *text, view, key.key);
      return;
    }
  }
  if (key.key == Key::Up || key.key == Key::Left) MoveFocus(dlg, view, -1);
  if (key.key == Key::Down || key.key == Key::Right) MoveFocus(dlg, view, 1);
}

void HandleDialogClick(Dialog& dlg, DialogView& view, int x, int y, bool double_click) {
  const Placement& p = view.placement;
  if (view.menu_open) {
    const Cells menu = MenuCells(dlg, view);
    view.menu_open = false;
    if (menu.Contains(x, y) && y > menu.y && y < menu.y + menu.h - 1) {
      const auto entries = SystemMenuEntries(dlg);
      const int command = entries[static_cast<std::size_t>(y - menu.y - 1)].command;
      if (command != 0) dlg.OnSysCommand(command);
    }
    return;
  }
  const DialogTemplate* t = dlg.dialog_template();
  if (y == p.frame.y && t != nullptr && (t->style & dstyle::kSysMenu) != 0 && p.frame.w >= kSysMenuFrameMin) {
    if (x >= p.frame.x + p.frame.w - 4 && x < p.frame.x + p.frame.w - 1) {
      dlg.OnSysCommand(SC_CLOSE);
    } else if (x >= p.frame.x + 1 && x < p.frame.x + 4) {
      view.menu_open = true;
      view.menu_index = 0;
    }
    return;
  }
  const auto& controls = dlg.controls();
  // Later controls are drawn over earlier ones, so they take the click.
  for (int i = static_cast<int>(controls.size()) - 1; i >= 0; --i) {
    Control& control = *controls[static_cast<std::size_t>(i)];
    const Cells cells = ControlArea(view, control);
    if (!cells.Contains(x, y) || !IsFocusable(control)) continue;
    view.focus = i;
    if (control.kind() == Kind::Button) {
      dlg.OnCommand(control.id());
    } else if (control.kind() == Kind::ListView) {
      auto& list = static_cast<ListCtrl&>(control);
      const ListGeometry g = ListLayout(cells);
      const int row = y - g.body_y;
      if (row < 0 || row >= g.body_rows) return;
      const int line = list.top_index + row;
      if (line >= list.GetItemCount()) return;
      const bool on_box = (list.GetExtendedStyle() & LVS_EX_CHECKBOXES) != 0 && x >= g.inner.x &&
                          x < g.inner.x + 3;
      if (on_box && !double_click) ToggleCheck(list, line);
      SelectLine(list, line, g.body_rows);
      if (double_click) dlg.OnNotify(list.id(), NM_DBLCLK);
    } else {
      dlg.ControlChanged(control);  // focus moved: redraw
    }
    return;
  }
}

void HandleDialogWheel(Dialog& dlg, DialogView& view, int x, int y, int lines) {
  const auto& controls = dlg.controls();
  for (std::size_t i = 0; i < controls.size(); ++i) {
    Control& control = *controls[i];
    const Cells cells = ControlArea(view, control);
    if (!cells.Contains(x, y)) continue;
    if (control.kind() == Kind::ListView) {
      auto& list = static_cast<ListCtrl&>(control);
      const int rows = ListRows(view, list);
      list.top_index = std::clamp(list.top_index + lines, 0, std::max(0, list.GetItemCount() - rows));
      dlg.ControlChanged(list);
      return;
    }
    if (control.kind() == Kind::Edit && (control.style() & style::kMultiline) != 0) {
      const Cells area = EditTextArea(cells, true);
      const int count = static_cast<int>(EditLines(view, static_cast<int>(i), control, area.w).lines.size());
      int& top = view.edit_top[static_cast<int>(i)];
      top = std::clamp(top + lines, 0, std::max(0, count - area.h));
      dlg.ControlChanged(control);
      return;
    }
  }
}

int HandleBoxKey(BoxState& box, const KeyEvent& key) {
  const bool cancel = BoxHasCancel(box.type);
  switch (key.key) {
    case Key::Tab:
    case Key::BackTab:
    case Key::Left:
    case Key::Right:
    case Key::Up:
    case Key::Down:
      if (cancel) box.focus = 1 - box.focus;
      return 0;
    case Key::Enter:
    case Key::Space:
      return box.focus == 1 && cancel ? IDCANCEL : IDOK;
    case Key::Escape:
      return cancel ? IDCANCEL : IDOK;
    default:
      return 0;
  }
}

int HandleBoxClick(BoxState& box, int cols, int rows, int x, int y) {
  const BoxLayout layout = LayoutMessageBox(box, cols, rows);
  if (layout.ok.Contains(x, y)) return IDOK;
  if (layout.cancel.w > 0 && layout.cancel.Contains(x, y)) return IDCANCEL;
  return 0;
}

}  // namespace ui::terminal
