#include "faces/terminal/Render.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "resources/ResourceIds.h"

namespace ui::terminal {

namespace {

Align AlignOf(std::uint32_t style) {
  if ((style & style::kCenter) != 0) return Align::Center;
  if ((style & style::kRight) != 0) return Align::Right;
  return Align::Left;
}


bool BigFont(const Control& control) {
  const auto& font = control.font();
  return font && (font->tenths_of_point >= 120 || font->height >= 16);
}

// x of a piece `width` columns wide aligned in cells.
int AlignedX(const Cells& cells, int width, Align align) {
  switch (align) {
    case Align::Center: return cells.x + std::max(0, (cells.w - width) / 2);
    case Align::Right: return cells.x + std::max(0, cells.w - width);
    case Align::Left: break;
  }
  return cells.x;
}

void DrawStatic(Canvas& canvas, Dialog& dlg, const Control& control, const Cells& cells) {
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

  const std::string text = ShownText(control);
  const Align align = AlignOf(control.style());
  std::vector<std::string> lines;
  if (cells.h == 1 || IsLineStatic(control)) {
    lines = {OneLine(text)};
  } else {
    lines = WrapText(text, cells.w);
  }
  if (static_cast<int>(lines.size()) > cells.h) {
    // What is left out is marked on the last line shown.
    lines.resize(static_cast<std::size_t>(cells.h));
    std::string& last = lines.back();
    last = TruncateToWidth(last, cells.w - 1);
    while (!last.empty() && last.back() == ' ') last.pop_back();
    last += CurrentGlyphs().ellipsis;
  }
  int y = cells.y;
  if ((control.style() & style::kVCenter) != 0) y += (cells.h - static_cast<int>(lines.size())) / 2;
  for (const auto& line : lines) {
    const std::string shown = Ellipsize(line, cells.w);
    const int width = DisplayWidth(shown);
    // Only the text itself is written, so a band or a window beneath keeps its cells.
    canvas.Put(AlignedX(cells, width, align), y, shown, attr, cells.w);
    ++y;
  }
}

void DrawButton(Canvas& canvas, const Control& control, const Cells& cells, bool focused) {
  const Glyphs& g = CurrentGlyphs();
  const std::string label = ShownText(control);
  const int width = DisplayWidth(label);
  const std::string open = focused ? g.focus_in : "[";
  const std::string close = focused ? g.focus_out : "]";
  std::string shown;
  if (width + 4 <= cells.w) {
    shown = Concat({open, " ", label, " ", close});
  } else if (width + 2 <= cells.w) {
    shown = Concat({open, label, close});
  } else {
    shown = Concat({open, Ellipsize(label, std::max(0, cells.w - 2)), close});
  }
  Attr attr;
  attr.bold = (control.style() & style::kDefButton) != 0 || focused;
  attr.reverse = focused;
  const int used = DisplayWidth(shown);
  canvas.Put(cells.x + std::max(0, (cells.w - used) / 2), cells.y + (cells.h - 1) / 2, shown, attr, cells.w);
}

// One line of an edit that may scroll sideways: cut marks where text goes on.
std::string ScrolledLine(const std::string& line, int left, int width) {
  const Glyphs& g = CurrentGlyphs();
  std::string shown = Ellipsize(SliceColumns(line, left, DisplayWidth(line)), width);
  if (left > 0 && !shown.empty() && width > 1) {
    shown = Concat({g.ellipsis, SliceColumns(shown, 1, width - 1)});
  }
  return shown;
}

void DrawEdit(Canvas& canvas, const Control& control, const Cells& cells, DialogView& view, int index,
              bool focused) {
  const Glyphs& g = CurrentGlyphs();
  const bool multiline = (control.style() & style::kMultiline) != 0;
  const bool read_only = (control.style() & style::kReadOnly) != 0;
  Attr attr;
  if (!read_only) attr.underline = true;
  if (focused) attr.reverse = true;
  auto left_it = view.edit_left.find(index);
  const int left = left_it != view.edit_left.end() ? left_it->second : 0;
  if (!multiline) {
    const Cells field{cells.x, cells.y + (cells.h - 1) / 2, cells.w, 1};
    canvas.Fill(field, attr);
    std::string text = OneLine(Showable(control.text()));
    while (!text.empty() && text.back() == ' ') text.pop_back();
    if (!read_only && left == 0) {
      // Typing happens at the end: show it.
      const int over = DisplayWidth(text) - (field.w - 1);
      canvas.Put(field.x, field.y, ScrolledLine(text, std::max(0, over), field.w), attr, field.w);
      return;
    }
    canvas.Put(field.x, field.y, ScrolledLine(text, left, field.w), attr, field.w);
    return;
  }
  const Cells area = EditTextArea(cells, true);
  Attr frame;
  frame.bold = focused;
  if (area.w != cells.w) canvas.Frame(cells, frame, focused);
  const TextLines& lines = EditLines(view, index, control, area.w);
  auto top_it = view.edit_top.find(index);
  const int count = static_cast<int>(lines.lines.size());
  const int top = std::clamp(top_it == view.edit_top.end() ? 0 : top_it->second, 0, std::max(0, count - 1));
  Attr text_attr;
  if (!read_only) text_attr.underline = true;
  for (int r = 0; r < area.h && top + r < count; ++r) {
    const std::string line = Showable(SpanText(control.text(), lines.lines[static_cast<std::size_t>(top + r)]));
    canvas.Put(area.x, area.y + r, EditWraps(control) ? line : ScrolledLine(line, left, area.w), text_attr,
               area.w);
  }
  if (area.w != cells.w && count > area.h) {
    if (top > 0) canvas.Put(cells.x + cells.w - 1, cells.y + 1, g.up, frame);
    if (top + area.h < count) canvas.Put(cells.x + cells.w - 1, cells.y + cells.h - 2, g.down, frame);
    // Where the reader is in a long text.
    const int last = std::min(count, top + area.h);
    const std::string where = Concat({" ", std::to_string(last * 100 / count), "% "});
    if (DisplayWidth(where) + 4 <= cells.w) {
      canvas.Put(cells.x + cells.w - 2 - DisplayWidth(where), cells.y + cells.h - 1, where, frame);
    }
  }
}

void DrawProgress(Canvas& canvas, const ProgressCtrl& bar, const Cells& cells) {
  const Glyphs& g = CurrentGlyphs();
  int percent = 0;
  if (bar.hi() > bar.lo()) {
    const long long pos = std::clamp(bar.pos(), bar.lo(), bar.hi());
    percent = static_cast<int>((pos - bar.lo()) * 100 / (static_cast<long long>(bar.hi()) - bar.lo()));
  }
  const int filled = (percent * cells.w + 50) / 100;
  const int y = cells.y + (cells.h - 1) / 2;
  Attr done;
  done.fg = Ink::Green;
  Attr rest;
  rest.fg = Ink::Green;
  rest.dim = true;
  for (int i = 0; i < cells.w; ++i) canvas.Put(cells.x + i, y, i < filled ? g.full : g.empty, i < filled ? done : rest);
  // The figure sits in the bar's middle, on the colour of the part beneath it.
  const std::string figure = Concat({" ", std::to_string(percent), "% "});
  const int width = DisplayWidth(figure);
  if (width > cells.w) return;
  const int x0 = cells.x + (cells.w - width) / 2;
  for (int i = 0; i < width; ++i) {
    Attr a;
    a.bold = true;
    if (x0 + i - cells.x < filled) {
      a.fg = Ink::Black;
      a.bg = Ink::Green;
    }
    canvas.Put(x0 + i, y, figure.substr(static_cast<std::size_t>(i), 1), a);
  }
}

void DrawList(Canvas& canvas, const ListCtrl& list, const Cells& cells, double sx, bool focused) {
  const Glyphs& g = CurrentGlyphs();
  const ListGeometry geo = ListLayout(cells);
  Attr frame;
  frame.bold = focused;
  if (geo.framed) canvas.Frame(cells, frame, focused);
  const bool grid = (list.GetExtendedStyle() & LVS_EX_GRIDLINES) != 0;
  const std::string sep = grid ? g.grid : " ";
  const std::vector<int> widths = ColumnWidths(list, geo.inner.w, sx);
  const auto& columns = list.columns();
  auto align_of = [&](std::size_t c) {
    if (c == 0 || c >= columns.size()) return Align::Left;
    if (columns[c].format == LVCFMT_RIGHT) return Align::Right;
    if (columns[c].format == LVCFMT_CENTER) return Align::Center;
    return Align::Left;
  };

  Attr header;
  header.bold = true;
  header.underline = true;
  const int right = geo.inner.x + geo.inner.w;
  int x = geo.inner.x;
  for (std::size_t c = 0; c < columns.size() && x < right; ++c) {
    const int w = widths[c];
    std::string title = Showable(columns[c].title);
    while (!title.empty() && title.back() == ' ') title.pop_back();  // a blank title shows nothing
    x += canvas.Put(x, geo.header_y, AlignText(Ellipsize(title, w), w, align_of(c)), header, right - x);
    if (x < right && c + 1 < columns.size()) x += canvas.Put(x, geo.header_y, sep, Attr{}, right - x);
  }

  const bool show_selection = focused || (list.style() & style::kShowSelAlways) != 0;
  const bool boxes = (list.GetExtendedStyle() & LVS_EX_CHECKBOXES) != 0;
  const int cursor = focused ? CursorLine(list) : -1;
  const std::size_t shown_columns = std::max<std::size_t>(1, columns.size());
  for (int r = 0; r < geo.body_rows; ++r) {
    const int item = list.top_index + r;
    if (item >= list.GetItemCount()) break;
    const int y = geo.body_y + r;
    Attr attr;
    if (item == cursor) {
      attr.reverse = true;
      attr.bold = true;
    } else if (show_selection && list.GetItemState(item, LVIS_SELECTED) != 0) {
      // The selection without the focus: marked, but unlike the focused line.
      attr.underline = true;
      attr.bg = Ink::Cyan;
      attr.fg = Ink::Black;
    }
    if (attr.reverse || attr.underline) canvas.Fill(Cells{geo.inner.x, y, geo.inner.w, 1}, attr);
    if (item == cursor && geo.framed) canvas.Put(cells.x, y, g.focus_in, frame);
    x = geo.inner.x;
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
        glyph = g.good;
        if (icon == plovix::ids::kGoodIcon) dot.fg = Ink::Green;
        if (icon == plovix::ids::kBadIcon) {
          glyph = g.bad;
          dot.fg = Ink::Red;
          dot.bold = true;
        }
      }
      x += canvas.Put(x, y, glyph, dot, right - x);
      x += canvas.Put(x, y, " ", attr, right - x);
      first_width -= 2;
    }
    for (std::size_t c = 0; c < shown_columns && x < right; ++c) {
      const int subitem = columns.empty() ? 0 : columns[c].subitem;
      const int w = c == 0 ? std::max(0, first_width) : widths[c];
      x += canvas.Put(x, y, AlignText(Ellipsize(Showable(list.GetItemText(item, subitem)), w), w, align_of(c)), attr,
                      right - x);
      if (x < right && c + 1 < shown_columns) x += canvas.Put(x, y, sep, attr, right - x);
    }
  }
  if (geo.framed && list.GetItemCount() > geo.body_rows) {
    if (list.top_index > 0) canvas.Put(cells.x + cells.w - 1, geo.body_y, g.up, frame);
    if (list.top_index + geo.body_rows < list.GetItemCount()) {
      canvas.Put(cells.x + cells.w - 1, geo.body_y + geo.body_rows - 1, g.down, frame);
    }
  }
}


}  // namespace

