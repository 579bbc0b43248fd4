// The main window on simulated benches: start-up, Scan, Select All, the notices,
// the About box and leaving the program.
#include <gtest/gtest.h>

#include <functional>

#include "tests/support/app_flow.h"
#include "devices/sim/DemoBench.h"
#include "resources/ResourceIds.h"

namespace plovix {
namespace {

using app_test::AddUnsupportedUsb;
using app_test::BoxTexts;
using app_test::Checks;
using app_test::DriveListColumn;
using app_test::ExpectNothingFound;
using app_test::Highlighted;
using app_test::Main;
using app_test::RunProgram;
using app_test::Sata;
using app_test::ScriptedUser;
using app_test::TempWorkDir;

const std::vector<std::string> kColumnTitles = {"      ",   "Model Name", "Serial Number",
                                                "Firmware", "Capacity",   "Status"};
const std::vector<int> kColumnWidths = {50, 200, 180, 100, 100, 120};

std::vector<std::string> Titles(ui::Dialog& dlg) {
  std::vector<std::string> titles;
  for (const auto& c : dlg.List(ids::main_window::kDriveList).columns()) titles.push_back(c.title);
  return titles;
}

std::vector<int> Widths(ui::Dialog& dlg) {
  std::vector<int> widths;
  for (const auto& c : dlg.List(ids::main_window::kDriveList).columns()) widths.push_back(c.width);
  return widths;
}

TEST(MainWindowStartUp, ListsTheBenchDrivesReady) {
  ScriptedUser user;
  sim::Bench bench;
  bench.AddSata(0, Sata("WDC WD10EZEX-08WN4A0", "WD-WCC6Y3KX1234", "01.01A01", 1953525168));
  bench.AddSata(2, Sata("ST4000DM004-2CV104", "ZFN1ABCD", "0001", 7814037168));
  bench.AddSata(31, Sata("TINY", "T1", "F1", 1024));

  user.Expect(ids::kMainTemplate).Do([](ui::Dialog& dlg) {
    EXPECT_EQ(Titles(dlg), kColumnTitles);
    EXPECT_EQ(Widths(dlg), kColumnWidths);
    EXPECT_EQ(DriveListColumn(dlg, 0), (std::vector<std::string>{"0", "2", "31"}));
    EXPECT_EQ(DriveListColumn(dlg, 1), (std::vector<std::string>{"WDC WD10EZEX-08WN4A0",
                                                        "ST4000DM004-2CV104", "TINY"}));
    EXPECT_EQ(DriveListColumn(dlg, 2), (std::vector<std::string>{"WD-WCC6Y3KX1234", "ZFN1ABCD", "T1"}));
    EXPECT_EQ(DriveListColumn(dlg, 3), (std::vector<std::string>{"01.01A01", "0001", "F1"}));
    EXPECT_EQ(DriveListColumn(dlg, 4), (std::vector<std::string>{"931GB", "3726GB", "0MB"}));
    EXPECT_EQ(DriveListColumn(dlg, 5), (std::vector<std::string>{"Ready", "Ready", "Ready"}));
    EXPECT_EQ(Checks(dlg), (std::vector<bool>{false, false, false}));
    EXPECT_TRUE(Highlighted(dlg).empty());
    EXPECT_EQ(Main(dlg).drive_table.count, 3);
  }).Escape();

  EXPECT_FALSE(RunProgram(bench));
  EXPECT_FALSE(user.failed());
  EXPECT_EQ(user.pending_steps(), 0u);
  EXPECT_EQ(user.opened_dialogs(), std::vector<int>{ids::kMainTemplate});
  // The scan leaves no drive open behind it.
  EXPECT_EQ(bench.OpenHandleCount(), 0);
}

struct CapacityCase {
  std::uint64_t sectors;
  const char* shown;
};

class MainWindowCapacity : public testing::TestWithParam<CapacityCase> {};

TEST_P(MainWindowCapacity, WholeGigabytes) {
  ScriptedUser user;
  sim::Bench bench;
  bench.AddSata(1, Sata("M", "S", "F", GetParam().sectors));
  const std::string expected = GetParam().shown;
  user.Expect(ids::kMainTemplate).Do([&](ui::Dialog& dlg) {
    EXPECT_EQ(DriveListColumn(dlg, 4), std::vector<std::string>{expected});
  }).Escape();
  RunProgram(bench);
  EXPECT_FALSE(user.failed());
}

INSTANTIATE_TEST_SUITE_P(Sizes, MainWindowCapacity,
                         testing::Values(CapacityCase{1ull << 30, "512GB"},
                                         CapacityCase{(1ull << 21) - 1, "1023MB"},
                                         CapacityCase{1ull << 21, "1GB"},
                                         CapacityCase{0x0FFFFFFEull, "127GB"},
                                         CapacityCase{7814037168ull, "3726GB"}));

TEST(MainWindowStartUp, WindowDressing) {
  ScriptedUser user;
  sim::Bench bench;
  ExpectNothingFound(user);
  user.Expect(ids::kMainTemplate).Do([](ui::Dialog& dlg) {
    CPlovixDlg& main = Main(dlg);
    EXPECT_EQ(dlg.caption(), "ZUL for Windows");
    EXPECT_EQ(dlg.GetDlgItemText(ids::main_window::kVersion), "0.92");
    EXPECT_EQ(dlg.icon_id(), 128);
    ASSERT_EQ(dlg.system_menu().size(), 2u);
    EXPECT_EQ(dlg.system_menu()[0].command, 0);
    EXPECT_EQ(dlg.system_menu()[1].command, ui::IDM_ABOUTBOX);
    EXPECT_EQ(dlg.system_menu()[1].text, "バージョン情報 Plovix(&A)...");
    const ui::Font big{"Arial", 150};
    const ui::Font twelve{"Arial", 120};
    EXPECT_EQ(dlg.GetDlgItem(ids::main_window::kBanner)->font(), big);
    EXPECT_EQ(dlg.GetDlgItem(ids::main_window::kIdeUsbLabel)->font(), twelve);
    EXPECT_EQ(dlg.GetDlgItem(ids::main_window::kVersion)->font(), twelve);
    EXPECT_EQ(dlg.GetDlgItem(ids::main_window::kFooter)->font(), twelve);
    EXPECT_EQ(dlg.GetDlgItem(ids::main_window::kScan)->font(), std::nullopt);
    EXPECT_EQ(main.drive_list().GetExtendedStyle() & 0x35u, 0x35u);
    // No drives: the six titles and no line.
    EXPECT_EQ(Titles(dlg), kColumnTitles);
    EXPECT_EQ(main.drive_list().GetItemCount(), 0);
    ASSERT_NE(main.connection, nullptr);
    EXPECT_FALSE(main.connection->IsOpen());
    ASSERT_NE(main.selftest_status, nullptr);
    ASSERT_NE(main.utility_choice, nullptr);
  }).Escape();
  RunProgram(bench);
  EXPECT_FALSE(user.failed());
}

struct ColorCase {
  int id;
  std::optional<ui::Color> text;
  std::optional<ui::Color> back;
  bool transparent;
  bool white_brush;
};

TEST(MainWindowStartUp, ControlColours) {
  const ColorCase cases[] = {
      {ids::main_window::kBanner, ui::RGB(0, 0, 0), ui::RGB(255, 255, 255), true, true},
      {ids::main_window::kIdeUsbLabel, std::nullopt, std::nullopt, true, true},
      {ids::main_window::kVersion, std::nullopt, std::nullopt, true, true},
      {ids::main_window::kFooter, std::nullopt, std::nullopt, false, false},
      {ids::main_window::kScan, std::nullopt, std::nullopt, false, false},
      {ids::main_window::kDriveList, std::nullopt, std::nullopt, false, false},
  };
  ScriptedUser user;
  sim::Bench bench;
  ExpectNothingFound(user);
  user.Expect(ids::kMainTemplate).Do([&](ui::Dialog& dlg) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.id);
      const ui::CtlColor colors = dlg.OnCtlColor(c.id);
      const ui::CtlColor plain = dlg.ui::Dialog::OnCtlColor(c.id);
      EXPECT_EQ(colors.text_color, c.text ? c.text : plain.text_color);
      EXPECT_EQ(colors.back_color, c.back ? c.back : plain.back_color);
      EXPECT_EQ(colors.transparent, c.transparent || plain.transparent);
      EXPECT_EQ(colors.brush, c.white_brush ? ui::Brush{ui::RGB(255, 255, 255)} : plain.brush);
    }
  }).Escape();
  RunProgram(bench);
  EXPECT_FALSE(user.failed());
}

