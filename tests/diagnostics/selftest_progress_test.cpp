// The self-test progress dialog and the result dialog, watched through whole test runs.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "resources/ResourceIds.h"
#include "tests/support/selftest_fixture.h"

namespace plovix::selftest_testing {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kDone = "SMART short test have been completed";

// A drive whose short test ends with final_status one second after it started.
sim::DriveSpec EndingWith(std::string serial, std::uint8_t final_status) {
  sim::DriveSpec setup = HealthyDrive(std::move(serial));
  setup.short_test = sim::SelfTestPlan{final_status, 1000};
  return setup;
}

// The start is taken without error but never reaches the drive, which then goes on
// reporting whatever status the test sets in its setup.
void LoseSelfTestStart(sim::Bench& bench, int drive_number) {
  sim::Fault fault;
  fault.match.drive_number = drive_number;
  fault.match.smart_feature = 0xD4;
  fault.effect = sim::FaultEffect::Lost;
  bench.AddFault(fault);
}

// How the drive's final self-test status is shown, kept and logged.
struct OutcomeCase {
  const char* name;
  std::uint8_t final_status;
  std::uint64_t closes_at_ms;
  const char* sentence;
  const char* subtitle;
  const char* status_column;
  const char* logged;  // nullptr: no self-test record
};

class OutcomeFlow : public SelfTestFlow, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(OutcomeFlow, StatusByteDecidesEverything) {
  const OutcomeCase& c = GetParam();
  bench.AddSata(0, EndingWith("OUTCOME01", c.final_status));
  std::string sentence;
  std::string subtitle;
  std::uint64_t closed_at = 0;
  std::vector<std::string> status_after;

  ui.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kQuickTest);
  ui.Expect(ids::kSelfTestProgressTemplate).AdvanceUntilClosed(30000);
  ui.Expect(ids::kSelfTestResultTemplate)
      .Do([&](ui::Dialog& d) {
        closed_at = ui.now_ms();
        sentence = d.GetDlgItemText(ids::selftest_result::kSelfTest);
        subtitle = d.GetDlgItemText(ids::selftest_result::kSubtitle);
      })
      .Press(ui::IDOK);
  CaptureStatus(status_after).Escape();
  Run();

