#include "platform/terminal/Render.h"

#include <algorithm>

#include "platform/terminal/Text.h"

namespace ui::terminal {

namespace {

constexpr int kGoodIcon = 141;
constexpr int kBadIcon = 144;

Align AlignOf(std::uint32_t style) {
  if ((style & style::kCenter) != 0) return Align::Center;
  if ((style & style::kRight) != 0) return Align::Right;
  return Align::Left;
}

std::string OneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') continue;
    out.push_back(c == '\n' ? ' ' : c);
  }
  return out;
}

bool BigFont(const Control& control) {
  const auto& font = control.font();
  return font && (font->tenths_of_point >= 120 || font->height >= 16);
}

// Blank cells in a row from x on, going dir (+1 right, -1 left), at most max.
int BlankRun(const Canvas& canvas, int x, int y, int dir, int max) {
  int run = 0;
  while (run < max) {
    const Cell& cell = canvas.At(x + dir * run, y);
    if (cell.glyph != " " || !(cell.attr == Attr{})) break;
    ++run;
  }
  return run;
}

void DrawStatic(Canvas& canvas, Dialog& dlg, const Control& control, const Cells& cells, const Cells& client) {
  if (control.kind() == Kind::Icon || control.kind() == Kind::Bitmap) return;
  const CtlColor color = dlg.OnCtlColor(control.id());
  Attr attr;
  attr.bold = BigFont(control);
  const bool band = color.brush && InkFromColor(*color.brush) == Ink::White;
  if (band) {
    attr.bg = Ink::White;
    attr.fg = Ink::Black;
  } else if (color.back_color && !color.transparent) {
    attr.bg = InkFromColor(*color.back_color);
  }
  if (color.text_color) attr.fg = InkFromColor(*color.text_color);
  if (band) canvas.Fill(cells, attr);

  const std::string text = (control.style() & style::kNoPrefix) != 0
                               ? control.text()
                               : StripMnemonic(control.text());
  const Align align = AlignOf(control.style());
  // Proportional fonts fit more text in a dialog unit than a cell does, so text
  // without a band may run past its box into cells that are still blank.
  const int cap = band ? 0 : std::max(4, cells.w / 2);
  const int client_right = client.x + client.w;
  std::vector<std::string> lines;
  if (cells.h == 1) {
    lines = {OneLine(text)};
  } else {
    int room = align == Align::Left ? cap : 0;
    for (int y = cells.y; y < cells.y + cells.h; ++y) {
      room = std::min(room, BlankRun(canvas, cells.x + cells.w, y, 1, client_right - (cells.x + cells.w)));
    }
    lines = WrapText(text, cells.w + room);
  }
  if (static_cast<int>(lines.size()) > cells.h) lines.resize(static_cast<std::size_t>(cells.h));
  int y = cells.y;
  if ((control.style() & style::kVCenter) != 0) y += (cells.h - static_cast<int>(lines.size())) / 2;
  for (const auto& line : lines) {
    const int need = DisplayWidth(line);
    int x0 = cells.x;
    int w = cells.w;
    if (need > w && cap > 0) {
      const int extra = std::min(need - w, cap);
      int right = 0;
      int left = 0;
      if (align == Align::Left) right = extra;
      if (align == Align::Right) left = extra;
      if (align == Align::Center) {
        left = extra / 2;
        right = extra - left;
      }
      right = BlankRun(canvas, x0 + w, y, 1, std::min(right, client_right - (x0 + w)));
      left = BlankRun(canvas, x0 - 1, y, -1, std::min(left, x0 - client.x));
      x0 -= left;
      w += left + right;
    }
    if (band) {
      canvas.Put(x0, y, AlignText(line, w, align), attr, w);
    } else {
      // Only the text itself is written, so nothing beneath is wiped.
      const int width = std::min(w, need);
      const int x = align == Align::Left     ? x0
                    : align == Align::Center ? x0 + (w - width) / 2
                                             : x0 + w - width;
      canvas.Put(x, y, line, attr, width);
    }
    ++y;
  }
}