TEST(MainWindowScan, TwiceKeepsSixColumnsAndClearsChecks) {
  ScriptedUser user;
  sim::Bench bench;
  bench.AddSata(0, Sata("A", "SA", "F", 1ull << 24));
  bench.AddSata(1, Sata("B", "SB", "F", 1ull << 25));
  bench.AddSata(2, Sata("C", "SC", "F", 1ull << 26));

  user.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 0)
      .Check(ids::main_window::kDriveList, 2)
      .Do([](ui::Dialog& dlg) {
        EXPECT_EQ(Checks(dlg), (std::vector<bool>{true, false, true}));
        // Work on a drive shows in its Status; a rescan puts "Ready" back.
        Main(dlg).SetStatusText(1, "Now Test Execute");
      })
      .Press(ids::main_window::kScan)
      .Press(ids::main_window::kScan)
      .Do([](ui::Dialog& dlg) {
        EXPECT_EQ(Titles(dlg), kColumnTitles);
        EXPECT_EQ(Widths(dlg), kColumnWidths);
        EXPECT_EQ(Checks(dlg), (std::vector<bool>{false, false, false}));
        EXPECT_EQ(DriveListColumn(dlg, 5), (std::vector<std::string>{"Ready", "Ready", "Ready"}));
      })
      .Escape();
  RunProgram(bench);
  EXPECT_FALSE(user.failed());
  EXPECT_EQ(user.pending_steps(), 0u);
}

