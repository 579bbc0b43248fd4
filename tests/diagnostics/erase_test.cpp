// Erase MBR and Erase Disk from the main window's Utilities button, on a bench.
#include <array>
#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "diagnostics/Erase.h"
#include "diagnostics/RunPlan.h"
#include "tests/support/utils_rig.h"
#include "resources/ResourceIds.h"
#include "ui/Backend.h"

namespace plovix::testing_utils {
namespace {

constexpr std::uint64_t kRun = 65535;
constexpr std::uint64_t k4TB = 7814037168;
const std::array<std::uint8_t, 512> kZeros{};

constexpr std::uint8_t kNativeMax = 0x27;

// What an erase of the disk sends: the identity and the native max address for the notice
// before the warning, the identity again to make sure it is still the listed drive, then
// WRITE BUFFER and the erase of each run (of the first `runs` only).
std::vector<Cmd> PlannedErase(std::uint64_t total, std::size_t runs = SIZE_MAX) {
  std::vector<Cmd> cmds{{.opcode = kIdentify}, {.opcode = kNativeMax}, {.opcode = kIdentify}};
  for (const SectorRun& run : EraseRunList(total)) {
    if (cmds.size() == 3 + 2 * runs) break;
    cmds.push_back(Cmd{.opcode = kWriteBuffer});
    cmds.push_back(Cmd{.opcode = kErase, .lba = run.lba, .count = run.count});
  }
  return cmds;
}

void ExpectOneRecord(const std::vector<std::string>& lines, const std::string& tag,
                     const std::string& result) {
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], tag);
  EXPECT_EQ(lines[1], "Done");
  EXPECT_EQ(lines[2], result);
  EXPECT_TRUE(std::regex_match(lines[3], std::regex(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d)")));
}

// Both confirmations accepted.
void Confirm(ui::scripted::ScriptedBackend& ui) {
  ui.Expect(ids::kWarningTemplate).Press(ui::IDOK);
  ui.Expect(ids::kSureTemplate).Press(ui::IDOK);
}

void WaitForEraser(ui::Dialog& d) {
  auto& erase = dynamic_cast<CEraseDisk&>(d);
  ASSERT_TRUE(WaitUntil([&] { return erase.finished.load() != 0; }));
}

int Shown(const ui::scripted::ScriptedBackend& ui, int template_id) {
  int n = 0;
  for (int id : ui.opened_dialogs()) n += id == template_id ? 1 : 0;
  return n;
}

// --- Erase MBR ---------------------------------------------------------------------------------

class EraseMbrFlow : public UtilsRig, public ::testing::WithParamInterface<bool> {};

TEST_P(EraseMbrFlow, IdentifiesTheDriveThenZeroesSectorZeroWithTwoWrites) {
  const bool usb = GetParam();
  const std::uint64_t total = 3 * kRun + 5;
  sim::VirtualDrive& drive =
      usb ? AddUsb(3, total, "MBR00003") : AddSata(3, total, "MBR00003");
  AddSata(4, total, "OTHER0004");

  Begin({0});
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kEraseMbr);
  Confirm(ui);
  ui.Expect(ids::kEraseMbrDoneTemplate)
      .Do([&](ui::Dialog&) {
        EXPECT_EQ(main_window->drive_list().GetItemText(0, kStatusColumn), "Completed");
        EXPECT_EQ(LogBytes("MBR00003"), "");  // logged after the notice
      })
      .Press(ui::IDOK);
  End();
  Run();

  const auto cmds = Commands(3);
  EXPECT_EQ(cmds, (std::vector<Cmd>{{.opcode = kIdentify},
                                    {.opcode = kWriteBuffer},
                                    {.opcode = kErase, .lba = 0, .count = 1}}));
  for (const Cmd& cmd : cmds) EXPECT_EQ(cmd.scsi, usb);
  // Behind the bridge the identity is asked in the bridge's own block, as the scan asked it.
  ASSERT_FALSE(cmds.empty());
  EXPECT_EQ(cmds[0].cdb0, usb ? 0xDF : 0x00);
  EXPECT_EQ(drive.ReadSector(0), kZeros);
  EXPECT_EQ(drive.ReadSector(1), sim::PatternSector(1));
  EXPECT_EQ(drive.ReadSector(total - 1), sim::PatternSector(total - 1));
  EXPECT_TRUE(RequestsToOthers({3}).empty());
  EXPECT_EQ(bench.Drive(4).ReadSector(0), sim::PatternSector(0));
  EXPECT_EQ(status.at(0), "Completed");
  ExpectOneRecord(LogLines("MBR00003"), "Erase MBR", "Completed");
}

INSTANTIATE_TEST_SUITE_P(Transports, EraseMbrFlow, ::testing::Values(false, true),
                         [](const auto& p) { return std::string(p.param ? "usb" : "sata"); });

// A drive that refuses the erase is erased another way; one that does not answer fails.
enum class MbrFault { EraseUnanswered, OpenFails };

class EraseMbrFailure : public UtilsRig, public ::testing::WithParamInterface<MbrFault> {};

TEST_P(EraseMbrFailure, StatusReadsFailureWhileTheBoxIsUp) {
  sim::VirtualDrive& drive = AddSata(3, 1000, "MBRF0003");
  Begin({0});
  ui.Expect(ids::kUtilitiesTemplate)
      .Do([&](ui::Dialog&) {
        if (GetParam() == MbrFault::OpenFails) {
          bench.FailOpen(3);
        } else {
          bench.AddFault(FaultOn(3, kErase, sim::FaultEffect::Timeout));
        }
      })
      .Press(ids::utilities::kEraseMbr);
  Confirm(ui);
  std::string status_under_box = "(no box)";
  std::string log_under_box = "(no box)";
  ui.on_message_box = [&](const std::string&) {
    status_under_box = main_window->drive_list().GetItemText(0, kStatusColumn);
    log_under_box = LogBytes("MBRF0003");
  };
  ui.ExpectMessageBox("!!! Erase MBR Fail !!!").Press(ui::IDOK);
  End();
  Run();

  EXPECT_EQ(status_under_box, "Failure");
  EXPECT_EQ(log_under_box, "");  // the record follows the box
  ASSERT_EQ(ui.message_boxes().size(), 1u);
  EXPECT_EQ(ui.message_boxes()[0].caption, ui::AppTitle());
  EXPECT_EQ(Shown(ui, ids::kEraseMbrDoneTemplate), 0);
  EXPECT_EQ(drive.ReadSector(0), sim::PatternSector(0));
  EXPECT_EQ(status.at(0), "Failure");
  ExpectOneRecord(LogLines("MBRF0003"), "Erase MBR", "Failed");
  if (GetParam() == MbrFault::OpenFails) {
    EXPECT_TRUE(Commands(3).empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, EraseMbrFailure,
                         ::testing::Values(MbrFault::EraseUnanswered, MbrFault::OpenFails));

// --- Erase Disk --------------------------------------------------------------------------------

struct DiskCase {
  const char* name;
  std::uint64_t total;
  bool usb;
};

class EraseDiskFlow : public UtilsRig, public ::testing::WithParamInterface<DiskCase> {};

TEST_P(EraseDiskFlow, ZeroesEverySectorInRunsAndReportsCompleted) {
  const DiskCase& c = GetParam();
  sim::VirtualDrive& drive =
      c.usb ? AddUsb(3, c.total, "DISK0003") : AddSata(3, c.total, "DISK0003");
  AddSata(6, 5000000, "OTHER0006");

  Begin({0});
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kEraseDisk);
  Confirm(ui);
  ui.Expect(ids::kEraseDiskTemplate)
      .Do([&](ui::Dialog& d) {
        EXPECT_EQ(d.caption(), "Erase Disk - 3: PLOVIX BENCH DISK0003 DISK0003");
        EXPECT_EQ(main_window->drive_list().GetItemText(0, kStatusColumn), "Erase Disk Execute");
        WaitForEraser(d);
      })
      .AdvanceUntilClosed(10000);
  // The completion notice comes up on top of the progress dialog, before it closes.
  ui.Expect(ids::kEraseDiskDoneTemplate).Press(ui::IDOK);
  ui.ExpectMessageBoxStarting("Erased by vendor fill.\nVerified.").Press(ui::IDOK);
  End();
  Run();

  EXPECT_EQ(Commands(3), PlannedErase(c.total));
  EXPECT_TRUE(drive.IsZeroed(0, c.total));
  EXPECT_TRUE(RequestsToOthers({3}).empty());
  EXPECT_EQ(status.at(0), "Completed");
  ExpectOneRecord(LogLines("DISK0003"), "Erase Disk", "Completed");
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, EraseDiskFlow,
    ::testing::Values(DiskCase{"one_sector", 1, false}, DiskCase{"one_run", kRun, false},
                      DiskCase{"one_run_and_one", kRun + 1, false},
                      DiskCase{"three_runs_and_five", 3 * kRun + 5, false},
                      DiskCase{"usb_one_run_and_one", kRun + 1, true}),
    [](const auto& p) { return std::string(p.param.name); });

// Under the thread sanitizer the 119 241 runs of this drive take minutes; the abort
// stress test keeps the worker under that sanitizer's eye on small drives instead.
#if defined(__SANITIZE_THREAD__)
#define PLOVIX_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PLOVIX_UNDER_TSAN 1
#endif
#endif

TEST_F(UtilsRig, EraseDiskZeroesAFourTerabyteDrive) {
#ifdef PLOVIX_UNDER_TSAN
  GTEST_SKIP() << "too slow under the thread sanitizer";
#endif
  sim::VirtualDrive& drive = AddSata(3, k4TB, "BIG00003");
  Begin({0});
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kEraseDisk);
  Confirm(ui);
  ui.Expect(ids::kEraseDiskTemplate).Do(WaitForEraser).AdvanceUntilClosed(10000);
  ui.Expect(ids::kEraseDiskDoneTemplate).Press(ui::IDOK);
  ui.ExpectMessageBoxStarting("Erased by vendor fill.\nVerified.").Press(ui::IDOK);
  End();
  Run();

  EXPECT_TRUE(drive.IsZeroed(0, k4TB));
  const auto cmds = Commands(3, {kWriteBuffer, kErase});
  const std::uint64_t runs = (k4TB + kRun - 1) / kRun;
  ASSERT_EQ(cmds.size(), 2 * runs);
  EXPECT_EQ(cmds[0], (Cmd{.opcode = kWriteBuffer}));
  EXPECT_EQ(cmds[1], (Cmd{.opcode = kErase, .lba = 0, .count = 65535}));
  EXPECT_EQ(cmds.back(), (Cmd{.opcode = kErase, .lba = (runs - 1) * kRun,
                              .count = static_cast<std::uint32_t>(k4TB - (runs - 1) * kRun)}));
  EXPECT_EQ(status.at(0), "Completed");
}

// A failing erase on the third run keeps the two runs before it zeroed and the rest as it was.
TEST_F(UtilsRig, EraseDiskFailureOnThirdRunLeavesTheRestIntact) {
  const std::uint64_t total = 5 * kRun;
  sim::VirtualDrive& drive = AddSata(3, total, "FAIL0003");
  Begin({0});
  ui.Expect(ids::kUtilitiesTemplate)
      .Do([&](ui::Dialog&) {
        sim::Fault fault = FaultOn(3, kErase, sim::FaultEffect::AtaError);
        fault.match.skip = 2;
        fault.match.times = 1;
        bench.AddFault(fault);
      })
      .Press(ids::utilities::kEraseDisk);
  Confirm(ui);
  ui.Expect(ids::kEraseDiskTemplate).Do(WaitForEraser).AdvanceUntilClosed(10000);
  // It says where it stopped and what the drive answered.
  ui.ExpectMessageBox(
        "!!! Erase Disk Fail !!!\n\nThe erase stopped at the run from LBA 131070: command "
        "aborted (error register 04h).")
      .Press(ui::IDOK);
  End();
  Run();

  EXPECT_EQ(Commands(3), PlannedErase(total, 3));
  EXPECT_TRUE(drive.IsZeroed(0, 2 * kRun));
  for (std::uint64_t lba : {2 * kRun, 3 * kRun, total - 1}) {
    EXPECT_EQ(drive.ReadSector(lba), sim::PatternSector(lba)) << lba;
  }
  EXPECT_EQ(Shown(ui, ids::kEraseDiskDoneTemplate), 0);
  EXPECT_EQ(status.at(0), "Failure");
  ExpectOneRecord(LogLines("FAIL0003"), "Erase Disk", "Failed");
}

TEST_F(UtilsRig, EraseDiskOfAnEmptyDiskFails) {
  AddSata(3, 0, "EMPTY003");
  Begin({0});
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kEraseDisk);
  Confirm(ui);
  ui.Expect(ids::kEraseDiskTemplate).Do(WaitForEraser).AdvanceUntilClosed(10000);
  ui.ExpectMessageBoxStarting("!!! Erase Disk Fail !!!").Press(ui::IDOK);
  End();
  Run();
  EXPECT_TRUE(Commands(3, {kWriteBuffer, kErase}).empty());
  EXPECT_EQ(status.at(0), "Failure");
  ExpectOneRecord(LogLines("EMPTY003"), "Erase Disk", "Failed");
}

