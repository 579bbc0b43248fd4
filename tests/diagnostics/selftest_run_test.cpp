// Quick and extended test runs, driven through the main window's buttons.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "resources/ResourceIds.h"
#include "tests/support/selftest_fixture.h"

namespace plovix::selftest_testing {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

TEST_F(SelfTestFlow, HealthyDrivePassesQuickTest) {
  bench.AddSata(0, HealthyDrive("HEALTHY0001"));
  std::vector<std::string> status_during;
  std::vector<std::string> status_after;
  std::vector<std::string> progress_texts;
  std::vector<std::string> result_texts;

  ui.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kQuickTest);
  ui.Expect(ids::kSelfTestProgressTemplate)
      .Do([&](ui::Dialog& d) {
        progress_texts = {d.GetDlgItemText(ids::selftest_progress::kTitle),
                          d.GetDlgItemText(ids::selftest_progress::kProgressText)};
        // The main window beneath shows the test as running.
        ui::Dialog* main = ui.open_dialogs().front();
        status_during = {main->List(ids::main_window::kDriveList).GetItemText(0, 5)};
      })
      .AdvanceUntilClosed(60000);
  ui.Expect(ids::kSelfTestResultTemplate)
      .Do([&](ui::Dialog& d) {
        result_texts = {d.caption(), d.GetDlgItemText(ids::selftest_result::kTitle),
                        d.GetDlgItemText(ids::selftest_result::kSubtitle),
                        d.GetDlgItemText(ids::selftest_result::kReadError),
                        d.GetDlgItemText(ids::selftest_result::kSelfTest)};
      })
      .Press(ui::IDOK);
  CaptureStatus(status_after).Escape();
  Run();

  EXPECT_EQ(progress_texts, (std::vector<std::string>{"SMART Short Test", "SMART short test in progress"}));
  EXPECT_EQ(status_during, std::vector<std::string>{"Now Test Execute"});
  EXPECT_EQ(result_texts,
            (std::vector<std::string>{"SMART Test Result - 0: Plovix Test Disk 500 HEALTHY0001",
                                      "SMART Short Test",
                                      "SMART short test have been completed", "Pass",
                                      "Pass - Test completed without Error"}));
  EXPECT_EQ(status_after, std::vector<std::string>{"Completed"});
  EXPECT_EQ(LogEntries("HEALTHY0001"), (Entries{{"ReadErrStat", "Pass"}, {"SMART QT", "Pass"}}));
  EXPECT_EQ(SelfTestSubcommands(0), std::vector<std::uint8_t>{0x01});
}

TEST_F(SelfTestFlow, ExtendedTestRunsTheExtendedSelfTest) {
  bench.AddSata(0, HealthyDrive("EXTENDED001"));
  std::vector<std::string> texts;
  std::vector<std::string> status_after;

  ui.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kExtTest);
  ui.Expect(ids::kSelfTestProgressTemplate)
      .Do([&](ui::Dialog& d) {
        texts.push_back(d.GetDlgItemText(ids::selftest_progress::kTitle));
        texts.push_back(d.GetDlgItemText(ids::selftest_progress::kProgressText));
      })
      .AdvanceUntilClosed(120000);
  ui.Expect(ids::kSelfTestResultTemplate)
      .Do([&](ui::Dialog& d) {
        texts.push_back(d.GetDlgItemText(ids::selftest_result::kTitle));
        texts.push_back(d.GetDlgItemText(ids::selftest_result::kSubtitle));
      })
      .Press(ui::IDOK);
  CaptureStatus(status_after).Escape();
  Run();

  EXPECT_EQ(texts, (std::vector<std::string>{"SMART Extended Test", "SMART extend test in progress",
                                             "SMART Extended Test",
                                             "SMART extend test have been completed"}));
  EXPECT_EQ(status_after, std::vector<std::string>{"Completed"});
  EXPECT_EQ(LogEntries("EXTENDED001"), (Entries{{"ReadErrStat", "Pass"}, {"SMART ET", "Pass"}}));
  EXPECT_EQ(SelfTestSubcommands(0), std::vector<std::uint8_t>{0x02});
  // The extended test takes a minute on this drive: at least a dozen polls.
  EXPECT_GE(ui.now_ms(), 60000u);
}