// The menu text as shown, and the column of its mnemonic letter (-1 for none).
std::pair<std::string, int> MenuLabel(const std::string& text) {
  const auto amp = text.find('&');
  const std::string shown = StripMnemonic(text);
  if (amp == std::string::npos || amp + 1 >= text.size() || text[amp + 1] == '&') return {shown, -1};
  return {shown, DisplayWidth(StripMnemonic(text.substr(0, amp)))};
}

std::string OneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') continue;
    out.push_back(c == '\n' ? ' ' : c);
  }
  return out;
}

std::vector<MenuEntry> SystemMenuEntries(const Dialog& dlg) {
  std::vector<MenuEntry> entries{{SC_CLOSE, "Close"}};
  for (const auto& item : dlg.system_menu()) entries.push_back({item.command, Showable(item.text)});
  return entries;
}

Cells MenuCells(const Dialog& dlg, const DialogView& view) {
  int width = 0;
  const auto entries = SystemMenuEntries(dlg);
  for (const auto& e : entries) width = std::max(width, DisplayWidth(StripMnemonic(e.text)));
  return Cells{view.placement.frame.x + 1, view.placement.frame.y + 1, width + 4,
               static_cast<int>(entries.size()) + 2};
}

char32_t MnemonicOf(const std::string& text) {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '&') continue;
    if (text[i + 1] == '&') {
      ++i;
      continue;
    }
    std::size_t at = i + 1;
    const char32_t cp = NextCodePoint(text, at);
    return cp < 0x80 ? static_cast<char32_t>(std::tolower(static_cast<int>(cp))) : cp;
  }
  return 0;
}

