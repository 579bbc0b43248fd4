#include "faces/terminal/Layout.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "faces/terminal/Text.h"

namespace ui::terminal {

namespace {

// A static up to this tall holds one line of text, in fonts up to 15 points.
constexpr int kLineStaticUnits = 20;

// Dialog units down to rows when space is short: the blank bands between controls keep
// the share `gaps` of their height, the bands that controls cover the share `sizes`.
// Both 1 is the template's own geometry.
struct RowMap {
  std::vector<std::pair<int, int>> covered;  // sorted, disjoint [top, bottom) in dialog units
  double gaps = 1.0;
  double sizes = 1.0;

  int RowAt(int y) const {
    double units = 0;
    int at = 0;
    for (const auto& [top, bottom] : covered) {
      if (top >= y) break;
      units += (top - at) * gaps + (std::min(bottom, y) - top) * sizes;
      at = std::min(bottom, y);
    }
    units += std::max(0, y - at) * gaps;
    return static_cast<int>(std::lround(units / kUnitsPerRow));
  }
};

bool Overlap(int a0, int a1, int b0, int b1) { return a0 < b1 && b0 < a1; }

// One drawn control while it is being placed. Cells are relative to the client.
struct Box {
  int index = 0;
  const Control* control = nullptr;
  bool line = false;     // one row, shared with the line controls it overlaps
  int container = -1;    // the block static it sits in (index into boxes)
  Rect du;
  int x0 = 0;            // template cells across
  int w0 = 1;
  int req = 1;           // columns it must have (a label's whole text)
  int des = 1;           // columns it would like, taken only from free cells
  int min_w = 1;         // the fewest columns it can be shrunk to
  int shrink_rank = 0;   // who gives up columns first: lower first
  int min_rows = 1;
  int group = -1;
  // Result.
  int x = 0;
  int w = 1;
  int row = 0;
  int rows = 1;
};

enum class Anchor { Left, Centre, Right };

Anchor AnchorOf(const Box& b) {
  const Kind kind = b.control->kind();
  if (kind == Kind::Button || kind == Kind::ListView) return Anchor::Centre;
  if (kind == Kind::Static) {
    const std::uint32_t style = b.control->style();
    if ((style & style::kCenter) != 0) return Anchor::Centre;
    if ((style & style::kRight) != 0) return Anchor::Right;
  }
  return Anchor::Left;
}

// Horizontal wishes of each control, from the template and from its text.
void Measure(Box& b, double sx, int client_w) {
  const Control& c = *b.control;
  const Scale scale{sx, 1.0};
  b.x0 = std::clamp(ColumnOf(b.du.x, scale), 0, std::max(0, client_w - 1));
  b.w0 = std::clamp(ColumnOf(b.du.x + b.du.w, scale) - b.x0, 1, client_w - b.x0);
  b.req = b.w0;
  b.des = b.w0;
  b.min_w = std::min(b.w0, 3);
  switch (c.kind()) {
    case Kind::Button: {
      const int label = DisplayWidth(ShownText(c));
      b.line = true;
      b.req = label + 2;  // "[label]": shrinking stops here before it cuts the label
      b.des = std::max(b.w0, label + 4);  // "[ label ]", which neighbours make room for
      b.min_w = std::min(b.req, 3);
      b.shrink_rank = 2;
      break;
    }
    case Kind::Progress:
      b.line = true;
      b.min_w = std::min(b.w0, 6);
      break;
    case Kind::Edit:
      if ((c.style() & style::kMultiline) == 0) {
        b.line = true;
        if ((c.style() & style::kReadOnly) != 0) {
          std::string text = Showable(c.text());
          std::replace(text.begin(), text.end(), '\n', ' ');
          text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
          while (!text.empty() && text.back() == ' ') text.pop_back();
          b.des = std::max(b.w0, DisplayWidth(text));
        }
      } else {
        b.min_rows = 3;
      }
      break;
    case Kind::ListView: {
      const auto& list = static_cast<const ListCtrl&>(c);
      const auto needs = ColumnNeeds(list);
      int need = 2;  // frame
      for (std::size_t i = 0; i < needs.size(); ++i) need += needs[i] + (i > 0 ? 1 : 0);
      b.des = std::max(b.w0, need);
      b.min_w = std::min(b.w0, 8);
      b.min_rows = 4;
      break;
    }
    default: {  // statics
      b.line = IsLineStatic(c);
      if (b.line) {
        b.req = std::max(b.w0, DisplayWidth(ShownText(c)));
        b.des = b.req;
        b.min_w = std::min(b.req, 3);
        b.shrink_rank = 3;  // labels keep their text longest
      } else {
        b.min_rows = std::max<int>(1, static_cast<int>(WrapText(ShownText(c), b.w0).size()));
        // A paragraph wraps in its own width; a title band is its box.
        b.shrink_rank = 1;
      }
      break;
    }
  }
}

// Block statics hold the line controls drawn inside them (the version beside the banner).
bool Holds(const Box& outer, const Box& inner) {
  constexpr int kSlack = 1;
  return !outer.line && outer.control->kind() == Kind::Static && inner.line &&
         inner.du.x >= outer.du.x - kSlack && inner.du.y >= outer.du.y - kSlack &&
         inner.du.x + inner.du.w <= outer.du.x + outer.du.w + kSlack &&
         inner.du.y + inner.du.h <= outer.du.y + outer.du.h + kSlack;
}

bool RowsShared(const Rect& a, const Rect& b) {
  const int overlap = std::min(a.y + a.h, b.y + b.h) - std::max(a.y, b.y);
  return overlap > 0 && overlap * 2 >= std::min(a.h, b.h);
}

// The buttons' row holds buttons. A text the template sets on it (where a failed scan
// names its failing run) reads as part of the result: it keeps a row of its own, and
// the buttons, with the fixed texts that lead to them ("Please push ..."), move below it.
void SetOffButtonRowTexts(std::vector<Box>& boxes) {
  for (Box& t : boxes) {
    if (!t.line || t.container >= 0 || t.control->kind() != Kind::Static) continue;
    int top = t.du.y;
    bool on_buttons = false;
    for (const Box& b : boxes) {
      if (b.control->kind() != Kind::Button || b.container >= 0 || !RowsShared(t.du, b.du)) continue;
      on_buttons = true;
      top = std::min(top, b.du.y);
    }
    if (!on_buttons) continue;
    for (bool moved = true; moved;) {
      moved = false;
      for (const Box& s : boxes) {
        if (&s == &t || !s.line || s.container >= 0 || s.control->kind() != Kind::Static ||
            s.control->id() != IDC_STATIC || s.du.y >= top || s.du.y + s.du.h < top - kUnitsPerRow ||
            !Overlap(s.du.x, s.du.x + s.du.w, t.du.x, t.du.x + t.du.w)) {
          continue;
        }
        top = s.du.y;
        moved = true;
      }
    }
    t.du.h = std::min(t.du.h, kUnitsPerRow);  // it shows one line
    const int shift = t.du.y + t.du.h - top;
    for (Box& o : boxes) {
      if (&o != &t && o.du.y >= top) o.du.y += shift;
    }
  }
}

struct Group {
  std::vector<int> members;  // indices into boxes
  int top = 0;               // dialog units
  int first = 0;             // lowest control index, for template order
  int container = -1;
};

// Line controls whose heights overlap share one row: the label with its value, a row
// of buttons. Each group takes the controls that overlap its topmost member, so rows
// one above the other never chain into one.
std::vector<Group> MakeGroups(std::vector<Box>& boxes) {
  std::vector<int> order(boxes.size());
  for (std::size_t i = 0; i < boxes.size(); ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return boxes[static_cast<std::size_t>(a)].du.y < boxes[static_cast<std::size_t>(b)].du.y;
  });
  std::vector<Group> groups;
  for (int i : order) {
    Box& anchor = boxes[static_cast<std::size_t>(i)];
    if (anchor.group >= 0) continue;
    Group g;
    g.top = anchor.du.y;
    g.first = anchor.index;
    g.container = anchor.container;
    anchor.group = static_cast<int>(groups.size());
    g.members.push_back(i);
    if (anchor.line) {
      for (int j : order) {
        Box& other = boxes[static_cast<std::size_t>(j)];
        if (other.group >= 0 || !other.line || other.container != anchor.container) continue;
        if (!RowsShared(anchor.du, other.du)) continue;
        other.group = anchor.group;
        g.members.push_back(j);
        g.first = std::min(g.first, other.index);
      }
    }
    groups.push_back(std::move(g));
  }
  return groups;
}

bool Across(const Box& a, const Box& b) {
  return Overlap(a.du.x, a.du.x + a.du.w, b.du.x, b.du.x + b.du.w);
}

// Rows of every group when gaps and tall controls keep the share sy of their height.
// A group never starts above the bottom of an earlier control it would run into.
// Returns the rows used.
int PlaceRows(std::vector<Box>& boxes, std::vector<Group>& groups, const RowMap& map) {
  std::vector<int> order(groups.size());
  for (std::size_t i = 0; i < groups.size(); ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    const Group& ga = groups[static_cast<std::size_t>(a)];
    const Group& gb = groups[static_cast<std::size_t>(b)];
    return ga.top != gb.top ? ga.top < gb.top : ga.first < gb.first;
  });
  std::vector<int> placed;
  int bottom = 0;
  for (int gi : order) {
    Group& g = groups[static_cast<std::size_t>(gi)];
    if (g.container >= 0) continue;  // after their container
    int row = map.RowAt(g.top);
    for (int pi : placed) {
      const Group& p = groups[static_cast<std::size_t>(pi)];
      bool meets = false;
      for (int m : g.members) {
        for (int q : p.members) meets = meets || Across(boxes[static_cast<std::size_t>(m)], boxes[static_cast<std::size_t>(q)]);
      }
      if (!meets) continue;
      for (int q : p.members) {
        const Box& pb = boxes[static_cast<std::size_t>(q)];
        row = std::max(row, pb.row + pb.rows);
      }
    }
    for (int m : g.members) {
      Box& b = boxes[static_cast<std::size_t>(m)];
      b.row = row;
      if (b.line) {
        b.rows = 1;
      } else {
        const int natural = map.RowAt(b.du.y + b.du.h) - map.RowAt(b.du.y);
        b.rows = std::max(b.min_rows, natural);
      }
      bottom = std::max(bottom, b.row + b.rows);
    }
    placed.push_back(gi);
  }
  // Controls inside a block stay inside it, as near their own place as its rows allow.
  for (Group& g : groups) {
    if (g.container < 0) continue;
    const Box& c = boxes[static_cast<std::size_t>(g.container)];
    const int row = std::clamp(map.RowAt(g.top), c.row, c.row + c.rows - 1);
    for (int m : g.members) {
      boxes[static_cast<std::size_t>(m)].row = row;
      boxes[static_cast<std::size_t>(m)].rows = 1;
    }
  }
  return bottom;
}