  EXPECT_EQ(closed_at, c.closes_at_ms);
  EXPECT_EQ(sentence, c.sentence);
  EXPECT_EQ(subtitle, c.subtitle);
  EXPECT_EQ(status_after, std::vector<std::string>{c.status_column});
  Entries expected{{"ReadErrStat", "Pass"}};
  if (c.logged != nullptr) expected.emplace_back("SMART QT", c.logged);
  EXPECT_EQ(LogEntries("OUTCOME01"), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, OutcomeFlow,
    ::testing::Values(
        // Completed: never judged at the first poll, so the second one closes it.
        OutcomeCase{"Completed", 0x00, 10000, "Pass - Test completed without Error", kDone,
                    "Completed", "Pass"},
        // Only a test that ran to its end, passed or not, is said to have been completed.
        OutcomeCase{"AbortedByHost", 0x10, 5000, "Test aborted by the host",
                    "SMART short test was aborted", "Aborted", "Aborted"},
        OutcomeCase{"Reset", 0x21, 5000, "Test interrupted by the host with a hard or soft reset",
                    "SMART short test was interrupted", "Failure", "Fail"},
        OutcomeCase{"Fatal", 0x30, 5000, "Fail - Fatal/Unknown Error",
                    "SMART short test ended on an error", "Failure", "Fail"},
        OutcomeCase{"UnknownElement", 0x45, 5000, "Fail - Unkown Element Failure", kDone, "Failure",
                    "Fail"},
        OutcomeCase{"Electrical", 0x50, 5000, "Electrical Element Failure", kDone, "Failure", "Fail"},
        OutcomeCase{"Servo", 0x66, 5000, "Servo Element Failure", kDone, "Failure", "Fail"},
        OutcomeCase{"ReadElement", 0x73, 5000, "Fail - Read Element Failure", kDone, "Failure", "Fail"},
        OutcomeCase{"HandlingDamage", 0x84, 5000, "Fail - Unknown Failure", kDone, "Failure", "Fail"},
        OutcomeCase{"Reserved", 0x90, 5000, "Fail - Unknown Failure", "SMART short test has ended",
                    "Failure", "Fail"},
        // Still "running" with nothing left: closed at the second poll, self-test not logged,
        // and said to run rather than to have failed.
        OutcomeCase{"RunningWithNothingLeft", 0xF0, 10000, "Test still running in the drive",
                    "SMART short test is still running", "Now Test Execute", nullptr}),
    CaseName());

TEST_F(SelfTestFlow, ProgressBarFollowsTheTenthsLeft) {
  // The start never reaches the drive, so it keeps reporting the status the test sets.
  sim::DriveSpec setup = HealthyDrive("PROGRESS01");
  setup.selftest_status = 0xF9;
  bench.AddSata(0, setup);
  LoseSelfTestStart(bench, 0);
  std::vector<int> positions;
  std::vector<std::uint64_t> times;
  const auto note = [&](ui::Dialog& d) {
    positions.push_back(d.Progress(ids::selftest_progress::kBar).pos());
    times.push_back(ui.now_ms());
  };
  const auto report = [&](std::uint8_t s) {
    return [this, s](ui::Dialog&) { bench.Drive(0).mutable_setup().selftest_status = s; };
  };
  int range_lo = -1;
  int range_hi = -1;

  ui.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kQuickTest);
  ui.Expect(ids::kSelfTestProgressTemplate)
      .Do([&](ui::Dialog& d) {
        range_lo = d.Progress(ids::selftest_progress::kBar).lo();
        range_hi = d.Progress(ids::selftest_progress::kBar).hi();
      })
      .Advance(5000).Do(note)                       // first poll: always empty
      .Advance(5000).Do(note)                       // 0xF9: one tenth done
      .Do(report(0xF3)).Advance(5000).Do(note)      // 0xF3: seven tenths done
      .Do(report(0xF1)).Advance(5000).Do(note)
      .Do(report(0x00)).AdvanceUntilClosed(5000);   // done: handed 100, then closed
  ui.Expect(ids::kSelfTestResultTemplate).Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate).Escape();
  Run();

  EXPECT_EQ(range_lo, 0);
  EXPECT_EQ(range_hi, 99);
  EXPECT_EQ(positions, (std::vector<int>{0, 10, 70, 90}));
  EXPECT_EQ(times, (std::vector<std::uint64_t>{5000, 10000, 15000, 20000}));
  EXPECT_EQ(LogEntries("PROGRESS01"), (Entries{{"ReadErrStat", "Pass"}, {"SMART QT", "Pass"}}));
}

TEST_F(SelfTestFlow, FinalPollHandsTheBarOneHundred) {
  sim::DriveSpec setup = HealthyDrive("FULLBAR01");
  setup.selftest_status = 0xF5;
  bench.AddSata(0, setup);
  LoseSelfTestStart(bench, 0);
  int position_at_end = -1;
  bool close_requested = false;
  std::string sentence;
  std::vector<std::string> status_after;

  ui.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kQuickTest);
  ui.Expect(ids::kSelfTestProgressTemplate)
      .Advance(5000)
      .Do([this](ui::Dialog&) { bench.Drive(0).mutable_setup().selftest_status = 0x00; })
      .Press(ids::selftest_progress::kAbort);
  // The question keeps the judged dialog on screen, so its last state can be seen.
  ui.Expect(ids::kAbortQuestionTemplate)
      .Advance(5000)
      .Do([&](ui::Dialog&) {
        ui::Dialog* progress = ui.open_dialogs().at(1);
        position_at_end = progress->Progress(ids::selftest_progress::kBar).pos();
        close_requested = progress->end_requested();
      })
      .Press(ui::IDCANCEL);
  ui.Expect(ids::kSelfTestResultTemplate)
      .Do([&](ui::Dialog& d) { sentence = d.GetDlgItemText(ids::selftest_result::kSelfTest); })
      .Press(ui::IDOK);
  CaptureStatus(status_after).Escape();
  Run();

  EXPECT_EQ(position_at_end, 100);  // one above the top of the range, as handed
  EXPECT_TRUE(close_requested);
  EXPECT_EQ(sentence, "Pass - Test completed without Error");
  EXPECT_EQ(status_after, std::vector<std::string>{"Completed"});
  EXPECT_EQ(LogEntries("FULLBAR01"), (Entries{{"ReadErrStat", "Pass"}, {"SMART QT", "Pass"}}));
  EXPECT_EQ(SelfTestSubcommands(0), std::vector<std::uint8_t>{0x01});
}

