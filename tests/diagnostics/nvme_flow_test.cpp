// NVMe drives through the program's flows, on a bench: the scan, the system disk, the
// SMART status, the quick and extended tests, the surface scans, both erases and the
// log view, in 512- and 4096-byte formats, with the refusals an operating system makes.
#include <array>
#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <algorithm>

#include "diagnostics/NvmeSupport.h"
#include "diagnostics/RunPlan.h"
#include "diagnostics/Surface.h"
#include "diagnostics/WorkerDialog.h"
#include "drive/NvmeCommands.h"
#include "reports/DriveLog.h"
#include "reports/NvmeHealthRows.h"
#include "resources/ResourceIds.h"
#include "tests/support/utils_rig.h"

namespace plovix::testing_utils {
namespace {

constexpr int kNvme = 3;   // the drive the user works on (line 0)
constexpr int kOther = 5;  // an ATA drive beside it (line 1)
constexpr std::uint64_t kBlocks512 = 3 * 65535 + 5;
constexpr std::uint64_t kBlocks4k = 3 * 8192 + 3;
const std::array<std::uint8_t, 512> kZeros{};

std::uint64_t BlocksFor(std::uint32_t block_bytes) {
  return block_bytes == 512 ? kBlocks512 : kBlocks4k;
}

std::string FormatName(std::uint32_t block_bytes) {
  return block_bytes == 512 ? "512" : "4k";
}

// Lets a worker reach its end in real time, so that the next tick closes its dialog.
void RunWorkerOut(ui::scripted::Step& step) {
  step.Do([](ui::Dialog& d) {
        auto& worker = dynamic_cast<WorkerDialog&>(d);
        ASSERT_TRUE(WaitUntil([&] { return worker.finished.load() != 0; }));
      })
      .Advance(5000);
}

std::vector<std::string> Records(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i + 3 < lines.size(); i += 4) {
    EXPECT_EQ(lines[i + 1], "Done");
    EXPECT_TRUE(std::regex_match(lines[i + 3], std::regex(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d)")));
    out.push_back(lines[i] + "=" + lines[i + 2]);
  }
  EXPECT_EQ(lines.size() % 4, 0u);
  return out;
}

using Strings = std::vector<std::string>;

class NvmeRig : public UtilsRig {
 protected:
  sim::VirtualNvme& AddChosen(std::uint32_t block_bytes,
                              const std::function<void(sim::NvmeSpec&)>& adjust = {}) {
    sim::NvmeSpec setup = NvmeDriveSetup("NVME0003", BlocksFor(block_bytes), block_bytes);
    if (adjust) adjust(setup);
    sim::VirtualNvme& nvme = AddNvme(kNvme, setup);
    AddSata(kOther, 5000000, "OTHER0005");
    return nvme;
  }
  // The first main-window step without a button: remember the window and forget what
  // the start-up scan sent.
  ui::scripted::Step& Start() {
    return ui.Expect(ids::kMainTemplate).Do([this](ui::Dialog& d) {
      main_window = dynamic_cast<CPlovixDlg*>(&d);
      bench.ClearLog();
    });
  }
  Strings Boxes() const {
    Strings out;
    for (const auto& box : ui.message_boxes()) out.push_back(box.text);
    return out;
  }
  Strings LogOf(const std::string& serial) { return Records(LogLines(serial)); }
  // Nothing reached the ATA drive nobody chose, or the system disk.
  void ExpectOthersUntouched() {
    EXPECT_TRUE(RequestsToOthers({kNvme}).empty());
    EXPECT_EQ(bench.Drive(kOther).ReadSector(0), sim::PatternSector(0));
    EXPECT_EQ(bench.Drive(0).ReadSector(0), sim::PatternSector(0));
  }
};

// --- The scan ----------------------------------------------------------------------------

class NvmeScan : public NvmeRig, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(NvmeScan, ListsTheNamespaceWithItsIdentityInSectors) {
  const std::uint32_t block_bytes = GetParam();
  AddChosen(block_bytes);
  Start().Press(ids::main_window::kScan);
  ui.Expect(ids::kMainTemplate).Do([&](ui::Dialog& d) {
    ui::ListCtrl& list = d.List(ids::main_window::kDriveList);
    ASSERT_EQ(list.GetItemCount(), 2);
    EXPECT_EQ(list.GetItemText(0, 0), "3");
    EXPECT_EQ(list.GetItemText(0, 1), "PLOVIX NVME NVME0003");
    EXPECT_EQ(list.GetItemText(0, 2), "NVME0003");
    EXPECT_EQ(list.GetItemText(0, 3), "NV01");
    const DriveRecord& r = main_window->drive_table.records[0];
    EXPECT_EQ(r.nvme, 1);
    EXPECT_EQ(r.nvme_nsid, 1u);
    EXPECT_EQ(r.nvme_block_bytes, block_bytes);
    EXPECT_EQ(r.nvme_block_count, BlocksFor(block_bytes));
    EXPECT_EQ(r.total_sectors, BlocksFor(block_bytes) * (block_bytes / 512));
    EXPECT_EQ(r.via_scsi, 0);
    EXPECT_EQ(r.nvme_self_test, 1);
    EXPECT_EQ(r.nvme_verify, 1);
    EXPECT_EQ(r.nvme_write_zeroes, 1);
    EXPECT_EQ(r.nvme_mdts, 5);
    EXPECT_EQ(r.nvme_warning_temp_kelvin, 343);
    EXPECT_TRUE(IsSmartUsable(r));
    EXPECT_EQ(main_window->drive_table.records[1].nvme, 0);
  });
  End();
  Run();
  // IDENTIFY DEVICE once, as every drive gets it, then the two identifies; no SCSI probe.
  const auto log = bench.LogFor(kNvme);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_FALSE(log[0].nvme);
  EXPECT_FALSE(log[0].scsi);
  EXPECT_EQ(log[0].ata.CurrentTaskFile[kTfCommand], 0xEC);
  EXPECT_EQ(NvmeCommands(kNvme),
            (std::vector<NvmeCmd>{{NvmeQueue::Admin, kNvmeIdentify, 0, 1, 0, 0},
                                  {NvmeQueue::Admin, kNvmeIdentify, 1, 0, 0, 0}}));
}

INSTANTIATE_TEST_SUITE_P(Formats, NvmeScan, ::testing::Values(512u, 4096u),
                         [](const auto& p) { return FormatName(p.param); });

struct NotTakenCase {
  const char* name;
  std::function<void(sim::Bench&)> fault;
};

class NvmeNotTaken : public NvmeRig, public ::testing::WithParamInterface<NotTakenCase> {};

TEST_P(NvmeNotTaken, ANamespaceThatDoesNotIdentifyIsLeftOut) {
  AddChosen(512);
  // Named at start-up and again after Scan, never left out unsaid.
  const std::string told = "These drives cannot be reached and are not listed: Drive " +
                           std::to_string(kNvme) + " (an NVMe namespace that answered no Identify).";
  ui.ExpectMessageBox(told).Press(ui::IDOK);
  Start().Press(ids::main_window::kScan);
  ui.ExpectMessageBox(told).Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate).Do([&](ui::Dialog& d) {
    EXPECT_EQ(d.List(ids::main_window::kDriveList).GetItemCount(), 1);
    EXPECT_EQ(d.List(ids::main_window::kDriveList).GetItemText(0, 0), "5");
  });
  End();
  GetParam().fault(bench);
  Run();
}

sim::Fault NvmeFault(std::uint8_t opcode, sim::FaultEffect effect, int skip = 0) {
  sim::Fault f;
  f.match.drive_number = kNvme;
  f.match.nvme_queue = NvmeQueue::Admin;
  f.match.nvme_opcode = opcode;
  f.match.skip = skip;
  f.effect = effect;
  return f;
}

// The I/O command of this opcode after `skip` of them, once.
sim::Fault IoFault(std::uint8_t opcode, sim::FaultEffect effect, int skip) {
  sim::Fault f;
  f.match.drive_number = kNvme;
  f.match.nvme_queue = NvmeQueue::Io;
  f.match.nvme_opcode = opcode;
  f.match.skip = skip;
  f.match.times = 1;
  f.effect = effect;
  return f;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, NvmeNotTaken,
    ::testing::Values(
        NotTakenCase{"ControllerIdentifyFails",
                     [](sim::Bench& b) { b.AddFault(NvmeFault(kNvmeIdentify, sim::FaultEffect::NvmeError)); }},
        NotTakenCase{"NamespaceIdentifyRefused",
                     [](sim::Bench& b) {
                       b.AddFault(NvmeFault(kNvmeIdentify, sim::FaultEffect::Refused, 1));
                     }},
        NotTakenCase{"InactiveNamespace",
                     [](sim::Bench& b) { b.Nvme(kNvme).mutable_setup().block_count = 0; }},
        NotTakenCase{"BlocksSmallerThanASector",
                     [](sim::Bench& b) { b.Nvme(kNvme).mutable_setup().block_bytes = 256; }}),
    [](const auto& p) { return std::string(p.param.name); });

// --- The system disk -----------------------------------------------------------------------

TEST_F(NvmeRig, AnNvmeDiskHoldingCIsLeftOutWithItsSiblingNamespace) {
  bench.RemoveDrive(0);
  sim::NvmeSpec system = NvmeDriveSetup("SYSNVME1", kBlocks512, 512);
  system.namespace_count = 2;
  bench.AddNvme(0, system);
  bench.AddVolume('C', 0);
  sim::NvmeSpec sibling = system;  // the same controller's second namespace
  sibling.nsid = 2;
  bench.AddNvme(1, sibling);
  sim::NvmeSpec data = NvmeDriveSetup("DATANVME", kBlocks4k, 4096);
  AddNvme(4, data);
  bench.AddVolume('D', 4);
  bench.AddVolume('E', 0);  // a second volume of the system disk: C comes first

  Start().Press(ids::main_window::kScan);
  ui.Expect(ids::kMainTemplate).Do([&](ui::Dialog& d) {
    ui::ListCtrl& list = d.List(ids::main_window::kDriveList);
    ASSERT_EQ(list.GetItemCount(), 1);
    EXPECT_EQ(list.GetItemText(0, 2), "DATANVME");
    EXPECT_EQ(main_window->drive_table.records[0].drive_letter, 'D');
  });
  End();
  Run();
  // Nothing but identifies went to the system's disk, through its own handle or C:'s.
  for (const sim::Received& r : bench.Log()) {
    if (!r.nvme) continue;
    EXPECT_TRUE(IsAdmin(DecodeNvme(r), kNvmeIdentify)) << DecodeNvme(r);
  }
}

// --- SMART status --------------------------------------------------------------------------

struct HealthCase {
  const char* name;
  std::function<void(NvmeHealth&)> health;
  // ID, name, current, threshold, image of each line.
  std::vector<std::tuple<std::string, std::string, std::string, std::string, int>> lines;
};

class NvmeSmartStatus : public NvmeRig, public ::testing::WithParamInterface<HealthCase> {};

TEST_P(NvmeSmartStatus, ShowsTheHealthLogWithItsLimits) {
  const HealthCase& c = GetParam();
  AddChosen(4096, [&](sim::NvmeSpec& s) { c.health(s.health); });
  Start().DoubleClick(ids::main_window::kDriveList, 0);
  ui.Expect(ids::kSmartTemplate).Do([&](ui::Dialog& d) {
    EXPECT_EQ(d.GetDlgItemText(ids::smart::kModel), "PLOVIX NVME NVME0003");
    EXPECT_EQ(d.GetDlgItemText(ids::smart::kSerial), "NVME0003");
    EXPECT_EQ(d.GetDlgItemText(ids::smart::kFirmware), "NV01");
    EXPECT_EQ(d.GetDlgItemText(ids::smart::kMaxLba), "0x6003        \r\n");
    EXPECT_EQ(d.GetDlgItemText(ids::smart::kCapacity), "96MB, 4096 B blocks");
    ui::ListCtrl& list = d.List(ids::smart::kAttributeList);
    ASSERT_EQ(list.GetItemCount(), 17);
    for (const auto& [id, name, current, threshold, image] : c.lines) {
      int line = -1;
      for (int i = 0; i < list.GetItemCount(); ++i) {
        if (list.GetItemText(i, 1) == id) line = i;
      }
      ASSERT_GE(line, 0) << id;
      EXPECT_EQ(list.GetItemText(line, 2), name);
      EXPECT_EQ(list.GetItemText(line, 3), current) << name;
      EXPECT_EQ(list.GetItemText(line, 4), "") << name;
      EXPECT_EQ(list.GetItemText(line, 5), threshold) << name;
      EXPECT_EQ(list.GetItemImage(line), image) << name;
    }
  }).Press(ui::IDOK);
  End();
  Run();
  // One health log read; never an ATA SMART command.
  EXPECT_FALSE(AnyAtaOrScsi(kNvme));
  const auto cmds = NvmeCommands(kNvme);
  ASSERT_EQ(cmds.size(), 1u);
  EXPECT_TRUE(IsLogRead(cmds[0], kNvmeLogHealth));
  EXPECT_EQ(cmds[0].nsid, 0xFFFFFFFFu);
  EXPECT_TRUE(Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Drives, NvmeSmartStatus,
    ::testing::Values(
        HealthCase{"Healthy",
                   [](NvmeHealth& h) {
                     h.power_on_hours = {4211, 0};
                     h.data_units_read = {1'500'000, 0};
                     h.error_log_entries = {7, 0};
                   },
                   {{"0", "Critical Warning", "0x00", "", kHealthGood},
                    {"1", "Composite Temperature", "36 C", "70 C", kHealthGood},
                    {"3", "Available Spare", "100%", "10%", kHealthGood},
                    {"4", "Available Spare Threshold", "10%", "", kHealthNoImage},
                    {"5", "Percentage Used", "0%", "100%", kHealthGood},
                    {"32", "Data Units Read", "768 GB", "", kHealthNoImage},
                    {"128", "Power On Hours", "4211", "", kHealthNoImage},
                    {"160", "Media and Data Integrity Errors", "0", "", kHealthGood},
                    {"176", "Error Log Entries", "7", "", kHealthNoImage}}},
        HealthCase{"Worn",
                   [](NvmeHealth& h) {
                     h.critical_warning = kNvmeWarnSpare | kNvmeWarnReliability;
                     h.temperature_kelvin = 345;
                     h.available_spare = 4;
                     h.percentage_used = 104;
                     h.media_errors = {3, 0};
                     h.unsafe_shutdowns = {0, 1};  // past 64 bits: every digit shown
                   },
                   {{"0", "Critical Warning", "0x05", "", kHealthBad},
                    {"1", "Composite Temperature", "72 C", "70 C", kHealthBad},
                    {"3", "Available Spare", "4%", "10%", kHealthBad},
                    {"5", "Percentage Used", "104%", "100%", kHealthBad},
                    {"144", "Unsafe Shutdowns", "18446744073709551616", "", kHealthNoImage},
                    {"160", "Media and Data Integrity Errors", "3", "", kHealthBad}}}),
    [](const auto& p) { return std::string(p.param.name); });

class NvmeHealthUnread : public NvmeRig, public ::testing::WithParamInterface<sim::FaultEffect> {};

TEST_P(NvmeHealthUnread, ShowsTheIdentityAloneAndTellsOfARefusal) {
  const sim::FaultEffect effect = GetParam();
  AddChosen(512);
  Start()
      .Do([&](ui::Dialog&) { bench.AddFault(NvmeFault(kNvmeLogPage, effect)); })
      .DoubleClick(ids::main_window::kDriveList, 0);
  if (effect == sim::FaultEffect::Refused) {
    ui.ExpectMessageBox(nvme_text::kHealthRefused).Press(ui::IDOK);
  }
  ui.Expect(ids::kSmartTemplate)
      .Do([](ui::Dialog& d) {
        EXPECT_EQ(d.GetDlgItemText(ids::smart::kSerial), "NVME0003");
        EXPECT_EQ(d.List(ids::smart::kAttributeList).GetItemCount(), 0);
      })
      .Press(ui::IDOK);
  End();
  Run();
  EXPECT_EQ(Boxes(),
            effect == sim::FaultEffect::Refused ? Strings{nvme_text::kHealthRefused} : Strings{});
}

INSTANTIATE_TEST_SUITE_P(Effects, NvmeHealthUnread,
                         ::testing::Values(sim::FaultEffect::NvmeError, sim::FaultEffect::Refused,
                                           sim::FaultEffect::CallFails),
                         [](const auto& p) {
                           return std::string(p.param == sim::FaultEffect::Refused ? "Refused"
                                              : p.param == sim::FaultEffect::NvmeError
                                                  ? "NvmeError"
                                                  : "CallFails");
                         });

// --- Quick and Ext Test ----------------------------------------------------------------------

struct SelfTestCase {
  const char* name;
  std::uint32_t block_bytes;
  int kind;  // 1 quick, 2 extended
  std::function<void(sim::NvmeSpec&)> adjust;
  std::function<void(sim::Bench&)> fault;  // added once the start-up scan is done
  std::string status;
  Strings records;
  std::string read_error_text;
  std::string sentence;
};

class NvmeSelfTest : public NvmeRig, public ::testing::WithParamInterface<SelfTestCase> {};

TEST_P(NvmeSelfTest, RunsTheDevicesOwnTestAndReportsItsResult) {
  const SelfTestCase& c = GetParam();
  sim::VirtualNvme& nvme = AddChosen(c.block_bytes, c.adjust);
  Start()
      .Do([&](ui::Dialog&) {
        if (c.fault) c.fault(bench);
      })
      .Check(ids::main_window::kDriveList, 0)
      .Press(c.kind == 1 ? ids::main_window::kQuickTest : ids::main_window::kExtTest);
  ui.Expect(ids::kSelfTestProgressTemplate)
      .Do([&](ui::Dialog& d) {
        EXPECT_EQ(d.GetDlgItemText(ids::selftest_progress::kTitle),
                  c.kind == 1 ? "SMART Short Test" : "SMART Extended Test");
        EXPECT_EQ(main_window->drive_list().GetItemText(0, kStatusColumn), "Now Test Execute");
      })
      .AdvanceUntilClosed(10 * 60 * 1000);
  ui.Expect(ids::kSelfTestResultTemplate)
      .Do([&](ui::Dialog& d) {
        EXPECT_EQ(d.GetDlgItemText(ids::selftest_result::kReadError), c.read_error_text);
        EXPECT_EQ(d.GetDlgItemText(ids::selftest_result::kSelfTest), c.sentence);
      })
      .Press(ui::IDOK);
  End();
  Run();
  EXPECT_EQ(status.at(0), c.status);
  EXPECT_EQ(LogOf("NVME0003"), c.records);
  EXPECT_TRUE(Boxes().empty());
  ExpectOthersUntouched();
  EXPECT_FALSE(AnyAtaOrScsi(kNvme));

  // Health log, the self-test log before the start, the start, then only log reads.
  const auto cmds = NvmeCommands(kNvme);
  ASSERT_GE(cmds.size(), 4u);
  EXPECT_TRUE(IsLogRead(cmds[0], kNvmeLogHealth));
  EXPECT_TRUE(IsLogRead(cmds[1], kNvmeLogSelfTest));
  EXPECT_EQ(cmds[2], (NvmeCmd{NvmeQueue::Admin, kNvmeSelfTest, 0xFFFFFFFF,
                              static_cast<std::uint32_t>(c.kind), 0, 0}));
  for (std::size_t i = 3; i < cmds.size(); ++i) EXPECT_TRUE(IsLogRead(cmds[i], kNvmeLogSelfTest));
  EXPECT_EQ(nvme.SelfTestLog()[0], 0) << "the drive still runs a test";
}

sim::NvmeSelfTestPlan Plan(std::uint8_t result, std::uint64_t ms = 20000,
                           std::optional<std::uint64_t> lba = std::nullopt) {
  return sim::NvmeSelfTestPlan{result, ms, 3, lba};
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, NvmeSelfTest,
    ::testing::Values(
        SelfTestCase{"QuickPasses512", 512, 1, {}, {}, "Completed",
                     {"ReadErrStat=Pass", "SMART QT=Pass"}, "Pass",
                     "Pass - Test completed without Error"},
        SelfTestCase{"ExtendedPasses4k", 4096, 2, {}, {}, "Completed",
                     {"ReadErrStat=Pass", "SMART ET=Pass"}, "Pass",
                     "Pass - Test completed without Error"},
        SelfTestCase{"QuickOverBeforeTheFirstPoll", 4096, 1,
                     [](sim::NvmeSpec& s) { s.short_test = Plan(kNvmeTestPassed, 1000); }, {},
                     "Completed", {"ReadErrStat=Pass", "SMART QT=Pass"}, "Pass",
                     "Pass - Test completed without Error"},
        SelfTestCase{"ExtendedCannotReadABlock", 512, 2,
                     [](sim::NvmeSpec& s) { s.extended_test = Plan(kNvmeTestFailedSegment, 30000, 77); },
                     {}, "Failure", {"ReadErrStat=Pass", "SMART ET=Fail"}, "Pass",
                     "Fail - Read Element Failure"},
        SelfTestCase{"QuickFailsASegment", 4096, 1,
                     [](sim::NvmeSpec& s) { s.short_test = Plan(kNvmeTestFailedSegment); }, {},
                     "Failure", {"ReadErrStat=Pass", "SMART QT=Fail"}, "Pass",
                     "Fail - Unkown Element Failure"},
        SelfTestCase{"QuickFatal", 512, 1,
                     [](sim::NvmeSpec& s) { s.short_test = Plan(kNvmeTestFatalError); }, {},
                     "Failure", {"ReadErrStat=Pass", "SMART QT=Fail"}, "Pass",
                     "Fail - Fatal/Unknown Error"},
        SelfTestCase{"QuickEndedByAReset", 512, 1,
                     [](sim::NvmeSpec& s) { s.short_test = Plan(kNvmeTestAbortedByReset); }, {},
                     "Failure", {"ReadErrStat=Pass", "SMART QT=Fail"}, "Pass",
                     "Test interrupted by the host with a hard or soft reset"},
        SelfTestCase{"MediaErrorsFailTheReadCheck", 4096, 1,
                     [](sim::NvmeSpec& s) { s.health.media_errors = {2, 0}; }, {}, "Completed",
                     {"ReadErrStat=Fail", "SMART QT=Pass"}, "Fail",
                     "Pass - Test completed without Error"},
        SelfTestCase{"UnreadableHealthLog", 512, 2, {},
                     [](sim::Bench& b) {
                       sim::Fault f = NvmeFault(kNvmeLogPage, sim::FaultEffect::NvmeError);
                       f.match.times = 1;
                       b.AddFault(f);
                     },
                     "Completed", {"ReadErrStat=ComErr", "SMART ET=Pass"}, "ComErr",
                     "Pass - Test completed without Error"},
        SelfTestCase{"PollsThatFailAreWaitedOut", 512, 1, {},
                     [](sim::Bench& b) {
                       sim::Fault f = NvmeFault(kNvmeLogPage, sim::FaultEffect::CallFails, 2);
                       f.match.times = 3;
                       b.AddFault(f);
                     },
                     "Completed", {"ReadErrStat=Pass", "SMART QT=Pass"}, "Pass",
                     "Pass - Test completed without Error"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(NvmeRig, ProgressComesFromTheSelfTestLog) {
  AddChosen(512);
  Start().Check(ids::main_window::kDriveList, 0).Press(ids::main_window::kExtTest);
  ui.Expect(ids::kSelfTestProgressTemplate)
      .Advance(5000)
      .Do([](ui::Dialog& d) { EXPECT_EQ(d.Progress(ids::selftest_progress::kBar).pos(), 8); })
      .Advance(25000)
      .Do([](ui::Dialog& d) { EXPECT_EQ(d.Progress(ids::selftest_progress::kBar).pos(), 50); })
      .AdvanceUntilClosed(60000);
  ui.Expect(ids::kSelfTestResultTemplate).Press(ui::IDOK);
  End();
  Run();
  EXPECT_EQ(status.at(0), "Completed");
}

// The drive's log holds twenty identical passes already: a new identical one changes
// nothing in it, and only the second poll that finds no test running takes it.
TEST_F(NvmeRig, AResultIdenticalToTheOnesBeforeIsTakenAtTheSecondQuietPoll) {
  AddChosen(512, [](sim::NvmeSpec& s) { s.short_test = Plan(kNvmeTestPassed, 0); });
  {
    IoBuffers buffers;
    DriveConnection connection(bench, buffers);
    ASSERT_TRUE(connection.Open(kNvme));
    for (int i = 0; i < 21; ++i) {
      ASSERT_TRUE(NvmeSucceeded(NvmeStartSelfTest(connection, NvmeSelfTestCode::Short)));
      ASSERT_TRUE(NvmeSucceeded(NvmeReadSelfTestLog(connection)));
    }
  }
  Start().Check(ids::main_window::kDriveList, 0).Press(ids::main_window::kQuickTest);
  ui.Expect(ids::kSelfTestProgressTemplate)
      .Advance(5000)
      .Do([](ui::Dialog& d) { EXPECT_FALSE(d.end_requested()); })
      .AdvanceUntilClosed(5000);
  ui.Expect(ids::kSelfTestResultTemplate)
      .Do([](ui::Dialog& d) {
        EXPECT_EQ(d.GetDlgItemText(ids::selftest_result::kSelfTest),
                  "Pass - Test completed without Error");
      })
      .Press(ui::IDOK);
  End();
  Run();
  EXPECT_EQ(status.at(0), "Completed");
  int polls = 0;
  for (const NvmeCmd& c : NvmeCommands(kNvme)) polls += IsLogRead(c, kNvmeLogSelfTest) ? 1 : 0;
  EXPECT_EQ(polls, 3);  // the look before the start and two polls
}

struct NotRunCase {
  const char* name;
  std::function<void(sim::NvmeSpec&)> adjust;
  std::function<void(sim::Bench&)> fault;
  std::string box;
  std::string status;
  Strings records;
  bool start_sent;  // and so refused or failed: the result dialog says it did not start
};

class NvmeSelfTestNotRun : public NvmeRig, public ::testing::WithParamInterface<NotRunCase> {};

// The user is told why, a start that did not go through counts as a failed test, and
// the next checked drive is tested.
TEST_P(NvmeSelfTestNotRun, SaysSoAndGoesOnWithTheNextDrive) {
  const NotRunCase& c = GetParam();
  AddChosen(4096, c.adjust);
  Start()
      .Do([&](ui::Dialog&) {
        if (c.fault) c.fault(bench);
      })
      .Check(ids::main_window::kDriveList, 0)
      .Check(ids::main_window::kDriveList, 1)
      .Press(ids::main_window::kQuickTest);
  ui.ExpectMessageBox(c.box).Press(ui::IDOK);
  if (c.start_sent) {
    ui.Expect(ids::kSelfTestResultTemplate)
        .Do([](ui::Dialog& d) {
          EXPECT_EQ(d.GetDlgItemText(ids::selftest_result::kSubtitle),
                    "SMART short test did not start");
          EXPECT_EQ(d.GetDlgItemText(ids::selftest_result::kSelfTest),
                    "Fail - Drive did not start the test");
        })
        .Press(ui::IDOK);
  }
  ui.Expect(ids::kSelfTestProgressTemplate).AdvanceUntilClosed(60000);  // the ATA drive's test
  ui.Expect(ids::kSelfTestResultTemplate).Press(ui::IDOK);
  End();
  Run();
  EXPECT_EQ(status, (Strings{c.status, "Completed"}));
  EXPECT_EQ(LogOf("NVME0003"), c.records);
  EXPECT_EQ(LogOf("OTHER0005"), (Strings{"ReadErrStat=Pass", "SMART QT=Pass"}));
  bool started = false;
  for (const NvmeCmd& cmd : NvmeCommands(kNvme)) started |= IsAdmin(cmd, kNvmeSelfTest);
  EXPECT_EQ(started, c.start_sent);
  ASSERT_EQ(ui.message_boxes().size(), 1u);
  EXPECT_NE(ui.message_boxes()[0].caption.find("NVME0003"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NvmeSelfTestNotRun,
    ::testing::Values(
        NotRunCase{"NoDeviceSelfTest", [](sim::NvmeSpec& s) { s.self_test_supported = false; }, {},
                   nvme_text::kSelfTestUnsupported, "Not Supported", {}, false},
        NotRunCase{"SystemRefusesTheStart",
                   [](sim::NvmeSpec& s) { s.os_refused_admin = {kNvmeSelfTest}; }, {},
                   nvme_text::kSelfTestStartRefused, "Failure",
                   {"ReadErrStat=Pass", "SMART QT=Fail"}, true},
        NotRunCase{"ATestRunsAlready", {},
                   [](sim::Bench& b) {
                     sim::Fault f = NvmeFault(kNvmeSelfTest, sim::FaultEffect::NvmeError);
                     f.nvme_status = MakeNvmeStatus(kNvmeSctCommandSpecific, kNvmeScSelfTestInProgress);
                     b.AddFault(f);
                   },
                   nvme_text::kSelfTestBusy, "Failure",
                   {"ReadErrStat=Pass", "SMART QT=Fail"}, true},
        NotRunCase{"StartCallFails", {},
                   [](sim::Bench& b) { b.AddFault(NvmeFault(kNvmeSelfTest, sim::FaultEffect::CallFails)); },
                   nvme_text::kSelfTestNotStarted, "Failure",
                   {"ReadErrStat=Pass", "SMART QT=Fail"}, true}),
    [](const auto& p) { return std::string(p.param.name); });

// A start the drive takes, after which its log shows neither a test running nor any
// result: no test ran, and none is reported as run.
TEST_F(NvmeRig, AStartThatComesToNothingIsATestNotStarted) {
  AddChosen(512);
  std::uint64_t closed_at = 0;
  Start()
      .Do([&](ui::Dialog&) { bench.AddFault(NvmeFault(kNvmeSelfTest, sim::FaultEffect::Lost)); })
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kExtTest);
  ui.Expect(ids::kSelfTestProgressTemplate).AdvanceUntilClosed(60000);
  ui.Expect(ids::kSelfTestResultTemplate)
      .Do([&](ui::Dialog& d) {
        closed_at = ui.now_ms();
        EXPECT_EQ(d.GetDlgItemText(ids::selftest_result::kSubtitle),
                  "SMART extend test did not start");
        EXPECT_EQ(d.GetDlgItemText(ids::selftest_result::kSelfTest),
                  "Fail - Drive did not start the test");
      })
      .Press(ui::IDOK);
  End();
  Run();
  EXPECT_EQ(closed_at, 10000u);  // two quiet polls
  EXPECT_EQ(status.at(0), "Failure");
  EXPECT_EQ(LogOf("NVME0003"), (Strings{"ReadErrStat=Pass", "SMART ET=Fail"}));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(NvmeRig, AbortStopsTheTestInTheDrive) {
  sim::VirtualNvme& nvme = AddChosen(512);
  Start().Check(ids::main_window::kDriveList, 0).Press(ids::main_window::kExtTest);
  ui.Expect(ids::kSelfTestProgressTemplate).Advance(10000).Press(ids::selftest_progress::kAbort);
  ui.Expect(ids::kAbortQuestionTemplate).Press(ui::IDOK);
  ui.Expect(ids::kSelfTestResultTemplate)
      .Do([](ui::Dialog& d) {
        EXPECT_EQ(d.GetDlgItemText(ids::selftest_result::kSelfTest), "Test aborted by the host");
      })
      .Press(ui::IDOK);
  End();
  Run();
  EXPECT_EQ(status.at(0), "Aborted");
  EXPECT_EQ(LogOf("NVME0003"), (Strings{"ReadErrStat=Pass", "SMART ET=Aborted"}));
  const auto cmds = NvmeCommands(kNvme);
  ASSERT_FALSE(cmds.empty());
  EXPECT_EQ(cmds.back(), (NvmeCmd{NvmeQueue::Admin, kNvmeSelfTest, 0xFFFFFFFF, 0xF, 0, 0}));
  NvmeSelfTestLog log;
  DecodeSelfTestLog(nvme.SelfTestLog().data(), log);
  EXPECT_FALSE(log.running());
  ASSERT_TRUE(log.newest.has_value());
  EXPECT_EQ(log.newest->status, kNvmeTestAbortedByCommand);
}

TEST_F(NvmeRig, AnAbortThatDoesNotGoThroughIsToldAndTheWatchGoesOn) {
  AddChosen(512);
  Start()
      .Do([&](ui::Dialog&) {
        bench.AddFault(NvmeFault(kNvmeSelfTest, sim::FaultEffect::Refused, 1));
      })
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kQuickTest);
  ui.Expect(ids::kSelfTestProgressTemplate).Advance(5000).Press(ids::selftest_progress::kAbort);
  ui.Expect(ids::kAbortQuestionTemplate).Press(ui::IDOK);
  ui.ExpectMessageBox(nvme_text::kAbortRefused).Press(ui::IDOK);
  ui.Expect(ids::kSelfTestProgressTemplate).AdvanceUntilClosed(60000);
  ui.Expect(ids::kSelfTestResultTemplate)
      .Do([](ui::Dialog& d) {
        EXPECT_EQ(d.GetDlgItemText(ids::selftest_result::kSelfTest),
                  "Pass - Test completed without Error");
      })
      .Press(ui::IDOK);
  End();
  Run();
  EXPECT_EQ(status.at(0), "Completed");
  EXPECT_EQ(LogOf("NVME0003"), (Strings{"ReadErrStat=Pass", "SMART QT=Pass"}));
}

// --- Surface scans -----------------------------------------------------------------------


struct SurfaceCase {
  const char* name;
  std::uint32_t block_bytes;
  int button;
  std::function<void(sim::NvmeSpec&)> adjust;
  std::string status;
  Strings records;
  std::string read_error_text;
  std::string surface_text;
  std::string failed_run;
  std::uint8_t io_opcode;  // what the scan reads with
  std::string reads_note = {};  // how it read where it did not verify
  std::function<void(sim::Bench&)> fault = {};  // added once the start-up scan is done
};

class NvmeSurface : public NvmeRig, public ::testing::WithParamInterface<SurfaceCase> {};

constexpr const char* kNoVerifyNote =
    "The drive has no Verify command, so the scan read the sectors instead.";

TEST_P(NvmeSurface, ScansTheRunPlanInBlocks) {
  const SurfaceCase& c = GetParam();
  AddChosen(c.block_bytes, c.adjust);
  const int kind = c.button == ids::utilities::kShortTest ? kSurfaceShort : kSurfaceLong;
  Start()
      .Do([&](ui::Dialog&) {
        if (c.fault) c.fault(bench);
      })
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kUtilities);
  ui.Expect(ids::kUtilitiesTemplate).Press(c.button);
  RunWorkerOut(ui.Expect(ids::kSurfaceTemplate));
  ui.Expect(ids::kSurfaceResultTemplate)
      .Do([&](ui::Dialog& d) {
        EXPECT_EQ(d.GetDlgItemText(ids::surface_result::kReadError), c.read_error_text);
        EXPECT_EQ(d.GetDlgItemText(ids::surface_result::kSurface), c.surface_text);
        EXPECT_EQ(d.GetDlgItemText(ids::surface_result::kFailedRun), c.failed_run);
        EXPECT_EQ(d.GetDlgItemText(ids::surface_result::kReadsNote), c.reads_note);
      })
      .Press(ui::IDOK);
  End();
  Run();
  EXPECT_EQ(status.at(0), c.status);
  EXPECT_EQ(LogOf("NVME0003"), c.records);
  EXPECT_TRUE(Boxes().empty());
  ExpectOthersUntouched();

  const auto cmds = NvmeCommands(kNvme);
  ASSERT_FALSE(cmds.empty());
  EXPECT_TRUE(IsLogRead(cmds[0], kNvmeLogHealth));
  const NvmeNamespace ns = NamespaceOf(main_window->drive_table.records[0]);
  // Every block the plan touches is read, in order, inside the namespace, and nothing
  // is written.
  std::uint64_t next_block = 0;
  bool failed = !c.failed_run.empty();
  std::vector<NvmeBlockRange> wanted;
  for (const SectorRun& run : SurfaceRunList(kind, ns.sectors())) {
    wanted.push_back(*SectorsToBlocks(ns, run.lba, run.count, SectorRounding::Outward));
  }
  std::size_t w = 0;
  for (std::size_t i = 1; i < cmds.size(); ++i) {
    const NvmeCmd& cmd = cmds[i];
    ASSERT_EQ(cmd.queue, NvmeQueue::Io) << cmd;
    EXPECT_TRUE(cmd.opcode == kNvmeVerify || cmd.opcode == kNvmeRead) << cmd;
    EXPECT_EQ(cmd.nsid, 1u);
    EXPECT_LE(cmd.slba + cmd.blocks, ns.block_count);
    if (cmd.opcode == kNvmeRead) {
      EXPECT_LE(cmd.blocks, NvmeMaxDataBlocks(ns, 5));
    }
    if (cmd.opcode != c.io_opcode) continue;
    if (w < wanted.size() && cmd.slba == wanted[w].first) next_block = wanted[w].first;
    EXPECT_EQ(cmd.slba, next_block) << cmd;
    next_block = cmd.slba + cmd.blocks;
    if (w < wanted.size() && next_block == wanted[w].first + wanted[w].count) ++w;
  }
  if (!failed) {
    EXPECT_EQ(w, wanted.size());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Scans, NvmeSurface,
    ::testing::Values(
        SurfaceCase{"LongVerifies512", 512, ids::utilities::kLongTest, {}, "Completed",
                    {"ReadErrStat=Pass", "SURFACE ET=Pass"}, "Pass", "Pass", "", kNvmeVerify},
        SurfaceCase{"ShortVerifies4k", 4096, ids::utilities::kShortTest, {}, "Completed",
                    {"ReadErrStat=Pass", "SURFACE QT=Pass"}, "Pass", "Pass", "", kNvmeVerify},
        SurfaceCase{"LongVerifies4k", 4096, ids::utilities::kLongTest, {}, "Completed",
                    {"ReadErrStat=Pass", "SURFACE ET=Pass"}, "Pass", "Pass", "", kNvmeVerify},
        SurfaceCase{"BadBlock512", 512, ids::utilities::kLongTest,
                    [](sim::NvmeSpec& s) { s.bad_blocks = {70000}; }, "Failure",
                    {"ReadErrStat=Pass", "SURFACE ET=Fail"}, "Pass", "Fail",
                    "Failing run: LBA 65535, 65535 sectors", kNvmeVerify},
        SurfaceCase{"BadBlock4kInTheLastTenth", 4096, ids::utilities::kShortTest,
                    [](sim::NvmeSpec& s) { s.bad_blocks = {kBlocks4k - 1}; }, "Failure",
                    {"ReadErrStat=Pass", "SURFACE QT=Fail"}, "Pass", "Fail",
                    "Failing run: LBA 176940, 19692 sectors", kNvmeVerify},
        // Reads where Verify cannot be had, and the result says why.
        SurfaceCase{"NoVerifyReads4k", 4096, ids::utilities::kLongTest,
                    [](sim::NvmeSpec& s) { s.verify_supported = false; }, "Completed",
                    {"ReadErrStat=Pass", "SURFACE ET=Pass"}, "Pass", "Pass", "", kNvmeRead,
                    kNoVerifyNote},
        SurfaceCase{"RefusedVerifyReads512", 512, ids::utilities::kShortTest,
                    [](sim::NvmeSpec& s) { s.os_refused_io = {kNvmeVerify}; }, "Completed",
                    {"ReadErrStat=Pass", "SURFACE QT=Pass"}, "Pass", "Pass", "", kNvmeRead,
                    "The operating system refused the Verify command, so the scan read the "
                    "sectors instead."},
        SurfaceCase{"VerifyTheDriveDoesNotKnowReads4k", 4096, ids::utilities::kShortTest, {},
                    "Completed",
                    {"ReadErrStat=Pass", "SURFACE QT=Pass"}, "Pass", "Pass", "", kNvmeRead,
                    "The drive refused the Verify command, so the scan read the sectors instead.",
                    [](sim::Bench& b) {
                      sim::Fault f = IoFault(kNvmeVerify, sim::FaultEffect::NvmeError, 0);
                      f.nvme_status = MakeNvmeStatus(0, kNvmeScInvalidOpcode);
                      b.AddFault(f);
                    }},
        SurfaceCase{"ReadsFindABadBlock512", 512, ids::utilities::kLongTest,
                    [](sim::NvmeSpec& s) {
                      s.verify_supported = false;
                      s.bad_blocks = {300};
                    },
                    "Failure", {"ReadErrStat=Pass", "SURFACE ET=Fail"}, "Pass", "Fail",
                    "Failing run: LBA 256, 256 sectors", kNvmeRead, kNoVerifyNote},
        SurfaceCase{"MediaErrorsFailTheReadCheck", 512, ids::utilities::kShortTest,
                    [](sim::NvmeSpec& s) { s.health.media_errors = {1, 0}; }, "Completed",
                    {"ReadErrStat=Fail", "SURFACE QT=Pass"}, "Fail", "Pass", "", kNvmeVerify}),
    [](const auto& p) { return std::string(p.param.name); });

// Verify refused after some runs went through: reads take over from the run it was
// refused on, and the result says from where.
TEST_F(NvmeRig, AVerifyRefusedPartwayIsToldWithItsSector) {
  AddChosen(4096);
  std::string note;
  Start()
      .Do([&](ui::Dialog&) { bench.AddFault(IoFault(kNvmeVerify, sim::FaultEffect::Refused, 2)); })
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kUtilities);
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kLongTest);
  RunWorkerOut(ui.Expect(ids::kSurfaceTemplate));
  ui.Expect(ids::kSurfaceResultTemplate)
      .Do([&](ui::Dialog& d) { note = d.GetDlgItemText(ids::surface_result::kReadsNote); })
      .Press(ui::IDOK);
  End();
  Run();
  EXPECT_EQ(note, "The operating system refused the Verify command at sector 131070, so the scan "
                  "read the sectors from there on.");
  EXPECT_EQ(status.at(0), "Completed");
  EXPECT_EQ(LogOf("NVME0003"), (Strings{"ReadErrStat=Pass", "SURFACE ET=Pass"}));
  std::vector<NvmeCmd> io;
  for (const NvmeCmd& c : NvmeCommands(kNvme)) {
    if (c.queue == NvmeQueue::Io) io.push_back(c);
  }
  ASSERT_GT(io.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(io[i].opcode, kNvmeVerify) << i;
  EXPECT_EQ(io[3].opcode, kNvmeRead);
  EXPECT_EQ(io[3].slba, 131070u / 8);  // the block that holds the run's first sector
  for (std::size_t i = 3; i < io.size(); ++i) EXPECT_EQ(io[i].opcode, kNvmeRead) << i;
}

TEST_F(NvmeRig, ASurfaceScanTheSystemWillNotLetReadIsToldAndNotPassed) {
  AddChosen(4096, [](sim::NvmeSpec& s) { s.os_refused_io = {kNvmeVerify, kNvmeRead}; });
  Start().Check(ids::main_window::kDriveList, 0).Press(ids::main_window::kUtilities);
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kLongTest);
  RunWorkerOut(ui.Expect(ids::kSurfaceTemplate));
  ui.ExpectMessageBox(SurfaceRefusedText(0)).Press(ui::IDOK);
  End();
  Run();
  EXPECT_EQ(status.at(0), "Refused");
  EXPECT_EQ(LogOf("NVME0003"), (Strings{"ReadErrStat=Pass", "SURFACE ET=Refused"}));
  EXPECT_EQ(std::count(ui.opened_dialogs().begin(), ui.opened_dialogs().end(),
                       ids::kSurfaceResultTemplate),
            0);
}

// --- Erase MBR ------------------------------------------------------------------------------

void Confirm(ui::scripted::ScriptedBackend& ui) {
  ui.Expect(ids::kWarningTemplate).Press(ui::IDOK);
  ui.Expect(ids::kSureTemplate).Press(ui::IDOK);
}

// What an erase sent after making sure of the drive, which it does first: Identify
// Controller, then Identify Namespace of the namespace the handle reaches, as the scan
// asks them.
std::vector<NvmeCmd> AfterIdentityReads(std::vector<NvmeCmd> cmds) {
  const std::vector<NvmeCmd> reads{{NvmeQueue::Admin, kNvmeIdentify, 0, 1, 0, 0},
                                   {NvmeQueue::Admin, kNvmeIdentify, 1, 0, 0, 0}};
  const std::size_t n = std::min(cmds.size(), reads.size());
  EXPECT_EQ(std::vector<NvmeCmd>(cmds.begin(), cmds.begin() + n), reads);
  cmds.erase(cmds.begin(), cmds.begin() + n);
  return cmds;
}

struct MbrCase {
  const char* name;
  std::uint32_t block_bytes;
  std::function<void(sim::NvmeSpec&)> adjust;
  std::function<void(sim::Bench&)> fault;
  std::optional<int> note_answer;  // the 4096-byte note, when it is asked
  std::string box;                 // the box after the erase, if any
  std::string status;
  Strings records;
  std::vector<std::uint8_t> io;  // I/O opcodes sent, in order
  bool zeroed;
};

class NvmeEraseMbr : public NvmeRig, public ::testing::WithParamInterface<MbrCase> {};

TEST_P(NvmeEraseMbr, ZeroesTheFirstBlockOnly) {
  const MbrCase& c = GetParam();
  sim::VirtualNvme& nvme = AddChosen(c.block_bytes, c.adjust);
  Start()
      .Do([&](ui::Dialog&) {
        if (c.fault) c.fault(bench);
      })
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kUtilities);
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kEraseMbr);
  Confirm(ui);
  if (c.note_answer) ui.ExpectMessageBox(MbrBlockNote(c.block_bytes)).Press(*c.note_answer);
  if (c.status == "Completed") {
    ui.Expect(ids::kEraseMbrDoneTemplate).Press(ui::IDOK);
    ui.ExpectMessageBoxStarting("The MBR was erased by ").Press(ui::IDOK);
  }
  if (!c.box.empty()) ui.ExpectMessageBox(c.box).Press(ui::IDOK);
  End();
  Run();
  EXPECT_EQ(status.at(0), c.status);
  EXPECT_EQ(LogOf("NVME0003"), c.records);
  EXPECT_FALSE(AnyAtaOrScsi(kNvme));
  // Declining the note comes before the drive is opened: not even its identity is read.
  const bool declined = c.note_answer == ui::IDCANCEL;
  const std::vector<NvmeCmd> sent = NvmeCommands(kNvme);
  if (declined) {
    EXPECT_TRUE(sent.empty());
  }
  std::vector<std::uint8_t> io;
  for (const NvmeCmd& cmd : declined ? sent : AfterIdentityReads(sent)) {
    ASSERT_EQ(cmd.queue, NvmeQueue::Io) << cmd;
    io.push_back(cmd.opcode);
    if (cmd.opcode != kNvmeFlush) {
      EXPECT_EQ(cmd.slba, 0u);
      EXPECT_EQ(cmd.blocks, 1u);
    }
  }
  EXPECT_EQ(io, c.io);
  const std::uint64_t per_block = c.block_bytes / 512;
  for (std::uint64_t s = 0; s < per_block; ++s) {
    EXPECT_EQ(nvme.ReadSector(s), c.zeroed ? kZeros : sim::PatternSector(s)) << s;
  }
  EXPECT_EQ(nvme.ReadSector(per_block), sim::PatternSector(per_block));
  ExpectOthersUntouched();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NvmeEraseMbr,
    ::testing::Values(
        MbrCase{"Zeroes512", 512, {}, {}, std::nullopt, "", "Completed", {"Erase MBR=Completed (NVMe Write Zeroes)"},
                {kNvmeWriteZeroes, kNvmeFlush}, true},
        MbrCase{"Zeroes4kAfterSayingSo", 4096, {}, {}, ui::IDOK, "", "Completed",
                {"Erase MBR=Completed (NVMe Write Zeroes)"}, {kNvmeWriteZeroes, kNvmeFlush}, true},
        MbrCase{"Declined4k", 4096, {}, {}, ui::IDCANCEL, "", "Ready", {}, {}, false},
        MbrCase{"WritesZerosWithoutWriteZeroes", 4096,
                [](sim::NvmeSpec& s) { s.write_zeroes_supported = false; }, {}, ui::IDOK, "",
                "Completed", {"Erase MBR=Completed (NVMe Write Zeroes)"}, {kNvmeWrite, kNvmeFlush}, true},
        MbrCase{"WritesZerosWhereWriteZeroesIsRefused", 512,
                [](sim::NvmeSpec& s) { s.os_refused_io = {kNvmeWriteZeroes}; }, {}, std::nullopt,
                "", "Completed", {"Erase MBR=Completed (NVMe Write Zeroes)"},
                {kNvmeWriteZeroes, kNvmeWrite, kNvmeFlush}, true},
        // The system's own writes to the claimed disk take over.
        MbrCase{"EveryWriteRefused", 512,
                [](sim::NvmeSpec& s) { s.os_refused_io = {kNvmeWriteZeroes, kNvmeWrite}; }, {},
                std::nullopt, "", "Completed", {"Erase MBR=Completed (operating-system writes)"},
                {kNvmeWriteZeroes, kNvmeWrite}, true},
        MbrCase{"EveryWriteRefusedAndNoClaim", 512,
                [](sim::NvmeSpec& s) { s.os_refused_io = {kNvmeWriteZeroes, kNvmeWrite}; },
                [](sim::Bench& b) { b.FailClaim(kNvme, "access denied"); }, std::nullopt,
                "The operating system would not let the program take the disk for the erase "
                "(access denied), so nothing was written.",
                "Refused", {}, {}, false},
        MbrCase{"WriteZeroesFails", 4096, {},
                [](sim::Bench& b) {
                  sim::Fault f;
                  f.match.drive_number = kNvme;
                  f.match.nvme_opcode = kNvmeWriteZeroes;
                  f.effect = sim::FaultEffect::NvmeError;
                  b.AddFault(f);
                },
                ui::IDOK, "!!! Erase MBR Fail !!!", "Failure", {"Erase MBR=Failed"},
                {kNvmeWriteZeroes}, false},
        MbrCase{"FlushFails", 512, {},
                [](sim::Bench& b) {
                  sim::Fault f;
                  f.match.drive_number = kNvme;
                  f.match.nvme_queue = NvmeQueue::Io;
                  f.match.nvme_opcode = kNvmeFlush;
                  f.effect = sim::FaultEffect::CallFails;
                  b.AddFault(f);
                },
                std::nullopt, "!!! Erase MBR Fail !!!", "Failure", {"Erase MBR=Failed"},
                {kNvmeWriteZeroes, kNvmeFlush}, true}),
    [](const auto& p) { return std::string(p.param.name); });

// --- Erase Disk ----------------------------------------------------------------------------

struct DiskCase {
  const char* name;
  std::uint32_t block_bytes;
  std::uint64_t blocks;
  std::function<void(sim::NvmeSpec&)> adjust;
  std::function<void(sim::Bench&)> fault;
  std::string status;
  std::string record;
  std::uint64_t zeroed_blocks;  // from block 0; the rest keep their pattern
  std::uint8_t writer;          // Write Zeroes or Write
};


class NvmeEraseDisk : public NvmeRig, public ::testing::WithParamInterface<DiskCase> {};

TEST_P(NvmeEraseDisk, ZeroesEveryBlockInRuns) {
  const DiskCase& c = GetParam();
  sim::NvmeSpec setup = NvmeDriveSetup("NVME0003", c.blocks, c.block_bytes);
  if (c.adjust) c.adjust(setup);
  sim::VirtualNvme& nvme = AddNvme(kNvme, setup);
  AddSata(kOther, 5000000, "OTHER0005");
  Start()
      .Do([&](ui::Dialog&) {
        if (c.fault) c.fault(bench);
      })
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kUtilities);
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kEraseDisk);
  Confirm(ui);
  RunWorkerOut(ui.Expect(ids::kEraseDiskTemplate));
  const std::uint64_t per_block = c.block_bytes / 512;
  if (c.status == "Completed") {
    ui.Expect(ids::kEraseDiskDoneTemplate).Press(ui::IDOK);
    ui.ExpectMessageBoxStarting("Erased by NVMe Write Zeroes.\nVerified.").Press(ui::IDOK);
  }
  if (c.status == "Failure") ui.ExpectMessageBoxStarting("!!! Erase Disk Fail !!!").Press(ui::IDOK);
  if (c.status == "Refused") {
    ui.ExpectMessageBox(EraseRefusedText(c.zeroed_blocks * per_block)).Press(ui::IDOK);
  }
  End();
  Run();
  EXPECT_EQ(status.at(0), c.status);
  EXPECT_EQ(LogOf("NVME0003"), (Strings{c.record}));
  ExpectOthersUntouched();