// --- Abort, Escape and the close box ---------------------------------------------------------

enum class Stop { AbortButton, Escape, CloseBox };

struct AbortCase {
  const char* name;
  std::size_t held_run;  // the worker is held inside this run's erase
  Stop how;
};

class EraseDiskAbort : public UtilsRig, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(EraseDiskAbort, WaitsForTheRunInFlightAndSendsNothingMore) {
  const AbortCase& c = GetParam();
  const std::uint64_t total = 3 * kRun + 5;
  sim::VirtualDrive& drive = AddSata(3, total, "ABRT0003");
  const auto runs = EraseRunList(total);
  const std::uint64_t held_lba = runs[c.held_run].lba;
  std::uint64_t release_at = 0;

  Begin({0});
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kEraseDisk);
  ui.Expect(ids::kWarningTemplate).Press(ui::IDOK);
  ui.Expect(ids::kSureTemplate)
      .Do([&](ui::Dialog&) {
        release_at = ui.now_ms() + 3000;
        bench.AddFault(FaultOn(3, kErase, sim::FaultEffect::Block, held_lba, release_at));
      })
      .Press(ui::IDOK);
  auto& step = ui.Expect(ids::kEraseDiskTemplate).Do([&](ui::Dialog& d) {
    ASSERT_TRUE(WaitForCommand(3, kErase, held_lba));
    EXPECT_EQ(dynamic_cast<CEraseDisk&>(d).finished.load(), 0);
  });
  switch (c.how) {
    case Stop::AbortButton: step.Press(ids::erase_disk::kAbort); break;
    case Stop::Escape: step.Escape(); break;
    case Stop::CloseBox: step.CloseBox(); break;
  }
  End();
  Run();

  EXPECT_GE(ui.now_ms(), release_at);
  EXPECT_EQ(Commands(3), PlannedErase(total, c.held_run + 1));
  const std::uint64_t erased_to = runs[c.held_run].lba + runs[c.held_run].count;
  EXPECT_TRUE(drive.IsZeroed(0, erased_to));
  if (erased_to < total) {
    EXPECT_EQ(drive.ReadSector(erased_to), sim::PatternSector(erased_to));
    EXPECT_EQ(drive.ReadSector(total - 1), sim::PatternSector(total - 1));
  }
  EXPECT_EQ(Shown(ui, ids::kEraseDiskDoneTemplate), 0);
  EXPECT_EQ(status.at(0), "Aborted");
  ExpectOneRecord(LogLines("ABRT0003"), "Erase Disk", "Aborted");
}

INSTANTIATE_TEST_SUITE_P(
    Ways, EraseDiskAbort,
    ::testing::Values(AbortCase{"last_run_abort_button", 3, Stop::AbortButton},
                      AbortCase{"last_run_escape", 3, Stop::Escape},
                      AbortCase{"last_run_close_box", 3, Stop::CloseBox},
                      AbortCase{"second_run_abort_button", 1, Stop::AbortButton}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace plovix::testing_utils