// A start the drive never took: no progress dialog follows whatever the drive reports
// from an earlier test; the result says the test did not start, and it counts as failed.
struct NotStartedCase {
  const char* name;
  int button;                 // Quick Test or Ext Test
  std::uint8_t earlier_status;  // what the drive reports from its last test
  bool usb;
  const char* chip_id;        // USB only
  sim::BridgeForwarding forwarding;
  sim::Fault fault;           // on drive 0, added once the start-up scan is done
  std::vector<std::uint8_t> subcommands;  // SMART EXECUTE OFF-LINE requests the drive got
  const char* subtitle;
  const char* tag;
};

sim::Fault StartFault(sim::FaultEffect effect, std::optional<std::uint8_t> cdb = std::nullopt) {
  sim::Fault fault;
  fault.match.drive_number = 0;
  fault.match.smart_feature = 0xD4;
  fault.match.cdb_opcode = cdb;
  fault.effect = effect;
  return fault;
}

// The bridge's register write: the vendor block after the check's SMART READ DATA.
sim::Fault RegisterWriteFault() {
  sim::Fault fault;
  fault.match.drive_number = 0;
  fault.match.cdb_opcode = 0xDF;
  fault.match.skip = 1;
  fault.match.times = 1;
  fault.effect = sim::FaultEffect::CheckCondition;
  return fault;
}

class NotStartedFlow : public SelfTestFlow, public ::testing::WithParamInterface<NotStartedCase> {};

TEST_P(NotStartedFlow, ReportedAsFailedAndNeverWatched) {
  const NotStartedCase& c = GetParam();
  sim::DriveSpec setup = HealthyDrive("NOSTART01");
  setup.selftest_status = c.earlier_status;
  if (c.usb) {
    sim::BridgeSpec bridge;
    bridge.vendor = "Plovix  ";
    bridge.product = "USB Disk Adapter";
    bridge.revision = "0100";
    bridge.chip_id = c.chip_id;
    bridge.forwarding = c.forwarding;
    bench.AddUsb(0, setup, bridge);
  } else {
    bench.AddSata(0, setup);
  }
  std::vector<std::string> texts;
  std::vector<std::string> status_at_result;
  std::vector<std::string> status_after;
  std::size_t log_at_result = 0;

  ui.Expect(ids::kMainTemplate)
      .Do([&](ui::Dialog&) {
        bench.ClearLog();
        bench.AddFault(c.fault);
      })
      .Check(ids::main_window::kDriveList, 0)
      .Press(c.button);
  ui.Expect(ids::kSelfTestResultTemplate)
      .Do([&](ui::Dialog& d) {
        texts = {d.GetDlgItemText(ids::selftest_result::kTitle),
                 d.GetDlgItemText(ids::selftest_result::kSubtitle),
                 d.GetDlgItemText(ids::selftest_result::kReadError),
                 d.GetDlgItemText(ids::selftest_result::kSelfTest)};
        status_at_result = {
            ui.open_dialogs().front()->List(ids::main_window::kDriveList).GetItemText(0, 5)};
        log_at_result = ReadLog("NOSTART01").size();
      })
      .Press(ui::IDOK);
  CaptureStatus(status_after).Escape();
  Run();

  EXPECT_EQ(ui.opened_dialogs(),
            (std::vector<int>{ids::kMainTemplate, ids::kSelfTestResultTemplate}));
  EXPECT_EQ(texts, (std::vector<std::string>{
                       c.button == ids::main_window::kQuickTest ? "SMART Short Test"
                                                                : "SMART Extended Test",
                       c.subtitle, "Pass", "Fail - Drive did not start the test"}));
  EXPECT_EQ(status_at_result, std::vector<std::string>{"Now Test Execute"});
  EXPECT_EQ(log_at_result, 0u);
  EXPECT_EQ(status_after, std::vector<std::string>{"Failure"});
  EXPECT_EQ(LogEntries("NOSTART01"), (Entries{{"ReadErrStat", "Pass"}, {c.tag, "Fail"}}));
  EXPECT_EQ(SelfTestSubcommands(0), c.subcommands);
  EXPECT_TRUE(ui.message_boxes().empty());
}