  const NvmeNamespace ns = NamespaceOf(main_window->drive_table.records[0]);
  const std::uint32_t run = c.writer == kNvmeWriteZeroes ? 65535 : NvmeMaxDataBlocks(ns, 5);
  EXPECT_FALSE(AnyAtaOrScsi(kNvme));
  std::uint64_t next = 0;
  for (const NvmeCmd& cmd : AfterIdentityReads(NvmeCommands(kNvme))) {
    ASSERT_EQ(cmd.queue, NvmeQueue::Io) << cmd;
    if (cmd.opcode == kNvmeFlush) continue;
    if (cmd.opcode != c.writer) continue;  // a refused Write Zeroes before the writes
    EXPECT_EQ(cmd.slba, next) << cmd;
    EXPECT_EQ(cmd.blocks, std::min<std::uint64_t>(run, c.blocks - cmd.slba)) << cmd;
    next = cmd.slba + cmd.blocks;
  }
  EXPECT_TRUE(nvme.IsZeroed(0, c.zeroed_blocks * per_block));
  if (c.zeroed_blocks < c.blocks) {
    const std::uint64_t s = c.zeroed_blocks * per_block;
    EXPECT_EQ(nvme.ReadSector(s), sim::PatternSector(s));
    EXPECT_EQ(nvme.ReadSector(c.blocks * per_block - 1), sim::PatternSector(c.blocks * per_block - 1));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NvmeEraseDisk,
    ::testing::Values(
        DiskCase{"WriteZeroes512", 512, kBlocks512, {}, {}, "Completed", "Erase Disk=Completed (NVMe Write Zeroes)",
                 kBlocks512, kNvmeWriteZeroes},
        DiskCase{"WriteZeroes4k", 4096, kBlocks4k, {}, {}, "Completed", "Erase Disk=Completed (NVMe Write Zeroes)",
                 kBlocks4k, kNvmeWriteZeroes},
        DiskCase{"ZeroWrites4k", 4096, 1000,
                 [](sim::NvmeSpec& s) { s.write_zeroes_supported = false; }, {}, "Completed",
                 "Erase Disk=Completed (NVMe Write Zeroes)", 1000, kNvmeWrite},
        DiskCase{"ZeroWritesWhereWriteZeroesIsRefused", 512, 5000,
                 [](sim::NvmeSpec& s) { s.os_refused_io = {kNvmeWriteZeroes}; }, {}, "Completed",
                 "Erase Disk=Completed (NVMe Write Zeroes)", 5000, kNvmeWrite},
        DiskCase{"WritesRefusedPartway", 4096, 1000,
                 [](sim::NvmeSpec& s) { s.write_zeroes_supported = false; },
                 [](sim::Bench& b) { b.AddFault(IoFault(kNvmeWrite, sim::FaultEffect::Refused, 3)); },
                 "Refused", "Erase Disk=Refused", 3 * 32, kNvmeWrite},
        DiskCase{"SecondRunFails512", 512, kBlocks512, {},
                 [](sim::Bench& b) {
                   b.AddFault(IoFault(kNvmeWriteZeroes, sim::FaultEffect::NvmeError, 1));
                 },
                 "Failure", "Erase Disk=Failed", 65535, kNvmeWriteZeroes},
        DiskCase{"FlushFails", 4096, kBlocks4k, {},
                 [](sim::Bench& b) { b.AddFault(IoFault(kNvmeFlush, sim::FaultEffect::Timeout, 0)); },
                 "Failure", "Erase Disk=Failed", kBlocks4k, kNvmeWriteZeroes}),
    [](const auto& p) { return std::string(p.param.name); });

// --- Log View ------------------------------------------------------------------------------

TEST_F(NvmeRig, LogViewShowsTheNvmeDrivesRecordsAndReadsOnlyItsHealthLog) {
  AddChosen(4096);
  Start()
      .Do([](ui::Dialog&) { AppendDriveLog("NVME0003", "SMART QT", "Pass"); })
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kUtilities);
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kLogView);
  ui.Expect(ids::kLogViewTemplate)
      .Do([](ui::Dialog& d) {
        const std::string report = d.GetDlgItemText(ids::log_view::kText);
        EXPECT_NE(report.find("Model             : PLOVIX NVME NVME0003"), std::string::npos);
        EXPECT_NE(report.find("Capacity          : 96MB\r\n"
                              "        SMART Status      : Healthy\r\n"),
                  std::string::npos);
        EXPECT_NE(report.find("SMART QT          : Done"), std::string::npos);
      })
      .Press(ui::IDOK);
  End();
  Run();
  ASSERT_EQ(NvmeCommands(kNvme).size(), 1u);
  EXPECT_TRUE(IsLogRead(NvmeCommands(kNvme)[0], kNvmeLogHealth));
  EXPECT_FALSE(AnyAtaOrScsi(kNvme));
  ExpectOthersUntouched();
  EXPECT_EQ(status.at(0), "Ready");
}

