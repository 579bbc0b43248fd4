// The help text as read from "HELP.TXT", and the help viewer opened from the main window.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>

#include "tests/support/app_flow.h"
#include "reports/Help.h"
#include "resources/ResourceIds.h"

namespace plovix {
namespace {

using app_test::BoxTexts;
using app_test::ExpectNothingFound;
using app_test::RunProgram;
using app_test::ScriptedUser;
using app_test::TempWorkDir;
using app_test::kNothingFound;

struct HelpCase {
  const char* name;
  std::optional<std::string> file;  // nullopt: no HELP.TXT at all
  std::string shown;
};

const HelpCase kHelpCases[] = {
    {"TwoLinesLf", "A\nB\n", "A\r\nB\r\n\r\n"},
    {"TwoLinesNoFinalBreak", "A\nB", "A\r\nB\r\n\r\n"},
    {"TwoLinesCrLf", "A\r\nB\r\n", "A\r\nB\r\n\r\n"},
    {"TwoLinesCrLfNoFinalBreak", "A\r\nB", "A\r\nB\r\n\r\n"},
    {"EmptyLinesInside", "A\n\n\nB\n", "A\r\n\r\n\r\nB\r\n\r\n"},
    {"OnlyABreak", "\n", "\r\n\r\n"},
    {"Empty", "", "\r\n"},
    {"Missing", std::nullopt, ""},
    {"BlanksKept", "  indented  \n", "  indented  \r\n\r\n"},
};

class HelpText : public testing::TestWithParam<HelpCase> {};

TEST_P(HelpText, ReadLineByLine) {
  const HelpCase& c = GetParam();
  TempWorkDir dir;
  if (c.file) {
    std::ofstream out("HELP.TXT", std::ios::binary);
    out << *c.file;
  }
  EXPECT_EQ(ReadHelpText("HELP.TXT"), c.shown);
}

// The viewer shows the same text, read from the working directory when Help is pressed;
// without the file it says so.
TEST_P(HelpText, ShownByTheHelpButton) {
  const HelpCase& c = GetParam();
  TempWorkDir dir;
  if (c.file) {
    std::ofstream out("HELP.TXT", std::ios::binary);
    out << *c.file;
  }
  ScriptedUser user;
  sim::Bench bench;
  ExpectNothingFound(user);
  user.Expect(ids::kMainTemplate).Press(ids::main_window::kHelp);
  user.Expect(ids::kHelpTemplate)
      .Do([&](ui::Dialog& dlg) {
        EXPECT_EQ(dlg.caption(), "ZUL for Windows");
        EXPECT_EQ(dlg.GetDlgItemText(ids::help::kText),
                  c.file ? c.shown : std::string("HELP.TXT is not found in the current directory.\r\n"));
      })
      .Press(ui::IDOK);
  user.Expect(ids::kMainTemplate).Escape();
  RunProgram(bench);
  EXPECT_FALSE(user.failed());
  EXPECT_EQ(user.pending_steps(), 0u);
  EXPECT_EQ(user.opened_dialogs(), (std::vector<int>{ids::kMainTemplate, ids::kHelpTemplate}));
  EXPECT_EQ(BoxTexts(user), std::vector<std::string>{kNothingFound});
}

INSTANTIATE_TEST_SUITE_P(Files, HelpText, testing::ValuesIn(kHelpCases),
                         [](const testing::TestParamInfo<HelpCase>& param_info) {
                           return std::string(param_info.param.name);
                         });

TEST(HelpTextFile, ADirectoryNamedHelpTxtGivesAnEmptyText) {
  TempWorkDir dir;
  std::filesystem::create_directory("HELP.TXT");
  EXPECT_EQ(ReadHelpText("HELP.TXT"), "");
}

// Started from another directory, the help beside the program or in the installed data
// folder is found; the current directory's comes first.
struct FolderCase {
  const char* name;
  bool here;     // HELP.TXT in the current directory
  bool program;  // beside the program
  bool data;     // in the data folder
  bool here_is_a_directory;
  const char* shown;  // nullptr: the sentence that names where it was looked for
};

class HelpFolders : public testing::TestWithParam<FolderCase> {};

TEST_P(HelpFolders, FindsTheFirstThatCanBeRead) {
  const FolderCase& c = GetParam();
  TempWorkDir dir;
  const std::filesystem::path program = dir.path().parent_path() / "bin";
  const std::filesystem::path data = dir.path().parent_path() / "share";
  std::filesystem::create_directory(program);
  std::filesystem::create_directory(data);
  if (c.here) testing_support::WriteBinary("HELP.TXT", "here\n");
  if (c.here_is_a_directory) std::filesystem::create_directory("HELP.TXT");
  if (c.program) testing_support::WriteBinary(program / "HELP.TXT", "program\n");
  if (c.data) testing_support::WriteBinary(data / "HELP.TXT", "data\n");
  // The program's own folder given twice (started from there) is looked in once.
  SetHelpFolders({program.string(), dir.path().string(), data.string()});
  const std::string expected =
      c.shown != nullptr ? std::string(c.shown)
                         : "HELP.TXT is not found in the current directory, in " + program.string() + " or in " +
                               data.string() + ".\r\n";
  ScriptedUser user;
  sim::Bench bench;
  ExpectNothingFound(user);
  user.Expect(ids::kMainTemplate).Press(ids::main_window::kHelp);
  user.Expect(ids::kHelpTemplate)
      .Do([&](ui::Dialog& dlg) { EXPECT_EQ(dlg.GetDlgItemText(ids::help::kText), expected); })
      .Press(ui::IDOK);
  user.Expect(ids::kMainTemplate).Escape();
  RunProgram(bench);
  SetHelpFolders({});
  EXPECT_EQ(user.pending_steps(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Places, HelpFolders,
    testing::Values(FolderCase{"CurrentDirectoryFirst", true, true, true, false, "here\r\n\r\n"},
                    FolderCase{"BesideTheProgram", false, true, true, false, "program\r\n\r\n"},
                    FolderCase{"InTheDataFolder", false, false, true, false, "data\r\n\r\n"},
                    FolderCase{"ADirectoryNamedSoIsPassedOver", false, false, true, true, "data\r\n\r\n"},
                    FolderCase{"NowhereSaysWhereItLooked", false, false, false, false, nullptr}),
    [](const testing::TestParamInfo<FolderCase>& param_info) { return std::string(param_info.param.name); });

// Each showing reads the file again: edits between showings are seen.
TEST(HelpViewer, ReadsTheFileAtEveryShowing) {
  TempWorkDir dir;
  { std::ofstream("HELP.TXT", std::ios::binary) << "first\n"; }
  ScriptedUser user;
  sim::Bench bench;
  ExpectNothingFound(user);
  user.Expect(ids::kMainTemplate).Press(ids::main_window::kHelp);
  user.Expect(ids::kHelpTemplate)
      .Do([](ui::Dialog& dlg) {
        EXPECT_EQ(dlg.GetDlgItemText(ids::help::kText), "first\r\n\r\n");
        std::ofstream("HELP.TXT", std::ios::binary) << "second\n";
      })
      .Escape();
  user.Expect(ids::kMainTemplate).Press(ids::main_window::kHelp);
  user.Expect(ids::kHelpTemplate)
      .Do([](ui::Dialog& dlg) {
        EXPECT_EQ(dlg.GetDlgItemText(ids::help::kText), "second\r\n\r\n");
      })
      .CloseBox();
  user.Expect(ids::kMainTemplate).Escape();
  RunProgram(bench);
  EXPECT_FALSE(user.failed());
  EXPECT_EQ(user.pending_steps(), 0u);
}

// The shipped help file explains every button of the main window.
TEST(HelpViewer, ShippedHelpNamesEveryButton) {
  const std::string text = ReadHelpText(std::string(PLOVIX_SOURCE_DIR) + "/HELP.TXT");
  for (const char* word : {"Scan", "Select All", "Quick Test", "Ext Test", "Utilities", "Help",
                           "Erase MBR", "Erase Disk", "Short Test", "LongTest", "Log View",
                           "Escape", "Tab", "F10"}) {
    EXPECT_NE(text.find(word), std::string::npos) << word;
  }
}

}  // namespace
}  // namespace plovix