const char* const kShortNotStarted = "SMART short test did not start";

INSTANTIATE_TEST_SUITE_P(
    Starts, NotStartedFlow,
    ::testing::Values(
        // The drive's last test passed: the old "Pass" must not stand for this one.
        NotStartedCase{"AtaErrorAfterAPass", ids::main_window::kQuickTest, 0x00, false, "",
                       sim::BridgeForwarding::Standard, StartFault(sim::FaultEffect::AtaError),
                       {0x01}, kShortNotStarted, "SMART QT"},
        NotStartedCase{"AtaCallFailsAfterAFailure", ids::main_window::kQuickTest, 0x75, false, "",
                       sim::BridgeForwarding::Standard, StartFault(sim::FaultEffect::CallFails),
                       {0x01}, kShortNotStarted, "SMART QT"},
        NotStartedCase{"ExtendedAtaTimeout", ids::main_window::kExtTest, 0x00, false, "",
                       sim::BridgeForwarding::Standard, StartFault(sim::FaultEffect::Timeout),
                       {0x02}, "SMART extend test did not start", "SMART ET"},
        // SAT: the standard block comes back with CHECK CONDITION.
        NotStartedCase{"SatCheckCondition", ids::main_window::kQuickTest, 0x00, true, "ab12",
                       sim::BridgeForwarding::Standard,
                       StartFault(sim::FaultEffect::CheckCondition, 0xA1), {0x01}, kShortNotStarted,
                       "SMART QT"},
        // A recognised bridge: its vendor-block start, or the register write before it,
        // in which case no start is sent at all.
        NotStartedCase{"BridgeStartFails", ids::main_window::kQuickTest, 0x00, true, "j329",
                       sim::BridgeForwarding::VendorAndStandard,
                       StartFault(sim::FaultEffect::AtaError, 0xDF), {0x01}, kShortNotStarted,
                       "SMART QT"},
        NotStartedCase{"BridgeRegisterWriteFails", ids::main_window::kQuickTest, 0x00, true, "j509",
                       sim::BridgeForwarding::VendorAndStandard, RegisterWriteFault(), {},
                       kShortNotStarted, "SMART QT"}),
    CaseName());

// Declining the abort question in any way changes nothing and sends nothing.
struct DeclineCase {
  const char* name;
  int how;  // 0 "cancel" button, 1 Escape, 2 close box
};

class AbortDeclined : public SelfTestFlow, public ::testing::WithParamInterface<DeclineCase> {};

TEST_P(AbortDeclined, PollingGoesOn) {
  bench.AddSata(0, HealthyDrive("DECLINE01"));
  std::vector<std::string> status_after;
  std::vector<std::string> question;

  ui.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kQuickTest);
  ui.Expect(ids::kSelfTestProgressTemplate).Advance(5000).Press(ids::selftest_progress::kAbort);
  auto& step = ui.Expect(ids::kAbortQuestionTemplate).Do([&](ui::Dialog& d) {
    question.push_back(d.caption());
    for (const auto& control : d.controls()) {
      if (control->kind() == ui::Kind::Static) question.push_back(control->text());
    }
  });
  if (GetParam().how == 0) step.Press(ui::IDCANCEL);
  if (GetParam().how == 1) step.Escape();
  if (GetParam().how == 2) step.CloseBox();
  ui.Expect(ids::kSelfTestProgressTemplate).AdvanceUntilClosed(60000);
  ui.Expect(ids::kSelfTestResultTemplate).Press(ui::IDOK);
  CaptureStatus(status_after).Escape();
  Run();

  EXPECT_EQ(question, (std::vector<std::string>{"Confirmation", "Are you sure to abort ?"}));
  EXPECT_EQ(SelfTestSubcommands(0), std::vector<std::uint8_t>{0x01});
  EXPECT_EQ(status_after, std::vector<std::string>{"Completed"});
  EXPECT_EQ(LogEntries("DECLINE01"), (Entries{{"ReadErrStat", "Pass"}, {"SMART QT", "Pass"}}));
}

INSTANTIATE_TEST_SUITE_P(Ways, AbortDeclined,
                         ::testing::Values(DeclineCase{"CancelButton", 0}, DeclineCase{"Escape", 1},
                                           DeclineCase{"CloseBox", 2}),
                         CaseName());