bool SameRows(const Box& a, const Box& b) { return Overlap(a.row, a.row + a.rows, b.row, b.row + b.rows); }

// Two controls that must not share a cell: on common rows, neither inside the other.
bool Conflict(const std::vector<Box>& boxes, int a, int b) {
  const Box& ba = boxes[static_cast<std::size_t>(a)];
  const Box& bb = boxes[static_cast<std::size_t>(b)];
  return a != b && SameRows(ba, bb) && ba.container != b && bb.container != a;
}

void StartColumns(Box& b, int client_w) {
  const bool button = b.control->kind() == Kind::Button;
  b.w = std::min(std::max(b.w0, button ? b.des : b.req), client_w);
  switch (AnchorOf(b)) {
    case Anchor::Left: b.x = b.x0; break;
    case Anchor::Centre: b.x = b.x0 + (b.w0 - b.w) / 2; break;
    case Anchor::Right: b.x = b.x0 + b.w0 - b.w; break;
  }
  b.x = std::clamp(b.x, 0, std::max(0, client_w - b.w));
}

// Columns for one set of controls that meet on some row: widths shrink (in rank order,
// widest first) until the set fits side by side with a blank between neighbours; then
// each is pushed right of its left neighbours and pulled left of its right ones.
void PlaceColumns(std::vector<Box>& boxes, const std::vector<int>& set, int client_w) {
  std::vector<int> order = set;
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return boxes[static_cast<std::size_t>(a)].x < boxes[static_cast<std::size_t>(b)].x;
  });
  auto total = [&] {
    int sum = -1;
    for (int i : order) sum += boxes[static_cast<std::size_t>(i)].w + 1;
    return sum;
  };
  // First down to what each needs (a button or label its whole text), rank by rank;
  // only then into the texts themselves.
  for (int phase = 0; phase <= 4 && total() > client_w; ++phase) {
    const int rank = std::min(phase, 3);
    while (total() > client_w) {
      Box* widest = nullptr;
      for (int i : order) {
        Box& b = boxes[static_cast<std::size_t>(i)];
        const int floor = phase < 4 && b.shrink_rank >= 2 ? std::max(b.min_w, b.req) : b.min_w;
        if (b.shrink_rank > rank || b.w <= floor) continue;
        if (widest == nullptr || b.w > widest->w) widest = &b;
      }
      if (widest == nullptr) break;
      --widest->w;
    }
  }
  for (std::size_t k = 0; k < order.size(); ++k) {
    Box& b = boxes[static_cast<std::size_t>(order[k])];
    for (std::size_t j = 0; j < k; ++j) {
      if (!Conflict(boxes, order[j], order[k])) continue;
      const Box& a = boxes[static_cast<std::size_t>(order[j])];
      b.x = std::max(b.x, a.x + a.w + 1);
    }
  }
  // A control the template kept off the window's edge stays a blank away from the frame
  // when there is room for that.
  const int edge = total() < client_w ? client_w - 1 : client_w;
  for (std::size_t k = order.size(); k-- > 0;) {
    Box& b = boxes[static_cast<std::size_t>(order[k])];
    int limit = b.x0 + b.w0 < client_w ? edge : client_w;
    for (std::size_t j = k + 1; j < order.size(); ++j) {
      if (!Conflict(boxes, order[j], order[k])) continue;
      limit = std::min(limit, boxes[static_cast<std::size_t>(order[j])].x - 1);
    }
    if (b.x + b.w > limit) b.x = std::max(0, limit - b.w);
  }
}

