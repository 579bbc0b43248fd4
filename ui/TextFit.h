// The one rule for a text in a box too small for it, whatever measures the text (cells
// of a terminal, pixels of a font): a text that fits is shown whole; one that does not
// is cut at a character boundary and ends in an ellipsis, so the reader sees it was cut.
#pragma once

#include <functional>
#include <string>
#include <string_view>

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

}  // namespace ui
