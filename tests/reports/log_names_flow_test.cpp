// Where a drive's records land and how its size reads, through the main window: a quick
// test writes the log, Log View reads it back, and the list and the report agree.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "resources/ResourceIds.h"
#include "tests/support/utils_rig.h"

namespace plovix::testing_utils {
namespace {

constexpr int kCapacityColumn = 4;

std::vector<std::string> FilesIn(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

struct NameCase {
  const char* name;
  std::string serial;
  std::uint64_t sectors;
  std::string file;      // the log file the records land in
  std::string capacity;  // in the drive list and in the report
};

class LogNameFlow : public UtilsRig, public ::testing::WithParamInterface<NameCase> {};

TEST_P(LogNameFlow, RecordsLandInTheirOwnFileAndLogViewFindsThem) {
  const NameCase& c = GetParam();
  AddSata(3, c.sectors, c.serial);
  std::string listed_capacity;
  std::string report;

  Begin({0}, ids::main_window::kQuickTest);
  ui.Expect(ids::kSelfTestProgressTemplate).AdvanceUntilClosed(60000);
  ui.Expect(ids::kSelfTestResultTemplate).Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate)
      .Do([&](ui::Dialog& d) {
        listed_capacity = d.List(ids::main_window::kDriveList).GetItemText(0, kCapacityColumn);
      })
      .Press(ids::main_window::kUtilities);
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kLogView);
  ui.Expect(ids::kLogViewTemplate)
      .Do([&](ui::Dialog& d) { report = d.GetDlgItemText(ids::log_view::kText); })
      .Press(ui::IDOK);
  End();
  Run();

  EXPECT_EQ(FilesIn(cwd.path()), std::vector<std::string>{c.file});
  EXPECT_EQ(LogLines(c.serial).size(), 8u);
  EXPECT_NE(report.find("        Serial Number     : " + c.serial + "\r\n"), std::string::npos);
  EXPECT_EQ(Count(report, "        ReadErrStat       : Done\r\n"), 1u) << report;
  EXPECT_EQ(Count(report, "        SMART QT          : Done\r\n"), 1u) << report;
  EXPECT_EQ(listed_capacity, c.capacity);
  EXPECT_NE(report.find("        Capacity          : " + c.capacity + "\r\n"), std::string::npos)
      << report;
}

INSTANTIATE_TEST_SUITE_P(
    Serials, LogNameFlow,
    ::testing::Values(
        NameCase{"ordinary", "WD-WCAV12345678", 1ull << 30, "WD-WCAV12345678.log", "512GB"},
        NameCase{"slash", "A/B", 1ull << 30, "A%2FB.log", "512GB"},
        NameCase{"device_con", "CON", 1ull << 30, "%43ON.log", "512GB"},
        NameCase{"device_nul_dots", "nul..", 1ull << 30, "%6Eul...log", "512GB"},
        NameCase{"device_lpt9_extension", "LPT9.X", 1ull << 30, "%4CPT9.X.log", "512GB"},
        // Absurd sizes read the same in both views: the 32-bit gigabyte count, signed.
        NameCase{"all_gigabyte_bits", "HUGE0001", 0xFFFFFFFFull << 21, "HUGE0001.log", "-1GB"},
        NameCase{"top_gigabyte_bit", "HUGE0002", 0x80000000ull << 21, "HUGE0002.log",
                 "-2147483648GB"},
        NameCase{"largest_positive", "HUGE0003", 0x7FFFFFFFull << 21, "HUGE0003.log",
                 "2147483647GB"}),
    [](const auto& p) { return std::string(p.param.name); });

// Three drives whose serials differ only where the allow-list steps in keep three
// histories: each log and each Log View holds that drive's records alone.
TEST_F(UtilsRig, SerialsDifferingOnlyInUnsafeBytesKeepSeparateLogs) {
  const std::vector<std::string> serials = {"A/B", "A:B", "A_B"};
  AddSata(3, 1ull << 30, serials[0]);
  AddSata(4, 1ull << 30, serials[1]);
  AddSata(5, 1ull << 30, serials[2]);
  std::vector<std::string> reports(3);

  Begin({0, 1, 2}, ids::main_window::kQuickTest);
  for (int n = 0; n < 3; ++n) {
    ui.Expect(ids::kSelfTestProgressTemplate).AdvanceUntilClosed(60000);
    ui.Expect(ids::kSelfTestResultTemplate).Press(ui::IDOK);
  }
  for (int line = 0; line < 3; ++line) {
    auto& step = ui.Expect(ids::kMainTemplate);
    for (int other = 0; other < 3; ++other)
      step.Check(ids::main_window::kDriveList, other, other == line);
    step.Press(ids::main_window::kUtilities);
    ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kLogView);
    ui.Expect(ids::kLogViewTemplate)
        .Do([&reports, line](ui::Dialog& d) {
          reports[line] = d.GetDlgItemText(ids::log_view::kText);
        })
        .Press(ui::IDOK);
  }
  End();
  Run();

  EXPECT_EQ(FilesIn(cwd.path()), (std::vector<std::string>{"A%2FB.log", "A%3AB.log", "A_B.log"}));
  for (int line = 0; line < 3; ++line) {
    EXPECT_EQ(LogLines(serials[line]).size(), 8u) << serials[line];
    EXPECT_NE(reports[line].find("        Serial Number     : " + serials[line] + "\r\n"),
              std::string::npos);
    EXPECT_EQ(Count(reports[line], "        Result            : "), 2u) << reports[line];
  }
}

}  // namespace
}  // namespace plovix::testing_utils