TEST_F(SelfTestFlow, WornDriveFailsBothChecks) {
  bench.AddSata(0, WornDrive("WORN000001"));
  std::vector<std::string> result_texts;
  std::vector<std::string> status_after;
  std::uint64_t closed_at = 0;

  ui.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kQuickTest);
  ui.Expect(ids::kSelfTestProgressTemplate).AdvanceUntilClosed(60000);
  ui.Expect(ids::kSelfTestResultTemplate)
      .Do([&](ui::Dialog& d) {
        closed_at = ui.now_ms();
        result_texts = {d.GetDlgItemText(ids::selftest_result::kReadError),
                        d.GetDlgItemText(ids::selftest_result::kSelfTest)};
      })
      .Press(ui::IDOK);
  CaptureStatus(status_after).Escape();
  Run();

  EXPECT_EQ(result_texts, (std::vector<std::string>{"Fail", "Fail - Read Element Failure"}));
  EXPECT_EQ(status_after, std::vector<std::string>{"Failure"});
  EXPECT_EQ(LogEntries("WORN000001"), (Entries{{"ReadErrStat", "Fail"}, {"SMART QT", "Fail"}}));
  // The failure is seen at the first poll after the drive gave up (12 s into the test).
  EXPECT_EQ(closed_at, 15000u);
}

// The read-error check judges attribute 197 (pending sectors) on its whole raw value.
struct ReadErrorCase {
  const char* name;
  bool with_pending;
  std::uint64_t pending_raw;
  bool read_fails;
  const char* word;
};

class ReadErrorCheckFlow : public SelfTestFlow,
                           public ::testing::WithParamInterface<ReadErrorCase> {};

TEST_P(ReadErrorCheckFlow, ResultDialogAndLogAgree) {
  const ReadErrorCase& c = GetParam();
  sim::DriveSpec setup = HealthyDrive("READERR001");
  setup.attributes = Attributes(c.pending_raw, c.with_pending);
  bench.AddSata(0, setup);
  if (c.read_fails) {
    sim::Fault fault;
    fault.match.drive_number = 0;
    fault.match.smart_feature = 0xD0;
    fault.effect = sim::FaultEffect::AtaError;
    bench.AddFault(fault);
  }
  std::string shown;

  ui.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kQuickTest);
  if (c.read_fails) {
    // Nothing can be read back, so the dialog cannot learn the outcome; the user leaves.
    ui.Expect(ids::kSelfTestProgressTemplate).Advance(30000).Escape();
  } else {
    ui.Expect(ids::kSelfTestProgressTemplate).AdvanceUntilClosed(60000);
  }
  ui.Expect(ids::kSelfTestResultTemplate)
      .Do([&](ui::Dialog& d) { shown = d.GetDlgItemText(ids::selftest_result::kReadError); })
      .Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate).Escape();
  Run();

  EXPECT_EQ(shown, c.word);
  const Entries entries = LogEntries("READERR001");
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries.front(), (std::pair<std::string, std::string>{"ReadErrStat", c.word}));
  // The check never stops the run: the self-test was started in every case.
  EXPECT_EQ(SelfTestSubcommands(0), std::vector<std::uint8_t>{0x01});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadErrorCheckFlow,
    ::testing::Values(ReadErrorCase{"NoPendingSectors", true, 0, false, "Pass"},
                      ReadErrorCase{"EightPendingSectors", true, 8, false, "Fail"},
                      ReadErrorCase{"OnePendingSector", true, 1, false, "Fail"},
                      ReadErrorCase{"CountInTopBytes", true, 0x010200000000ull, false, "Fail"},
                      ReadErrorCase{"NoPendingAttribute", false, 0, false, "ComErr"},
                      ReadErrorCase{"SmartDataUnreadable", true, 0, true, "ComErr"}),
    CaseName());