TEST(MainWindowScan, PicksUpDrivesThatCameAndWent) {
  ScriptedUser user;
  sim::Bench bench;
  bench.AddSata(0, Sata("A", "SA", "F", 1ull << 24));
  bench.AddSata(3, Sata("B", "SB", "F", 1ull << 25));

  user.Expect(ids::kMainTemplate)
      .Do([&](ui::Dialog& dlg) {
        EXPECT_EQ(DriveListColumn(dlg, 0), (std::vector<std::string>{"0", "3"}));
        bench.RemoveDrive(0);
        bench.AddSata(5, Sata("C", "SC", "F", 1ull << 26));
        // Nothing changes until the user asks.
        EXPECT_EQ(DriveListColumn(dlg, 0), (std::vector<std::string>{"0", "3"}));
      })
      .Press(ids::main_window::kScan)
      .Do([](ui::Dialog& dlg) {
        EXPECT_EQ(DriveListColumn(dlg, 0), (std::vector<std::string>{"3", "5"}));
        EXPECT_EQ(DriveListColumn(dlg, 1), (std::vector<std::string>{"B", "C"}));
      })
      .Escape();
  RunProgram(bench);
  EXPECT_FALSE(user.failed());
}

TEST(MainWindowScan, SystemDiskIsNotOffered) {
  ScriptedUser user;
  sim::Bench bench;
  bench.AddSata(0, Sata("SYSTEM", "S0", "F", 1ull << 28));
  bench.AddSata(1, Sata("DATA", "S1", "F", 1ull << 28));
  bench.AddVolume('C', 0);
  bench.AddVolume('D', 1);
  user.Expect(ids::kMainTemplate).Do([](ui::Dialog& dlg) {
    EXPECT_EQ(DriveListColumn(dlg, 1), std::vector<std::string>{"DATA"});
  }).Escape();
  RunProgram(bench);
  EXPECT_FALSE(user.failed());
}

