// The Log View dialog and its "Save to File" button, run with the scripted user.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "faces/scripted/ScriptedBackend.h"
#include "reports/LogReport.h"
#include "resources/ResourceIds.h"
#include "tests/support/reports_temp_dir.h"

namespace plovix {
namespace {

using testing_support::ReadBinary;
using testing_support::ScratchDir;
using testing_support::WriteBinary;
namespace fs = std::filesystem;

constexpr std::time_t kMarch14 = 1331715907;  // 03/14/2012 09:05:07 UTC

// A log with a damaged start, an unknown (lower-case) record, two good records and one
// cut short by the end of the file, written with mixed line ends.
const char kDamagedLog[] =
    "Pass\r\n01/01/2012 00:00:00\r\n"
    "ReadErrStat\r\nDone\r\nPass\r\n03/14/2012 09:01:00\r\n"
    "smart qt\r\nDone\r\nFail\r\n03/14/2012 09:02:00\r\n"
    "SMART QT\nDone\nPass\n03/14/2012 09:05:07\n"
    "Erase Disk\r\nDone\r\n";

std::string Report(const std::string& date, const std::string& smart, const std::string& blocks) {
  return "-------------------------------------------------------------\r\n\r\n"
         "         ZUL-Win Norbek HDD Diagnostic TEST\r\n\r\n"
         "         Copyright (C) Norbek Storage Systems\r\n\r\n"
         "-------------------------------------------------------------\r\n\r\n"
         "      DATE       :  " + date + "\r\n\r\n\r\n"
         "DRIVE INFORMATION\r\n"
         "        Serial Number     : 5VM2ABCD\r\n"
         "        Model             : ST3500418AS\r\n"
         "        Firmware Rev.     : CC38\r\n"
         "        Capacity          : 512GB\r\n"
         "        SMART Status      : " + smart + "\r\n\r\n"
         "Test Log\r\n\r\n" + blocks;
}

const std::string kDamagedBlocks =
    "        ReadErrStat       : Done\r\n"
    "        Result            : Pass\r\n"
    "        Date/Time         : 03/14/2012 09:01:00\r\n\r\n\r\n"
    "        SMART QT          : Done\r\n"
    "        Result            : Pass\r\n"
    "        Date/Time         : 03/14/2012 09:05:07\r\n\r\n\r\n"
    "        Erase Disk        : Done\r\n"
    "        Result            : \r\n"
    "        Date/Time         : \r\n\r\n\r\n";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2) {
    lines.push_back(text.substr(from, at - from));
  }
  lines.push_back(text.substr(from));
  return lines;
}

void Open(CDispLog& dlg) {
  dlg.serial = "5VM2ABCD";
  dlg.model = "ST3500418AS";
  dlg.firmware = "CC38";
  dlg.total_sectors = 1ull << 30;
}

enum class Target { Fresh, OldLongerFile, Unwritable };

struct SaveCase {
  const char* label;
  bool with_log;
  Target target;
  std::optional<SmartVerdict> verdict;  // what the opener judged; nothing: not judged
  const char* word;                     // on screen and in the file
};

void PrintTo(const SaveCase& c, std::ostream* os) { *os << c.label; }

class LogViewTest : public ::testing::TestWithParam<SaveCase> {};

