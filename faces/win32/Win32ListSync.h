// Bringing a native list view in line with its ListCtrl model: what the window shows is
// remembered, and a model change becomes the few list-view calls that differ. Plain
// code with no operating-system header; the Windows back end carries the steps out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/Controls.h"

namespace ui::win32 {

// What the list view window shows.
struct ListShadow {
  bool valid = false;  // false: nothing is known, everything is sent
  std::uint32_t ext_style = 0;
  std::vector<ListColumn> columns;
  std::vector<ListItem> items;
  std::vector<int> image_list;
};

struct ListStep {
  enum class Op {
    kSetExtendedStyle,  // value
    kSetImageList,      // images
    kRebuildColumns,    // columns: drop every column, then insert these
    kDeleteAllItems,
    kDeleteItem,        // item
    kInsertItem,        // item (at the end, empty text)
    kSetText,           // item, subitem, text
    kSetImage,          // item, value (as int; -1 none)
    kSetState,          // item, value under mask kSyncedStates
  };
  Op op = Op::kSetText;
  int item = 0;
  int subitem = 0;
  std::string text;
  std::uint32_t value = 0;
  std::vector<ListColumn> columns;
  std::vector<int> images;
};

// Item state bits the window and the model share.
inline constexpr std::uint32_t kSyncedStates = LVIS_STATEIMAGEMASK | LVIS_SELECTED | LVIS_FOCUSED;

// The steps that make the window show the model; shadow then describes the window.
std::vector<ListStep> PlanListSync(const ListCtrl& model, ListShadow& shadow);

// The user changed an item's state in the window: the shadow learns it first, so that
// the model update that follows sends nothing back. False for an unknown item.
bool NoteUserState(ListShadow& shadow, int item, std::uint32_t state);

}  // namespace ui::win32