// --- Pure pieces ---------------------------------------------------------------------------

TEST(NvmeResultStatus, EachResultReadsAsTheNearestSentence) {
  struct Row {
    std::uint8_t result;
    bool lba;
    std::uint8_t status;
  };
  const Row rows[] = {{kNvmeTestPassed, false, 0x00},
                      {kNvmeTestAbortedByCommand, false, 0x10},
                      {kNvmeTestAbortedByReset, false, 0x20},
                      {kNvmeTestAbortedByNamespaceRemoval, false, 0x10},
                      {kNvmeTestAbortedByFormat, false, 0x10},
                      {kNvmeTestFatalError, false, 0x30},
                      {kNvmeTestFailedUnknownSegment, false, 0x40},
                      {kNvmeTestFailedSegment, false, 0x40},
                      {kNvmeTestFailedSegment, true, 0x70},
                      {kNvmeTestAbortedUnknown, false, 0x30},
                      {kNvmeTestAbortedBySanitize, false, 0x10},
                      {0xA, false, 0x80},
                      {0xE, false, 0x80}};
  for (const Row& row : rows) {
    NvmeSelfTestResult r;
    r.status = row.result;
    if (row.lba) r.failing_lba = 5;
    EXPECT_EQ(NvmeResultStatus(r), row.status) << int(row.result);
  }
  // While a test runs: tenths still to run, never 0 and never more than 9.
  EXPECT_EQ(NvmeRunningStatus(0), 0xF9);
  EXPECT_EQ(NvmeRunningStatus(8), 0xF9);
  EXPECT_EQ(NvmeRunningStatus(50), 0xF5);
  EXPECT_EQ(NvmeRunningStatus(99), 0xF1);
  EXPECT_EQ(NvmeRunningStatus(100), 0xF1);
}

TEST(NvmeHealthText, CountersKeepEveryDigitAndDataUnitsReadAsBytes) {
  EXPECT_EQ(U128Decimal({0, 0}), "0");
  EXPECT_EQ(U128Decimal({UINT64_MAX, 0}), "18446744073709551615");
  EXPECT_EQ(U128Decimal({0, 1}), "18446744073709551616");
  EXPECT_EQ(U128Decimal({UINT64_MAX, UINT64_MAX}), "340282366920938463463374607431768211455");
  EXPECT_EQ(DataUnitsText({0, 0}), "0 GB");
  EXPECT_EQ(DataUnitsText({1953, 0}), "0 GB");  // 999,936,000 bytes
  EXPECT_EQ(DataUnitsText({1954, 0}), "1 GB");
  EXPECT_EQ(DataUnitsText({1'953'125, 0}), "1.0 TB");
  EXPECT_EQ(DataUnitsText({28'714'391, 0}), "14.7 TB");
  EXPECT_EQ(DataUnitsText({0, 1}), "18446744.0 TB");  // saturated, not wrapped
}

}  // namespace
}  // namespace plovix::testing_utils
