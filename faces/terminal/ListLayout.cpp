// Inside a control's cells: a list's columns and lines, an edit's text area, scrolling.
#include "faces/terminal/Layout.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "faces/terminal/Text.h"
#include "resources/ResourceIds.h"

namespace ui::terminal {

ListGeometry ListLayout(const Cells& cells) {
  ListGeometry g;
  g.framed = cells.h >= 4 && cells.w >= 6;
  g.inner = g.framed ? Cells{cells.x + 1, cells.y + 1, cells.w - 2, cells.h - 2} : cells;
  g.header_y = g.inner.y;
  g.body_y = g.inner.y + 1;
  g.body_rows = std::max(0, g.inner.h - 1);
  return g;
}

int ListPrefixWidth(const ListCtrl& list) {
  int prefix = 0;
  if ((list.GetExtendedStyle() & LVS_EX_CHECKBOXES) != 0) prefix += 4;
  if (!list.image_list().empty()) prefix += 2;
  return prefix;
}

std::vector<int> ColumnNeeds(const ListCtrl& list) {
  const auto& columns = list.columns();
  std::vector<int> needs;
  for (std::size_t c = 0; c < std::max<std::size_t>(1, columns.size()); ++c) {
    int need = 0;
    if (c < columns.size()) {
      std::string title = Showable(columns[c].title);
      while (!title.empty() && title.back() == ' ') title.pop_back();  // a blank title shows nothing
      need = DisplayWidth(title);
    }
    const int subitem = c < columns.size() ? columns[c].subitem : 0;
    for (int item = 0; item < list.GetItemCount(); ++item) {
      need = std::max(need, DisplayWidth(Showable(list.GetItemText(item, subitem))));
    }
    if (c == 0) need += ListPrefixWidth(list);
    needs.push_back(std::max(1, need));
  }
  if (list.id() == plovix::ids::main_window::kDriveList && !columns.empty()) {
    needs.back() = std::max(needs.back(), CeilDiv(columns.back().width, kPixelsPerCell));
  }
  return needs;
}

std::vector<int> ColumnWidths(const ListCtrl& list, int inner_width, double sx) {
  const auto& columns = list.columns();
  std::vector<int> need = ColumnNeeds(list);
  const std::size_t n = need.size();
  const int room = std::max(static_cast<int>(n), inner_width - static_cast<int>(n - 1));  // less separators
  std::vector<int> plan(n);
  for (std::size_t c = 0; c < n; ++c) {
    const int px = c < columns.size() ? columns[c].width : 0;
    plan[c] = px > 0 ? static_cast<int>(std::lround(px * sx / kPixelsPerCell)) : need[c];
  }
  auto sum = [](const std::vector<int>& v) {
    int s = 0;
    for (int x : v) s += x;
    return s;
  };
  std::vector<int> widths(n);
  for (std::size_t c = 0; c < n; ++c) widths[c] = std::max(need[c], plan[c]);
  if (sum(widths) > room) {
    widths = need;
    if (sum(widths) <= room) {
      // Room beyond the needs goes where the template asked for more.
      int spare = room - sum(widths);
      int wished = 0;
      for (std::size_t c = 0; c < n; ++c) wished += std::max(0, plan[c] - need[c]);
      for (std::size_t c = 0; c < n && wished > 0; ++c) {
        widths[c] += spare * std::max(0, plan[c] - need[c]) / wished;
      }
    } else {
      // The widest columns give up cells first, so short ones stay whole: first only the
      // long ones (a model name beside a status), down to a few cells, then all.
      constexpr int kLongFloor = 8;
      const std::size_t status = list.id() == plovix::ids::main_window::kDriveList ? n - 1 : n;
      for (const int pass : {0, 1, 2}) {
        const bool only_long = pass == 0;
        while (sum(widths) > room) {
          int widest = -1;
          for (std::size_t c = 0; c < n; ++c) {
            if (c == status && pass < 2 && n > 1) continue;
            if (only_long && (need[c] <= room / 3 || widths[c] <= kLongFloor)) continue;
            if (widest < 0 || widths[c] > widths[static_cast<std::size_t>(widest)]) widest = static_cast<int>(c);
          }
          if (widest < 0 || widths[static_cast<std::size_t>(widest)] <= 1) break;
          --widths[static_cast<std::size_t>(widest)];
        }
      }
    }
  }
  // The last column takes whatever is left.
  const int left = room - sum(widths);
  if (left > 0) widths.back() += left;
  return widths;
}

Cells EditTextArea(const Cells& cells, bool multiline) {
  if (multiline && cells.h >= 3 && cells.w >= 4) {
    return Cells{cells.x + 1, cells.y + 1, cells.w - 2, cells.h - 2};
  }
  return cells;
}

int ScrollToShow(int top, int focus, int rows, int count) {
  if (rows <= 0 || count <= 0) return 0;
  if (focus < top) top = focus;
  if (focus >= top + rows) top = focus - rows + 1;
  top = std::min(top, std::max(0, count - rows));
  return std::max(0, top);
}

}  // namespace ui::terminal