// The Abort button, or Enter: the button is the dialog's only focusable control.
class AbortConfirmed : public SelfTestFlow, public ::testing::WithParamInterface<int> {};

TEST_P(AbortConfirmed, StopsTheTestOnAFreshHandle) {
  bench.AddSata(0, HealthyDrive("ABORT0001"));
  std::size_t opens_before = 0;
  std::size_t opens_after = 0;
  int handles_after = -1;
  std::vector<std::string> result_texts;
  std::vector<std::string> status_after;

  ui.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kQuickTest);
  ui.Expect(ids::kSelfTestProgressTemplate).Advance(5000).Press(GetParam());
  ui.Expect(ids::kAbortQuestionTemplate)
      .Do([&](ui::Dialog&) { opens_before = bench.OpenedPaths().size(); })
      .Press(ui::IDOK);
  ui.Expect(ids::kSelfTestResultTemplate)
      .Do([&](ui::Dialog& d) {
        opens_after = bench.OpenedPaths().size();
        handles_after = bench.OpenHandleCount();
        result_texts = {d.GetDlgItemText(ids::selftest_result::kSubtitle),
                        d.GetDlgItemText(ids::selftest_result::kSelfTest)};
      })
      .Press(ui::IDOK);
  CaptureStatus(status_after).Escape();
  Run();

  EXPECT_EQ(SelfTestSubcommands(0), (std::vector<std::uint8_t>{0x01, 0x7F}));
  const std::vector<sim::Received> log = bench.LogFor(0);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().ata.CurrentTaskFile[kTfLbaLow], 0x7F);  // the abort was the last word
  EXPECT_EQ(opens_after, opens_before + 1);
  EXPECT_EQ(bench.OpenedPaths()[opens_before], "\\\\.\\PhysicalDrive0");
  EXPECT_EQ(handles_after, 0);
  EXPECT_EQ(result_texts, (std::vector<std::string>{"SMART short test was aborted",
                                                    "Test aborted by the host"}));
  EXPECT_EQ(status_after, std::vector<std::string>{"Aborted"});
  EXPECT_EQ(LogEntries("ABORT0001"), (Entries{{"ReadErrStat", "Pass"}, {"SMART QT", "Aborted"}}));
}

INSTANTIATE_TEST_SUITE_P(Keys, AbortConfirmed,
                         ::testing::Values(ids::selftest_progress::kAbort, ui::IDOK),
                         [](const ::testing::TestParamInfo<int>& p) {
                           return std::string(
                               p.param == ids::selftest_progress::kAbort ? "AbortButton" : "Enter");
                         });

// A poll that judges the test ended while the abort question is open: the question
// stays, and the user's answer decides the closing code.
struct LateAnswerCase {
  const char* name;
  int answer;
  const char* sentence;
  const char* status_column;
  const char* logged;
  std::vector<std::uint8_t> subcommands;
};

class PollDuringQuestion : public SelfTestFlow,
                           public ::testing::WithParamInterface<LateAnswerCase> {};

TEST_P(PollDuringQuestion, LastCloseRequestDecides) {
  const LateAnswerCase& c = GetParam();
  bench.AddSata(0, EndingWith("LATE00001", 0x75));
  bool question_open_after_poll = false;
  std::string sentence;
  std::vector<std::string> status_after;

  ui.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kQuickTest);
  ui.Expect(ids::kSelfTestProgressTemplate).Press(ids::selftest_progress::kAbort);
  ui.Expect(ids::kAbortQuestionTemplate)
      .Advance(5000)  // the progress dialog beneath polls and finds 0x75
      .Do([&](ui::Dialog& d) { question_open_after_poll = d.is_open(); })
      .Press(c.answer);
  ui.Expect(ids::kSelfTestResultTemplate)
      .Do([&](ui::Dialog& d) { sentence = d.GetDlgItemText(ids::selftest_result::kSelfTest); })
      .Press(ui::IDOK);
  CaptureStatus(status_after).Escape();
  Run();

  EXPECT_TRUE(question_open_after_poll);
  EXPECT_EQ(sentence, c.sentence);
  EXPECT_EQ(status_after, std::vector<std::string>{c.status_column});
  EXPECT_EQ(LogEntries("LATE00001"), (Entries{{"ReadErrStat", "Pass"}, {"SMART QT", c.logged}}));
  EXPECT_EQ(SelfTestSubcommands(0), c.subcommands);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, PollDuringQuestion,
    ::testing::Values(
        LateAnswerCase{
            "Confirmed", ui::IDOK, "Test aborted by the host", "Aborted", "Aborted", {0x01, 0x7F}},
        LateAnswerCase{
            "Declined", ui::IDCANCEL, "Fail - Read Element Failure", "Failure", "Fail", {0x01}}),
    CaseName());