TEST_F(SelfTestFlow, FourCheckedDrivesTestTheFirstThree) {
  const char* serials[] = {"MULTI00", "MULTI01", "MULTI02", "MULTI03"};
  for (int n = 0; n < 4; ++n) bench.AddSata(n, HealthyDrive(serials[n]));
  std::vector<std::string> status_at_first_dialog;
  std::vector<std::string> status_after;
  std::vector<std::size_t> logs_at_second_dialog;

  ui.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 0)
      .Check(ids::main_window::kDriveList, 1)
      .Check(ids::main_window::kDriveList, 2)
      .Check(ids::main_window::kDriveList, 3)
      .Press(ids::main_window::kQuickTest);
  ui.ExpectMessageBox(
        "Only three drives are tested at a time, so these checked drives are left out:\n"
        "3: Plovix Test Disk 500")
      .Press(ui::IDOK);
  ui.Expect(ids::kSelfTestProgressTemplate)
      .Do([&](ui::Dialog&) {
        ui::ListCtrl& list = ui.open_dialogs().front()->List(ids::main_window::kDriveList);
        for (int i = 0; i < list.GetItemCount(); ++i) status_at_first_dialog.push_back(list.GetItemText(i, 5));
      })
      .AdvanceUntilClosed(60000);
  ui.Expect(ids::kSelfTestResultTemplate).Press(ui::IDOK);
  ui.Expect(ids::kSelfTestProgressTemplate)
      .Do([&](ui::Dialog&) {
        for (const char* s : serials) logs_at_second_dialog.push_back(ReadLog(s).size());
      })
      .AdvanceUntilClosed(60000);
  ui.Expect(ids::kSelfTestResultTemplate).Press(ui::IDOK);
  ui.Expect(ids::kSelfTestProgressTemplate).AdvanceUntilClosed(60000);
  ui.Expect(ids::kSelfTestResultTemplate).Press(ui::IDOK);
  CaptureStatus(status_after).Escape();
  Run();

  EXPECT_EQ(status_at_first_dialog,
            (std::vector<std::string>{"Now Test Execute", "Ready", "Ready", "Ready"}));
  // The first drive is logged before the second one's dialogs; the others not yet.
  EXPECT_EQ(logs_at_second_dialog, (std::vector<std::size_t>{2, 0, 0, 0}));
  EXPECT_EQ(status_after,
            (std::vector<std::string>{"Completed", "Completed", "Completed", "Ready"}));
  for (int n = 0; n < 3; ++n) {
    EXPECT_EQ(LogEntries(serials[n]), (Entries{{"ReadErrStat", "Pass"}, {"SMART QT", "Pass"}}))
        << serials[n];
    EXPECT_EQ(SelfTestSubcommands(n), std::vector<std::uint8_t>{0x01}) << serials[n];
  }
  EXPECT_TRUE(ReadLog("MULTI03").empty());
  EXPECT_TRUE(SelfTestSubcommands(3).empty());
}

// Past three checked drives the run says, before it starts, which ones it leaves out.
struct LeftOutCase {
  const char* name;
  std::vector<int> drives;         // bench drive numbers, listed in this order
  std::vector<int> checked_lines;
  int button;
  std::string box;
  std::vector<int> tested;         // drive numbers, in the order tested
};

class LeftOutDrives : public SelfTestFlow, public ::testing::WithParamInterface<LeftOutCase> {};

