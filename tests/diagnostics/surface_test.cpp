// Surface scans from the main window's Utilities button, on a bench.
#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "diagnostics/RunPlan.h"
#include "diagnostics/Surface.h"
#include "resources/ResourceIds.h"
#include "tests/support/utils_rig.h"

namespace plovix::testing_utils {
namespace {

constexpr std::uint64_t kRun = 65535;
constexpr std::uint64_t k4TB = 7814037168;

int KindOf(int button) {
  return button == ids::utilities::kShortTest ? kSurfaceShort : kSurfaceLong;
}
const char* TagOf(int button) {
  return button == ids::utilities::kShortTest ? "SURFACE QT" : "SURFACE ET";
}

std::vector<Cmd> PlannedVerifies(int kind, std::uint64_t total, std::size_t limit = SIZE_MAX) {
  std::vector<Cmd> cmds;
  for (const SectorRun& run : SurfaceRunList(kind, total)) {
    if (cmds.size() == limit) break;
    cmds.push_back(Cmd{.opcode = kReadVerify, .lba = run.lba, .count = run.count});
  }
  return cmds;
}

void ExpectRecord(const std::vector<std::string>& lines, std::size_t at, const std::string& tag,
                  const std::string& result) {
  ASSERT_GE(lines.size(), at + 4);
  EXPECT_EQ(lines[at], tag);
  EXPECT_EQ(lines[at + 1], "Done");
  EXPECT_EQ(lines[at + 2], result);
  EXPECT_TRUE(std::regex_match(lines[at + 3], std::regex(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d)")))
      << lines[at + 3];
}

// Lets the worker reach its end in real time, so the next tick closes the dialog.
void WaitForWorker(ui::Dialog& d) {
  auto& test = dynamic_cast<CSFTest&>(d);
  ASSERT_TRUE(WaitUntil([&] { return test.finished.load() != 0; }));
}

// --- A scan that meets no bad sector -------------------------------------------------------

struct ScanCase {
  const char* name;
  int button;
  std::uint64_t total;
  bool usb;
  int line;  // 0: the drive at number 3, 1: the drive at number 5
};

class SurfaceScan : public UtilsRig, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(SurfaceScan, ReadsThePlannedRunsAndReportsPass) {
  const ScanCase& c = GetParam();
  const int chosen = c.line == 0 ? 3 : 5;
  const int other = c.line == 0 ? 5 : 3;
  const std::string serial = "SCAN000" + std::to_string(chosen);
  auto add = [&](int n, std::uint64_t total, const std::string& s) {
    if (c.usb && n == chosen) {
      AddUsb(n, total, s);
    } else {
      AddSata(n, total, s);
    }
  };
  add(chosen, c.total, serial);
  add(other, 5000000, "OTHER000" + std::to_string(other));
  const bool is_short = c.button == ids::utilities::kShortTest;

  Begin({c.line});
  ui.Expect(ids::kUtilitiesTemplate).Press(c.button);
  ui.Expect(ids::kSurfaceTemplate)
      .Do([&](ui::Dialog& d) {
        EXPECT_EQ(d.caption(), "Surface Test - " + std::to_string(chosen) + ": PLOVIX BENCH " +
                                   serial + " " + serial);
        EXPECT_EQ(d.GetDlgItemText(ids::surface::kTitle),
                  is_short ? "Surface Short Test" : "Surface Long Test");
        EXPECT_EQ(d.GetDlgItemText(ids::surface::kProgressText),
                  is_short ? "Surface short test in progress" : "Surface long test in progress");
        EXPECT_EQ(main_window->drive_list().GetItemText(c.line, kStatusColumn),
                  "Now Test Execute");
        WaitForWorker(d);
      })
      .AdvanceUntilClosed(10000);
  ui.Expect(ids::kSurfaceResultTemplate)
      .Do([&](ui::Dialog& d) {
        EXPECT_EQ(d.GetDlgItemText(ids::surface_result::kTitle),
                  is_short ? "Surface Short Test" : "Surface Long Test");
        EXPECT_EQ(d.GetDlgItemText(ids::surface_result::kSubtitle),
                  is_short ? "surface short test have been completed"
                           : "surface long test have been completed");
        EXPECT_EQ(d.GetDlgItemText(ids::surface_result::kReadError), "Pass");
        EXPECT_EQ(d.GetDlgItemText(ids::surface_result::kSurface), "Pass");
        EXPECT_EQ(d.GetDlgItemText(ids::surface_result::kFailedRun), "");
        // The log is written before the result is shown.
        EXPECT_EQ(LogLines(serial).size(), 8u);
      })
      .Press(ui::IDOK);
  End();
  Run();

  const auto verifies = Commands(chosen, {kReadVerify});
  EXPECT_EQ(verifies, PlannedVerifies(KindOf(c.button), c.total));
  for (const Cmd& cmd : verifies) {
    // READ VERIFY has no bridge form: SCSI always carries it in ATA PASS-THROUGH(16).
    EXPECT_EQ(cmd.scsi, c.usb);
    if (cmd.scsi) {
      EXPECT_EQ(cmd.cdb0, 0x85);
    }
  }
  EXPECT_TRUE(RequestsToOthers({chosen}).empty());
  ASSERT_EQ(status.size(), 2u);
  EXPECT_EQ(status[c.line], "Completed");
  EXPECT_EQ(status[1 - c.line], initial_status[1 - c.line]);
  const auto log = LogLines(serial);
  ASSERT_EQ(log.size(), 8u);
  ExpectRecord(log, 0, "ReadErrStat", "Pass");
  ExpectRecord(log, 4, TagOf(c.button), "Pass");
  EXPECT_EQ(LogBytes("OTHER000" + std::to_string(other)), "");
}

INSTANTIATE_TEST_SUITE_P(
    Plans, SurfaceScan,
    ::testing::Values(
        ScanCase{"short_one_sector", ids::utilities::kShortTest, 1, false, 0},
        ScanCase{"long_one_sector", ids::utilities::kLongTest, 1, false, 0},
        ScanCase{"short_five_sectors", ids::utilities::kShortTest, 5, false, 1},
        ScanCase{"long_one_run", ids::utilities::kLongTest, kRun, false, 0},
        ScanCase{"long_one_run_and_one", ids::utilities::kLongTest, kRun + 1, false, 1},
        ScanCase{"long_three_runs_and_five", ids::utilities::kLongTest, 3 * kRun + 5, false, 0},
        ScanCase{"short_two_million", ids::utilities::kShortTest, 2000000, false, 1},
        ScanCase{"short_four_terabytes", ids::utilities::kShortTest, k4TB, false, 0},
        ScanCase{"usb_long_one_run_and_one", ids::utilities::kLongTest, kRun + 1, true, 0},
        ScanCase{"usb_short_two_million", ids::utilities::kShortTest, 2000000, true, 1}),
    [](const auto& p) { return std::string(p.param.name); });

// --- A bad sector stops the scan ------------------------------------------------------------

struct BadCase {
  const char* name;
  int button;
  std::uint64_t total;
  std::uint64_t bad_lba;
  std::size_t commands;  // how many planned runs are sent, the failing one included
  const char* failing_run;  // the result's line about where the scan stopped
};

class SurfaceBadSector : public UtilsRig, public ::testing::WithParamInterface<BadCase> {};

TEST_P(SurfaceBadSector, StopsAtTheFailingRunAndReportsFail) {
  const BadCase& c = GetParam();
  sim::VirtualDrive& drive = AddSata(3, c.total, "BAD00003");
  drive.mutable_setup().bad_lbas = {c.bad_lba};
  AddSata(4, 1000000, "OTHER0004");

  Begin({0});
  ui.Expect(ids::kUtilitiesTemplate).Press(c.button);
  ui.Expect(ids::kSurfaceTemplate).Do(WaitForWorker).AdvanceUntilClosed(10000);
  ui.Expect(ids::kSurfaceResultTemplate)
      .Do([&](ui::Dialog& d) {
        EXPECT_EQ(d.GetDlgItemText(ids::surface_result::kReadError), "Pass");
        EXPECT_EQ(d.GetDlgItemText(ids::surface_result::kSurface), "Fail");
        EXPECT_EQ(
            d.GetDlgItemText(ids::surface_result::kSubtitle),
            std::string(c.button == ids::utilities::kShortTest ? "surface short" : "surface long") +
                " test ended on an error");
        EXPECT_EQ(d.GetDlgItemText(ids::surface_result::kFailedRun), c.failing_run);
      })
      .Press(ui::IDOK);
  End();
  Run();

  // The failing run shown is the last command sent: nothing was read to find it.
  EXPECT_EQ(Commands(3, {kReadVerify}), PlannedVerifies(KindOf(c.button), c.total, c.commands));
  EXPECT_TRUE(RequestsToOthers({3}).empty());
  EXPECT_EQ(status.at(0), "Failure");
  const auto log = LogLines("BAD00003");
  ASSERT_EQ(log.size(), 8u);
  ExpectRecord(log, 0, "ReadErrStat", "Pass");
  ExpectRecord(log, 4, TagOf(c.button), "Fail");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SurfaceBadSector,
    ::testing::Values(
        // Phase 1 of the short scan is 0..200000 in 4 runs; phase 2 never starts.
        BadCase{"short_phase1_second_run", ids::utilities::kShortTest, 2000000, 100000, 2,
                "Failing run: LBA 65535, 65535 sectors"},
        BadCase{"short_phase1_last_sector", ids::utilities::kShortTest, 2000000, 200000, 4,
                "Failing run: LBA 196605, 3396 sectors"},
        // Phase 2 is 1800000..1999999, again in 4 runs.
        BadCase{"short_phase2_first_sector", ids::utilities::kShortTest, 2000000, 1800000, 5,
                "Failing run: LBA 1800000, 65535 sectors"},
        BadCase{"short_phase2_last_sector", ids::utilities::kShortTest, 2000000, 1999999, 8,
                "Failing run: LBA 1996605, 3395 sectors"},
        BadCase{"short_4tb_phase2_last_sector", ids::utilities::kShortTest, k4TB, k4TB - 1, 23848,
                "Failing run: LBA 7814007195, 29973 sectors"},
        BadCase{"long_first_sector", ids::utilities::kLongTest, 3 * kRun + 5, 0, 1,
                "Failing run: LBA 0, 65535 sectors"},
        BadCase{"long_middle_run", ids::utilities::kLongTest, 3 * kRun + 5, 2 * kRun + 7, 3,
                "Failing run: LBA 131070, 65535 sectors"},
        BadCase{"long_last_sector", ids::utilities::kLongTest, 3 * kRun + 5, 3 * kRun + 4, 4,
                "Failing run: LBA 196605, 5 sectors"},
        BadCase{"long_one_sector_disk", ids::utilities::kLongTest, 1, 0, 1,
                "Failing run: LBA 0, 1 sector"}),
    [](const auto& p) { return std::string(p.param.name); });

// --- Abort, Escape and the close box ------------------------------------------------------------

enum class Stop { AbortButton, Escape, CloseBox };

struct AbortCase {
  const char* name;
  int button;
  std::uint64_t total;
  Stop how;
};

class SurfaceAbort : public UtilsRig, public ::testing::WithParamInterface<AbortCase> {};

// The worker is held inside the last READ VERIFY until the bench clock passes 3 s; the
// dialog must wait for it (in 1 s sleeps of virtual time) and close with "Aborted".
TEST_P(SurfaceAbort, DuringTheLastRunWaitsForTheWorkerAndReportsAborted) {
  const AbortCase& c = GetParam();
  AddSata(3, c.total, "ABORT0003");
  AddSata(4, 1000000, "OTHER0004");
  const auto plan = PlannedVerifies(KindOf(c.button), c.total);
  const std::uint64_t last_lba = plan.back().lba;
  std::uint64_t release_at = 0;

  Begin({0});
  ui.Expect(ids::kUtilitiesTemplate)
      .Do([&](ui::Dialog&) {
        release_at = ui.now_ms() + 3000;
        bench.AddFault(
            FaultOn(3, kReadVerify, sim::FaultEffect::Block, last_lba, release_at));
      })
      .Press(c.button);
  auto& step = ui.Expect(ids::kSurfaceTemplate).Do([&](ui::Dialog& d) {
    ASSERT_TRUE(WaitForCommand(3, kReadVerify, last_lba));
    EXPECT_EQ(dynamic_cast<CSFTest&>(d).finished.load(), 0);
  });
  switch (c.how) {
    case Stop::AbortButton: step.Press(ids::surface::kAbort); break;
    case Stop::Escape: step.Escape(); break;
    case Stop::CloseBox: step.CloseBox(); break;
  }
  ui.Expect(ids::kSurfaceResultTemplate)
      .Do([&](ui::Dialog& d) {
        EXPECT_EQ(d.GetDlgItemText(ids::surface_result::kSurface), "Test aborted");
        EXPECT_EQ(
            d.GetDlgItemText(ids::surface_result::kSubtitle),
            std::string(c.button == ids::utilities::kShortTest ? "surface short" : "surface long") +
                " test was aborted");
        EXPECT_EQ(d.GetDlgItemText(ids::surface_result::kFailedRun), "");
        EXPECT_GE(ui.now_ms(), release_at);
      })
      .Press(ui::IDOK);
  End();
  Run();

  EXPECT_EQ(Commands(3, {kReadVerify}), plan);
  EXPECT_TRUE(RequestsToOthers({3}).empty());
  EXPECT_EQ(status.at(0), "Aborted");
  const auto log = LogLines("ABORT0003");
  ASSERT_EQ(log.size(), 8u);
  ExpectRecord(log, 4, TagOf(c.button), "Aborted");
}

INSTANTIATE_TEST_SUITE_P(
    Ways, SurfaceAbort,
    ::testing::Values(
        AbortCase{"long_abort_button", ids::utilities::kLongTest, 3 * kRun + 5, Stop::AbortButton},
        AbortCase{"long_escape", ids::utilities::kLongTest, 3 * kRun + 5, Stop::Escape},
        AbortCase{"long_close_box", ids::utilities::kLongTest, 3 * kRun + 5, Stop::CloseBox},
        AbortCase{"short_abort_button", ids::utilities::kShortTest, 2000000, Stop::AbortButton},
        AbortCase{"short_escape", ids::utilities::kShortTest, 2000000, Stop::Escape}),
    [](const auto& p) { return std::string(p.param.name); });

// An abort before the last run: no further command is sent.
TEST_F(UtilsRig, SurfaceAbortMidScanSendsNothingMore) {
  AddSata(3, 2000000, "ABORT0003");
  const std::uint64_t held = 2 * kRun;  // third run of phase 1
  Begin({0});
  ui.Expect(ids::kUtilitiesTemplate)
      .Do([&](ui::Dialog&) {
        bench.AddFault(
            FaultOn(3, kReadVerify, sim::FaultEffect::Block, held, ui.now_ms() + 2000));
      })
      .Press(ids::utilities::kShortTest);
  ui.Expect(ids::kSurfaceTemplate)
      .Do([&](ui::Dialog&) { ASSERT_TRUE(WaitForCommand(3, kReadVerify, held)); })
      .Press(ids::surface::kAbort);
  ui.Expect(ids::kSurfaceResultTemplate).Press(ui::IDOK);
  End();
  Run();
  EXPECT_EQ(Commands(3, {kReadVerify}), PlannedVerifies(kSurfaceShort, 2000000, 3));
  EXPECT_EQ(status.at(0), "Aborted");
}

// --- The progress bar -------------------------------------------------------------------------

struct BarCase {
  const char* name;
  int button;
  std::uint64_t held_lba;  // the worker is held in the run starting here
  int bar;
};

class SurfaceProgressBar : public UtilsRig, public ::testing::WithParamInterface<BarCase> {};

constexpr std::uint64_t kBarDisk = 1000 * kRun;  // a multiple of 100 sectors

TEST_P(SurfaceProgressBar, TickShowsTheWorkersPosition) {
  const BarCase& c = GetParam();
  AddSata(3, kBarDisk, "BAR00003");
  Begin({0});
  ui.Expect(ids::kUtilitiesTemplate)
      .Do([&](ui::Dialog&) {
        bench.AddFault(FaultOn(3, kReadVerify, sim::FaultEffect::Block, c.held_lba,
                               ui.now_ms() + 3600000));
      })
      .Press(c.button);
  ui.Expect(ids::kSurfaceTemplate)
      .Do([&](ui::Dialog& d) {
        ASSERT_TRUE(WaitForCommand(3, kReadVerify, c.held_lba));
        EXPECT_EQ(d.Progress(ids::surface::kBar).lo(), 0);
        EXPECT_EQ(d.Progress(ids::surface::kBar).hi(), 99);
      })
      .Advance(5000)
      .Do([&](ui::Dialog& d) {
        EXPECT_EQ(d.Progress(ids::surface::kBar).pos(), c.bar);
        bench.ReleaseBlocked();
        WaitForWorker(d);
      })
      .AdvanceUntilClosed(10000);
  ui.Expect(ids::kSurfaceResultTemplate).Press(ui::IDOK);
  End();
  Run();
  EXPECT_EQ(status.at(0), "Completed");
}

INSTANTIATE_TEST_SUITE_P(
    Positions, SurfaceProgressBar,
    ::testing::Values(BarCase{"short_phase1_p5", ids::utilities::kShortTest, 50 * kRun, 25},
                      BarCase{"short_phase1_end_p10", ids::utilities::kShortTest,
                              kBarDisk / 10 - (kBarDisk / 10) % kRun, 50},
                      BarCase{"short_phase2_start_p90", ids::utilities::kShortTest,
                              kBarDisk / 100 * 90, 50},
                      BarCase{"short_phase2_last_p99", ids::utilities::kShortTest,
                              kBarDisk / 100 * 90 + 99 * kRun, 95},
                      BarCase{"long_p50", ids::utilities::kLongTest, 500 * kRun, 50}),
    [](const auto& p) { return std::string(p.param.name); });

// --- The read-error check before the scan ------------------------------------------------------

struct ReadErrorCase {
  const char* name;
  bool smart_read_fails;
  std::uint64_t pending_raw;  // attribute 197
  const char* shown;
  const char* logged;
};

class SurfaceReadErrorCheck : public UtilsRig,
                              public ::testing::WithParamInterface<ReadErrorCase> {};

TEST_P(SurfaceReadErrorCheck, ScanRunsWhateverTheCheckGave) {
  const ReadErrorCase& c = GetParam();
  sim::VirtualDrive& drive = AddSata(3, 3 * kRun + 5, "REC00003");
  for (auto& attr : drive.mutable_setup().attributes) {
    if (attr.id == 197) attr.raw = c.pending_raw;
  }
  Begin({0});
  ui.Expect(ids::kUtilitiesTemplate)
      .Do([&](ui::Dialog&) {
        if (c.smart_read_fails) {
          sim::Fault fault = FaultOn(3, kSmart, sim::FaultEffect::CallFails);
          fault.match.smart_feature = 0xD0;
          bench.AddFault(fault);
        }
      })
      .Press(ids::utilities::kShortTest);
  ui.Expect(ids::kSurfaceTemplate).Do(WaitForWorker).AdvanceUntilClosed(10000);
  ui.Expect(ids::kSurfaceResultTemplate)
      .Do([&](ui::Dialog& d) {
        EXPECT_EQ(d.GetDlgItemText(ids::surface_result::kReadError), c.shown);
        EXPECT_EQ(d.GetDlgItemText(ids::surface_result::kSurface), "Pass");
      })
      .Press(ui::IDOK);
  End();
  Run();

  EXPECT_EQ(Commands(3, {kReadVerify}), PlannedVerifies(kSurfaceShort, 3 * kRun + 5));
  EXPECT_EQ(status.at(0), "Completed");
  const auto log = LogLines("REC00003");
  ASSERT_EQ(log.size(), 8u);
  ExpectRecord(log, 0, "ReadErrStat", c.logged);
  ExpectRecord(log, 4, "SURFACE QT", "Pass");
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, SurfaceReadErrorCheck,
    ::testing::Values(ReadErrorCase{"smart_read_fails", true, 0, "ComErr", "ComErr"},
                      ReadErrorCase{"pending_sectors", false, 3, "Fail", "Fail"},
                      ReadErrorCase{"clean", false, 0, "Pass", "Pass"}),
    [](const auto& p) { return std::string(p.param.name); });

// An empty disk fails at the first tick, without a single READ VERIFY.
TEST_F(UtilsRig, SurfaceScanOfAnEmptyDiskFails) {
  AddSata(3, 0, "EMPTY003");
  Begin({0});
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kLongTest);
  ui.Expect(ids::kSurfaceTemplate).Do(WaitForWorker).AdvanceUntilClosed(10000);
  ui.Expect(ids::kSurfaceResultTemplate)
      .Do([](ui::Dialog& d) {
        EXPECT_EQ(d.GetDlgItemText(ids::surface_result::kSurface), "Fail");
        EXPECT_EQ(d.GetDlgItemText(ids::surface_result::kFailedRun),
                  "");  // no run was read, so none failed
      })
      .Press(ui::IDOK);
  End();
  Run();
  EXPECT_TRUE(Commands(3, {kReadVerify}).empty());
  EXPECT_EQ(status.at(0), "Failure");
  const auto log = LogLines("EMPTY003");
  ASSERT_EQ(log.size(), 8u);
  ExpectRecord(log, 4, "SURFACE ET", "Fail");
}

}  // namespace
}  // namespace plovix::testing_utils