bool BoxHasCancel(unsigned type) { return (type & 0x0F) == MB_OKCANCEL; }

BoxLayout LayoutMessageBox(const BoxState& box, int cols, int rows) {
  BoxLayout layout;
  const bool cancel = BoxHasCancel(box.type);
  const int buttons = cancel ? 6 + 2 + 10 : 6;  // "[ OK ]", "[ Cancel ]"
  const int max_text = std::max(10, std::min(cols - 8, 64));
  layout.lines = WrapText(Showable(box.text), max_text);
  int text_w = 0;
  for (const auto& line : layout.lines) text_w = std::max(text_w, DisplayWidth(line));
  int w = std::max({text_w + 4, DisplayWidth(Showable(box.caption)) + 10, buttons + 4});
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
  const auto& controls = const_cast<Control&>(control).owner().controls();
  for (std::size_t i = 0; i < controls.size() && i < view.layout.cells.size(); ++i) {
    if (controls[i].get() == &control) return view.layout.cells[i];
  }
  return Cells{};
}

bool EditWraps(const Control& control) {
  // A multi-line edit with horizontal auto-scroll keeps its lines whole.
  return (control.style() & style::kMultiline) != 0 &&
         !((control.style() & style::kAutoHScroll) != 0 && (control.style() & style::kAutoVScroll) == 0);
}