// Free columns left and right of a control on all its rows.
std::pair<int, int> FreeAround(const std::vector<Box>& boxes, int i, int client_w) {
  const Box& b = boxes[static_cast<std::size_t>(i)];
  int left = 0;
  int right = client_w;
  for (std::size_t j = 0; j < boxes.size(); ++j) {
    if (!Conflict(boxes, static_cast<int>(j), i)) continue;
    const Box& o = boxes[j];
    if (o.x + o.w <= b.x) left = std::max(left, o.x + o.w + 1);
    if (o.x >= b.x + b.w) right = std::min(right, o.x - 1);
  }
  if (b.container >= 0) {
    const Box& c = boxes[static_cast<std::size_t>(b.container)];
    left = std::max(left, c.x);
    right = std::min(right, c.x + c.w);
  }
  return {std::max(0, b.x - left), std::max(0, right - (b.x + b.w))};
}

// A button grows to its full label, an edit or a list to its text, into free cells only.
// In the first round a control takes at most half of a gap that its neighbour would
// grow into too, so a row of buttons shares the room rather than the first taking all.
void Grow(std::vector<Box>& boxes, int client_w) {
  std::vector<int> order(boxes.size());
  for (std::size_t i = 0; i < boxes.size(); ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return boxes[static_cast<std::size_t>(a)].x < boxes[static_cast<std::size_t>(b)].x;
  });
  for (int round = 0; round < 2; ++round) {
    for (int i : order) {
      Box& b = boxes[static_cast<std::size_t>(i)];
      const int want = b.des - b.w;
      if (want <= 0) continue;
      auto [free_left, free_right] = FreeAround(boxes, i, client_w);
      if (round == 0) {
        for (std::size_t j = 0; j < boxes.size(); ++j) {
          const Box& o = boxes[j];
          if (!Conflict(boxes, static_cast<int>(j), i) || o.des <= o.w) continue;
          if (o.x + o.w <= b.x) free_left = std::min(free_left, (b.x - (o.x + o.w) - 1) / 2);
          if (o.x >= b.x + b.w) free_right = std::min(free_right, (o.x - (b.x + b.w) - 1) / 2);
        }
        free_left = std::max(0, free_left);
        free_right = std::max(0, free_right);
      }
      int left = 0;
      int right = 0;
      switch (AnchorOf(b)) {
        case Anchor::Left:
          right = std::min(want, free_right);
          left = std::min(want - right, free_left);
          break;
        case Anchor::Right:
          left = std::min(want, free_left);
          right = std::min(want - left, free_right);
          break;
        case Anchor::Centre:
          left = std::min(want / 2, free_left);
          right = std::min(want - left, free_right);
          left = std::min(want - right, free_left);
          break;
      }
      b.x -= left;
      b.w += left + right;
    }
  }
}