// Leaving the progress dialog: only the read-error check is recorded.
class DismissFlow : public SelfTestFlow, public ::testing::WithParamInterface<bool> {};

TEST_P(DismissFlow, OnlyTheReadErrorRecord) {
  bench.AddSata(0, HealthyDrive("DISMISS01"));
  std::vector<std::string> status_after;

  ui.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kQuickTest);
  auto& step = ui.Expect(ids::kSelfTestProgressTemplate).Advance(5000);
  if (GetParam()) step.Escape(); else step.CloseBox();
  ui.Expect(ids::kSelfTestResultTemplate).Press(ui::IDOK);
  CaptureStatus(status_after).Escape();
  Run();

  EXPECT_EQ(status_after, std::vector<std::string>{"Now Test Execute"});
  EXPECT_EQ(LogEntries("DISMISS01"), (Entries{{"ReadErrStat", "Pass"}}));
  // The drive's own test is left running: no abort was sent.
  EXPECT_EQ(SelfTestSubcommands(0), std::vector<std::uint8_t>{0x01});
}

INSTANTIATE_TEST_SUITE_P(Keys, DismissFlow, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return std::string(p.param ? "Escape" : "CloseBox");
                         });

// A dismissed progress dialog: the result shows only what this drive reported while the
// dialog was up, never an earlier drive's or an earlier run's outcome.
struct DismissedCase {
  const char* name;
  bool earlier_drive_aborted;  // drive 0 is tested first and aborted by the user
  bool start_lost;             // the drive keeps reporting its earlier status 0x00
  unsigned wait_ms;            // before the dialog is dismissed
  bool close_box;
  const char* sentence;
  const char* subtitle;
};

constexpr const char* kStillRunning = "Test still running in the drive";
constexpr const char* kRunsOn = "SMART short test is still running";

class DismissedResult : public SelfTestFlow,
                        public ::testing::WithParamInterface<DismissedCase> {};

TEST_P(DismissedResult, ShowsOnlyWhatThisDriveReported) {
  const DismissedCase& c = GetParam();
  bench.AddSata(0, HealthyDrive("EARLIER01"));
  bench.AddSata(1, HealthyDrive("DISMISSED"));
  const int line = c.earlier_drive_aborted ? 1 : 0;
  const int drive = line;
  if (c.start_lost) LoseSelfTestStart(bench, drive);
  std::vector<std::string> sentences;
  std::string subtitle;
  std::vector<std::string> status_after;

  auto& begin = ui.Expect(ids::kMainTemplate).Check(ids::main_window::kDriveList, line);
  if (c.earlier_drive_aborted) {
    begin.Check(ids::main_window::kDriveList, 0).Press(ids::main_window::kQuickTest);
    ui.Expect(ids::kSelfTestProgressTemplate).Advance(5000).Press(ids::selftest_progress::kAbort);
    ui.Expect(ids::kAbortQuestionTemplate).Press(ui::IDOK);
    ui.Expect(ids::kSelfTestResultTemplate)
        .Do([&](ui::Dialog& d) {
          sentences.push_back(d.GetDlgItemText(ids::selftest_result::kSelfTest));
        })
        .Press(ui::IDOK);
  } else {
    begin.Press(ids::main_window::kQuickTest);
  }
  auto& progress = ui.Expect(ids::kSelfTestProgressTemplate).Advance(c.wait_ms);
  if (c.close_box) progress.CloseBox(); else progress.Escape();
  ui.Expect(ids::kSelfTestResultTemplate)
      .Do([&](ui::Dialog& d) {
        sentences.push_back(d.GetDlgItemText(ids::selftest_result::kSelfTest));
        subtitle = d.GetDlgItemText(ids::selftest_result::kSubtitle);
      })
      .Press(ui::IDOK);
  CaptureStatus(status_after).Escape();
  Run();

  if (c.earlier_drive_aborted) {
    EXPECT_EQ(sentences, (std::vector<std::string>{"Test aborted by the host", c.sentence}));
    EXPECT_EQ(status_after, (std::vector<std::string>{"Aborted", "Now Test Execute"}));
  } else {
    EXPECT_EQ(sentences, std::vector<std::string>{c.sentence});
    EXPECT_EQ(status_after[0], "Now Test Execute");
  }
  EXPECT_EQ(subtitle, c.subtitle);
  // Nothing about the dismissed self-test is logged.
  const std::string serial = drive == 0 ? "EARLIER01" : "DISMISSED";
  EXPECT_EQ(LogEntries(serial), (Entries{{"ReadErrStat", "Pass"}}));
}

