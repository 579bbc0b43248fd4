#include "ui/TextFit.h"

#include <algorithm>

namespace ui {

FittedLayout FitTextBoxes(const std::vector<TextBox>& boxes, int width, int height, int margin) {
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
  return out;
}

}  // namespace ui
