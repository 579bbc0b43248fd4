// Native list views follow their ListCtrl model with only the calls that differ; a
// change the user made in the window is never sent back to it.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "resources/ResourceIds.h"
#include "ui/Controls.h"
#include "ui/Dialog.h"
#include "faces/win32/Win32ListSync.h"

namespace {

using ui::ListCtrl;
using ui::win32::ListShadow;
using ui::win32::ListStep;
using Op = ListStep::Op;

constexpr std::uint32_t kChecked = ui::IndexToStateImageMask(2);
constexpr std::uint32_t kUnchecked = ui::IndexToStateImageMask(1);

// One step as a short word: "text1.5=Ready", "state0=1000", "insert2"...
std::string Describe(const ListStep& s) {
  const std::string at = std::to_string(s.item);
  switch (s.op) {
    case Op::kSetExtendedStyle:
      return "style=" + std::to_string(s.value);
    case Op::kSetImageList:
      return "images=" + std::to_string(s.images.size());
    case Op::kRebuildColumns:
      return "columns=" + std::to_string(s.columns.size());
    case Op::kDeleteAllItems:
      return "clear";
    case Op::kDeleteItem:
      return "delete" + at;
    case Op::kInsertItem:
      return "insert" + at;
    case Op::kSetText:
      return "text" + at + "." + std::to_string(s.subitem) + "=" + s.text;
    case Op::kSetImage:
      return "image" + at + "=" + std::to_string(static_cast<int>(s.value));
    case Op::kSetState: {
      char hex[16];
      std::snprintf(hex, sizeof hex, "%x", s.value);
      return "state" + at + "=" + hex;
    }
  }
  return "?";
}

std::string Describe(const std::vector<ListStep>& steps) {
  std::string out;
  for (const auto& s : steps) out += (out.empty() ? "" : " ") + Describe(s);
  return out;
}

// The drive list as the main window sets it up: check boxes and six columns.
void DriveColumns(ListCtrl& list) {
  list.SetExtendedStyle(list.GetExtendedStyle() | 0x35);
  for (int i = 0; i < 6; ++i) list.DeleteColumn(0);
  const char* titles[] = {"      ", "Model Name", "Serial Number", "Firmware", "Capacity", "Status"};
  const int widths[] = {50, 200, 180, 100, 100, 120};
  for (int i = 0; i < 6; ++i) list.InsertColumn(i, titles[i], ui::LVCFMT_LEFT, widths[i]);
}

void Fill(ListCtrl& list, int lines) {
  list.DeleteAllItems();
  for (int i = 0; i < lines; ++i) {
    list.InsertItem(i, std::to_string(i));
    list.SetItemText(i, 1, "Model " + std::to_string(i));
    list.SetItemText(i, 5, "Ready");
  }
}

struct SyncCase {
  const char* name;
  std::function<void(ListCtrl&)> before;           // then the window is brought in line
  std::function<void(ListCtrl&, ListShadow&)> act;  // the change under test
  std::string want;
};

class ListSyncTest : public testing::TestWithParam<SyncCase> {};

TEST_P(ListSyncTest, SendsOnlyWhatDiffers) {
  ui::Dialog owner(0);  // never shown: its controls' changes go nowhere
  ListCtrl list(owner, plovix::ids::main_window::kDriveList, ui::Kind::ListView, "", {}, 0, 0);
  ListShadow shadow;
  GetParam().before(list);
  ui::win32::PlanListSync(list, shadow);
  GetParam().act(list, shadow);
  EXPECT_EQ(Describe(ui::win32::PlanListSync(list, shadow)), GetParam().want);
  // Afterwards the window shows the model: nothing further to send.
  EXPECT_EQ(Describe(ui::win32::PlanListSync(list, shadow)), "");
}

const auto kNothing = [](ListCtrl&) {};

INSTANTIATE_TEST_SUITE_P(
    DriveList, ListSyncTest,
    testing::Values(
        SyncCase{"FirstShowOfAnEmptyList", kNothing, [](ListCtrl&, ListShadow& s) { s = ListShadow{}; },
                 "style=0 images=0 columns=0"},
        SyncCase{"UnchangedModelSendsNothing", [](ListCtrl& l) { DriveColumns(l); Fill(l, 2); },
                 [](ListCtrl&, ListShadow&) {}, ""},
        SyncCase{"NewLinesComeWithTextsAndEmptyBoxes", DriveColumns, [](ListCtrl& l, ListShadow&) { Fill(l, 2); },
                 "insert0 insert1 text0.0=0 text0.1=Model 0 text0.5=Ready image0=-1 state0=1000 "
                 "text1.0=1 text1.1=Model 1 text1.5=Ready image1=-1 state1=1000"},
        SyncCase{"StatusUpdateIsOneText", [](ListCtrl& l) { DriveColumns(l); Fill(l, 3); },
                 [](ListCtrl& l, ListShadow&) { l.SetItemText(1, 5, "Now Test Execute"); },
                 "text1.5=Now Test Execute"},
        SyncCase{"RescanKeepsEqualColumnsAndClearsOnlyTheCheckedLine",
                 [](ListCtrl& l) { DriveColumns(l); Fill(l, 3); },
                 [](ListCtrl& l, ListShadow& s) {
                   ASSERT_TRUE(ui::win32::NoteUserState(s, 2, kChecked));  // the user ticks line 2
                   l.SetCheck(2, true);
                   DriveColumns(l);  // "Scan": columns dropped and inserted again, lines refilled
                   Fill(l, 3);
                 },
                 "state2=1000"},
        SyncCase{"UserChangesAreNotSentBack", [](ListCtrl& l) { DriveColumns(l); Fill(l, 2); },
                 [](ListCtrl& l, ListShadow& s) {
                   const std::uint32_t clicked = kChecked | ui::LVIS_SELECTED | ui::LVIS_FOCUSED;
                   ASSERT_TRUE(ui::win32::NoteUserState(s, 1, clicked));
                   l.SetItemState(1, clicked, ui::win32::kSyncedStates);
                 },
                 ""},
        SyncCase{"ProgramSelectionIsSent", [](ListCtrl& l) { DriveColumns(l); Fill(l, 2); },
                 [](ListCtrl& l, ListShadow&) { l.SetItemState(0, ui::LVIS_SELECTED, ui::LVIS_SELECTED); },
                 "state0=1002"},
        SyncCase{"SwitchingCheckBoxesOnResendsEveryState",
                 [](ListCtrl& l) { Fill(l, 2); },
                 [](ListCtrl& l, ListShadow&) { l.SetExtendedStyle(ui::LVS_EX_CHECKBOXES); },
                 "style=4 state0=1000 state1=1000"},
        SyncCase{"FewerLinesAreDeletedFromTheEnd", [](ListCtrl& l) { DriveColumns(l); Fill(l, 3); },
                 [](ListCtrl& l, ListShadow&) { Fill(l, 1); }, "delete2 delete1"},
        SyncCase{"NoLinesLeftClearsTheList", [](ListCtrl& l) { DriveColumns(l); Fill(l, 3); },
                 [](ListCtrl& l, ListShadow&) { l.DeleteAllItems(); }, "clear"},
        SyncCase{"ChangedColumnsResendTheTexts", [](ListCtrl& l) { DriveColumns(l); Fill(l, 1); },
                 [](ListCtrl& l, ListShadow&) { l.InsertColumn(6, "Extra", ui::LVCFMT_LEFT, 40); },
                 "columns=7 text0.0=0 text0.1=Model 0 text0.2= text0.3= text0.4= text0.5=Ready"},
        SyncCase{"ImagesOfTheSmartTable",
                 [](ListCtrl& l) {
                   l.InsertColumn(0, "", ui::LVCFMT_LEFT, 20);
                   l.InsertItem(0, "", 0);
                 },
                 [](ListCtrl& l, ListShadow&) {
                   l.SetImageList({141, 144});
                   l.DeleteAllItems();
                   l.InsertItem(0, "", 1);
                 },
                 "images=2 image0=1"}),
    [](const testing::TestParamInfo<SyncCase>& p) { return std::string(p.param.name); });

TEST(Win32ListSync, UserStateOfAnUnknownLineIsRefused) {
  ListShadow shadow;
  EXPECT_FALSE(ui::win32::NoteUserState(shadow, 0, kChecked));
  EXPECT_FALSE(ui::win32::NoteUserState(shadow, -1, kChecked));
  shadow.items.resize(1);
  EXPECT_TRUE(ui::win32::NoteUserState(shadow, 0, kChecked));
  EXPECT_EQ(shadow.items[0].state & ui::win32::kSyncedStates, kChecked);
  EXPECT_FALSE(ui::win32::NoteUserState(shadow, 1, kUnchecked));
}

}  // namespace
