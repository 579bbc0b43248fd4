// Where a control whose text does not fit its template rectangle goes instead: wider
// (and taller) about its alignment, with the dialog grown around it when it must. Any
// unit will do (pixels for native dialogs, cells for a terminal) as long as all
// numbers share it; measuring the texts is the back end's part.
#pragma once

#include <vector>

#include "ui/Types.h"

namespace ui {

enum class TextAnchor { kLeft, kCentre, kRight };

struct TextBox {
  Rect rect;                               // as the template places it
  TextAnchor anchor = TextAnchor::kLeft;   // which edge (or the centre) stays put
  bool vcentre = false;                    // grows up and down alike
  int need_w = 0;                          // what the text needs; no more than rect is fine
  int need_h = 0;
};

struct FittedLayout {
  std::vector<Rect> rects;  // one per box, shift included
  int shift_x = 0;          // moves every control of the dialog right / down, so a box
  int shift_y = 0;          // grown past the left or top edge keeps its place among them
  int width = 0;            // the dialog's client size, never less than given
  int height = 0;
};

// margin: the most clearance a grown box keeps to the dialog's edges; a box the
// template put closer keeps that smaller clearance.
FittedLayout FitTextBoxes(const std::vector<TextBox>& boxes, int width, int height, int margin);

}  // namespace ui
