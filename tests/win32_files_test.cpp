// Windows' own file rules as the program meets them: a drive serial that Windows reads
// as a device name still gets a log file of its own, and the report finds it. Run as a
// Windows program (under wine in CI) this checks the real C runtime and file system.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/scripted/ScriptedBackend.h"
#include "reports/DriveLog.h"
#include "reports/LogReport.h"
#include "support/temp_dir.h"

namespace plovix {
namespace {

namespace fs = std::filesystem;
constexpr std::time_t kMarch14 = 1331715907;  // 03/14/2012 09:05:07 UTC

struct DeviceCase {
  const char* serial;
  const char* file;
};

class DeviceNameSerial : public testing::TestWithParam<DeviceCase> {};

TEST_P(DeviceNameSerial, LogIsAFileInTheWorkingDirectory) {
  testing_support::TempWorkDir dir;
  ui::scripted::ScriptedBackend ui(kMarch14);
  const std::string serial = GetParam().serial;
  EXPECT_EQ(LogFileName(serial), GetParam().file);
  AppendDriveLog(serial, "SMART QT", "Pass");
  AppendDriveLog(serial, "Erase MBR", "Completed");

  std::vector<std::string> here;
  for (const auto& e : fs::directory_iterator(dir.path())) here.push_back(e.path().filename().string());
  ASSERT_EQ(here, std::vector<std::string>{LogFileName(serial)});
  EXPECT_EQ(testing_support::ReadBinary(dir.path() / here[0]),
            "SMART QT\r\nDone\r\nPass\r\n03/14/2012 09:05:07\r\n"
            "Erase MBR\r\nDone\r\nCompleted\r\n03/14/2012 09:05:07\r\n");
  const std::string report = BuildLogReportText(serial, "M", "F", 0, kMarch14, "\r\n");
  EXPECT_NE(report.find("        Erase MBR         : Done\r\n"), std::string::npos) << report;
}

INSTANTIATE_TEST_SUITE_P(Serials, DeviceNameSerial,
                         testing::Values(DeviceCase{"CON", "_CON.log"}, DeviceCase{"nul", "_nul.log"},
                                         DeviceCase{"Prn", "_Prn.log"}, DeviceCase{"AUX", "_AUX.log"},
                                         DeviceCase{"COM1", "_COM1.log"}, DeviceCase{"com9", "_com9.log"},
                                         DeviceCase{"LPT1", "_LPT1.log"}, DeviceCase{"lpt9", "_lpt9.log"},
                                         DeviceCase{"CONIN$", "_CONIN$.log"}, DeviceCase{"CONOUT$", "_CONOUT$.log"},
                                         DeviceCase{"NUL.X", "_NUL.X.log"}, DeviceCase{"nul ", "_nul .log"},
                                         DeviceCase{"CON/1", "CON_1.log"}),
                         [](const testing::TestParamInfo<DeviceCase>& p) {
                           return "serial" + std::to_string(p.index);
                         });

TEST(DeviceNameSerial, OrdinarySerialsKeepTheirNames) {
  for (const char* serial : {"CONTROL1", "COM10", "COM0", "NULL", "WD-CON", "LPT", "AUX2X", "_CON"}) {
    EXPECT_EQ(LogFileName(serial), std::string(serial) + ".log");
  }
}

}  // namespace
}  // namespace plovix