TEST_P(LeftOutDrives, NamedBeforeTheRun) {
  const LeftOutCase& c = GetParam();
  for (const int n : c.drives) {
    sim::DriveSpec setup = HealthyDrive("LEFT" + std::to_string(n));
    setup.model = "Model " + std::string(1, static_cast<char>('A' + n));
    bench.AddSata(n, setup);
  }
  std::vector<std::string> status_at_box;
  bool drives_untouched_at_box = false;

  auto& main = ui.Expect(ids::kMainTemplate).Do([&](ui::Dialog&) { bench.ClearLog(); });
  for (const int line : c.checked_lines) main.Check(ids::main_window::kDriveList, line);
  main.Press(c.button);
  ui.ExpectMessageBox(c.box)
      .Do([&](ui::Dialog& beneath) {
        ui::ListCtrl& list = beneath.List(ids::main_window::kDriveList);
        for (int i = 0; i < list.GetItemCount(); ++i) status_at_box.push_back(list.GetItemText(i, 5));
        drives_untouched_at_box = bench.Log().empty();
      })
      .Press(ui::IDOK);
  for (std::size_t i = 0; i < c.tested.size(); ++i) {
    ui.Expect(ids::kSelfTestProgressTemplate).AdvanceUntilClosed(120000);
    ui.Expect(ids::kSelfTestResultTemplate).Press(ui::IDOK);
  }
  ui.Expect(ids::kMainTemplate).Escape();
  Run();

  EXPECT_EQ(status_at_box, std::vector<std::string>(c.drives.size(), "Ready"));
  EXPECT_TRUE(drives_untouched_at_box);
  const std::uint8_t sub = c.button == ids::main_window::kQuickTest ? 0x01 : 0x02;
  for (const int n : c.drives) {
    const bool tested = std::find(c.tested.begin(), c.tested.end(), n) != c.tested.end();
    EXPECT_EQ(SelfTestSubcommands(n), tested ? std::vector<std::uint8_t>{sub} : std::vector<std::uint8_t>{})
        << "drive " << n;
  }
  ASSERT_EQ(ui.message_boxes().size(), 1u);
  EXPECT_EQ(ui.message_boxes()[0].caption, ui::AppTitle());
}

INSTANTIATE_TEST_SUITE_P(
    Checks, LeftOutDrives,
    ::testing::Values(
        // Named by drive number, not by line, with a gap among the checked lines.
        LeftOutCase{"OneLeftOutPastAGap", {2, 3, 5, 7, 8, 11}, {0, 2, 3, 5},
                    ids::main_window::kQuickTest,
                    "Only three drives are tested at a time, so these checked drives are left "
                    "out:\n11: Model L",
                    {2, 5, 7}},
        LeftOutCase{"TwoLeftOutOfAnExtendedTest", {1, 2, 4, 6, 9}, {0, 1, 2, 3, 4},
                    ids::main_window::kExtTest,
                    "Only three drives are tested at a time, so these checked drives are left "
                    "out:\n6: Model G\n9: Model J",
                    {1, 2, 4}}),
    CaseName());

TEST_F(SelfTestFlow, UncheckedLinesAndAnEmptySelectionTestNothing) {
  bench.AddSata(0, HealthyDrive("IDLE0000"));
  bench.AddSata(1, HealthyDrive("IDLE0001"));
  std::vector<std::string> status_after;

  // Checked and unchecked again: the run finds nothing to do and shows nothing.
  ui.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 1)
      .Check(ids::main_window::kDriveList, 1, false)
      .Press(ids::main_window::kQuickTest)
      .Press(ids::main_window::kExtTest);
  CaptureStatus(status_after).Escape();
  Run();

  EXPECT_EQ(ui.opened_dialogs(), std::vector<int>{ids::kMainTemplate});
  EXPECT_EQ(status_after, (std::vector<std::string>{"Ready", "Ready"}));
  EXPECT_TRUE(SelfTestSubcommands(0).empty());
  EXPECT_TRUE(SelfTestSubcommands(1).empty());
}

// The second of three checked drives has SMART switched off.
struct SmartOffCase {
  const char* name;
  int warning_answer;       // OK or cancel
  int really_sure_answer;   // 0: not asked
  bool enabled_afterwards;
};

