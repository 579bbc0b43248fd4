#include "ui/TextFit.h"

#include <algorithm>
#include <vector>

namespace ui {

FittedText FitText(std::string_view text, int room,
                   const std::function<int(std::string_view)>& measure,
                   std::string_view ellipsis) {
  if (measure(text) <= room) return {std::string(text), false};
  // Character boundaries, so a cut never splits a UTF-8 sequence.
  std::vector<std::size_t> ends;
  for (std::size_t i = 1; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ends.push_back(i);
  }
  // The measure grows with the prefix: search for the longest one that still fits.
  std::size_t lo = 0;
  std::size_t hi = ends.size();
  while (lo < hi) {
    const std::size_t mid = (lo + hi + 1) / 2;
    std::string candidate(text.substr(0, ends[mid - 1]));
    candidate += ellipsis;
    if (measure(candidate) <= room) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  std::string out = lo == 0 ? std::string() : std::string(text.substr(0, ends[lo - 1]));
  // "Model…" reads better than "Model …".
  while (!out.empty() && out.back() == ' ') out.pop_back();
  out += ellipsis;
  if (measure(out) > room) return {std::string(), true};
  return {out, true};
}

FittedLayout FitTextBoxes(const std::vector<TextBox>& boxes, int width, int height, int margin,
                          int min_width) {
  FittedLayout out;
  out.rects.reserve(boxes.size());
  // How far the grown boxes reach past each edge, clearance included.
  int over_left = 0;
  int over_top = 0;
  int reach_right = width;
  int reach_bottom = height;
  for (const TextBox& b : boxes) {
    Rect r = b.rect;
    if (b.need_w > r.w) {
      const int grow = b.need_w - r.w;
      switch (b.anchor) {
        case TextAnchor::kLeft:
          break;
        case TextAnchor::kCentre:
          r.x -= grow / 2;
          break;
        case TextAnchor::kRight:
          r.x -= grow;
          break;
      }
      r.w = b.need_w;
      const int left_gap = std::clamp(b.rect.x, 0, margin);
      const int right_gap = std::clamp(width - (b.rect.x + b.rect.w), 0, margin);
      over_left = std::max(over_left, left_gap - r.x);
      reach_right = std::max(reach_right, r.x + r.w + right_gap);
    }
    if (b.need_h > r.h) {
      const int grow = b.need_h - r.h;
      if (b.vcentre) r.y -= grow / 2;
      r.h = b.need_h;
      const int top_gap = std::clamp(b.rect.y, 0, margin);
      const int bottom_gap = std::clamp(height - (b.rect.y + b.rect.h), 0, margin);
      over_top = std::max(over_top, top_gap - r.y);
      reach_bottom = std::max(reach_bottom, r.y + r.h + bottom_gap);
    }
    out.rects.push_back(r);
  }
  out.shift_x = over_left;
  out.shift_y = over_top;
  for (Rect& r : out.rects) {
    r.x += out.shift_x;
    r.y += out.shift_y;
  }
  out.width = reach_right + out.shift_x;
  out.height = reach_bottom + out.shift_y;
  if (min_width > out.width) {
    const int extra = min_width - out.width;
    out.shift_x += extra / 2;
    for (Rect& r : out.rects) r.x += extra / 2;
    out.width = min_width;
  }
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    const TextBox& b = boxes[i];
    if (!b.spans) continue;
    // Its own growth lies inside these edges: both clearances are no more than margin.
    const int right_gap = std::max(0, width - (b.rect.x + b.rect.w));
    out.rects[i].x = b.rect.x;
    out.rects[i].w = std::max(out.width - b.rect.x - right_gap, 0);
  }
  return out;
}

int ListWidthNeed(const Rect& placed, int columns, int chrome, int width, int limit_width, int margin) {
  const int want = columns + chrome;
  if (want <= placed.w) return placed.w;
  const int right_gap = std::clamp(width - (placed.x + placed.w), 0, margin);
  const int room = limit_width - right_gap - placed.x;
  return std::max(placed.w, std::min(want, room));
}

}  // namespace ui