// Controls the template stacks in one column (the values under each other) start in
// one cell column, where the cells beside them allow it.
void AlignColumns(std::vector<Box>& boxes, int client_w) {
  constexpr int kSlack = 2;
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    int target = boxes[i].x;
    std::vector<std::size_t> column{i};
    for (std::size_t j = 0; j < boxes.size(); ++j) {
      if (j == i || boxes[j].control->kind() != boxes[i].control->kind() || SameRows(boxes[i], boxes[j])) continue;
      if (std::abs(boxes[j].du.x - boxes[i].du.x) > kSlack || AnchorOf(boxes[j]) != Anchor::Left) continue;
      column.push_back(j);
      target = std::max(target, boxes[j].x);
    }
    if (AnchorOf(boxes[i]) != Anchor::Left) continue;
    for (std::size_t k : column) {
      Box& b = boxes[k];
      if (b.x >= target) continue;
      const int free_right = FreeAround(boxes, static_cast<int>(k), client_w).second;
      if (free_right >= target - b.x) b.x = target;
    }
  }
}

}  // namespace

std::string ShownText(const Control& control) {
  return Showable((control.style() & style::kNoPrefix) != 0 || control.kind() == Kind::Edit
                      ? control.text()
                      : StripMnemonic(control.text()));
}

