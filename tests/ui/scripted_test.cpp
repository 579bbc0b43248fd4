// The dialog framework driven by the scripted back end: closing codes, timers on the
// virtual clock, nested modal loops, list actions, message boxes and script failures.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "faces/scripted/ScriptedBackend.h"
#include "tests/ui/test_dialogs.h"

namespace {

using ui::scripted::ScriptedBackend;
using ui::scripted::Step;
using uitest::HookDialog;

struct CodeCase {
  const char* name;
  std::function<void(Step&)> act;
  int expected;
};

class DoModalCodes : public ::testing::TestWithParam<CodeCase> {};

TEST_P(DoModalCodes, ClosingCodeComesFromTheUsersAction) {
  ScriptedBackend ui;
  HookDialog dlg;
  dlg.on_command = [](HookDialog& d, int id) {
    if (id != uitest::kGo) return false;
    d.EndDialog(7);
    return true;
  };
  GetParam().act(ui.Expect(uitest::kProbe));
  EXPECT_EQ(dlg.DoModal(), GetParam().expected);
  EXPECT_FALSE(ui.failed());
  EXPECT_EQ(ui.pending_steps(), 0u);
  EXPECT_FALSE(dlg.is_open());
  EXPECT_TRUE(dlg.controls().empty());
  EXPECT_TRUE(ui::OpenDialogs().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Ui, DoModalCodes,
    ::testing::Values(CodeCase{"Ok", [](Step& s) { s.Press(ui::IDOK); }, ui::IDOK},
                      CodeCase{"Cancel", [](Step& s) { s.Press(ui::IDCANCEL); }, ui::IDCANCEL},
                      CodeCase{"Escape", [](Step& s) { s.Escape(); }, ui::IDCANCEL},
                      CodeCase{"CloseBox", [](Step& s) { s.CloseBox(); }, ui::IDCANCEL},
                      CodeCase{"SysClose", [](Step& s) { s.SystemCommand(ui::SC_CLOSE); },
                               ui::IDCANCEL},
                      CodeCase{"OwnButton", [](Step& s) { s.Press(uitest::kGo); }, 7}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(UiScripted, UnknownTemplateReturnsMinusOneWithoutWaiting) {
  ScriptedBackend ui;
  ui::Dialog dlg(8999);
  EXPECT_EQ(dlg.DoModal(), -1);
  EXPECT_TRUE(ui.opened_dialogs().empty());
  EXPECT_FALSE(ui.failed());
}

TEST(UiScripted, LastEndRequestBeforeTheLoopLooksDecides) {
  ScriptedBackend ui;
  HookDialog dlg;
  dlg.on_command = [](HookDialog& d, int id) {
    d.EndDialog(5);
    d.EndDialog(id == uitest::kGo ? 6 : 8);
    return true;
  };
  ui.Expect(uitest::kProbe).Press(uitest::kGo);
  EXPECT_EQ(dlg.DoModal(), 6);
}

// A poll beneath a confirmation ends the dialog; the user's answer to the confirmation
// then decides: confirming replaces the poll's code, declining keeps it.
struct NestedCase {
  int answer;
  int expected;
};

class NestedLoop : public ::testing::TestWithParam<NestedCase> {};

TEST_P(NestedLoop, TimersReachTheDialogBeneathAndTheLastRequestWins) {
  ScriptedBackend ui;
  HookDialog outer;
  int polls = 0;
  outer.on_init = [](HookDialog& d) { d.SetTimer(1, 5000); };
  outer.on_timer = [&](HookDialog& d, int) {
    ++polls;
    d.EndDialog(-1);
  };
  outer.on_command = [](HookDialog& d, int id) {
    if (id != uitest::kGo) return false;
    ui::Dialog confirm(uitest::kConfirm);
    if (confirm.DoModal() == ui::IDOK) d.EndDialog(-3);
    return true;
  };
  ui.Expect(uitest::kProbe).Press(uitest::kGo);
  ui.Expect(uitest::kConfirm)
      .Advance(5000)
      .Do([&](ui::Dialog& top) {
        EXPECT_EQ(polls, 1);
        EXPECT_TRUE(outer.end_requested());
        EXPECT_TRUE(outer.is_open());
        EXPECT_FALSE(top.end_requested());
        ASSERT_EQ(ui::OpenDialogs().size(), 2u);
        EXPECT_EQ(ui::OpenDialogs()[0], &outer);
        EXPECT_EQ(ui::OpenDialogs()[1], &top);
      })
      .Press(GetParam().answer);
  EXPECT_EQ(outer.DoModal(), GetParam().expected);
  EXPECT_EQ(ui.opened_dialogs(), (std::vector<int>{uitest::kProbe, uitest::kConfirm}));
  EXPECT_EQ(ui.pending_steps(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Ui, NestedLoop,
                         ::testing::Values(NestedCase{ui::IDOK, -3}, NestedCase{ui::IDCANCEL, -1}));

TEST(UiScripted, TimersFireInDueOrderAndRearm) {
  ScriptedBackend ui;
  HookDialog dlg;
  std::vector<std::pair<std::uint64_t, int>> fired;
  dlg.on_init = [](HookDialog& d) {
    EXPECT_EQ(d.SetTimer(2, 500), 2);
    EXPECT_EQ(d.SetTimer(1, 300), 1);
  };
  dlg.on_timer = [&](HookDialog&, int id) { fired.emplace_back(ui.now_ms(), id); };
  ui.Expect(uitest::kProbe).Advance(1000).Advance(500).Escape();
  dlg.DoModal();
  const std::vector<std::pair<std::uint64_t, int>> expected = {
      {300, 1}, {500, 2}, {600, 1}, {900, 1}, {1000, 2}, {1200, 1}, {1500, 2}, {1500, 1}};
  EXPECT_EQ(fired, expected);
  EXPECT_EQ(ui.now_ms(), 1500u);
}

TEST(UiScripted, KilledTimerStopsAndClosedDialogTimersEnd) {
  ScriptedBackend ui;
  HookDialog dlg;
  int fired = 0;
  dlg.on_init = [](HookDialog& d) { d.SetTimer(55, 5000); };
  dlg.on_timer = [&](HookDialog& d, int id) {
    ++fired;
    EXPECT_TRUE(d.KillTimer(id));
    EXPECT_FALSE(d.KillTimer(id));
  };
  ui.Expect(uitest::kProbe).Advance(60000).Escape();
  dlg.DoModal();
  EXPECT_EQ(fired, 1);

  // A timer left running dies with its window: the next showing starts clean.
  HookDialog again;
  int again_fired = 0;
  again.on_init = [](HookDialog& d) { d.SetTimer(1, 100); };
  again.on_timer = [&](HookDialog&, int) { ++again_fired; };
  ui.Expect(uitest::kProbe).Advance(250).Escape();
  ui.Expect(uitest::kConfirm).Advance(1000).Press(ui::IDOK);
  again.DoModal();
  ui::Dialog next(uitest::kConfirm);
  next.DoModal();
  EXPECT_EQ(again_fired, 2);
}

TEST(UiScripted, RearmingRestartsTheTimer) {
  ScriptedBackend ui;
  HookDialog dlg;
  std::vector<std::uint64_t> fired;
  dlg.on_init = [](HookDialog& d) { d.SetTimer(55, 5000); };
  dlg.on_timer = [&](HookDialog& d, int id) {
    fired.push_back(ui.now_ms());
    d.KillTimer(id);
  };
  ui.Expect(uitest::kProbe)
      .Advance(3000)
      .Do([](ui::Dialog& d) { d.SetTimer(55, 5000); })
      .Advance(4000)
      .Advance(4000)
      .Escape();
  dlg.DoModal();
  EXPECT_EQ(fired, (std::vector<std::uint64_t>{8000}));
}

TEST(UiScripted, SleepMovesTheClockButFiresNoTimer) {
  ScriptedBackend ui(1000000);
  HookDialog dlg;
  int fired = 0;
  dlg.on_init = [](HookDialog& d) { d.SetTimer(1, 5000); };
  dlg.on_timer = [&](HookDialog&, int) { ++fired; };
  ui.Expect(uitest::kProbe)
      .Do([&](ui::Dialog&) {
        ui::Sleep(7000);
        EXPECT_EQ(fired, 0);
        EXPECT_EQ(ui::TickMs(), 7000u);
        EXPECT_EQ(ui::Now(), 1000007);
      })
      .Advance(0)
      .Do([&](ui::Dialog&) { EXPECT_EQ(fired, 1); })
      .Escape();
  dlg.DoModal();
}

TEST(UiScripted, PeriodsMissedDuringASleepGiveOneTimerMessage) {
  ScriptedBackend ui;
  HookDialog dlg;
  std::vector<std::uint64_t> fired;
  dlg.on_init = [](HookDialog& d) { d.SetTimer(1, 1000); };
  dlg.on_timer = [&](HookDialog&, int) { fired.push_back(ui.now_ms()); };
  ui.Expect(uitest::kProbe)
      .Do([](ui::Dialog&) { ui::Sleep(10500); })
      .Advance(0)
      .Advance(1000)
      .Escape();
  dlg.DoModal();
  EXPECT_EQ(fired, (std::vector<std::uint64_t>{10500, 11500}));
}

TEST(UiScripted, AdvanceUntilClosedWaitsForAWorkerThread) {
  ScriptedBackend ui;
  HookDialog dlg;
  std::atomic<bool> finished{false};
  std::thread worker;
  dlg.on_init = [&](HookDialog& d) {
    d.SetTimer(1, 5000);
    worker = std::thread([&] {
      for (int i = 0; i < 5; ++i) ui::Sleep(1000);
      finished.store(true, std::memory_order_release);
    });
  };
  dlg.on_timer = [&](HookDialog& d, int) {
    if (finished.load(std::memory_order_acquire)) d.EndDialog(-1);
  };
  ui.Expect(uitest::kProbe).AdvanceUntilClosed(3600000);
  EXPECT_EQ(dlg.DoModal(), -1);
  worker.join();
  EXPECT_FALSE(ui.failed());
  EXPECT_EQ(ui.now_ms() % 5000, 0u);
}

TEST(UiScripted, AdvanceUntilClosedGivesUpAfterItsLimit) {
  ScriptedBackend ui;
  std::vector<std::string> failures;
  ui.SetFailureHandler([&](const std::string& m) { failures.push_back(m); });
  HookDialog dlg;
  dlg.on_init = [](HookDialog& d) { d.SetTimer(1, 5000); };
  ui.Expect(uitest::kProbe).AdvanceUntilClosed(20000);
  EXPECT_EQ(dlg.DoModal(), ui::IDCANCEL);
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0], "dialog 9000 'Probe' still open after 20000 ms");
  EXPECT_EQ(ui.now_ms(), 20000u);
}

TEST(UiScripted, ListActionsWorkOnTheModel) {
  ScriptedBackend ui;
  HookDialog dlg;
  dlg.on_init = [](HookDialog& d) {
    auto& list = d.List(uitest::kList);
    list.SetExtendedStyle(list.GetExtendedStyle() | ui::LVS_EX_CHECKBOXES);
    for (int i = 0; i < 3; ++i) list.InsertItem(i, std::to_string(i));
  };
  ui.Expect(uitest::kProbe)
      .Check(uitest::kList, 1)
      .Check(uitest::kList, 2)
      .Check(uitest::kList, 2, false)
      .Select(uitest::kList, 2)
      .DoubleClick(uitest::kList, 0)
      .Do([](ui::Dialog& d) {
        auto& list = d.List(uitest::kList);
        EXPECT_EQ(list.GetNextItem(-1, ui::LVNI_SELECTED), 0);
        EXPECT_EQ(list.GetNextItem(0, ui::LVNI_SELECTED), -1);
        EXPECT_FALSE(list.GetCheck(0));
        EXPECT_TRUE(list.GetCheck(1));
        EXPECT_FALSE(list.GetCheck(2));
      })
      .Escape();
  dlg.DoModal();
  EXPECT_EQ(dlg.notifications, (std::vector<std::pair<int, int>>{{uitest::kList, ui::NM_DBLCLK}}));
  EXPECT_FALSE(ui.failed());
}

TEST(UiScripted, MessageBoxesTakeTheAppTitleAndTheScriptedAnswer) {
  ScriptedBackend ui;
  ui::SetAppTitle("Plovix");
  ui.ExpectMessageBox("one").Press(ui::IDOK);
  ui.ExpectMessageBox("two").Escape();
  ui.ExpectMessageBox("three").Escape();
  ui.ExpectMessageBox("four").CloseBox();
  ui.ExpectMessageBox("five").Press(ui::IDCANCEL);
  EXPECT_EQ(ui::MessageBox("one"), ui::IDOK);
  EXPECT_EQ(ui::MessageBox("two", "", ui::MB_OKCANCEL), ui::IDCANCEL);
  EXPECT_EQ(ui::MessageBox("three", "Mine"), ui::IDOK);  // Escape on a lone OK is OK
  EXPECT_EQ(ui::AfxMessageBox("four", ui::MB_OKCANCEL), ui::IDCANCEL);
  EXPECT_EQ(ui::AfxMessageBox("five", ui::MB_OKCANCEL | 0x10), ui::IDCANCEL);
  const auto& boxes = ui.message_boxes();
  ASSERT_EQ(boxes.size(), 5u);
  EXPECT_EQ(boxes[0].caption, "Plovix");
  EXPECT_EQ(boxes[2].caption, "Mine");
  EXPECT_EQ(boxes[3].caption, "Plovix");
  EXPECT_EQ(boxes[3].type, ui::MB_OKCANCEL | ui::MB_ICONEXCLAMATION);
  EXPECT_EQ(boxes[4].type, ui::MB_OKCANCEL | 0x10u);  // an icon of its own stays
  EXPECT_EQ(boxes[1].answer, ui::IDCANCEL);
  EXPECT_FALSE(ui.failed());
}

TEST(UiScripted, DoDuringAMessageBoxSeesTheDialogBeneath) {
  ScriptedBackend ui;
  HookDialog dlg;
  dlg.on_command = [](HookDialog& d, int id) {
    if (id != uitest::kGo) return false;
    d.SetDlgItemText(uitest::kLabel, "busy");
    ui::MessageBox("Done", "", ui::MB_OK);
    return true;
  };
  std::string seen;
  ui.Expect(uitest::kProbe).Press(uitest::kGo);
  ui.ExpectMessageBox("Done").Do([&](ui::Dialog& d) { seen = d.GetDlgItemText(uitest::kLabel); }).Press(ui::IDOK);
  ui.Expect(uitest::kProbe).Escape();
  dlg.DoModal();
  EXPECT_EQ(seen, "busy");

  // With no dialog open there is nothing to look at.
  std::vector<std::string> failures;
  ui.SetFailureHandler([&](const std::string& m) { failures.push_back(m); });
  ui.ExpectMessageBox("alone").Do([](ui::Dialog&) {}).Press(ui::IDOK);
  EXPECT_EQ(ui::MessageBox("alone"), ui::IDCANCEL);
  EXPECT_EQ(failures, std::vector<std::string>{"Do() has no dialog beneath message box 'alone'"});
}

struct FailureCase {
  const char* name;
  std::function<void(ScriptedBackend&)> script;
  const char* message;
  std::size_t pending;
};

class ScriptFailures : public ::testing::TestWithParam<FailureCase> {};

// The program under test: the probe dialog opens the confirmation on "Go", and the
// confirmation's OK asks a question in a message box.
TEST_P(ScriptFailures, NameTheWindowAndStillLetTheProgramEnd) {
  ScriptedBackend ui;
  std::vector<std::string> failures;
  ui.SetFailureHandler([&](const std::string& m) { failures.push_back(m); });
  GetParam().script(ui);
  HookDialog dlg;
  int confirm_code = 0;
  dlg.on_command = [&](HookDialog&, int id) {
    if (id != uitest::kGo) return false;
    HookDialog confirm(uitest::kConfirm);
    confirm.on_command = [](HookDialog&, int button) {
      if (button == ui::IDOK) ui::MessageBox("Really?", "", ui::MB_OKCANCEL);
      return false;
    };
    confirm_code = confirm.DoModal();
    return true;
  };
  EXPECT_EQ(dlg.DoModal(), ui::IDCANCEL);
  EXPECT_TRUE(ui.failed());
  ASSERT_FALSE(failures.empty());
  EXPECT_EQ(failures[0], GetParam().message);
  EXPECT_EQ(ui.pending_steps(), GetParam().pending);
  EXPECT_TRUE(ui.open_dialogs().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Ui, ScriptFailures,
    ::testing::Values(
        FailureCase{"Empty", [](ScriptedBackend&) {}, "dialog 9000 'Probe' left unanswered", 0},
        FailureCase{"NestedUnanswered",
                    [](ScriptedBackend& ui) { ui.Expect(uitest::kProbe).Press(uitest::kGo); },
                    "dialog 9001 'Sure?' left unanswered", 0},
        FailureCase{"WrongWindow",
                    [](ScriptedBackend& ui) {
                      ui.Expect(uitest::kProbe).Press(uitest::kGo);
                      ui.Expect(uitest::kProbe).Escape();
                    },
                    "expected dialog 9000 but dialog 9001 'Sure?' is on top", 1},
        FailureCase{"BoxUnanswered",
                    [](ScriptedBackend& ui) {
                      ui.Expect(uitest::kProbe).Press(uitest::kGo);
                      ui.Expect(uitest::kConfirm).Press(ui::IDOK);
                    },
                    "message box 'Really?' left unanswered", 0},
        FailureCase{"WrongBoxText",
                    [](ScriptedBackend& ui) {
                      ui.Expect(uitest::kProbe).Press(uitest::kGo);
                      ui.Expect(uitest::kConfirm).Press(ui::IDOK);
                      ui.ExpectMessageBox("Really ?").Press(ui::IDOK);
                    },
                    "expected message box 'Really ?' but message box 'Really?' is on top", 1},
        FailureCase{"MissingControl",
                    [](ScriptedBackend& ui) { ui.Expect(uitest::kProbe).Press(1234); },
                    "dialog 9000 'Probe' has no control 1234", 0},
        FailureCase{"NoCheckBoxes",
                    [](ScriptedBackend& ui) {
                      ui.Expect(uitest::kProbe)
                          .Do([](ui::Dialog& d) { d.List(uitest::kList).InsertItem(0, "x"); })
                          .Check(uitest::kList, 0);
                    },
                    "dialog 9000 'Probe': list 9104 has no check boxes", 0}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(UiScripted, LaterWaitsCancelAfterAFailure) {
  uitest::AddTestTemplates();
  ScriptedBackend ui;
  int failures = 0;
  ui.SetFailureHandler([&](const std::string&) { ++failures; });
  ui::Dialog first(uitest::kConfirm);
  EXPECT_EQ(first.DoModal(), ui::IDCANCEL);
  ui::Dialog second(uitest::kConfirm);
  EXPECT_EQ(second.DoModal(), ui::IDCANCEL);
  EXPECT_EQ(ui::MessageBox("late"), ui::IDCANCEL);
  EXPECT_EQ(failures, 1);
}

TEST(UiScripted, DeviceChangeReachesTheBottomDialog) {
  ScriptedBackend ui;
  HookDialog main_window;
  HookDialog confirm(uitest::kConfirm);
  main_window.on_command = [&](HookDialog&, int id) {
    if (id != uitest::kGo) return false;
    confirm.DoModal();
    return true;
  };
  ui.Expect(uitest::kProbe).Press(uitest::kGo);
  ui.Expect(uitest::kConfirm).DeviceArrival();
  ui.Expect(uitest::kConfirm)
      .Do([&](ui::Dialog&) {
        EXPECT_EQ(main_window.device_events, (std::vector<unsigned>{ui::DBT_DEVICEARRIVAL}));
        std::thread other([&] { ui.PostDeviceChange(0x8004); });
        other.join();
      })
      .Press(ui::IDOK);
  ui.Expect(uitest::kProbe).Escape();
  main_window.DoModal();
  EXPECT_EQ(main_window.device_events,
            (std::vector<unsigned>{ui::DBT_DEVICEARRIVAL, 0x8004}));
  EXPECT_TRUE(confirm.device_events.empty());
}

}  // namespace
