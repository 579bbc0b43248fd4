// The per-drive log file and the report built from it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <filesystem>
#include <set>
#include <utility>
#include <string>
#include <vector>

#include "faces/scripted/ScriptedBackend.h"
#include "reports/DriveLog.h"
#include "reports/LogReport.h"
#include "tests/support/reports_temp_dir.h"

namespace plovix {
namespace {

using testing_support::ReadBinary;
using testing_support::ScratchDir;
using testing_support::WriteBinary;
namespace fs = std::filesystem;
using namespace std::string_literals;

constexpr std::time_t kMarch14 = 1331715907;  // 03/14/2012 09:05:07 UTC

// ---------------------------------------------------------------------------------
// Time format

struct TimeCase {
  std::time_t time;
  const char* text;
};

class LogTimeTest : public ::testing::TestWithParam<TimeCase> {};

TEST_P(LogTimeTest, MonthDayYearAndClock) {
  testing_support::UseUtc();
  EXPECT_EQ(FormatLogTime(GetParam().time), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Cases, LogTimeTest,
                         ::testing::Values(TimeCase{0, "01/01/1970 00:00:00"},
                                           TimeCase{kMarch14, "03/14/2012 09:05:07"},
                                           TimeCase{1704067199, "12/31/2023 23:59:59"},
                                           TimeCase{951782400, "02/29/2000 00:00:00"}));

// ---------------------------------------------------------------------------------
// Log file names and records

struct NameCase {
  std::string serial;
  std::string file;
};

class LogNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(LogNameTest, RecordLandsInTheCurrentDirectoryUnderASafeName) {
  ScratchDir dir;
  ui::scripted::ScriptedBackend ui(kMarch14);
  EXPECT_EQ(LogFileName(GetParam().serial), GetParam().file);
  AppendDriveLog(GetParam().serial, "SMART QT", "Pass");

  // Exactly one file, in the working directory, and nothing beside it.
  std::vector<std::string> here;
  for (const auto& e : fs::directory_iterator(dir.path())) here.push_back(e.path().filename().string());
  EXPECT_EQ(here, std::vector<std::string>{GetParam().file});
  std::vector<std::string> above;
  for (const auto& e : fs::directory_iterator(dir.path().parent_path())) {
    above.push_back(e.path().filename().string());
  }
  EXPECT_EQ(above, std::vector<std::string>{"work"});
  EXPECT_EQ(ReadBinary(GetParam().file), "SMART QT\r\nDone\r\nPass\r\n03/14/2012 09:05:07\r\n");

  // The report reads the file the writer wrote.
  const std::string report =
      BuildLogReportText(GetParam().serial, "M", "F", 0, SmartVerdict::Healthy, kMarch14, "\r\n");
  EXPECT_NE(report.find("        SMART QT          : Done\r\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LogNameTest,
    ::testing::Values(
        // Ordinary serials keep their name, so existing logs stay readable.
        NameCase{"WD-WCAV12345678", "WD-WCAV12345678.log"},
        NameCase{"S1 2.a_b-c", "S1 2.a_b-c.log"}, NameCase{"A_B", "A_B.log"},
        NameCase{"COM10", "COM10.log"}, NameCase{"CONSOLE", "CONSOLE.log"},
        NameCase{"XCON", "XCON.log"}, NameCase{"", ".log"},
        // Bytes no file name may hold, and the escape byte itself.
        NameCase{"../x", "..%2Fx.log"}, NameCase{"a/b", "a%2Fb.log"},
        NameCase{"C:", "C%3A.log"}, NameCase{"A%B", "A%25B.log"},
        NameCase{"a\\b*?\"<>|", "a%5Cb%2A%3F%22%3C%3E%7C.log"},
        NameCase{std::string("AB\x01\t\x7F\xFF", 6), "AB%01%09%7F%FF.log"},
        // Windows device names, in any case, with trailing dots or blanks, or an extension.
        NameCase{"CON", "%43ON.log"}, NameCase{"nul", "%6Eul.log"},
        NameCase{"Aux.", "%41ux..log"}, NameCase{"prn  ", "%70rn  .log"},
        NameCase{"COM1", "%43OM1.log"}, NameCase{"com9 . .", "%63om9 . ..log"},
        NameCase{"LPT1", "%4CPT1.log"}, NameCase{"lpt9", "%6Cpt9.log"},
        NameCase{"CON.x", "%43ON.x.log"}),
    [](const auto& p) { return "case" + std::to_string(p.index); });

// Serials that differ only where the allow-list had to step in still get a log each,
// and no escaped name is one an ordinary serial could have.
TEST(DriveLog, NoTwoSerialsShareALogName) {
  const std::vector<std::string> serials = {
      "A/B",  "A:B",  "A_B",   "A%2FB", "A%B",  "A%25B", "A?B",   "A*B", "a/b",
      "CON",  "%43ON", "con",  "CON.",  "CON ", "CON..", "nul",  "NUL", "COM1",
      "COM1.", "LPT9", "lpt9", "A\x01" "B", "A\x7F", "A\xFF" "B", ""};
  std::set<std::string> names;
  for (const std::string& serial : serials) {
    const std::string name = LogFileName(serial);
    EXPECT_TRUE(names.insert(name).second) << serial << " -> " << name;
  }
  // Only ordinary serials map to themselves.
  for (const std::string& serial : serials) {
    const bool kept = LogFileName(serial) == serial + ".log";
    EXPECT_EQ(kept, serial == "A_B" || serial.empty()) << serial;
  }
}

TEST(DriveLog, RecordsAreFourCrLfLinesAppendedInOrder) {
  ScratchDir dir;
  ui::scripted::ScriptedBackend ui(kMarch14);
  WriteBinary("Z1.log", "Erase MBR\r\nDone\r\nCompleted\r\n01/02/2011 03:04:05\r\n");

  AppendDriveLog("Z1", "ReadErrStat", "Pass");
  AppendDriveLog("Z1", "SMART QT", "Aborted");  // same second
  ui.AdvanceClock(61000);
  AppendDriveLog("Z1", "SURFACE ET", "Fail");

  EXPECT_EQ(ReadBinary("Z1.log"),
            "Erase MBR\r\nDone\r\nCompleted\r\n01/02/2011 03:04:05\r\n"
            "ReadErrStat\r\nDone\r\nPass\r\n03/14/2012 09:05:07\r\n"
            "SMART QT\r\nDone\r\nAborted\r\n03/14/2012 09:05:07\r\n"
            "SURFACE ET\r\nDone\r\nFail\r\n03/14/2012 09:06:08\r\n");
}

TEST(DriveLog, UnwritableLogDropsTheRecordSilently) {
  ScratchDir dir;
  ui::scripted::ScriptedBackend ui(kMarch14);
  fs::create_directory("BUSY.log");  // a name that cannot be opened as a file
  AppendDriveLog("BUSY", "Erase Disk", "Completed");
  EXPECT_TRUE(fs::is_directory("BUSY.log"));
  EXPECT_TRUE(fs::is_empty("BUSY.log"));
  // Other drives are unaffected.
  AppendDriveLog("OK1", "Erase Disk", "Failed");
  EXPECT_EQ(ReadBinary("OK1.log"), "Erase Disk\r\nDone\r\nFailed\r\n03/14/2012 09:05:07\r\n");
  EXPECT_TRUE(ui.message_boxes().empty());
}

TEST(DriveLog, ReadOnlyDirectoryDropsTheRecordSilently) {
  ScratchDir dir;
  ui::scripted::ScriptedBackend ui(kMarch14);
  fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
  std::FILE* probe = std::fopen("probe", "wb");
  const bool writable = probe != nullptr;
  if (writable) {
    std::fclose(probe);
    fs::remove("probe");
  }
  if (!writable) {
    AppendDriveLog("RO1", "SMART ET", "Pass");
    EXPECT_FALSE(fs::exists("RO1.log"));
    EXPECT_TRUE(ui.message_boxes().empty());
  }
  fs::permissions(dir.path(), fs::perms::owner_all);
  if (writable) GTEST_SKIP() << "directory permissions do not bind this user";
}

// ---------------------------------------------------------------------------------
// Report text

const char kHeaderCrLf[] =
    "-------------------------------------------------------------\r\n\r\n"
    "         ZUL-Win Norbek HDD Diagnostic TEST\r\n\r\n"
    "         Copyright (C) Norbek Storage Systems\r\n\r\n"
    "-------------------------------------------------------------\r\n\r\n"
    "      DATE       :  03/14/2012 09:05:07\r\n\r\n\r\n"
    "DRIVE INFORMATION\r\n"
    "        Serial Number     : 5VM2ABCD\r\n"
    "        Model             : ST3500418AS\r\n"
    "        Firmware Rev.     : CC38\r\n"
    "        Capacity          : 465GB\r\n"
    "        SMART Status      : Healthy\r\n\r\n"
    "Test Log\r\n\r\n";

std::string Report5VM2(const std::string& line_break,
                       SmartVerdict smart = SmartVerdict::Healthy) {
  return BuildLogReportText("5VM2ABCD", "ST3500418AS", "CC38", 976773168, smart, kMarch14,
                            line_break);
}

TEST(LogReport, NoLogFileGivesHeaderAndDriveOnly) {
  ScratchDir dir;
  EXPECT_EQ(Report5VM2("\r\n"), kHeaderCrLf);
}

// Only the word after the colon follows the verdict; every other byte, records included,
// stays where the healthy report has it.
struct VerdictCase {
  SmartVerdict verdict;
  const char* word;
};

class LogReportVerdictTest : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(LogReportVerdictTest, OnlyTheStatusWordDiffers) {
  ScratchDir dir;
  WriteBinary("5VM2ABCD.log", "SMART QT\r\nDone\r\nFail\r\n03/14/2012 09:05:07\r\n");
  const std::string healthy_line = "        SMART Status      : Healthy\r\n";
  for (const std::string L : {"\r\n", "\n"}) {
    std::string expected = Report5VM2("\r\n");
    const std::size_t at = expected.find(healthy_line);
    ASSERT_NE(at, std::string::npos);
    expected.replace(at, healthy_line.size(),
                     "        SMART Status      : " + std::string(GetParam().word) + "\r\n");
    for (std::size_t p; L == "\n" && (p = expected.find("\r\n")) != std::string::npos;) {
      expected.replace(p, 2, "\n");
    }
    EXPECT_EQ(Report5VM2(L, GetParam().verdict), expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Words, LogReportVerdictTest,
                         ::testing::Values(VerdictCase{SmartVerdict::Healthy, "Healthy"},
                                           VerdictCase{SmartVerdict::Failing, "Failing"},
                                           VerdictCase{SmartVerdict::Unknown, "Unknown"}),
                         [](const auto& p) { return std::string(p.param.word); });

TEST(LogReport, OneRecordToTheCharacter) {
  ScratchDir dir;
  WriteBinary("5VM2ABCD.log", "SMART QT\r\nDone\r\nPass\r\n03/14/2012 09:05:07\r\n");
  EXPECT_EQ(Report5VM2("\r\n"),
            std::string(kHeaderCrLf) +
                "        SMART QT          : Done\r\n"
                "        Result            : Pass\r\n"
                "        Date/Time         : 03/14/2012 09:05:07\r\n\r\n\r\n");
  // The file variant: the same with bare line feeds.
  std::string lf = std::string(kHeaderCrLf) +
                   "        SMART QT          : Done\r\n"
                   "        Result            : Pass\r\n"
                   "        Date/Time         : 03/14/2012 09:05:07\r\n\r\n\r\n";
  for (std::size_t p; (p = lf.find("\r\n")) != std::string::npos;) lf.replace(p, 2, "\n");
  EXPECT_EQ(Report5VM2("\n"), lf);
}

struct BlockCase {
  const char* label;
  std::string log;
  std::string blocks;  // what follows "Test Log" and its two line breaks
};

std::string Block(const std::string& label, const std::string& s, const std::string& r,
                  const std::string& d) {
  return label + s + "\r\n        Result            : " + r +
         "\r\n        Date/Time         : " + d + "\r\n\r\n\r\n";
}

const std::string kLongWord(300, 'w');

const BlockCase kBlockCases[] = {
    {"empty file", "", ""},
    {"LF-only log reads like CR LF",
     "SMART QT\nDone\nPass\n03/14/2012 09:05:07\n",
     Block("        SMART QT          : ", "Done", "Pass", "03/14/2012 09:05:07")},
    {"every tag, in file order",
     "SURFACE ET\r\nDone\r\nPass\r\nd1\r\nSURFACE QT\r\nDone\r\nFail\r\nd2\r\n"
     "Erase Disk\r\nDone\r\nAborted\r\nd3\r\nErase MBR\r\nDone\r\nCompleted\r\nd4\r\n"
     "SMART ET\r\nDone\r\nAborted\r\nd5\r\nSMART QT\r\nDone\r\nFail\r\nd6\r\n"
     "ReadErrStat\r\nDone\r\nComErr\r\nd7\r\n",
     Block("        SURFACE ET        : ", "Done", "Pass", "d1") +
         Block("        SURFACE QT        : ", "Done", "Fail", "d2") +
         Block("        Erase Disk        : ", "Done", "Aborted", "d3") +
         Block("        Erase MBR         : ", "Done", "Completed", "d4") +
         Block("        SMART ET          : ", "Done", "Aborted", "d5") +
         Block("        SMART QT          : ", "Done", "Fail", "d6") +
         Block("        ReadErrStat       : ", "Done", "ComErr", "d7")},
    {"lower-case tag and trailing blanks are not tags",
     "smart qt\r\nDone\r\nPass\r\nd1\r\nSMART QT \r\nDone\r\nPass\r\nd2\r\n"
     "ReadErrStat\r\nDone\r\nFail\r\nd3\r\n",
     Block("        ReadErrStat       : ", "Done", "Fail", "d3")},
    {"damaged start shows records from the next tag on",
     "Pass\r\n03/14/2012 09:05:07\r\nSMART ET\r\nDone\r\nFail\r\nd2\r\n",
     Block("        SMART ET          : ", "Done", "Fail", "d2")},
    {"record cut short by the end of the file",
     "ReadErrStat\r\nDone\r\nPass\r\nd1\r\nErase Disk\r\nDone\r\n",
     Block("        ReadErrStat       : ", "Done", "Pass", "d1") +
         Block("        Erase Disk        : ", "Done", "", "")},
    {"blank lines do not end the log",
     "\r\n\r\nSMART QT\r\nDone\r\nPass\r\nd1\r\n\r\n\r\nSMART ET\r\nDone\r\nPass\r\nd2\r\n",
     Block("        SMART QT          : ", "Done", "Pass", "d1") +
         Block("        SMART ET          : ", "Done", "Pass", "d2")},
    {"last line without a line end",
     "Erase MBR\r\nDone\r\nFailed\r\n03/14/2012 09:05:07",
     Block("        Erase MBR         : ", "Done", "Failed", "03/14/2012 09:05:07")},
    {"a zero byte in a damaged line keeps its line end",
     "ju\0nk\r\nSMART QT\r\nDone\r\nPa\0ss\r\nd1\r\n"s,
     Block("        SMART QT          : ", "Done", "Pa\0ss"s, "d1")},
    {"long lines are read whole",
     std::string(127, 'x') + "SMART QT\r\nSMART ET\r\nDone\r\n" + kLongWord + "\r\nd1\r\n",
     Block("        SMART ET          : ", "Done", kLongWord, "d1")},
};

void PrintTo(const BlockCase& c, std::ostream* os) { *os << c.label; }

class LogReportBlocksTest : public ::testing::TestWithParam<BlockCase> {};

TEST_P(LogReportBlocksTest, OneBlockPerRecognisedRecord) {
  ScratchDir dir;
  WriteBinary("SER9.log", GetParam().log);
  const std::string text =
      BuildLogReportText("SER9", "MODEL", "FW", 0, SmartVerdict::Healthy, kMarch14, "\r\n");
  const std::string marker = "Test Log\r\n\r\n";
  const auto at = text.find(marker);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(text.substr(at + marker.size()), GetParam().blocks);
}

INSTANTIATE_TEST_SUITE_P(Cases, LogReportBlocksTest, ::testing::ValuesIn(kBlockCases),
                         [](const auto& p) { return "case" + std::to_string(p.index); });

// The report as the first builder made it, reading the log a byte at a time: the model
// the faster builder must match to the byte.
std::string ModelRecords(const std::string& log_file, const std::string& L) {
  std::FILE* file = std::fopen(log_file.c_str(), "rb");
  if (file == nullptr) return {};
  auto read_line = [&](std::string& line) {
    line.clear();
    bool got = false;
    for (int c; (c = std::getc(file)) != EOF;) {
      got = true;
      if (c == '\n') break;
      line += static_cast<char>(c);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return got;
  };
  const std::vector<std::pair<std::string, std::string>> tags = {
      {"ReadErrStat", "        ReadErrStat       : "}, {"SMART QT", "        SMART QT          : "},
      {"SMART ET", "        SMART ET          : "},    {"Erase MBR", "        Erase MBR         : "},
      {"Erase Disk", "        Erase Disk        : "},  {"SURFACE QT", "        SURFACE QT        : "},
      {"SURFACE ET", "        SURFACE ET        : "}};
  std::string text;
  std::string line;
  bool more = true;
  while (more) {
    more = read_line(line);
    const auto tag = std::find_if(tags.begin(), tags.end(), [&](const auto& t) { return t.first == line; });
    if (tag == tags.end()) continue;
    std::string status, result, when;
    read_line(status);
    read_line(result);
    more = read_line(when);
    text += tag->second + status + L + "        Result            : " + result + L +
            "        Date/Time         : " + when + L + L + L;
  }
  std::fclose(file);
  return text;
}

// A damaged, mixed log: whole records, near-miss tags, blank, long and zero-byte lines,
// CR LF, LF and doubled CR line ends, and sometimes no line end at the very end.
std::string RandomLog(std::uint32_t seed) {
  std::mt19937 rng(seed);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  const std::vector<std::string> lines = {
      "ReadErrStat", "SMART QT", "SMART ET", "Erase MBR", "Erase Disk", "SURFACE QT", "SURFACE ET",
      "smart qt", "SMART QT ", "SMART Q", "SURFACE ETX", " Erase MBR", "Done", "Pass", "Fail", "ComErr",
      "03/14/2012 09:05:07", "", "\r", "Pa\0ss"s, std::string(129, 'l'), std::string(300, 'w'), "SMART\rQT"};
  const std::vector<std::string> ends = {"\r\n", "\r\n", "\r\n", "\n", "\r\r\n"};
  std::string log;
  const std::size_t count = 50 + pick(400);
  for (std::size_t i = 0; i < count; ++i) {
    if (pick(3) == 0) {
      log += "SMART ET\r\nDone\r\nPass\r\n03/14/2012 09:05:07\r\n";
      continue;
    }
    log += lines[pick(lines.size())];
    if (i + 1 < count || pick(2) == 0) log += ends[pick(ends.size())];
  }
  return log;
}

TEST(LogReport, MatchesTheByteByByteReaderOnRandomLogs) {
  ScratchDir dir;
  for (std::uint32_t seed = 1; seed <= 12; ++seed) {
    const std::string log = RandomLog(seed);
    WriteBinary("RND1.log", log);
    for (const std::string L : {"\r\n", "\n"}) {
      const std::string records = ModelRecords("RND1.log", L);
      ASSERT_FALSE(records.empty()) << seed;
      const std::string text =
          BuildLogReportText("RND1", "M", "F", 0, SmartVerdict::Healthy, kMarch14, L);
      const std::string marker = "Test Log" + L + L;
      const auto at = text.find(marker);
      ASSERT_NE(at, std::string::npos);
      EXPECT_TRUE(text.substr(at + marker.size()) == records) << "seed " << seed;
    }
  }
}

struct CapacityCase {
  std::uint64_t sectors;
  const char* line;
};

class LogReportCapacityTest : public ::testing::TestWithParam<CapacityCase> {};

TEST_P(LogReportCapacityTest, WholeGigabytes) {
  ScratchDir dir;
  const std::string text =
      BuildLogReportText("S", "M", "F", GetParam().sectors, SmartVerdict::Healthy, kMarch14,
                         "\r\n");
  EXPECT_NE(text.find(std::string("\r\n        Capacity          : ") + GetParam().line +
                      "\r\n        SMART Status"),
            std::string::npos)
      << text;
}

INSTANTIATE_TEST_SUITE_P(Cases, LogReportCapacityTest,
                         ::testing::Values(CapacityCase{1ull << 30, "512GB"},
                                           CapacityCase{0, "0MB"},
                                           CapacityCase{(1ull << 21) - 1, "1023MB"},
                                           CapacityCase{7814037168ull, "3726GB"},
                                           CapacityCase{(1ull << 48) - 1, "134217727GB"}));

}  // namespace
}  // namespace plovix