void DrawButton(Canvas& canvas, const Control& control, const Cells& cells, bool focused) {
  const std::string label = StripMnemonic(control.text());
  std::string shown = "[ " + label + " ]";
  if (DisplayWidth(shown) > cells.w) shown = "[" + TruncateToWidth(label, std::max(0, cells.w - 2)) + "]";
  if (DisplayWidth(shown) > cells.w) shown = TruncateToWidth(label, cells.w);
  Attr attr;
  attr.bold = (control.style() & style::kDefButton) != 0;
  attr.reverse = focused;
  const int width = DisplayWidth(shown);
  canvas.Put(cells.x + (cells.w - width) / 2, cells.y + (cells.h - 1) / 2, shown, attr);
}

void DrawEdit(Canvas& canvas, const Control& control, const Cells& cells, const DialogView& view,
              int index, bool focused) {
  const bool multiline = (control.style() & style::kMultiline) != 0;
  const Cells area = EditTextArea(cells, multiline);
  Attr frame;
  frame.bold = focused;
  if (area.w != cells.w) canvas.Frame(cells, frame);
  Attr attr;
  if ((control.style() & style::kReadOnly) == 0) attr.underline = true;
  if (!multiline) {
    canvas.Fill(Cells{area.x, area.y + (area.h - 1) / 2, area.w, 1}, attr);
  }
  const auto lines = EditLines(control, area.w);
  auto it = view.edit_top.find(index);
  const int top = it == view.edit_top.end() ? 0 : it->second;
  auto left_it = view.edit_left.find(index);
  const int left = multiline && !EditWraps(control) && left_it != view.edit_left.end() ? left_it->second : 0;
  const int first_row = multiline ? area.y : area.y + (area.h - 1) / 2;
  const int rows = multiline ? area.h : 1;
  for (int r = 0; r < rows && top + r < static_cast<int>(lines.size()); ++r) {
    canvas.Put(area.x, first_row + r, SliceColumns(lines[static_cast<std::size_t>(top + r)], left, area.w),
               attr, area.w);
  }
  if (area.w != cells.w && static_cast<int>(lines.size()) > rows) {
    if (top > 0) canvas.Put(cells.x + cells.w - 1, cells.y + 1, "▲", frame);
    if (top + rows < static_cast<int>(lines.size())) {
      canvas.Put(cells.x + cells.w - 1, cells.y + cells.h - 2, "▼", frame);
    }
  }
}

void DrawProgress(Canvas& canvas, const ProgressCtrl& bar, const Cells& cells) {
  double fraction = 0.0;
  if (bar.hi() > bar.lo()) {
    const int pos = std::clamp(bar.pos(), bar.lo(), bar.hi());
    fraction = static_cast<double>(pos - bar.lo()) / (bar.hi() - bar.lo());
  }
  const int filled = static_cast<int>(fraction * cells.w + 0.5);
  std::string text;
  for (int i = 0; i < cells.w; ++i) text += i < filled ? "█" : "░";
  Attr attr;
  attr.fg = Ink::Green;
  canvas.Put(cells.x, cells.y + (cells.h - 1) / 2, text, attr);
}

