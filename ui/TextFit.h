// The two rules for a text and the box the template gives it, whatever measures the text
// (cells of a terminal, pixels of a font; measuring is the back end's part):
// - FitText: a text that fits is shown whole; one that does not is cut at a character
//   boundary and ends in an ellipsis, so the reader sees it was cut.
// - FitTextBoxes: where a control's text does not fit its template rectangle, the control
//   grows (wider and taller) about its alignment, with the dialog grown around it when it
//   must. All numbers share one unit.
// Report lists follow the same rule for their columns (ListWidthNeed): a list grows to the
// right until every column shows side by side, as far as the screen allows.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/Types.h"

namespace ui {

struct FittedText {
  std::string text;
  bool cut = false;
};

// measure gives the width of a piece of text in the caller's unit and must not shrink
// as the piece grows. The result is the longest prefix (whole UTF-8 characters) that fits
// in room together with ellipsis, or the ellipsis alone, or nothing when even that
// does not fit.
FittedText FitText(std::string_view text, int room,
                   const std::function<int(std::string_view)>& measure,
                   std::string_view ellipsis);

enum class TextAnchor { kLeft, kCentre, kRight };

struct TextBox {
  Rect rect;                               // as the template places it
  TextAnchor anchor = TextAnchor::kLeft;   // which edge (or the centre) stays put
  bool vcentre = false;                    // grows up and down alike
  int need_w = 0;                          // what the text needs; no more than rect is fine
  int need_h = 0;
  // Reaches across the dialog, as a title band does (no more than margin from either
  // side): when the dialog grows wider, for this box or any other, the box keeps its
  // clearance to both sides.
  bool spans = false;
};

struct FittedLayout {
  std::vector<Rect> rects;  // one per box, shift included
  int shift_x = 0;          // moves every control of the dialog right / down, so a box
  int shift_y = 0;          // grown past the left or top edge keeps its place among them
  int width = 0;            // the dialog's client size, never less than given
  int height = 0;
};

// margin: the most clearance a grown box keeps to the dialog's edges; a box the
// template put closer keeps that smaller clearance. min_width: the width the dialog needs
// whatever its boxes need (its caption's); what that adds goes to both sides alike, so
// what the template centres stays centred.
FittedLayout FitTextBoxes(const std::vector<TextBox>& boxes, int width, int height, int margin,
                          int min_width = 0);

// The width a report list placed at `placed` in a dialog `width` wide needs so that its
// columns (their total) show side by side beside a vertical scroll bar; chrome is the
// list's frame and that scroll bar. The list keeps its left edge and the clearance
// FitTextBoxes keeps on the right, and grows no further than lets the dialog stay
// within limit_width (the screen's); beyond that the list scrolls sideways. Never less
// than the placed width.
int ListWidthNeed(const Rect& placed, int columns, int chrome, int width, int limit_width, int margin);

}  // namespace ui