class SmartOffFlow : public SelfTestFlow, public ::testing::WithParamInterface<SmartOffCase> {};

TEST_P(SmartOffFlow, RunEndsAtTheDriveWithSmartOff) {
  const SmartOffCase& c = GetParam();
  bench.AddSata(0, HealthyDrive("SMARTON00"));
  sim::DriveSpec off = HealthyDrive("SMARTOFF1");
  off.smart_enabled = false;
  bench.AddSata(1, off);
  bench.AddSata(2, HealthyDrive("SMARTON02"));
  std::vector<std::string> status_after;
  std::size_t first_log_at_warning = 0;

  ui.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 0)
      .Check(ids::main_window::kDriveList, 1)
      .Check(ids::main_window::kDriveList, 2)
      .Press(ids::main_window::kQuickTest);
  ui.Expect(ids::kSelfTestProgressTemplate).AdvanceUntilClosed(60000);
  ui.Expect(ids::kSelfTestResultTemplate).Press(ui::IDOK);
  ui.Expect(ids::kWarningTemplate)
      .Do([&](ui::Dialog&) { first_log_at_warning = ReadLog("SMARTON00").size(); })
      .Press(c.warning_answer);
  if (c.really_sure_answer != 0) ui.Expect(ids::kSureTemplate).Press(c.really_sure_answer);
  CaptureStatus(status_after).Escape();
  Run();

  EXPECT_EQ(first_log_at_warning, 2u);
  EXPECT_EQ(LogEntries("SMARTON00"), (Entries{{"ReadErrStat", "Pass"}, {"SMART QT", "Pass"}}));
  EXPECT_TRUE(ReadLog("SMARTOFF1").empty());
  EXPECT_TRUE(ReadLog("SMARTON02").empty());
  EXPECT_TRUE(SelfTestSubcommands(1).empty());
  EXPECT_TRUE(SelfTestSubcommands(2).empty());
  EXPECT_EQ(bench.Drive(1).smart_enabled(), c.enabled_afterwards);
  if (c.enabled_afterwards) {
    // The list was rebuilt from a new scan.
    EXPECT_EQ(status_after, (std::vector<std::string>{"Ready", "Ready", "Ready"}));
  } else {
    EXPECT_EQ(status_after, (std::vector<std::string>{"Completed", "Ready", "Ready"}));
  }
  // No unsupported-USB notice timer is armed by that rebuild: nothing else was shown.
  EXPECT_TRUE(ui.message_boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SmartOffFlow,
    ::testing::Values(SmartOffCase{"WarningCancelled", ui::IDCANCEL, 0, false},
                      SmartOffCase{"NotReallySure", ui::IDOK, ui::IDCANCEL, false},
                      SmartOffCase{"Accepted", ui::IDOK, ui::IDOK, true}),
    CaseName());

TEST_F(SelfTestFlow, SmartSwitchedOnIsTestedOnTheNextPress) {
  sim::DriveSpec off = HealthyDrive("LATERON01");
  off.smart_enabled = false;
  bench.AddSata(0, off);

  ui.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kQuickTest);
  ui.Expect(ids::kWarningTemplate).Press(ui::IDOK);
  ui.Expect(ids::kSureTemplate).Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kQuickTest);
  ui.Expect(ids::kSelfTestProgressTemplate).AdvanceUntilClosed(60000);
  ui.Expect(ids::kSelfTestResultTemplate).Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate).Escape();
  Run();

  EXPECT_EQ(LogEntries("LATERON01"), (Entries{{"ReadErrStat", "Pass"}, {"SMART QT", "Pass"}}));
  EXPECT_EQ(SelfTestSubcommands(0), std::vector<std::uint8_t>{0x01});
}

// Drives behind USB bridges: the recognised chips get the register write right before
// the vendor-block start; other bridges get the standard block.
struct BridgeCase {
  const char* name;
  const char* chip_id;
  sim::BridgeForwarding forwarding;
  std::vector<std::vector<std::uint8_t>> start_cdbs;  // what precedes and starts the test
};