void DrawList(Canvas& canvas, const ListCtrl& list, const Cells& cells, double sx, bool focused) {
  const ListGeometry g = ListLayout(cells);
  Attr frame;
  frame.bold = focused;
  if (g.framed) canvas.Frame(cells, frame);
  const int prefix = ListPrefixWidth(list);
  const bool grid = (list.GetExtendedStyle() & LVS_EX_GRIDLINES) != 0;
  const std::string sep = grid ? "│" : " ";
  std::vector<int> widths = ColumnWidths(list.columns(), sx, prefix + 2);
  if (widths.empty()) widths.push_back(g.inner.w);

  Attr header;
  header.bold = true;
  header.underline = true;
  int x = g.inner.x;
  const int right = g.inner.x + g.inner.w;
  for (std::size_t c = 0; c < list.columns().size() && x < right; ++c) {
    const Align align = list.columns()[c].format == LVCFMT_RIGHT    ? Align::Right
                        : list.columns()[c].format == LVCFMT_CENTER ? Align::Center
                                                                    : Align::Left;
    x += canvas.Put(x, g.header_y, AlignText(list.columns()[c].title, widths[c], c == 0 ? Align::Left : align),
                    header, right - x);
    if (x < right && c + 1 < list.columns().size()) x += canvas.Put(x, g.header_y, sep, Attr{}, right - x);
  }

  const bool show_selection = focused || (list.style() & style::kShowSelAlways) != 0;
  const bool boxes = (list.GetExtendedStyle() & LVS_EX_CHECKBOXES) != 0;
  for (int r = 0; r < g.body_rows; ++r) {
    const int item = list.top_index + r;
    if (item >= list.GetItemCount()) break;
    const int y = g.body_y + r;
    Attr attr;
    attr.reverse = show_selection && list.GetItemState(item, LVIS_SELECTED) != 0;
    if (attr.reverse) canvas.Fill(Cells{g.inner.x, y, g.inner.w, 1}, attr);
    x = g.inner.x;
    int first_width = widths[0];
    if (boxes) {
      x += canvas.Put(x, y, list.GetCheck(item) ? "[x] " : "[ ] ", attr, right - x);
      first_width -= 4;
    }
    if (!list.image_list().empty()) {
      const int image = list.GetItemImage(item);
      Attr dot = attr;
      std::string glyph = " ";
      if (image >= 0 && image < static_cast<int>(list.image_list().size())) {
        const int icon = list.image_list()[static_cast<std::size_t>(image)];
        glyph = "●";
        if (icon == kGoodIcon) dot.fg = Ink::Green;
        if (icon == kBadIcon) dot.fg = Ink::Red;
      }
      x += canvas.Put(x, y, glyph, dot, right - x);
      x += canvas.Put(x, y, " ", attr, right - x);
      first_width -= 2;
    }
    const std::size_t columns = std::max<std::size_t>(1, list.columns().size());
    for (std::size_t c = 0; c < columns && x < right; ++c) {
      const int subitem = list.columns().empty() ? 0 : list.columns()[c].subitem;
      const int width = c == 0 ? std::max(0, first_width) : widths[c];
      const Align align = c == 0 || list.columns().empty() ? Align::Left
                          : list.columns()[c].format == LVCFMT_RIGHT  ? Align::Right
                          : list.columns()[c].format == LVCFMT_CENTER ? Align::Center
                                                                      : Align::Left;
      x += canvas.Put(x, y, AlignText(list.GetItemText(item, subitem), width, align), attr, right - x);
      if (x < right && c + 1 < columns) x += canvas.Put(x, y, sep, attr, right - x);
    }
  }
  if (g.framed && list.GetItemCount() > g.body_rows) {
    if (list.top_index > 0) canvas.Put(cells.x + cells.w - 1, g.body_y, "▲", frame);
    if (list.top_index + g.body_rows < list.GetItemCount()) {
      canvas.Put(cells.x + cells.w - 1, g.body_y + g.body_rows - 1, "▼", frame);
    }
  }
}

}  // namespace

std::vector<MenuEntry> SystemMenuEntries(const Dialog& dlg) {
  std::vector<MenuEntry> entries{{SC_CLOSE, "Close"}};
  for (const auto& item : dlg.system_menu()) entries.push_back({item.command, item.text});
  return entries;
}

Cells MenuCells(const Dialog& dlg, const DialogView& view) {
  int width = 0;
  const auto entries = SystemMenuEntries(dlg);
  for (const auto& e : entries) width = std::max(width, DisplayWidth(StripMnemonic(e.text)));
  return Cells{view.placement.frame.x + 1, view.placement.frame.y + 1, width + 4,
               static_cast<int>(entries.size()) + 2};
}

bool BoxHasCancel(unsigned type) { return (type & 0x0F) == MB_OKCANCEL; }