struct SelectAllCase {
  const char* name;
  int drives;
  int highlighted;  // -1: none
};

class MainWindowSelectAll : public testing::TestWithParam<SelectAllCase> {};

TEST_P(MainWindowSelectAll, ChecksEveryLineAndHighlightsNone) {
  const SelectAllCase& c = GetParam();
  ScriptedUser user;
  sim::Bench bench;
  if (c.drives == 0) ExpectNothingFound(user);
  for (int i = 0; i < c.drives; ++i) {
    bench.AddSata(i, Sata("M" + std::to_string(i), "S" + std::to_string(i), "F", 1ull << 24));
  }
  auto& step = user.Expect(ids::kMainTemplate);
  if (c.highlighted >= 0) step.Select(ids::main_window::kDriveList, c.highlighted);
  step.Press(ids::main_window::kSelectAll)
      .Do([&](ui::Dialog& dlg) {
        EXPECT_EQ(Checks(dlg), std::vector<bool>(static_cast<std::size_t>(c.drives), true));
        if (c.highlighted >= 0) {
          EXPECT_EQ(Highlighted(dlg), std::vector<int>{c.highlighted});
        } else {
          EXPECT_TRUE(Highlighted(dlg).empty());
        }
      })
      .Escape();
  RunProgram(bench);
  EXPECT_FALSE(user.failed());
}

INSTANTIATE_TEST_SUITE_P(Lists, MainWindowSelectAll,
                         testing::Values(SelectAllCase{"Empty", 0, -1},
                                         SelectAllCase{"One", 1, -1},
                                         SelectAllCase{"Four", 4, -1},
                                         SelectAllCase{"FourOneHighlighted", 4, 2}),
                         [](const testing::TestParamInfo<SelectAllCase>& param_info) {
                           return std::string(param_info.param.name);
                         });

// Each button (and the double click) reaches the flow behind it: the first window that
// flow opens is the proof. The script ends there; the scripted user then cancels
// everything that is still open so the program runs to its end.
struct RouteCase {
  const char* name;
  std::function<void(ui::scripted::Step&)> act;
  int opens;
  int text_id;       // a control of the opened dialog, 0 for none
  const char* text;  // its text
};

class MainWindowRoutes : public testing::TestWithParam<RouteCase> {};