const TextLines& EditLines(DialogView& view, int index, const Control& edit, int width) {
  TextLines& cache = view.text_lines[index];
  const int key = EditWraps(edit) ? std::max(1, width) : 0;
  if (cache.stamp == edit.text_stamp() && cache.width == key) return cache;
  cache.stamp = edit.text_stamp();
  cache.width = key;
  cache.widest = 0;
  if (key == 0) {
    cache.lines = SplitLines(edit.text(), &cache.widest);
  } else {
    cache.lines = WrapSpans(edit.text(), key);
    cache.widest = static_cast<std::size_t>(key);
  }
  return cache;
}

int CursorLine(const ListCtrl& list) {
  int line = list.GetNextItem(-1, LVIS_FOCUSED);
  if (line < 0) line = list.GetNextItem(-1, LVNI_SELECTED);
  if (line < 0 && list.GetItemCount() > 0) line = 0;
  return line;
}

void DrawDialog(Canvas& canvas, Dialog& dlg, DialogView& view, bool active) {
  const DialogTemplate* t = dlg.dialog_template();
  if (t == nullptr) return;
  // A text that does not wrap may widen to its longest line where cells are free.
  std::vector<int> line_widths(dlg.controls().size(), 0);
  for (std::size_t i = 0; i < dlg.controls().size(); ++i) {
    const Control& c = *dlg.controls()[i];
    if (c.kind() == Kind::Edit && (c.style() & style::kMultiline) != 0 && !EditWraps(c)) {
      line_widths[i] = static_cast<int>(EditLines(view, static_cast<int>(i), c, 0).widest);
    }
  }
  view.layout = LayoutDialog(dlg, canvas.width(), std::max(1, canvas.height() - kHintRows), &line_widths);
  view.placement = view.layout.placement;
  const Placement& p = view.placement;
  canvas.SetOwner(-1);
  canvas.Fill(p.frame, Attr{});
  Attr frame;
  frame.bold = active;
  canvas.Frame(p.frame, frame);

  const bool sysmenu = (t->style & dstyle::kSysMenu) != 0;
  if (sysmenu && p.frame.w >= kSysMenuFrameMin) {
    canvas.Put(p.frame.x + 1, p.frame.y, "[-]", frame);
    canvas.Put(p.frame.x + p.frame.w - 4, p.frame.y, "[x]", frame);
  }
  const CaptionSlot slot = CaptionSlotOf(p.frame.w, sysmenu);
  Attr caption;
  caption.bold = true;
  caption.reverse = active;
  canvas.Put(p.frame.x + slot.x, p.frame.y, Concat({" ", Ellipsize(Showable(dlg.caption()), std::max(0, slot.room - 2)), " "}),
             caption, slot.room);

  const auto& controls = dlg.controls();
  for (std::size_t i = 0; i < controls.size(); ++i) {
    Control& control = *controls[i];
    const Cells cells = view.layout.cells[i];
    if (cells.w <= 0 || cells.h <= 0) continue;
    // While the menu is open the focus is in the menu.
    const bool focused = active && !view.menu_open && view.focus == static_cast<int>(i);
    canvas.SetOwner(static_cast<int>(i));
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
        DrawStatic(canvas, dlg, control, cells);
        break;
    }
  }
  canvas.SetOwner(-1);
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
      for (int k = 0; k < cells.w - 2; ++k) line += CurrentGlyphs().h;
      canvas.Put(cells.x + 1, y, line, Attr{});
      continue;
    }
    Attr attr;
    attr.reverse = static_cast<int>(i) == view.menu_index;
    const auto [label, mnemonic] = MenuLabel(entries[i].text);
    canvas.Put(cells.x + 1, y, AlignText(Concat({" ", label}), cells.w - 2, Align::Left), attr);
    if (mnemonic >= 0) {
      // The letter that runs the item, underlined as a menu shows it.
      Attr letter = attr;
      letter.underline = true;
      canvas.Put(cells.x + 2 + mnemonic, y, SliceColumns(label, mnemonic, 1), letter);
    }
  }
}

