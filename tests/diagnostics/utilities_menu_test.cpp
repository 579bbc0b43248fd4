// The Utilities button's guards, the menu, declined confirmations and the log view.
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "reports/DriveLog.h"
#include "resources/ResourceIds.h"
#include "tests/support/utils_rig.h"

namespace plovix::testing_utils {
namespace {

int Shown(const ui::scripted::ScriptedBackend& ui, int template_id) {
  int n = 0;
  for (int id : ui.opened_dialogs()) n += id == template_id ? 1 : 0;
  return n;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

// --- Not exactly one checked line: nothing at all -------------------------------------------

struct CheckedCase {
  const char* name;
  std::vector<int> lines;
};

class UtilitiesCheckedLines : public UtilsRig,
                              public ::testing::WithParamInterface<CheckedCase> {};

TEST_P(UtilitiesCheckedLines, OnlyExactlyOneLineOpensTheMenu) {
  AddSata(2, 100000, "CHK00002");
  AddSata(3, 100000, "CHK00003");
  AddSata(7, 100000, "CHK00007");
  Begin(GetParam().lines);
  End();
  Run();
  EXPECT_EQ(Shown(ui, ids::kUtilitiesTemplate), 0);
  EXPECT_TRUE(bench.Log().empty());
  EXPECT_EQ(status.size(), 3u);
  EXPECT_EQ(status, initial_status);
}

INSTANTIATE_TEST_SUITE_P(Counts, UtilitiesCheckedLines,
                         ::testing::Values(CheckedCase{"none", {}}, CheckedCase{"two", {0, 2}},
                                           CheckedCase{"three", {0, 1, 2}}),
                         [](const auto& p) { return std::string(p.param.name); });

// --- The menu left without a choice, or an erase declined --------------------------------------

struct DeclineCase {
  const char* name;
  std::function<void(ui::scripted::ScriptedBackend&)> script;  // from the menu on
};

class UtilitiesDeclined : public UtilsRig, public ::testing::WithParamInterface<DeclineCase> {};

TEST_P(UtilitiesDeclined, SendsNothingWritesNothing) {
  sim::VirtualDrive& drive = AddSata(3, 100000, "DCL00003");
  AddSata(4, 100000, "DCL00004");
  Begin({1});
  GetParam().script(ui);
  End();
  Run();
  // Only what the notice before an erase's warning reads: the identity and native size.
  for (const sim::Received& r : bench.Log()) {
    const Cmd c = Decode(r);
    EXPECT_TRUE(c.opcode == kIdentify || c.opcode == 0x27) << c;
  }
  EXPECT_EQ(drive.ReadSector(0), sim::PatternSector(0));
  EXPECT_EQ(bench.Drive(4).ReadSector(0), sim::PatternSector(0));
  EXPECT_EQ(status.size(), 2u);
  EXPECT_EQ(status, initial_status);
  EXPECT_EQ(LogBytes("DCL00003"), "");
  EXPECT_EQ(LogBytes("DCL00004"), "");
  for (int id : {ids::kEraseDiskTemplate, ids::kEraseMbrDoneTemplate, ids::kSurfaceTemplate})
    EXPECT_EQ(Shown(ui, id), 0) << id;
}

INSTANTIATE_TEST_SUITE_P(
    Ways, UtilitiesDeclined,
    ::testing::Values(
        DeclineCase{"menu_escape", [](auto& ui) { ui.Expect(ids::kUtilitiesTemplate).Escape(); }},
        DeclineCase{"menu_close_box",
                    [](auto& ui) { ui.Expect(ids::kUtilitiesTemplate).CloseBox(); }},
        DeclineCase{"mbr_warning_cancel",
                    [](auto& ui) {
                      ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kEraseMbr);
                      ui.Expect(ids::kWarningTemplate).Press(ui::IDCANCEL);
                    }},
        DeclineCase{"mbr_warning_escape",
                    [](auto& ui) {
                      ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kEraseMbr);
                      ui.Expect(ids::kWarningTemplate).Escape();
                    }},
        DeclineCase{"mbr_question_no",
                    [](auto& ui) {
                      ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kEraseMbr);
                      ui.Expect(ids::kWarningTemplate).Press(ui::IDOK);
                      ui.Expect(ids::kSureTemplate).Press(ui::IDCANCEL);
                    }},
        DeclineCase{"disk_warning_cancel",
                    [](auto& ui) {
                      ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kEraseDisk);
                      ui.Expect(ids::kWarningTemplate).Press(ui::IDCANCEL);
                    }},
        DeclineCase{"disk_question_no",
                    [](auto& ui) {
                      ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kEraseDisk);
                      ui.Expect(ids::kWarningTemplate).Press(ui::IDOK);
                      ui.Expect(ids::kSureTemplate).Press(ui::IDCANCEL);
                    }},
        DeclineCase{"disk_question_close_box",
                    [](auto& ui) {
                      ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kEraseDisk);
                      ui.Expect(ids::kWarningTemplate).Press(ui::IDOK);
                      ui.Expect(ids::kSureTemplate).CloseBox();
                    }}),
    [](const auto& p) { return std::string(p.param.name); });