TEST_P(MainWindowRoutes, OpenTheirDialogs) {
  const RouteCase& c = GetParam();
  ui::scripted::ScriptedBackend ui;
  std::vector<std::string> unscripted;
  ui.SetFailureHandler([&](const std::string& message) { unscripted.push_back(message); });
  sim::Bench bench;
  bench.AddSata(0, Sata("ROUTE DISK", "RT0001", "F1", 1ull << 24));
  TempWorkDir dir;  // the flows write their log files here

  auto& step = ui.Expect(ids::kMainTemplate).Check(ids::main_window::kDriveList, 0);
  c.act(step);
  std::string seen;
  ui.Expect(c.opens).Do([&](ui::Dialog& dlg) {
    if (c.text_id != 0) seen = dlg.GetDlgItemText(c.text_id);
  });
  RunProgram(bench);

  ASSERT_GE(ui.opened_dialogs().size(), 2u);
  EXPECT_EQ(ui.opened_dialogs()[0], ids::kMainTemplate);
  EXPECT_EQ(ui.opened_dialogs()[1], c.opens);
  if (c.text_id != 0) {
    EXPECT_EQ(seen, c.text);
  }
  EXPECT_TRUE(ui.open_dialogs().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, MainWindowRoutes,
    testing::Values(
        RouteCase{"QuickTest", [](ui::scripted::Step& s) { s.Press(ids::main_window::kQuickTest); },
                  ids::kSelfTestProgressTemplate, ids::selftest_progress::kTitle,
                  "SMART Short Test"},
        RouteCase{"ExtTest", [](ui::scripted::Step& s) { s.Press(ids::main_window::kExtTest); },
                  ids::kSelfTestProgressTemplate, ids::selftest_progress::kTitle,
                  "SMART Extended Test"},
        RouteCase{"Utilities", [](ui::scripted::Step& s) { s.Press(ids::main_window::kUtilities); },
                  ids::kUtilitiesTemplate, 0, ""},
        RouteCase{"Help", [](ui::scripted::Step& s) { s.Press(ids::main_window::kHelp); },
                  ids::kHelpTemplate, 0, ""},
        RouteCase{"DoubleClick",
                  [](ui::scripted::Step& s) { s.DoubleClick(ids::main_window::kDriveList, 0); },
                  ids::kSmartTemplate, ids::smart::kModel, "ROUTE DISK"}),
    [](const testing::TestParamInfo<RouteCase>& param_info) {
      return std::string(param_info.param.name);
    });

// --- The unsupported USB notice ---

const char* const kNoticeA = "ACME     Portable Disk    USB Device is NOT supported.";
const char* const kNoticeB = "Ext HDD  Model 1021 Case  USB Device is NOT supported.";

void AddTwoUnsupported(sim::Bench& bench) {
  AddUnsupportedUsb(bench, 4, "ACME    ", "Portable Disk   ");
  AddUnsupportedUsb(bench, 6, "Ext HDD ", "Model 1021 Case ");
}

TEST(UnsupportedUsbNotice, FiveSecondsAfterStartUpOnceInListOrder) {
  ScriptedUser user;
  sim::Bench bench;
  bench.AddSata(0, Sata("A", "SA", "F", 1ull << 24));
  AddTwoUnsupported(bench);

  user.Expect(ids::kMainTemplate)
      .Do([](ui::Dialog& dlg) {
        // The dropped drives are not in the list.
        EXPECT_EQ(DriveListColumn(dlg, 0), std::vector<std::string>{"0"});
        EXPECT_EQ(Main(dlg).unsupported_usb.count, 2);
      })
      .Advance(4999)
      .Do([&](ui::Dialog&) { EXPECT_TRUE(user.message_boxes().empty()); })
      .Advance(1);
  user.ExpectMessageBox(kNoticeA).Press(ui::IDOK);
  user.ExpectMessageBox(kNoticeB).Press(ui::IDOK);
  user.Expect(ids::kMainTemplate).Advance(60000).Escape();

  RunProgram(bench);
  EXPECT_FALSE(user.failed());
  EXPECT_EQ(user.pending_steps(), 0u);
  EXPECT_EQ(BoxTexts(user), (std::vector<std::string>{kNoticeA, kNoticeB}));
  for (const auto& box : user.message_boxes()) {
    EXPECT_EQ(box.caption, "Plovix");
    EXPECT_EQ(box.type, ui::MB_OK);
  }
}

TEST(UnsupportedUsbNotice, ScanWithinTheDelayRestartsItAndShowsOnce) {
  ScriptedUser user;
  sim::Bench bench;
  AddTwoUnsupported(bench);

  user.Expect(ids::kMainTemplate)
      .Advance(3000)
      .Do([&](ui::Dialog&) { bench.RemoveDrive(6); })
      .Press(ids::main_window::kScan)
      .Advance(4999)
      .Do([&](ui::Dialog&) { EXPECT_TRUE(user.message_boxes().empty()); })
      .Advance(1);
  // The list of the latest scan only.
  user.ExpectMessageBox(kNoticeA).Press(ui::IDOK);
  user.Expect(ids::kMainTemplate).Advance(30000).Escape();

  RunProgram(bench);
  EXPECT_FALSE(user.failed());
  EXPECT_EQ(BoxTexts(user), std::vector<std::string>{kNoticeA});
}

TEST(UnsupportedUsbNotice, ArmedAgainByScanAfterItWasShown) {
  ScriptedUser user;
  sim::Bench bench;
  bench.AddSata(0, Sata("A", "SA", "F", 1ull << 24));

  user.Expect(ids::kMainTemplate)
      .Advance(10000)
      .Do([&](ui::Dialog&) {
        EXPECT_TRUE(user.message_boxes().empty());
        AddUnsupportedUsb(bench, 9, "ACME    ", "Portable Disk   ");
      })
      .Press(ids::main_window::kScan)
      .Advance(5000);
  user.ExpectMessageBox(kNoticeA).Press(ui::IDOK);
  user.Expect(ids::kMainTemplate).Press(ids::main_window::kScan).Advance(5000);
  user.ExpectMessageBox(kNoticeA).Press(ui::IDOK);
  user.Expect(ids::kMainTemplate).Escape();

  RunProgram(bench);
  EXPECT_FALSE(user.failed());
  EXPECT_EQ(user.pending_steps(), 0u);
  EXPECT_EQ(user.message_boxes().size(), 2u);
}

TEST(UnsupportedUsbNotice, NoTimerAndNoBoxWithoutUnsupportedDrives) {
  ScriptedUser user;
  sim::Bench bench;
  bench.AddSata(0, Sata("A", "SA", "F", 1ull << 24));
  user.Expect(ids::kMainTemplate)
      .Do([](ui::Dialog& dlg) { EXPECT_EQ(Main(dlg).unsupported_timer, 0); })
      .Advance(60000)
      .Press(ids::main_window::kScan)
      .Advance(60000)
      .Escape();
  RunProgram(bench);
  EXPECT_FALSE(user.failed());
  EXPECT_TRUE(user.message_boxes().empty());
}

// The demo's own bench: the system disk and the USB disk Windows does not list stay out;
// the NVMe drive is listed beside the ATA ones.
TEST(UnsupportedUsbNotice, DemoBenchStartUp) {
  ScriptedUser user;
  sim::Bench bench;
  sim::BuildDemoBench(bench);
  bench.SetClock([] { return ui::TickMs(); });
  const std::string notice = std::string("Nimbra  ") + " " + "Dock SATA       " +
                             " USB Device is NOT supported.";
  user.Expect(ids::kMainTemplate)
      .Do([](ui::Dialog& dlg) {
        EXPECT_EQ(DriveListColumn(dlg, 0), (std::vector<std::string>{"1", "2", "3", "4", "5", "7"}));
        EXPECT_EQ(DriveListColumn(dlg, 1),
                  (std::vector<std::string>{"Orvane OD1000-HX", "Kestrel KD2000-LP",
                                            "Tessel TS-500A", "Kestrel KD4000-UX",
                                            "Brannock BR1000-E", "Kestrel KN1000-PX NVMe"}));
        EXPECT_EQ(DriveListColumn(dlg, 4)[5], "931GB");
        EXPECT_EQ(DriveListColumn(dlg, 5), std::vector<std::string>(6, "Ready"));
      })
      .Advance(5000);
  user.ExpectMessageBox(notice).Press(ui::IDOK);
  user.Expect(ids::kMainTemplate).Escape();
  RunProgram(bench);
  EXPECT_FALSE(user.failed());
  EXPECT_EQ(user.pending_steps(), 0u);
  ASSERT_EQ(user.message_boxes().size(), 1u);
  EXPECT_EQ(user.message_boxes()[0].caption, "Plovix");
}

// --- Device arrival, About, leaving ---

TEST(MainWindowDeviceArrival, ShowsTheNoticeWithTheAppTitleAndLeavesTheList) {
  ScriptedUser user;
  const std::string previous_title = ui::AppTitle();
  ui::SetAppTitle("Renamed-Plovix");
  sim::Bench bench;
  bench.AddSata(0, Sata("A", "SA", "F", 1ull << 24));

  user.Expect(ids::kMainTemplate)
      .Do([&](ui::Dialog&) { bench.AddSata(1, Sata("B", "SB", "F", 1ull << 24)); })
      .DeviceArrival();
  user.ExpectMessageBox("The device is available now !!").Press(ui::IDOK);
  user.Expect(ids::kMainTemplate).DeviceArrival();
  user.ExpectMessageBox("The device is available now !!").Press(ui::IDOK);
  user.Expect(ids::kMainTemplate)
      .Do([](ui::Dialog& dlg) {
        EXPECT_EQ(DriveListColumn(dlg, 0), std::vector<std::string>{"0"});
        EXPECT_FALSE(Main(dlg).OnDeviceChange(ui::DBT_DEVICEARRIVAL + 4, 0));
      })
      .Escape();

  RunProgram(bench);
  EXPECT_FALSE(user.failed());
  EXPECT_EQ(user.pending_steps(), 0u);
  ASSERT_EQ(user.message_boxes().size(), 2u);
  for (const auto& box : user.message_boxes()) EXPECT_EQ(box.caption, "Renamed-Plovix");
  ui::SetAppTitle(previous_title);
}

class MainWindowAbout : public testing::TestWithParam<int> {};

TEST_P(MainWindowAbout, SystemMenuItemShowsTheAboutBox) {
  ScriptedUser user;
  sim::Bench bench;
  ExpectNothingFound(user);
  user.Expect(ids::kMainTemplate).SystemCommand(GetParam());
  user.Expect(ids::kAboutTemplate)
      .Do([](ui::Dialog& dlg) {
        EXPECT_EQ(dlg.caption(), "バージョン情報 Plovix");
        const auto& controls = dlg.controls();
        ASSERT_GE(controls.size(), 2u);
        EXPECT_EQ(controls[1]->text(), "Plovix, Version 0.92");
      })
      .Press(ui::IDOK);
  user.Expect(ids::kMainTemplate).Escape();
  EXPECT_FALSE(RunProgram(bench));
  EXPECT_FALSE(user.failed());
  EXPECT_EQ(user.opened_dialogs(), (std::vector<int>{ids::kMainTemplate, ids::kAboutTemplate}));
}

// The low four bits of a system command belong to the system and are masked off.
INSTANTIATE_TEST_SUITE_P(Commands, MainWindowAbout, testing::Values(0x0010, 0x0013, 0x001F));

struct LeaveCase {
  const char* name;
  int how;  // 0 Escape, 1 close box, 2 system menu Close
};

class MainWindowLeave : public testing::TestWithParam<LeaveCase> {};

TEST_P(MainWindowLeave, EndsTheProgramWithoutAQuestion) {
  ScriptedUser user;
  sim::Bench bench;
  bench.AddSata(0, Sata("A", "SA", "F", 1ull << 24));
  auto& step = user.Expect(ids::kMainTemplate);
  switch (GetParam().how) {
    case 0: step.Escape(); break;
    case 1: step.CloseBox(); break;
    default: step.SystemCommand(ui::SC_CLOSE); break;
  }
  EXPECT_FALSE(RunProgram(bench));
  EXPECT_FALSE(user.failed());
  EXPECT_EQ(user.pending_steps(), 0u);
  EXPECT_EQ(user.opened_dialogs(), std::vector<int>{ids::kMainTemplate});
  EXPECT_TRUE(user.message_boxes().empty());
  EXPECT_TRUE(user.open_dialogs().empty());
}

INSTANTIATE_TEST_SUITE_P(Ways, MainWindowLeave,
                         testing::Values(LeaveCase{"Escape", 0}, LeaveCase{"CloseBox", 1},
                                         LeaveCase{"SystemClose", 2}),
                         [](const testing::TestParamInfo<LeaveCase>& param_info) {
                           return std::string(param_info.param.name);
                         });

TEST(MainWindowLeave, EnterOnTheListDoesNotEndTheProgram) {
  ScriptedUser user;
  sim::Bench bench;
  bench.AddSata(0, Sata("A", "SA", "F", 1ull << 24));
  user.Expect(ids::kMainTemplate)
      .Do([](ui::Dialog& dlg) {
        dlg.OnCommand(ui::IDOK);
        EXPECT_FALSE(dlg.end_requested());
        dlg.OnCommand(ids::main_window::kBanner);
        EXPECT_FALSE(dlg.end_requested());
      })
      .Escape();
  RunProgram(bench);
  EXPECT_FALSE(user.failed());
}

}  // namespace
}  // namespace plovix