class BridgeFlow : public SelfTestFlow, public ::testing::WithParamInterface<BridgeCase> {};

TEST_P(BridgeFlow, StartGoesThroughTheBridge) {
  const BridgeCase& c = GetParam();
  sim::BridgeSpec bridge;
  bridge.vendor = "Plovix  ";
  bridge.product = "USB Disk Adapter";
  bridge.revision = "0100";
  bridge.chip_id = c.chip_id;
  bridge.forwarding = c.forwarding;
  bench.AddUsb(0, HealthyDrive("USBDRIVE01"), bridge);
  std::size_t log_mark = 0;
  std::vector<std::string> status_after;

  ui.Expect(ids::kMainTemplate)
      .Do([&](ui::Dialog&) { log_mark = bench.LogFor(0).size(); })
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kQuickTest);
  ui.Expect(ids::kSelfTestProgressTemplate).AdvanceUntilClosed(60000);
  ui.Expect(ids::kSelfTestResultTemplate).Press(ui::IDOK);
  CaptureStatus(status_after).Escape();
  Run();

  // After the SMART read of the check, the next requests are the start sequence.
  const std::vector<sim::Received> log = bench.LogFor(0);
  ASSERT_GT(log.size(), log_mark + 1 + c.start_cdbs.size());
  std::size_t i = log_mark + 1;  // log_mark: the read-error check's SMART READ DATA
  for (const auto& expected : c.start_cdbs) {
    const sim::Received& r = log[i++];
    ASSERT_TRUE(r.scsi);
    std::vector<std::uint8_t> cdb(r.scsi_request.Cdb, r.scsi_request.Cdb + expected.size());
    EXPECT_EQ(cdb, expected);
    if (cdb[0] == 0xDF && cdb[4] == 0x04) {
      EXPECT_EQ(r.scsi_request.DataIn, 0);
      EXPECT_EQ(r.scsi_request.DataTransferLength, 4u);
      EXPECT_EQ(r.data_out, std::vector<std::uint8_t>(4, 0));
    }
  }
  EXPECT_EQ(status_after, std::vector<std::string>{"Completed"});
  EXPECT_EQ(LogEntries("USBDRIVE01"), (Entries{{"ReadErrStat", "Pass"}, {"SMART QT", "Pass"}}));
}

const std::vector<std::uint8_t> kVendorStart{0xDF, 0x10, 0x00, 0x02, 0x00, 0xD4,
                                              0x00, 0x01, 0x4F, 0xC2, 0xE0, 0xB0};

INSTANTIATE_TEST_SUITE_P(
    Chips, BridgeFlow,
    ::testing::Values(
        BridgeCase{"J509", "j509", sim::BridgeForwarding::VendorAndStandard,
                   {{0xDF, 0x00, 0x00, 0x00, 0x04, 0x00, 0xFE, 0x75, 0x00, 0x00, 0x00, 0xFE},
                    kVendorStart}},
        BridgeCase{"J519", "j519", sim::BridgeForwarding::Vendor,
                   {{0xDF, 0x00, 0x00, 0x00, 0x04, 0x00, 0xFE, 0x75, 0x00, 0x00, 0x00, 0xFE},
                    kVendorStart}},
        BridgeCase{"J329", "j329", sim::BridgeForwarding::VendorAndStandard,
                   {{0xDF, 0x00, 0x00, 0x00, 0x04, 0x00, 0xC2, 0x75, 0x00, 0x00, 0x00, 0xFE},
                    kVendorStart}},
        BridgeCase{"Unrecognised", "ab12", sim::BridgeForwarding::Standard,
                   {{0xA1, 0x06, 0x00, 0xD4, 0x00, 0x01, 0x4F, 0xC2, 0xE0, 0xB0, 0x00, 0x00}}}),
    CaseName());

}  // namespace
}  // namespace plovix::selftest_testing
