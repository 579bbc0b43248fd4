// Framework pieces on their own: list view model, data exchange, titles, and the
// back-end hooks a dialog calls while it is open.
#include <gtest/gtest.h>

#include "ui/Backend.h"
#include "ui/Dialog.h"
#include "tests/ui/test_dialogs.h"

namespace {

using uitest::HookDialog;

// A back end that records what the framework tells it and runs one function as the
// whole modal loop.
class RecordingBackend : public ui::Backend {
 public:
  RecordingBackend() : previous_(ui::HasBackend() ? &ui::GetBackend() : nullptr) {
    ui::SetBackend(this);
  }
  ~RecordingBackend() override { ui::SetBackend(previous_); }

  std::function<void(ui::Dialog&)> loop;
  std::vector<std::string> events;

  void RunModalLoop(ui::Dialog& dlg) override {
    events.push_back("loop " + std::to_string(dlg.template_id()));
    if (loop) loop(dlg);
  }
  void DialogOpened(ui::Dialog& dlg) override {
    events.push_back("opened " + std::to_string(dlg.template_id()));
  }
  void DialogClosed(ui::Dialog& dlg) override {
    events.push_back("closed " + std::to_string(dlg.template_id()));
  }
  void ControlChanged(ui::Dialog&, ui::Control& control) override {
    events.push_back("changed " + std::to_string(control.id()));
  }
  void CaptionChanged(ui::Dialog& dlg) override { events.push_back("caption " + dlg.caption()); }
  bool SetTimer(ui::Dialog&, int timer_id, unsigned) override {
    events.push_back("set " + std::to_string(timer_id));
    return true;
  }
  bool KillTimer(ui::Dialog&, int timer_id) override {
    events.push_back("kill " + std::to_string(timer_id));
    return true;
  }
  int MessageBox(const std::string&, const std::string&, unsigned) override { return ui::IDOK; }
  void Sleep(unsigned) override {}
  std::time_t Now() override { return 0; }
  std::uint64_t TickMs() override { return 0; }
  void PostDeviceChange(unsigned) override {}