// --- Log View ----------------------------------------------------------------------------------

// A log whose first record lost its tag, with a tag in the wrong case, a good record and a
// record cut short by the end of the file. The drive is only read, for its SMART state.
TEST_F(UtilsRig, LogViewShowsTheRecordsOfADamagedLog) {
  AddSata(3, 1000, "OTHER003");
  sim::VirtualDrive& drive = AddSata(5, std::uint64_t{1} << 30, "LOGV0005");
  {
    std::ofstream out(LogFileName("LOGV0005"), std::ios::binary);
    out << "Pass\r\n03/14/2012 09:05:07\r\n"
        << "surface qt\r\nDone\r\nPass\r\n03/14/2012 09:06:00\r\n"
        << "SURFACE ET\r\nDone\r\nFail\r\n01/02/2013 03:04:05\r\n"
        << "Erase MBR\r\nDone\r\n";
  }
  const std::string before = LogBytes("LOGV0005");

  Begin({1});
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kLogView);
  ui.Expect(ids::kLogViewTemplate)
      .Do([&](ui::Dialog& d) {
        EXPECT_EQ(main_window->drive_list().GetItemText(1, kStatusColumn), initial_status[1]);
        const std::string report = d.GetDlgItemText(ids::log_view::kText);
        EXPECT_NE(report.find("        Serial Number     : LOGV0005\r\n"), std::string::npos);
        EXPECT_NE(report.find("        Model             : PLOVIX BENCH LOGV0005\r\n"),
                  std::string::npos);
        EXPECT_NE(report.find("        Firmware Rev.     : FW01\r\n"), std::string::npos);
        EXPECT_NE(report.find("        Capacity          : 512GB\r\n"
                              "        SMART Status      : Healthy\r\n"),
                  std::string::npos);
        EXPECT_NE(report.find("        SURFACE ET        : Done\r\n"
                              "        Result            : Fail\r\n"
                              "        Date/Time         : 01/02/2013 03:04:05\r\n\r\n\r\n"),
                  std::string::npos)
            << report;
        EXPECT_NE(report.find("        Erase MBR         : Done\r\n"), std::string::npos);
        EXPECT_EQ(report.find("        SURFACE QT        : "), std::string::npos);
        EXPECT_EQ(Count(report, "        Result            : "), 2u);
      })
      .Press(ui::IDOK);
  End();
  Run();

  // SMART READ DATA, READ THRESHOLDS and RETURN STATUS to the chosen drive, nothing to
  // any other.
  const std::vector<Cmd> reads = {{.opcode = kSmart}, {.opcode = kSmart}, {.opcode = kSmart}};
  EXPECT_EQ(Commands(5), reads);
  EXPECT_TRUE(RequestsToOthers({5}).empty());
  EXPECT_EQ(drive.ReadSector(0), sim::PatternSector(0));
  EXPECT_EQ(status.size(), 2u);
  EXPECT_EQ(status, initial_status);
  EXPECT_EQ(LogBytes("LOGV0005"), before);
}

}  // namespace
}  // namespace plovix::testing_utils