bool IsLineStatic(const Control& control) {
  return control.kind() == Kind::Static && control.rect().h <= kLineStaticUnits &&
         control.text().find('\n') == std::string::npos;
}

DialogLayout LayoutDialog(const Dialog& dlg, int cols, int rows, const std::vector<int>* line_widths) {
  DialogLayout layout;
  const DialogTemplate* t = dlg.dialog_template();
  const auto& controls = dlg.controls();
  layout.cells.assign(controls.size(), Cells{});
  if (t == nullptr) return layout;

  const double sx = FitScale(t->width, t->height, cols, rows).sx;
  const int client_w = std::max(1, CeilDiv(t->width * sx, kUnitsPerColumn));
  const int natural_rows = std::max(1, CeilDiv(t->height, kUnitsPerRow));
  const int room_rows = std::max(1, rows - 2);

  std::vector<Box> boxes;
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const Control& c = *controls[i];
    if (c.kind() == Kind::Icon || c.kind() == Kind::Bitmap) continue;
    Box b;
    b.index = static_cast<int>(i);
    b.control = &c;
    b.du = c.rect();
    b.du.w = std::max(1, b.du.w);
    b.du.h = std::max(1, b.du.h);
    Measure(b, sx, client_w);
    if (line_widths != nullptr && i < line_widths->size() && (*line_widths)[i] > 0) {
      b.des = std::max(b.w0, (*line_widths)[i] + 2);  // and its frame
    }
    boxes.push_back(b);
  }
  for (Box& inner : boxes) {
    for (std::size_t k = 0; k < boxes.size(); ++k) {
      if (&boxes[k] != &inner && Holds(boxes[k], inner)) {
        inner.container = static_cast<int>(k);
        break;
      }
    }
  }
  SetOffButtonRowTexts(boxes);
  std::vector<Group> groups = MakeGroups(boxes);

  // The template's own rows when they fit; else blank bands shrink first, as little as
  // will do, and only then tall controls, down to everything packed tight.
  RowMap map;
  for (const Box& b : boxes) {
    if (b.container >= 0) continue;
    // A line control takes one row whatever its box: it covers one line of text.
    map.covered.emplace_back(b.du.y, b.du.y + (b.line ? std::min(b.du.h, kUnitsPerRow) : b.du.h));
  }
  std::sort(map.covered.begin(), map.covered.end());
  std::vector<std::pair<int, int>> merged;
  for (const auto& span : map.covered) {
    if (!merged.empty() && span.first <= merged.back().second) {
      merged.back().second = std::max(merged.back().second, span.second);
    } else {
      merged.push_back(span);
    }
  }
  map.covered = std::move(merged);
  auto fits = [&](const RowMap& m) {
    return std::max(PlaceRows(boxes, groups, m), m.RowAt(t->height)) <= room_rows;
  };
  if (!fits(map)) {
    double* share = &map.gaps;
    map.gaps = 0.0;
    if (!fits(map)) share = &map.sizes;
    double lo = 0.0;
    double hi = 1.0;
    for (int step = 0; step < 20; ++step) {
      *share = (lo + hi) / 2;
      if (fits(map)) {
        lo = *share;
      } else {
        hi = *share;
      }
    }
    *share = lo;
  }
  const int used = PlaceRows(boxes, groups, map);
  const bool packed = map.gaps < 1.0 || map.sizes < 1.0;
  const double sy = map.gaps * map.sizes;
  // The template's height in whole rows, but never into the hint row: a height just
  // over a whole row rounds down to fit before anything is packed.
  const int client_h = packed ? std::max(used, room_rows) : std::max({used, std::min(natural_rows, room_rows), 1});

  // Across: every set of controls that meet on a row, then growth into free cells.
  for (Box& b : boxes) StartColumns(b, client_w);
  std::vector<int> set_of(boxes.size(), -1);
  std::vector<std::vector<int>> sets;
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    if (set_of[i] >= 0) continue;
    set_of[i] = static_cast<int>(sets.size());
    std::vector<int> set{static_cast<int>(i)};
    for (std::size_t k = 0; k < set.size(); ++k) {
      for (std::size_t j = 0; j < boxes.size(); ++j) {
        if (set_of[j] < 0 && Conflict(boxes, set[k], static_cast<int>(j))) {
          set_of[j] = set_of[i];
          set.push_back(static_cast<int>(j));
        }
      }
    }
    sets.push_back(std::move(set));
  }
  for (const auto& set : sets) PlaceColumns(boxes, set, client_w);
  AlignColumns(boxes, client_w);
  Grow(boxes, client_w);
  for (Box& b : boxes) {
    if (b.container < 0) continue;
    const Box& c = boxes[static_cast<std::size_t>(b.container)];
    b.w = std::min(b.w, c.w);
    b.x = std::clamp(b.x, c.x, c.x + c.w - b.w);
  }

  // The caption widens the window about its middle; the template's client is centred in
  // the wider one.
  const bool sysmenu = (t->style & dstyle::kSysMenu) != 0;
  const int caption_client = CaptionFrameWidth(Showable(dlg.caption()), sysmenu) - 2;
  const int wide_w = std::max(client_w, std::min(caption_client, cols - 2));
  const int shift = (wide_w - client_w) / 2;

  Placement& p = layout.placement;
  p.scale = Scale{sx, sy};
  p.client.w = wide_w;
  p.client.h = client_h;
  p.frame.w = wide_w + 2;
  p.frame.h = client_h + 2;
  p.frame.x = std::max(0, (cols - p.frame.w) / 2);
  p.frame.y = std::max(0, (rows - p.frame.h) / 2);
  p.client.x = p.frame.x + 1;
  p.client.y = p.frame.y + 1;
  for (const Box& b : boxes) {
    layout.cells[static_cast<std::size_t>(b.index)] =
        Cells{p.client.x + shift + b.x, p.client.y + b.row, std::max(1, b.w), std::max(1, b.rows)};
  }
  return layout;
}

}  // namespace ui::terminal
