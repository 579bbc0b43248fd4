#include "ui/Controls.h"

#include <algorithm>
#include <atomic>

#include "ui/Dialog.h"

namespace ui {

namespace {

std::uint64_t NextTextStamp() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

Control::Control(Dialog& owner, int id, Kind kind, std::string text, Rect rect, std::uint32_t style,
                 int image_id)
    : owner_(owner),
      id_(id),
      kind_(kind),
      text_(std::move(text)),
      text_stamp_(NextTextStamp()),
      rect_(rect),
      style_(style),
      image_id_(image_id) {}

void Control::SetText(std::string text) {
  text_ = std::move(text);
  text_stamp_ = NextTextStamp();
  Changed();
}

void Control::SetFont(const Font& font) {
  font_ = font;
  Changed();
}

void Control::Changed() { owner_.ControlChanged(*this); }

void ProgressCtrl::SetRange(int lo, int hi) {
  lo_ = lo;
  hi_ = hi;
  Changed();
}

void ProgressCtrl::SetPos(int pos) {
  pos_ = pos;
  Changed();
}

namespace {

constexpr std::uint32_t kUnchecked = IndexToStateImageMask(1);
constexpr std::uint32_t kChecked = IndexToStateImageMask(2);

}  // namespace

void ListCtrl::SetExtendedStyle(std::uint32_t ext_style) {
  const bool had_boxes = (ext_style_ & LVS_EX_CHECKBOXES) != 0;
  const bool has_boxes = (ext_style & LVS_EX_CHECKBOXES) != 0;
  ext_style_ = ext_style;
  if (has_boxes && !had_boxes) {
    // Switching the boxes on shows every existing line unchecked.
    for (auto& item : items_) item.state = (item.state & ~LVIS_STATEIMAGEMASK) | kUnchecked;
  } else if (!has_boxes && had_boxes) {
    for (auto& item : items_) item.state &= ~LVIS_STATEIMAGEMASK;
  }
  Changed();
}

int ListCtrl::InsertColumn(int col, const std::string& title, int format, int width, int subitem) {
  if (col < 0) return -1;
  const int index = std::min(col, GetColumnCount());
  ListColumn column;
  column.title = title;
  column.width = width;
  column.format = format;
  column.subitem = subitem < 0 ? index : subitem;
  columns_.insert(columns_.begin() + index, std::move(column));
  Changed();
  return index;
}

bool ListCtrl::DeleteColumn(int col) {
  if (col < 0 || col >= GetColumnCount()) return false;
  columns_.erase(columns_.begin() + col);
  Changed();
  return true;
}

int ListCtrl::InsertItem(int index, const std::string& text, int image) {
  if (index < 0) return -1;
  const int at = std::min(index, GetItemCount());
  ListItem item;
  item.texts.push_back(text);
  item.image = image;
  item.state = (ext_style_ & LVS_EX_CHECKBOXES) != 0 ? kUnchecked : 0;
  items_.insert(items_.begin() + at, std::move(item));
  Changed();
  return at;
}

bool ListCtrl::SetItemText(int item, int subitem, const std::string& text) {
  if (item < 0 || item >= GetItemCount() || subitem < 0) return false;
  auto& texts = items_[static_cast<std::size_t>(item)].texts;
  if (texts.size() <= static_cast<std::size_t>(subitem)) texts.resize(static_cast<std::size_t>(subitem) + 1);
  texts[static_cast<std::size_t>(subitem)] = text;
  Changed();
  return true;
}

std::string ListCtrl::GetItemText(int item, int subitem) const {
  if (item < 0 || item >= GetItemCount() || subitem < 0) return {};
  const auto& texts = items_[static_cast<std::size_t>(item)].texts;
  if (static_cast<std::size_t>(subitem) >= texts.size()) return {};
  return texts[static_cast<std::size_t>(subitem)];
}

bool ListCtrl::DeleteAllItems() {
  items_.clear();
  top_index = 0;
  Changed();
  return true;
}

int ListCtrl::GetNextItem(int start, int flags) const {
  const int first = start < 0 ? 0 : start + 1;
  const std::uint32_t wanted = static_cast<std::uint32_t>(flags) & (LVIS_SELECTED | LVIS_FOCUSED);
  for (int i = first; i < GetItemCount(); ++i) {
    if ((items_[static_cast<std::size_t>(i)].state & wanted) == wanted) return i;
  }
  return -1;
}

std::uint32_t ListCtrl::GetItemState(int item, std::uint32_t mask) const {
  if (item < 0 || item >= GetItemCount()) return 0;
  return items_[static_cast<std::size_t>(item)].state & mask;
}

bool ListCtrl::SetItemState(int item, std::uint32_t state, std::uint32_t mask) {
  if (item < -1 || item >= GetItemCount()) return false;
  auto apply = [&](ListItem& it) { it.state = (it.state & ~mask) | (state & mask); };
  if (item == -1) {
    for (auto& it : items_) apply(it);  // -1 stands for every line
  } else {
    apply(items_[static_cast<std::size_t>(item)]);
  }
  Changed();
  return true;
}

bool ListCtrl::GetCheck(int item) const { return GetItemState(item, LVIS_STATEIMAGEMASK) == kChecked; }

bool ListCtrl::SetCheck(int item, bool checked) {
  if ((ext_style_ & LVS_EX_CHECKBOXES) == 0) return false;
  if (item < 0 || item >= GetItemCount()) return false;
  return SetItemState(item, checked ? kChecked : kUnchecked, LVIS_STATEIMAGEMASK);
}

int ListCtrl::GetItemImage(int item) const {
  if (item < 0 || item >= GetItemCount()) return -1;
  return items_[static_cast<std::size_t>(item)].image;
}

void ListCtrl::SetImageList(std::vector<int> icon_ids) {
  image_list_ = std::move(icon_ids);
  Changed();
}

}  // namespace ui
