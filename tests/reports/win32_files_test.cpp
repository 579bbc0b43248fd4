// Windows' own file rules as the program meets them: a drive serial that Windows reads
// as a device name still gets a log file of its own, and the report finds it. Run as a
// Windows program (under wine in CI) this checks the real C runtime and file system.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "faces/scripted/ScriptedBackend.h"
#include "reports/DriveLog.h"
#include "reports/LogReport.h"
#include "tests/support/temp_dir.h"

namespace plovix {
namespace {

namespace fs = std::filesystem;
constexpr std::time_t kMarch14 = 1331715907;  // 03/14/2012 09:05:07 UTC

class DeviceNameSerial : public testing::TestWithParam<const char*> {};

TEST_P(DeviceNameSerial, LogIsAFileInTheWorkingDirectory) {
  testing_support::TempWorkDir dir;
  ui::scripted::ScriptedBackend ui(kMarch14);
  const std::string serial = GetParam();
  AppendDriveLog(serial, "SMART QT", "Pass");
  AppendDriveLog(serial, "Erase MBR", "Completed");

  std::vector<std::string> here;
  for (const auto& e : fs::directory_iterator(dir.path())) here.push_back(e.path().filename().string());
  ASSERT_EQ(here, std::vector<std::string>{LogFileName(serial)});
  EXPECT_EQ(testing_support::ReadBinary(dir.path() / here[0]),
            "SMART QT\r\nDone\r\nPass\r\n03/14/2012 09:05:07\r\n"
            "Erase MBR\r\nDone\r\nCompleted\r\n03/14/2012 09:05:07\r\n");
  const std::string report =
      BuildLogReportText(serial, "M", "F", 0, SmartVerdict::Healthy, kMarch14, "\r\n");
  EXPECT_NE(report.find("        Erase MBR         : Done\r\n"), std::string::npos) << report;
}

INSTANTIATE_TEST_SUITE_P(Serials, DeviceNameSerial,
                         testing::Values("CON", "nul", "Prn", "AUX", "COM1", "com9", "LPT1", "lpt9",
                                         "CONIN$", "CONOUT$", "NUL.X", "nul ", "CON/1"),
                         [](const testing::TestParamInfo<const char*>& p) {
                           return "serial" + std::to_string(p.index);
                         });

}  // namespace
}  // namespace plovix
