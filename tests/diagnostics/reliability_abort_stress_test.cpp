// The surface scan and the disk erase, many times over, with Abort pressed at random
// moments while the worker thread runs (a seeded generator picks where the worker is
// held, how long it is held in bench time, how long the user waits in real time and
// how Abort is given). Each run must end in one consistent state. Meant for the
// thread sanitizer as much as for the ordinary build.
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/CPlovixApp.h"
#include "app/CPlovixDlg.h"
#include "diagnostics/Erase.h"
#include "diagnostics/RunPlan.h"
#include "diagnostics/Surface.h"
#include "diagnostics/Utilities.h"
#include "resources/ResourceIds.h"
#include "tests/support/auto_user.h"
#include "tests/support/utils_rig.h"

namespace plovix::testing_utils {
namespace {

constexpr int kChosen = 3;
constexpr int kOther = 5;
constexpr std::uint64_t kRun = 65535;
constexpr int kRounds = 30;

enum class Work { LongScan, EraseDisk };
enum class Stop { AbortButton, Escape, CloseBox };

sim::DriveSpec DriveSetup(const std::string& serial, std::uint64_t total) {
  sim::DriveSpec setup;
  setup.model = "PLOVIX STRESS " + serial;
  setup.serial = serial;
  setup.firmware = "FW01";
  setup.total_sectors = total;
  setup.attributes = {sim::SmartAttr{.id = 197, .raw = 0, .threshold = 0}};
  setup.vendor_erase = true;  // the runs here are the vendor fill's
  return setup;
}

struct Round {
  std::uint64_t total = 0;
  std::size_t held_run = 0;     // the run whose command is held (== runs: none held)
  std::uint64_t hold_ms = 0;    // bench time the held command takes
  unsigned user_wait_us = 0;    // real time before the user gives Abort
  Stop stop = Stop::AbortButton;
};

Round Draw(std::mt19937& rng, std::size_t runs_max) {
  Round r;
  const std::uint64_t runs = 2 + rng() % (runs_max - 1);
  r.total = (runs - 1) * kRun + 1 + rng() % kRun;
  r.held_run = rng() % (runs + 1);
  r.hold_ms = 500 + rng() % 8000;
  r.user_wait_us = rng() % 3000;
  r.stop = static_cast<Stop>(rng() % 3);
  return r;
}

struct Result {
  std::vector<Cmd> chosen_cmds;
  std::size_t other_requests = 0;
  std::vector<std::string> status;
  std::string initial_other;
  std::vector<std::string> problems;
  std::size_t pending = 0;
  std::vector<int> opened;
};

class AbortStress : public ::testing::TestWithParam<Work> {};

TEST_P(AbortStress, EveryAbortEndsInOneConsistentState) {
  const Work work = GetParam();
  const bool erase = work == Work::EraseDisk;
  std::mt19937 rng(erase ? 20261209u : 19700101u);

  for (int round = 0; round < kRounds; ++round) {
    const Round r = Draw(rng, 8);
    SCOPED_TRACE("round " + std::to_string(round) + ": total " + std::to_string(r.total) +
                 ", held run " + std::to_string(r.held_run) + " for " +
                 std::to_string(r.hold_ms) + " ms, user waits " +
                 std::to_string(r.user_wait_us) + " us, stop " +
                 std::to_string(static_cast<int>(r.stop)));
    const std::vector<SectorRun> runs =
        erase ? EraseRunList(r.total) : SurfaceRunList(kSurfaceLong, r.total);

    TempCwd cwd;
    Result res;
    sim::Bench bench;
    {
      AutoUser ui;
      bench.SetClock([&ui] { return ui.now_ms(); });
      bench.AddSata(0, DriveSetup("SYSDISK1", 976773168));
      bench.AddVolume('C', 0);
      bench.AddSata(kChosen, DriveSetup("STRESS03", r.total));
      bench.AddSata(kOther, DriveSetup("OTHER005", r.total));

      ui.Expect(ids::kMainTemplate)
          .Do([&](ui::Dialog& d) {
            res.initial_other = d.List(ids::main_window::kDriveList).GetItemText(1, kStatusColumn);
            bench.ClearLog();
            if (r.held_run < runs.size()) {
              bench.AddFault(FaultOn(kChosen, erase ? kErase : kReadVerify,
                                     sim::FaultEffect::Block, runs[r.held_run].lba,
                                     ui.now_ms() + r.hold_ms));
            }
          })
          .Check(ids::main_window::kDriveList, 0)
          .Press(ids::main_window::kUtilities)
          .Do([&](ui::Dialog&) {
            ui.Expect(ids::kMainTemplate)
                .Do([&](ui::Dialog& d) {
                  auto& list = d.List(ids::main_window::kDriveList);
                  for (int i = 0; i < list.GetItemCount(); ++i) {
                    res.status.push_back(list.GetItemText(i, kStatusColumn));
                  }
                })
                .Escape();
          });
      ui.answers[ids::kUtilitiesTemplate] = [&](ui::scripted::Step& s) {
        s.Press(erase ? ids::utilities::kEraseDisk : ids::utilities::kLongTest);
      };
      ui.answers[ids::kWarningTemplate] = [](ui::scripted::Step& s) { s.Press(ui::IDOK); };
      ui.answers[ids::kSureTemplate] = [](ui::scripted::Step& s) { s.Press(ui::IDOK); };
      ui.answers[ids::kSurfaceResultTemplate] = [](ui::scripted::Step& s) { s.Press(ui::IDOK); };
      const int progress = erase ? ids::kEraseDiskTemplate : ids::kSurfaceTemplate;
      ui.answers[progress] = [&](ui::scripted::Step& s) {
        // The worker runs meanwhile; the user's hand comes down at a random moment.
        s.Do([&](ui::Dialog&) {
          std::this_thread::sleep_for(std::chrono::microseconds(r.user_wait_us));
        });
        switch (r.stop) {
          case Stop::AbortButton:
            s.Press(erase ? ids::erase_disk::kAbort : ids::surface::kAbort);
            break;
          case Stop::Escape: s.Escape(); break;
          case Stop::CloseBox: s.CloseBox(); break;
        }
      };
      {
        CPlovixApp app(bench, bench);
        app.InitInstance();
      }
      res.problems = ui.problems;
      res.pending = ui.pending_steps();
      res.opened = ui.opened_dialogs();
    }
    for (const sim::Received& q : bench.Log()) {
      if (q.drive_number == kChosen) {
        res.chosen_cmds.push_back(Decode(q));
      } else {
        ++res.other_requests;
      }
    }

    for (const auto& p : res.problems) ADD_FAILURE() << p;
    EXPECT_EQ(res.pending, 0u);
    ASSERT_EQ(res.status.size(), 2u);
    // Abort always wins: the worker is waited for and the run is reported aborted.
    EXPECT_EQ(res.status[0], "Aborted");
    EXPECT_EQ(res.status[1], res.initial_other);
    EXPECT_EQ(res.other_requests, 0u);

    // What reached the drive is a prefix of the plan, each run once, in order. An erase
    // first reads the drive's identity and native size for the notice before the warning,
    // and the identity again before the worker starts.
    std::vector<Cmd> sent = res.chosen_cmds;
    if (erase) {
      const std::vector<Cmd> reads{{.opcode = kIdentify}, {.opcode = 0x27}, {.opcode = kIdentify}};
      ASSERT_GE(sent.size(), reads.size());
      EXPECT_EQ(std::vector<Cmd>(sent.begin(), sent.begin() + 3), reads);
      sent.erase(sent.begin(), sent.begin() + 3);
    }
    std::vector<Cmd> surface;
    for (const Cmd& c : sent) {
      if (erase || c.opcode == kReadVerify) surface.push_back(c);
    }
    std::vector<Cmd> planned;
    for (const SectorRun& run : runs) {
      if (erase) planned.push_back(Cmd{.opcode = kWriteBuffer});
      planned.push_back(Cmd{.opcode = erase ? kErase : kReadVerify, .lba = run.lba,
                            .count = static_cast<std::uint32_t>(run.count)});
    }
    ASSERT_LE(surface.size(), planned.size());
    EXPECT_EQ(surface, std::vector<Cmd>(planned.begin(), planned.begin() + surface.size()));
    // The worker stopped at the held run at the latest.
    if (r.held_run < runs.size()) {
      EXPECT_LE(surface.size(), erase ? 2 * (r.held_run + 1) : r.held_run + 1);
    }

    const auto log = LogFileLines("STRESS03");
    const std::string tag = erase ? "Erase Disk" : "SURFACE ET";
    if (erase) {
      ASSERT_EQ(log.size(), 4u);
      EXPECT_EQ(log[0], tag);
      EXPECT_EQ(log[2], "Aborted");
      // Sectors are zeroed exactly over the runs whose erase was sent.
      std::uint64_t erased_to = 0;
      for (const Cmd& c : surface) {
        if (c.opcode == kErase) erased_to = c.lba + c.count;
      }
      EXPECT_TRUE(bench.Drive(kChosen).IsZeroed(0, erased_to));
      if (erased_to < r.total) {
        EXPECT_EQ(bench.Drive(kChosen).ReadSector(erased_to), sim::PatternSector(erased_to));
        EXPECT_EQ(bench.Drive(kChosen).ReadSector(r.total - 1),
                  sim::PatternSector(r.total - 1));
      }
      for (int id : res.opened)
        EXPECT_NE(id, ids::kEraseDiskDoneTemplate) << "completion notice after an abort";
    } else {
      ASSERT_EQ(log.size(), 8u);
      EXPECT_EQ(log[0], "ReadErrStat");
      EXPECT_EQ(log[2], "Pass");
      EXPECT_EQ(log[4], tag);
      EXPECT_EQ(log[6], "Aborted");
      EXPECT_EQ(bench.Drive(kChosen).ReadSector(0), sim::PatternSector(0));
    }
    EXPECT_EQ(bench.Drive(kOther).ReadSector(0), sim::PatternSector(0));
    if (::testing::Test::HasFailure()) return;  // one failing round tells enough
  }
}

INSTANTIATE_TEST_SUITE_P(Flows, AbortStress, ::testing::Values(Work::LongScan, Work::EraseDisk),
                         [](const auto& p) {
                           return std::string(p.param == Work::EraseDisk ? "erase_disk"
                                                                          : "long_scan");
                         });

}  // namespace
}  // namespace plovix::testing_utils