INSTANTIATE_TEST_SUITE_P(
    Runs, DismissedResult,
    ::testing::Values(
        // The program's first run: nothing read yet, so the running value it starts from;
        // the test was started and nothing says it ended, so it is said to run on.
        DismissedCase{"FirstRunEscapeAtOnce", false, false, 0, false, kStillRunning, kRunsOn},
        DismissedCase{"FirstRunCloseBoxWhileRunning", false, false, 10000, true, kStillRunning,
                      kRunsOn},
        // The drive itself reported a completed test at the first poll.
        DismissedCase{"DriveReportedCompleted", false, true, 5000, false,
                      "Pass - Test completed without Error", kDone},
        // After an abort on another drive: not that drive's "aborted".
        DismissedCase{"AfterAbortOnAnotherDriveAtOnce", true, false, 0, false, kStillRunning,
                      kRunsOn},
        DismissedCase{"AfterAbortOnAnotherDriveWhileRunning", true, false, 5000, true,
                      kStillRunning, kRunsOn}),
    CaseName());

TEST_F(SelfTestFlow, UnreadableDriveDoesNotInheritThePreviousResult) {
  bench.AddSata(0, HealthyDrive("GOOD00000"));
  bench.AddSata(1, HealthyDrive("SILENT001"));
  sim::Fault fault;
  fault.match.drive_number = 1;
  fault.match.smart_feature = 0xD0;
  fault.effect = sim::FaultEffect::AtaError;
  bench.AddFault(fault);
  bool still_open = false;
  int position = -1;
  std::string read_error_word;
  std::string sentence;
  std::vector<std::string> status_after;

  ui.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 0)
      .Check(ids::main_window::kDriveList, 1)
      .Press(ids::main_window::kQuickTest);
  ui.Expect(ids::kSelfTestProgressTemplate)
      .AdvanceUntilClosed(60000);  // drive 0 completes: status 0x00
  ui.Expect(ids::kSelfTestResultTemplate).Press(ui::IDOK);
  ui.Expect(ids::kSelfTestProgressTemplate)
      .Advance(120000)
      .Do([&](ui::Dialog& d) {
        still_open = d.is_open() && !d.end_requested();
        position = d.Progress(ids::selftest_progress::kBar).pos();
      })
      .Escape();
  ui.Expect(ids::kSelfTestResultTemplate)
      .Do([&](ui::Dialog& d) {
        read_error_word = d.GetDlgItemText(ids::selftest_result::kReadError);
        sentence = d.GetDlgItemText(ids::selftest_result::kSelfTest);
      })
      .Press(ui::IDOK);
  CaptureStatus(status_after).Escape();
  Run();

  EXPECT_TRUE(still_open);
  // Not drive 0's pass: this drive reported nothing since its test was started.
  EXPECT_EQ(sentence, kStillRunning);
  EXPECT_EQ(position, 10);  // nothing read: the bar stays at its first step
  EXPECT_EQ(read_error_word, "ComErr");
  EXPECT_EQ(status_after, (std::vector<std::string>{"Completed", "Now Test Execute"}));
  EXPECT_EQ(LogEntries("GOOD00000"), (Entries{{"ReadErrStat", "Pass"}, {"SMART QT", "Pass"}}));
  EXPECT_EQ(LogEntries("SILENT001"), (Entries{{"ReadErrStat", "ComErr"}}));
  EXPECT_EQ(SelfTestSubcommands(1), std::vector<std::uint8_t>{0x01});
}

}  // namespace
}  // namespace plovix::selftest_testing
