#include "faces/win32/Win32ListSync.h"

#include <algorithm>

namespace ui::win32 {

namespace {

constexpr std::uint32_t kUnknownState = 0xFFFFFFFFu;
constexpr int kUnknownImage = -1000;

bool SameColumns(const std::vector<ListColumn>& a, const std::vector<ListColumn>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const ListColumn& x, const ListColumn& y) {
    return x.title == y.title && x.width == y.width && x.format == y.format && x.subitem == y.subitem;
  });
}

ListStep Step(ListStep::Op op, int item = 0) {
  ListStep s;
  s.op = op;
  s.item = item;
  return s;
}

}  // namespace

std::vector<ListStep> PlanListSync(const ListCtrl& model, ListShadow& shadow) {
  std::vector<ListStep> steps;
  if (!shadow.valid || shadow.ext_style != model.GetExtendedStyle()) {
    ListStep s = Step(ListStep::Op::kSetExtendedStyle);
    s.value = model.GetExtendedStyle();
    steps.push_back(s);
    shadow.ext_style = model.GetExtendedStyle();
    // Check boxes coming or going redo every line's state image.
    for (auto& item : shadow.items) item.state = kUnknownState;
  }
  if (!shadow.valid || shadow.image_list != model.image_list()) {
    ListStep s = Step(ListStep::Op::kSetImageList);
    s.images = model.image_list();
    steps.push_back(s);
    shadow.image_list = model.image_list();
  }
  if (!shadow.valid || !SameColumns(shadow.columns, model.columns())) {
    ListStep s = Step(ListStep::Op::kRebuildColumns);
    s.columns = model.columns();
    steps.push_back(s);
    shadow.columns = model.columns();
    // Sub-item texts go with the old columns.
    for (auto& item : shadow.items) item.texts.clear();
  }

  const std::size_t count = model.items().size();
  if (count == 0 && !shadow.items.empty()) {
    steps.push_back(Step(ListStep::Op::kDeleteAllItems));
    shadow.items.clear();
  }
  while (shadow.items.size() > count) {
    shadow.items.pop_back();
    steps.push_back(Step(ListStep::Op::kDeleteItem, static_cast<int>(shadow.items.size())));
  }
  while (shadow.items.size() < count) {
    steps.push_back(Step(ListStep::Op::kInsertItem, static_cast<int>(shadow.items.size())));
    // A new line shows empty texts in every column: only the filled ones are sent.
    ListItem fresh;
    fresh.texts.assign(std::max<std::size_t>(model.items()[shadow.items.size()].texts.size(), 1), std::string());
    fresh.image = kUnknownImage;
    fresh.state = kUnknownState;
    shadow.items.push_back(fresh);
  }

  for (std::size_t i = 0; i < count; ++i) {
    const ListItem& want = model.items()[i];
    ListItem& have = shadow.items[i];
    const int item = static_cast<int>(i);
    const std::size_t subs = std::max<std::size_t>({want.texts.size(), have.texts.size(), 1});
    for (std::size_t sub = 0; sub < subs; ++sub) {
      const std::string text = sub < want.texts.size() ? want.texts[sub] : std::string();
      if (sub < have.texts.size() && have.texts[sub] == text) continue;
      ListStep s = Step(ListStep::Op::kSetText, item);
      s.subitem = static_cast<int>(sub);
      s.text = text;
      steps.push_back(s);
    }
    if (want.image != have.image) {
      ListStep s = Step(ListStep::Op::kSetImage, item);
      s.value = static_cast<std::uint32_t>(want.image);
      steps.push_back(s);
    }
    if (have.state == kUnknownState || (want.state & kSyncedStates) != (have.state & kSyncedStates)) {
      ListStep s = Step(ListStep::Op::kSetState, item);
      s.value = want.state & kSyncedStates;
      steps.push_back(s);
    }
    have = want;
  }
  shadow.valid = true;
  return steps;
}

bool NoteUserState(ListShadow& shadow, int item, std::uint32_t state) {
  if (item < 0 || static_cast<std::size_t>(item) >= shadow.items.size()) return false;
  auto& have = shadow.items[static_cast<std::size_t>(item)];
  have.state = (have.state & ~kSyncedStates) | (state & kSyncedStates);
  return true;
}

}  // namespace ui::win32
