// Control models. A dialog's controls are plain objects that hold their state; the back
// end renders them and is told of every change through the dialog's change hook.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/Types.h"

namespace ui {

class Dialog;

class Control {
 public:
  Control(Dialog& owner, int id, Kind kind, std::string text, Rect rect, std::uint32_t style,
          int image_id);
  virtual ~Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  int id() const { return id_; }
  Kind kind() const { return kind_; }
  const Rect& rect() const { return rect_; }
  std::uint32_t style() const { return style_; }
  int image_id() const { return image_id_; }
  Dialog& owner() { return owner_; }

  const std::string& text() const { return text_; }
  void SetText(std::string text);
  // Changes with every SetText and is never the same for two texts of any control, so a
  // back end can keep what it derived from a text (wrapped lines) until the text changes.
  std::uint64_t text_stamp() const { return text_stamp_; }
  const std::optional<Font>& font() const { return font_; }
  void SetFont(const Font& font);   // with redraw
  // Edit controls: the most characters the user may type (0 = no limit).
  std::size_t limit_text() const { return limit_text_; }
  void SetLimitText(std::size_t n) { limit_text_ = n; }

 protected:
  void Changed();

 private:
  Dialog& owner_;
  int id_;
  Kind kind_;
  std::string text_;
  std::uint64_t text_stamp_;
  Rect rect_;
  std::uint32_t style_;
  int image_id_;
  std::optional<Font> font_;
  std::size_t limit_text_ = 0;
};

class ProgressCtrl : public Control {
 public:
  using Control::Control;
  void SetRange(int lo, int hi);
  void SetPos(int pos);   // stored as given, not clamped; back ends clamp when drawing
  int lo() const { return lo_; }
  int hi() const { return hi_; }
  int pos() const { return pos_; }

 private:
  int lo_ = 0;
  int hi_ = 100;
  int pos_ = 0;
};

// List view extended styles and item states (Windows values).
inline constexpr std::uint32_t LVS_EX_GRIDLINES = 0x01;
inline constexpr std::uint32_t LVS_EX_CHECKBOXES = 0x04;
inline constexpr std::uint32_t LVS_EX_HEADERDRAGDROP = 0x10;
inline constexpr std::uint32_t LVS_EX_FULLROWSELECT = 0x20;
inline constexpr std::uint32_t LVIS_SELECTED = 0x0002;
inline constexpr std::uint32_t LVIS_FOCUSED = 0x0001;
inline constexpr std::uint32_t LVIS_STATEIMAGEMASK = 0xF000;
inline constexpr int LVNI_ALL = 0;
inline constexpr int LVNI_SELECTED = 2;
inline constexpr int LVCFMT_LEFT = 0;
inline constexpr int LVCFMT_RIGHT = 1;
inline constexpr int LVCFMT_CENTER = 2;
constexpr std::uint32_t IndexToStateImageMask(int i) { return static_cast<std::uint32_t>(i) << 12; }

struct ListColumn {
  std::string title;
  int width = 0;          // pixels
  int format = LVCFMT_LEFT;
  int subitem = 0;
};

struct ListItem {
  std::vector<std::string> texts;  // one per sub-item
  int image = -1;                  // index into the small image list
  std::uint32_t state = 0;         // LVIS_* bits and state image in 0xF000
};

class ListCtrl : public Control {
 public:
  using Control::Control;

  std::uint32_t GetExtendedStyle() const { return ext_style_; }
  void SetExtendedStyle(std::uint32_t ext_style);

  // Index of the new column, or -1.
  int InsertColumn(int col, const std::string& title, int format = LVCFMT_LEFT, int width = -1,
                   int subitem = -1);
  bool DeleteColumn(int col);
  int GetColumnCount() const { return static_cast<int>(columns_.size()); }
  const std::vector<ListColumn>& columns() const { return columns_; }

  // Index of the new item, or -1. New items are unchecked (state image 1 when the list
  // has check boxes) and unselected.
  int InsertItem(int index, const std::string& text, int image = -1);
  bool SetItemText(int item, int subitem, const std::string& text);
  std::string GetItemText(int item, int subitem) const;
  bool DeleteAllItems();
  int GetItemCount() const { return static_cast<int>(items_.size()); }
  const std::vector<ListItem>& items() const { return items_; }

  // Next item after start (-1: from the beginning) that has the flags, or -1.
  int GetNextItem(int start, int flags) const;
  std::uint32_t GetItemState(int item, std::uint32_t mask) const;
  bool SetItemState(int item, std::uint32_t state, std::uint32_t mask);
  bool GetCheck(int item) const;            // state image 2
  bool SetCheck(int item, bool checked);
  int GetItemImage(int item) const;

  // Small image list: icon resource ids by index.
  void SetImageList(std::vector<int> icon_ids);
  const std::vector<int>& image_list() const { return image_list_; }

  // Scrolling position kept for back ends.
  int top_index = 0;

 private:
  std::uint32_t ext_style_ = 0;
  std::vector<ListColumn> columns_;
  std::vector<ListItem> items_;
  std::vector<int> image_list_;
};

}  // namespace ui