BoxLayout LayoutMessageBox(const BoxState& box, int cols, int rows) {
  BoxLayout layout;
  const bool cancel = BoxHasCancel(box.type);
  const int buttons = cancel ? 6 + 2 + 10 : 6;  // "[ OK ]", "[ Cancel ]"
  const int max_text = std::max(10, std::min(cols - 8, 64));
  layout.lines = WrapText(box.text, max_text);
  int text_w = 0;
  for (const auto& line : layout.lines) text_w = std::max(text_w, DisplayWidth(line));
  int w = std::max({text_w + 4, DisplayWidth(box.caption) + 10, buttons + 4});
  w = std::min(w, std::max(8, cols));
  const int max_lines = std::max(1, rows - 4);
  if (static_cast<int>(layout.lines.size()) > max_lines) layout.lines.resize(static_cast<std::size_t>(max_lines));
  const int h = static_cast<int>(layout.lines.size()) + 4;
  layout.frame = Cells{std::max(0, (cols - w) / 2), std::max(0, (rows - h) / 2), w, h};
  const int by = layout.frame.y + h - 2;
  const int bx = layout.frame.x + (w - buttons) / 2;
  layout.ok = Cells{bx, by, 6, 1};
  layout.cancel = cancel ? Cells{bx + 8, by, 10, 1} : Cells{0, 0, 0, 0};
  return layout;
}

bool IsFocusable(const Control& control) {
  switch (control.kind()) {
    case Kind::Button:
    case Kind::ListView:
    case Kind::Edit:
      return true;
    case Kind::Icon:
    case Kind::Bitmap:
      return false;
    default:
      return (control.style() & style::kTabStop) != 0;
  }
}

int InitialFocus(const Dialog& dlg) {
  const auto& controls = dlg.controls();
  for (std::size_t i = 0; i < controls.size(); ++i) {
    if ((controls[i]->style() & style::kTabStop) != 0 && IsFocusable(*controls[i])) {
      return static_cast<int>(i);
    }
  }
  for (std::size_t i = 0; i < controls.size(); ++i) {
    if (IsFocusable(*controls[i])) return static_cast<int>(i);
  }
  return -1;
}

Cells ControlArea(const DialogView& view, const Control& control) {
  const Placement& p = view.placement;
  Cells c = ControlCells(control.rect(), p.scale, p.client.w, p.client.h);
  c.x += p.client.x;
  c.y += p.client.y;
  return c;
}

std::vector<std::string> EditLines(const Control& control, int width) {
  if ((control.style() & style::kMultiline) == 0) {
    // A single line shows its end, where typing happens.
    const std::string text = OneLine(control.text());
    const auto cps = DecodeUtf8(text);
    int used = 0;
    std::size_t start = cps.size();
    while (start > 0 && used + CharWidth(cps[start - 1]) <= width) used += CharWidth(cps[--start]);
    std::string tail;
    for (std::size_t i = start; i < cps.size(); ++i) tail += EncodeUtf8(cps[i]);
    return {tail};
  }
  if (!EditWraps(control)) return WrapText(control.text(), 1 << 20);
  return WrapText(control.text(), width);
}

bool EditWraps(const Control& control) {
  // A multi-line edit with horizontal auto-scroll keeps its lines whole.
  return (control.style() & style::kMultiline) != 0 &&
         !((control.style() & style::kAutoHScroll) != 0 && (control.style() & style::kAutoVScroll) == 0);
}

int ListPrefixWidth(const ListCtrl& list) {
  int prefix = 0;
  if ((list.GetExtendedStyle() & LVS_EX_CHECKBOXES) != 0) prefix += 4;
  if (!list.image_list().empty()) prefix += 2;
  return prefix;
}

