#include "platform/terminal/Layout.h"

#include <algorithm>
#include <cmath>

namespace ui::terminal {

namespace {

int CeilDiv(double a, double b) { return static_cast<int>(std::ceil(a / b - 1e-9)); }

}  // namespace

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

int RowOf(int y_units, const Scale& scale) {
  return static_cast<int>(std::lround(y_units * scale.sy / kUnitsPerRow));
}

Cells ControlCells(const Rect& units, const Scale& scale, int client_w, int client_h) {
  Cells c;
  c.x = ColumnOf(units.x, scale);
  c.y = RowOf(units.y, scale);
  c.w = std::max(1, ColumnOf(units.x + units.w, scale) - c.x);
  c.h = std::max(1, RowOf(units.y + units.h, scale) - c.y);
  // Keep at least one cell inside the client area.
  c.x = std::clamp(c.x, 0, std::max(0, client_w - 1));
  c.y = std::clamp(c.y, 0, std::max(0, client_h - 1));
  c.w = std::min(c.w, client_w - c.x);
  c.h = std::min(c.h, client_h - c.y);
  c.w = std::max(c.w, 1);
  c.h = std::max(c.h, 1);
  return c;
}

Placement PlaceDialog(int w_units, int h_units, int cols, int rows) {
  Placement p;
  p.scale = FitScale(w_units, h_units, cols, rows);
  p.client.w = std::max(1, CeilDiv(w_units * p.scale.sx, kUnitsPerColumn));
  p.client.h = std::max(1, CeilDiv(h_units * p.scale.sy, kUnitsPerRow));
  p.frame.w = p.client.w + 2;
  p.frame.h = p.client.h + 2;
  p.frame.x = std::max(0, (cols - p.frame.w) / 2);
  p.frame.y = std::max(0, (rows - p.frame.h) / 2);
  p.client.x = p.frame.x + 1;
  p.client.y = p.frame.y + 1;
  return p;
}

ListGeometry ListLayout(const Cells& cells) {
  ListGeometry g;
  g.framed = cells.h >= 4 && cells.w >= 6;
  g.inner = g.framed ? Cells{cells.x + 1, cells.y + 1, cells.w - 2, cells.h - 2} : cells;
  g.header_y = g.inner.y;
  g.body_y = g.inner.y + 1;
  g.body_rows = std::max(0, g.inner.h - 1);
  return g;
}

std::vector<int> ColumnWidths(const std::vector<ListColumn>& columns, double sx, int min_first) {
  std::vector<int> widths;
  for (const auto& column : columns) {
    int cells = column.width > 0 ? static_cast<int>(std::lround(column.width * sx / 7.0))
                                 : static_cast<int>(column.title.size()) + 2;
    widths.push_back(std::max(1, cells));
  }
  if (!widths.empty()) widths[0] = std::max(widths[0], min_first);
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