void DrawMessageBox(Canvas& canvas, const BoxState& box) {
  const BoxLayout layout = LayoutMessageBox(box, canvas.width(), std::max(1, canvas.height() - kHintRows));
  canvas.SetOwner(-1);
  canvas.Fill(layout.frame, Attr{});
  Attr frame;
  frame.bold = true;
  canvas.Frame(layout.frame, frame);
  Attr caption;
  caption.bold = true;
  caption.reverse = true;
  canvas.Put(layout.frame.x + 2, layout.frame.y, Concat({" ", Ellipsize(Showable(box.caption), std::max(0, layout.frame.w - 6)), " "}),
             caption, layout.frame.w - 4);
  for (std::size_t i = 0; i < layout.lines.size(); ++i) {
    canvas.Put(layout.frame.x + 2, layout.frame.y + 1 + static_cast<int>(i), layout.lines[i], Attr{},
               layout.frame.w - 4);
  }
  const Glyphs& g = CurrentGlyphs();
  auto button = [&](const Cells& at, const char* label, bool focused) {
    Attr attr;
    attr.bold = true;
    attr.reverse = focused;
    const std::string shown = focused ? Concat({g.focus_in, " ", label, " ", g.focus_out}) : Concat({"[ ", label, " ]"});
    canvas.Put(at.x, at.y, shown, attr);
  };
  button(layout.ok, "OK", box.focus == 0);
  if (layout.cancel.w > 0) button(layout.cancel, "Cancel", box.focus == 1);
}

bool DrawScreen(Canvas& canvas, const std::vector<ScreenLayer>& layers) {
  canvas.Clear();
  bool fits = true;
  for (std::size_t i = 0; i < layers.size(); ++i) {
    const ScreenLayer& layer = layers[i];
    if (layer.dlg == nullptr) {
      DrawMessageBox(canvas, *layer.box);
      continue;
    }
    const std::size_t before = canvas.overdraws().size();
    DrawDialog(canvas, *layer.dlg, *layer.view, i + 1 == layers.size());
    fits = fits && canvas.overdraws().size() == before &&
           LayoutReads(*layer.dlg, layer.view->layout, canvas.width(), canvas.height());
  }
  if (!fits) {
    // Windows drawn over themselves tell nothing; how big the screen must be does.
    const ScreenSize now{canvas.width(), canvas.height()};
    ScreenSize need;
    for (const ScreenLayer& layer : layers) {
      if (layer.dlg == nullptr) continue;
      const ScreenSize one = SmallestFit(*layer.dlg, *layer.view, now);
      if (one.cols == 0) return true;  // no size would do: better the drawing than a false word
      need.cols = std::max(need.cols, one.cols);
      need.rows = std::max(need.rows, one.rows);
    }
    canvas.Clear();
    const std::string text = TooSmallText(need, now, canvas.width());
    canvas.Put(std::max(0, (canvas.width() - DisplayWidth(text)) / 2), canvas.height() / 2, text, Attr{});
    return false;
  }
  if (!layers.empty()) {
    const ScreenLayer& top = layers.back();
    // Escape on the bottom window ends the program.
    DrawKeyHint(canvas, top.dlg != nullptr ? DialogKeyHint(*top.dlg, *top.view, top.dlg == layers.front().dlg)
                                           : BoxKeyHint(*top.box));
  }
  return true;
}

}  // namespace ui::terminal