void DrawDialog(Canvas& canvas, Dialog& dlg, DialogView& view, bool active) {
  const DialogTemplate* t = dlg.dialog_template();
  if (t == nullptr) return;
  view.placement = PlaceDialog(t->width, t->height, canvas.width(), canvas.height());
  const Placement& p = view.placement;
  canvas.Fill(p.frame, Attr{});
  Attr frame;
  frame.bold = active;
  canvas.Frame(p.frame, frame);

  const bool sysmenu = (t->style & dstyle::kSysMenu) != 0;
  int caption_x = p.frame.x + 2;
  int caption_room = p.frame.w - 4;
  if (sysmenu && p.frame.w >= 12) {
    canvas.Put(p.frame.x + 1, p.frame.y, "[-]", frame);
    canvas.Put(p.frame.x + p.frame.w - 4, p.frame.y, "[x]", frame);
    caption_x = p.frame.x + 5;
    caption_room = p.frame.w - 10;
  }
  Attr caption;
  caption.bold = true;
  caption.reverse = active;
  canvas.Put(caption_x, p.frame.y, " " + TruncateToWidth(dlg.caption(), std::max(0, caption_room - 2)) + " ",
             caption, caption_room);

  const auto& controls = dlg.controls();
  for (std::size_t i = 0; i < controls.size(); ++i) {
    Control& control = *controls[i];
    const Cells cells = ControlArea(view, control);
    const bool focused = active && view.focus == static_cast<int>(i);
    switch (control.kind()) {
      case Kind::Button:
        DrawButton(canvas, control, cells, focused);
        break;
      case Kind::Edit:
        DrawEdit(canvas, control, cells, view, static_cast<int>(i), focused);
        break;
      case Kind::Progress:
        DrawProgress(canvas, static_cast<const ProgressCtrl&>(control), cells);
        break;
      case Kind::ListView:
        DrawList(canvas, static_cast<const ListCtrl&>(control), cells, p.scale.sx, focused);
        break;
      default:
        DrawStatic(canvas, dlg, control, cells, p.client);
        break;
    }
  }
  if (active && view.menu_open) DrawSystemMenu(canvas, dlg, view);
  if (!active) canvas.Dim(p.frame);
}

void DrawSystemMenu(Canvas& canvas, const Dialog& dlg, const DialogView& view) {
  const Cells cells = MenuCells(dlg, view);
  canvas.Fill(cells, Attr{});
  canvas.Frame(cells, Attr{});
  const auto entries = SystemMenuEntries(dlg);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const int y = cells.y + 1 + static_cast<int>(i);
    if (entries[i].command == 0) {
      std::string line;
      for (int k = 0; k < cells.w - 2; ++k) line += "─";
      canvas.Put(cells.x + 1, y, line, Attr{});
      continue;
    }
    Attr attr;
    attr.reverse = static_cast<int>(i) == view.menu_index;
    canvas.Put(cells.x + 1, y, AlignText(" " + StripMnemonic(entries[i].text), cells.w - 2, Align::Left), attr);
  }
}

void DrawMessageBox(Canvas& canvas, const BoxState& box) {
  const BoxLayout layout = LayoutMessageBox(box, canvas.width(), canvas.height());
  canvas.Fill(layout.frame, Attr{});
  Attr frame;
  frame.bold = true;
  canvas.Frame(layout.frame, frame);
  Attr caption;
  caption.bold = true;
  caption.reverse = true;
  canvas.Put(layout.frame.x + 2, layout.frame.y,
             " " + TruncateToWidth(box.caption, std::max(0, layout.frame.w - 6)) + " ", caption,
             layout.frame.w - 4);
  for (std::size_t i = 0; i < layout.lines.size(); ++i) {
    canvas.Put(layout.frame.x + 2, layout.frame.y + 1 + static_cast<int>(i), layout.lines[i], Attr{},
               layout.frame.w - 4);
  }
  Attr ok;
  ok.bold = true;
  ok.reverse = box.focus == 0;
  canvas.Put(layout.ok.x, layout.ok.y, "[ OK ]", ok);
  if (layout.cancel.w > 0) {
    Attr cancel;
    cancel.reverse = box.focus == 1;
    canvas.Put(layout.cancel.x, layout.cancel.y, "[ Cancel ]", cancel);
  }
}

}  // namespace ui::terminal
