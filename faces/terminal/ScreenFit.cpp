// How a window's units scale to a screen, its caption's room, whether it reads whole on
// a screen of a given size, the smallest that it does, and what the screen says when it
// is too small.
#include "faces/terminal/Render.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>
#include <vector>

namespace ui::terminal {

Scale FitScale(int w_units, int h_units, int cols, int rows) {
  Scale scale;
  const double need_cols = static_cast<double>(w_units) / kUnitsPerColumn;
  const double need_rows = static_cast<double>(h_units) / kUnitsPerRow;
  const int room_cols = std::max(1, cols - 2);
  const int room_rows = std::max(1, rows - 2);
  if (need_cols > room_cols) scale.sx = room_cols / need_cols;
  if (need_rows > room_rows) scale.sy = room_rows / need_rows;
  return scale;
}

int ColumnOf(int x_units, const Scale& scale) {
  return static_cast<int>(std::lround(x_units * scale.sx / kUnitsPerColumn));
}

CaptionSlot CaptionSlotOf(int frame_w, bool sysmenu) {
  if (sysmenu && frame_w >= kSysMenuFrameMin) return CaptionSlot{5, frame_w - 10};
  return CaptionSlot{2, frame_w - 4};
}

int CaptionFrameWidth(const std::string& caption, bool sysmenu) {
  if (caption.empty()) return 0;
  const int text = DisplayWidth(caption) + 2;  // and a blank each side
  return text + (sysmenu ? 10 : 4);
}


// Whether a window drawn with this layout reads whole: inside the screen above the hint,
// every button's label and every text of the window's own uncut. (Long drive names in
// edits and lists are cut with a mark by design; they do not count.)
bool LayoutReads(const Dialog& dlg, const DialogLayout& layout, int cols, int rows) {
  const Cells frame = layout.placement.frame;
  if (frame.x < 0 || frame.y < 0 || frame.x + frame.w > cols || frame.y + frame.h > rows - kHintRows) return false;
  const auto& controls = dlg.controls();
  for (std::size_t i = 0; i < controls.size() && i < layout.cells.size(); ++i) {
    const Control& c = *controls[i];
    const Cells cells = layout.cells[i];
    if (cells.w <= 0) continue;
    if (c.kind() == Kind::ListView) {
      // Every column a few cells (the first its check box and a number), frame and
      // separators besides.
      const auto& list = static_cast<const ListCtrl&>(c);
      const std::vector<int> needs = ColumnNeeds(list);
      int want = ListLayout(cells).framed ? 2 : 0;
      for (std::size_t k = 0; k < needs.size(); ++k) {
        want += std::min(needs[k], k == 0 ? ListPrefixWidth(list) + 2 : 4) + (k > 0 ? 1 : 0);
      }
      if (want > cells.w) return false;
      continue;
    }
    if (c.kind() == Kind::Edit && (c.style() & style::kMultiline) != 0) {
      constexpr int kReadableText = 20;  // columns of a help or report text worth reading
      if (EditTextArea(cells, true).w < std::min(kReadableText, ColumnOf(c.rect().w, Scale{}))) return false;
      continue;
    }
    if (c.kind() != Kind::Button && c.kind() != Kind::Static) continue;
    const std::string text = OneLine(ShownText(c));
    if (text.find_first_not_of(' ') == std::string::npos) continue;
    if (c.kind() == Kind::Button) {
      if (DisplayWidth(text) + 2 > cells.w) return false;
    } else if (cells.h == 1 || IsLineStatic(c)) {
      if (DisplayWidth(text) > cells.w) return false;
    } else if (static_cast<int>(WrapText(ShownText(c), cells.w).size()) > cells.h) {
      return false;
    }
  }
  return true;
}


bool DialogFits(Dialog& dlg, const DialogView& view, ScreenSize size) {
  if (size.cols <= 0 || size.rows <= kHintRows) return false;
  Canvas canvas(size.cols, size.rows);
  DialogView trial;  // the same focus and scrolling, its own layout
  trial.focus = view.focus;
  trial.edit_top = view.edit_top;
  trial.edit_left = view.edit_left;
  DrawDialog(canvas, dlg, trial, true);
  return canvas.overdraws().empty() && LayoutReads(dlg, trial.layout, size.cols, size.rows);
}

ScreenSize SmallestFit(Dialog& dlg, const DialogView& view, ScreenSize now) {
  constexpr ScreenSize kLargest{400, 200};
  // The least value in [1, hi] for which fits holds, assuming larger ones fit too.
  auto least = [](int hi, const std::function<bool(int)>& fits) {
    if (!fits(hi)) return 0;
    int lo = 1;
    while (lo < hi) {
      const int mid = lo + (hi - lo) / 2;
      if (fits(mid)) {
        hi = mid;
      } else {
        lo = mid + 1;
      }
    }
    return hi;
  };
  // A narrow window wraps its texts over more rows: of the sizes that fit, the one
  // nearest the screen's own width, then as narrow as those rows allow.
  const int narrowest = least(kLargest.cols, [&](int c) { return DialogFits(dlg, view, {c, kLargest.rows}); });
  if (narrowest == 0) return {};
  const int width = std::clamp(now.cols, narrowest, kLargest.cols);
  ScreenSize need;
  need.rows = least(kLargest.rows, [&](int r) { return DialogFits(dlg, view, {width, r}); });
  if (need.rows == 0) return {};
  need.cols = least(width, [&](int c) { return DialogFits(dlg, view, {c, need.rows}); });
  // Rows and columns trade a little: grow both until the pair fits.
  while (!DialogFits(dlg, view, need)) {
    if (need.cols >= kLargest.cols && need.rows >= kLargest.rows) return {};
    need.cols = std::min(kLargest.cols, need.cols + 1);
    need.rows = std::min(kLargest.rows, need.rows + 1);
  }
  return need;
}

std::string TooSmallText(ScreenSize need, ScreenSize now, int width) {
  const std::string size = Concat({std::to_string(need.cols), " x ", std::to_string(need.rows)});
  const std::string texts[] = {
      Concat({"The terminal is too small: it must be at least ", size, " (it is ", std::to_string(now.cols),
              " x ", std::to_string(now.rows), ")."}),
      Concat({"The terminal is too small: at least ", size, "."}),
      Concat({"Too small: at least ", size}),
      Concat({"Need ", size}),
  };
  for (const auto& text : texts) {
    if (DisplayWidth(text) <= width) return text;
  }
  return Ellipsize(texts[std::size(texts) - 1], width);
}

}  // namespace ui::terminal