TEST_P(LogViewTest, ShowsTheReportAndSavesItWithItsOwnDate) {
  const SaveCase& c = GetParam();
  ScratchDir dir;
  ui::scripted::ScriptedBackend ui(kMarch14);
  ui.SetFailureHandler([](const std::string& what) { ADD_FAILURE() << what; });
  if (c.with_log) WriteBinary("5VM2ABCD.log", kDamagedLog);
  if (c.target == Target::OldLongerFile) WriteBinary("ZUL_TEST.LOG", std::string(20000, 'z'));
  if (c.target == Target::Unwritable) fs::create_directory("ZUL_TEST.LOG");

  const std::string blocks = c.with_log ? kDamagedBlocks : "";
  const std::string screen = Report("03/14/2012 09:05:07", c.word, blocks);
  const std::string saved = Report("03/14/2012 09:06:12", c.word, blocks);

  CDispLog dlg;
  Open(dlg);
  if (c.verdict) dlg.smart_verdict = *c.verdict;
  ui.Expect(ids::kLogViewTemplate)
      .Do([&](ui::Dialog& d) {
        EXPECT_EQ(d.caption(), "Dialog");
        EXPECT_EQ(d.GetDlgItemText(ids::log_view::kTitle), "Test Log");
        EXPECT_EQ(d.GetDlgItemText(ids::log_view::kText), screen);
        ASSERT_NE(d.GetDlgItem(ids::log_view::kTitle), nullptr);
        ASSERT_NE(d.GetDlgItem(ids::log_view::kText), nullptr);
        EXPECT_EQ(d.GetDlgItem(ids::log_view::kTitle)->font(), (ui::Font{"Arial", 150}));
        EXPECT_EQ(d.GetDlgItem(ids::log_view::kText)->font(), (ui::Font{"Arial", 0, 12, 128, 1}));
        const ui::CtlColor title = dlg.OnCtlColor(ids::log_view::kTitle);
        EXPECT_EQ(title.text_color, ui::Color{0x000000});
        EXPECT_EQ(title.back_color, ui::Color{0xFFFFFF});
        EXPECT_TRUE(title.transparent);
        EXPECT_EQ(title.brush, ui::Brush{0xFFFFFF});
        EXPECT_EQ(dlg.OnCtlColor(ids::log_view::kText).brush,
                  dlg.ui::Dialog::OnCtlColor(ids::log_view::kText).brush);
        EXPECT_FALSE(fs::exists("ZUL_TEST.LOG") && c.target == Target::Fresh);
      })
      .Advance(65000)
      .Press(ids::log_view::kTitle)  // a click on the title does nothing
      .Press(ids::log_view::kSaveToFile);
  ui.Expect(ids::kLogSavedTemplate).Press(ui::IDOK);
  ui.Expect(ids::kLogViewTemplate)
      .Do([&](ui::Dialog& d) {
        // The screen keeps its snapshot.
        EXPECT_EQ(d.GetDlgItemText(ids::log_view::kText), screen);
        if (c.target == Target::Unwritable) {
          EXPECT_TRUE(fs::is_directory("ZUL_TEST.LOG"));
          return;
        }
        const std::string file = ReadBinary("ZUL_TEST.LOG");
        EXPECT_EQ(file, saved);
        // Screen and file differ in nothing but the date line.
        const auto a = Lines(screen);
        const auto b = Lines(file);
        ASSERT_EQ(a.size(), b.size());
        int differing = 0;
        for (std::size_t i = 0; i < a.size(); ++i) {
          if (a[i] != b[i]) {
            ++differing;
            EXPECT_EQ(a[i].rfind("      DATE       :  ", 0), 0u) << a[i];
          }
        }
        EXPECT_EQ(differing, 1);
      })
      .Press(ui::IDOK);
  EXPECT_EQ(dlg.DoModal(), ui::IDOK);
  EXPECT_EQ(ui.pending_steps(), 0u);
  EXPECT_TRUE(ui.message_boxes().empty());
  EXPECT_EQ(ui.opened_dialogs(), (std::vector<int>{ids::kLogViewTemplate, ids::kLogSavedTemplate}));
  // The drive's log is only read.
  if (c.with_log) {
    EXPECT_EQ(ReadBinary("5VM2ABCD.log"), kDamagedLog);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LogViewTest,
                         ::testing::Values(SaveCase{"damaged_log", true, Target::Fresh,
                                                    SmartVerdict::Healthy, "Healthy"},
                                           SaveCase{"no_log_file", false, Target::Fresh,
                                                    SmartVerdict::Failing, "Failing"},
                                           SaveCase{"replaces_old_report", true,
                                                    Target::OldLongerFile,
                                                    SmartVerdict::Unknown, "Unknown"},
                                           SaveCase{"report_unwritable", true,
                                                    Target::Unwritable, SmartVerdict::Healthy,
                                                    "Healthy"},
                                           // Nobody judged the drive: never "Healthy".
                                           SaveCase{"verdict_not_set", true, Target::Fresh,
                                                    std::nullopt, "Unknown"}),
                         [](const auto& p) { return std::string(p.param.label); });

TEST(LogView, SaveNoticeShowsItsText) {
  ScratchDir dir;
  ui::scripted::ScriptedBackend ui(kMarch14);
  ui.SetFailureHandler([](const std::string& what) { ADD_FAILURE() << what; });
  CSaveLog notice;
  ui.Expect(ids::kLogSavedTemplate)
      .Do([](ui::Dialog& d) {
        EXPECT_EQ(d.caption(), "Dialog");
        bool found = false;
        for (const auto& control : d.controls()) found |= control->text() == "Create ZUL_TEST.LOG";
        EXPECT_TRUE(found);
      })
      .Escape();
  EXPECT_EQ(notice.DoModal(), ui::IDCANCEL);
}

}  // namespace
}  // namespace plovix