 private:
  ui::Backend* previous_;
};

TEST(UiFramework, DialogLifecycleAndProgramSideChangesReachTheBackEnd) {
  RecordingBackend backend;
  HookDialog dlg;
  dlg.on_init = [](HookDialog& d) {
    d.SetTimer(1, 5000);
    d.SetTimer(55, 5000);
  };
  backend.loop = [&](ui::Dialog& d) {
    EXPECT_EQ(d.GetDlgItemText(uitest::kLabel), "label");  // template text
    d.SetDlgItemText(uitest::kLabel, "new");
    d.SetControlFont(uitest::kLabel, ui::Font{"Arial", 150});
    d.Progress(uitest::kBar).SetRange(0, 99);
    d.Progress(uitest::kBar).SetPos(100);
    d.List(uitest::kList).InsertColumn(0, "A", ui::LVCFMT_LEFT, 50);
    d.SetCaption("Other");
    d.KillTimer(1);
    d.EndDialog(3);
  };
  EXPECT_EQ(dlg.DoModal(), 3);
  const std::vector<std::string> expected = {
      "opened 9000", "set 1",          "set 55",        "loop 9000",     "changed 9102",
      "changed 9102", "changed 9103", "changed 9103", "changed 9104", "caption Other",
      "kill 1",      "closed 9000",    "kill 55"};
  EXPECT_EQ(backend.events, expected);
  EXPECT_FALSE(dlg.is_open());
}

TEST(UiFramework, ControlKindsFollowTheTemplate) {
  RecordingBackend backend;
  HookDialog dlg;
  backend.loop = [](ui::Dialog& d) {
    EXPECT_NE(dynamic_cast<ui::ProgressCtrl*>(d.GetDlgItem(uitest::kBar)), nullptr);
    EXPECT_NE(dynamic_cast<ui::ListCtrl*>(d.GetDlgItem(uitest::kList)), nullptr);
    EXPECT_EQ(dynamic_cast<ui::ListCtrl*>(d.GetDlgItem(uitest::kEdit)), nullptr);
    EXPECT_EQ(d.GetDlgItem(4321), nullptr);
    // Asking for a list or bar that is not there gives a stand-in, the same each time.
    ui::ListCtrl& missing = d.List(uitest::kEdit);
    EXPECT_EQ(missing.InsertItem(0, "x"), 0);
    EXPECT_EQ(&d.List(uitest::kEdit), &missing);
    EXPECT_EQ(d.List(uitest::kEdit).GetItemCount(), 1);
    EXPECT_NE(static_cast<ui::Control*>(&d.Progress(uitest::kList)), d.GetDlgItem(uitest::kList));
    EXPECT_EQ(d.GetDlgItemText(4321), "");
    d.EndDialog(1);
  };
  EXPECT_EQ(dlg.DoModal(), 1);
  EXPECT_TRUE(dlg.controls().empty());
}

struct ExchangeCase {
  const char* member;
  const char* typed;
  std::size_t max_chars;
  const char* read_back;
};

class DataExchangeText : public ::testing::TestWithParam<ExchangeCase> {};

TEST_P(DataExchangeText, CopiesBothWaysWithinTheLimit) {
  RecordingBackend backend;
  HookDialog dlg;
  std::string value = GetParam().member;
  dlg.on_exchange = [&](ui::DataExchange& dx) { dx.Text(uitest::kEdit, value, GetParam().max_chars); };
  backend.loop = [&](ui::Dialog& d) {
    EXPECT_EQ(d.GetDlgItemText(uitest::kEdit), GetParam().member);
    EXPECT_EQ(d.GetDlgItem(uitest::kEdit)->limit_text(), GetParam().max_chars);
    d.SetDlgItemText(uitest::kEdit, GetParam().typed);
    EXPECT_TRUE(d.UpdateData(true));
    d.EndDialog(1);
  };
  dlg.DoModal();
  EXPECT_EQ(value, GetParam().read_back);
}

INSTANTIATE_TEST_SUITE_P(
    Ui, DataExchangeText,
    ::testing::Values(ExchangeCase{"SMART Short Test", "typed", 40, "typed"},
                      ExchangeCase{"", "0123456789", 4, "0123"},
                      ExchangeCase{"x", "h\xC3\xA9llo world", 5, "h\xC3\xA9llo"},
                      ExchangeCase{"x", "\xE3\x83\x90\xE3\x83\xBC", 1, "\xE3\x83\x90"},
                      ExchangeCase{"x", "no limit at all", 0, "no limit at all"}));

// --- List view model ---

class UiListCtrl : public ::testing::Test {
 protected:
  HookDialog dlg;
  ui::ListCtrl list{dlg, 1, ui::Kind::ListView, "", {}, 0, 0};
};

TEST_F(UiListCtrl, CheckBoxesOnlyWithTheStyle) {
  list.InsertItem(0, "a");
  EXPECT_EQ(list.GetItemState(0, ui::LVIS_STATEIMAGEMASK), 0u);
  EXPECT_FALSE(list.SetCheck(0, true));
  list.SetExtendedStyle(list.GetExtendedStyle() | ui::LVS_EX_CHECKBOXES | ui::LVS_EX_GRIDLINES);
  EXPECT_EQ(list.GetItemState(0, ui::LVIS_STATEIMAGEMASK), ui::IndexToStateImageMask(1));
  list.InsertItem(1, "b");
  EXPECT_EQ(list.GetItemState(1, ui::LVIS_STATEIMAGEMASK), ui::IndexToStateImageMask(1));
  EXPECT_TRUE(list.SetCheck(1, true));
  EXPECT_TRUE(list.GetCheck(1));
  // Adding styles again keeps the marks.
  list.SetExtendedStyle(list.GetExtendedStyle() | 0x35);
  EXPECT_TRUE(list.GetCheck(1));
  EXPECT_FALSE(list.GetCheck(0));
  EXPECT_TRUE(list.SetItemState(0, ui::IndexToStateImageMask(2), ui::LVIS_STATEIMAGEMASK));
  EXPECT_TRUE(list.GetCheck(0));
  EXPECT_FALSE(list.SetCheck(2, true));
  EXPECT_FALSE(list.GetCheck(-1));
}

TEST_F(UiListCtrl, GetNextItemWalksAllOrSelected) {
  for (int i = 0; i < 4; ++i) list.InsertItem(i, std::to_string(i));
  list.SetItemState(1, ui::LVIS_SELECTED, ui::LVIS_SELECTED);
  list.SetItemState(3, ui::LVIS_SELECTED, ui::LVIS_SELECTED);
  struct Case {
    int start;
    int flags;
    int next;
  };
  const Case cases[] = {{-1, ui::LVNI_ALL, 0}, {0, ui::LVNI_ALL, 1}, {3, ui::LVNI_ALL, -1},
                        {-1, ui::LVNI_SELECTED, 1}, {1, ui::LVNI_SELECTED, 3},
                        {3, ui::LVNI_SELECTED, -1}};
  for (const auto& c : cases) {
    EXPECT_EQ(list.GetNextItem(c.start, c.flags), c.next) << c.start << " " << c.flags;
  }
  ui::ListCtrl empty{dlg, 2, ui::Kind::ListView, "", {}, 0, 0};
  EXPECT_EQ(empty.GetNextItem(-1, ui::LVNI_ALL), -1);
}

TEST_F(UiListCtrl, ItemsInsertAtAnIndexAndTextsOutOfRangeAreEmpty) {
  EXPECT_EQ(list.InsertItem(0, "b", 3), 0);
  EXPECT_EQ(list.InsertItem(0, "a"), 0);
  EXPECT_EQ(list.InsertItem(9, "c"), 2);
  EXPECT_EQ(list.InsertItem(-1, "x"), -1);
  EXPECT_TRUE(list.SetItemText(1, 5, "five"));
  EXPECT_FALSE(list.SetItemText(3, 0, "none"));
  struct Case {
    int item;
    int sub;
    const char* text;
  };
  const Case cases[] = {{0, 0, "a"}, {1, 0, "b"}, {2, 0, "c"}, {1, 5, "five"},
                        {1, 4, ""},  {1, 6, ""},  {3, 0, ""},  {-1, 0, ""}, {0, -1, ""}};
  for (const auto& c : cases) EXPECT_EQ(list.GetItemText(c.item, c.sub), c.text) << c.item << "," << c.sub;
  EXPECT_EQ(list.GetItemImage(1), 3);
  EXPECT_EQ(list.GetItemImage(0), -1);
  EXPECT_TRUE(list.DeleteAllItems());
  EXPECT_EQ(list.GetItemCount(), 0);
}

TEST_F(UiListCtrl, ColumnsInsertAndDelete) {
  EXPECT_FALSE(list.DeleteColumn(0));
  EXPECT_EQ(list.InsertColumn(0, "Model Name", ui::LVCFMT_LEFT, 200), 0);
  EXPECT_EQ(list.InsertColumn(5, "Status", ui::LVCFMT_LEFT, 120), 1);
  EXPECT_EQ(list.InsertColumn(0, "      ", ui::LVCFMT_LEFT, 50), 0);
  EXPECT_EQ(list.InsertColumn(-1, "bad"), -1);
  ASSERT_EQ(list.GetColumnCount(), 3);
  EXPECT_EQ(list.columns()[0].title, "      ");
  EXPECT_EQ(list.columns()[1].title, "Model Name");
  EXPECT_EQ(list.columns()[2].width, 120);
  // Deleting column 0 as often as there are columns leaves an empty header.
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(list.DeleteColumn(0));
  EXPECT_FALSE(list.DeleteColumn(0));
  EXPECT_EQ(list.GetColumnCount(), 0);
}

TEST(UiFramework, TitleFromExecutablePath) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\x\\Plovix.exe", "Plovix"}, {"/usr/bin/Plovix", "Plovix"},
      {"./Plovix-demo", "Plovix-demo"}, {"Plovix.exe", "Plovix"},
      {"C:/a.b/tool.v2.exe", "tool.v2"}};
  for (const auto& [path, title] : cases) EXPECT_EQ(ui::TitleFromExecutablePath(path), title) << path;
}

}  // namespace
