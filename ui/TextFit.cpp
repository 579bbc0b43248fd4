#include "ui/TextFit.h"

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

}  // namespace ui
