// Shared bench, scripted user and log reading for the quick and extended test flows.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "app/CPlovixDlg.h"
#include "faces/scripted/ScriptedBackend.h"
#include "reports/DriveLog.h"
#include "devices/sim/Bench.h"
#include "tests/support/temp_dir.h"
#include "tests/support/main_window_rig.h"
#include "resources/ResourceIds.h"
#include "ui/Dialog.h"

namespace plovix::selftest_testing {

struct LogRecord {
  std::string tag;
  std::string done;
  std::string result;
  std::string time;
  bool operator==(const LogRecord&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const LogRecord& r) {
  return os << "{" << r.tag << "/" << r.done << "/" << r.result << "}";
}

using TempWorkDir = testing_support::TempWorkDir;

// Attribute set of an ordinary drive; pending sectors (197) with the given raw value.
inline std::vector<sim::SmartAttr> Attributes(std::uint64_t pending_raw, bool with_pending = true) {
  std::vector<sim::SmartAttr> attrs;
  sim::SmartAttr a;
  a.id = 1; a.current = 100; a.worst = 100; a.raw = 0; a.threshold = 6; attrs.push_back(a);
  a.id = 5; a.current = 100; a.worst = 100; a.raw = 0; a.threshold = 36; attrs.push_back(a);
  a.id = 9; a.current = 98; a.worst = 98; a.raw = 1234; a.threshold = 0; attrs.push_back(a);
  a.id = 194; a.current = 40; a.worst = 55; a.raw = 40; a.threshold = 0; attrs.push_back(a);
  if (with_pending) {
    a.id = 197; a.current = 100; a.worst = 100; a.raw = pending_raw; a.threshold = 0;
    attrs.push_back(a);
  }
  return attrs;
}

inline sim::DriveSpec HealthyDrive(std::string serial) {
  sim::DriveSpec setup;
  setup.model = "Plovix Test Disk 500";
  setup.serial = std::move(serial);
  setup.firmware = "FW01";
  setup.total_sectors = 976773168;
  setup.attributes = Attributes(0);
  setup.short_test = sim::SelfTestPlan{0x00, 15000};
  setup.extended_test = sim::SelfTestPlan{0x00, 60000};
  return setup;
}

// The worn drive: eight pending sectors, and a short test that fails on reading.
inline sim::DriveSpec WornDrive(std::string serial) {
  sim::DriveSpec setup = HealthyDrive(std::move(serial));
  setup.attributes = Attributes(8);
  setup.short_test = sim::SelfTestPlan{0x73, 12000};
  return setup;
}

// Names parameterised cases after their `name` field.
struct CaseName {
  template <class T>
  std::string operator()(const ::testing::TestParamInfo<T>& p) const {
    return p.param.name;
  }
};

// Prints a parameterised case by its `name` field in failure messages.
template <class T, class = decltype(T::name)>
void PrintTo(const T& c, std::ostream* os) {
  *os << c.name;
}

// The main window's rig in a temporary working directory, with the self-test flows'
// readers of the drives' logs and of the self-tests they were asked for.
class SelfTestFlow : public ::testing::Test, protected testing_support::MainWindowRig {
 protected:
  using MainWindowRig::Run;  // not ::testing::Test's

  // Main window step that captures the drive list's Status column.
  ui::scripted::Step& CaptureStatus(std::vector<std::string>& out) {
    return ui.Expect(ids::kMainTemplate).Do([&out](ui::Dialog& d) {
      out = testing_support::DriveListColumn(d, kStatusColumn);
    });
  }

  static std::vector<LogRecord> ReadLog(const std::string& serial) {
    const std::vector<std::string> lines = testing_support::LogFileLines(serial);
    std::vector<LogRecord> records;
    for (std::size_t i = 0; i + 3 < lines.size(); i += 4) {
      records.push_back({lines[i], lines[i + 1], lines[i + 2], lines[i + 3]});
    }
    EXPECT_EQ(lines.size() % 4, 0u) << "log of " << serial << " is not made of whole records";
    return records;
  }

  // Tag and result of each record; "Done" checked on the way.
  static std::vector<std::pair<std::string, std::string>> LogEntries(const std::string& serial) {
    std::vector<std::pair<std::string, std::string>> entries;
    for (const LogRecord& r : ReadLog(serial)) {
      EXPECT_EQ(r.done, "Done");
      entries.emplace_back(r.tag, r.result);
    }
    return entries;
  }

  // SMART EXECUTE OFF-LINE IMMEDIATE requests a drive received, by subcommand, in any
  // transport (ATA task file, ATA PASS-THROUGH block, bridge vendor block).
  std::vector<std::uint8_t> SelfTestSubcommands(int drive_number) const {
    std::vector<std::uint8_t> subs;
    for (const sim::Received& r : bench.LogFor(drive_number)) {
      std::uint8_t feature = 0;
      std::uint8_t lba_low = 0;
      if (!r.scsi) {
        if (r.ata.CurrentTaskFile[6] != 0xB0) continue;
        feature = r.ata.CurrentTaskFile[0];
        lba_low = r.ata.CurrentTaskFile[2];
      } else {
        const std::uint8_t* cdb = r.scsi_request.Cdb;
        if (cdb[0] == 0xA1 && cdb[9] == 0xB0) {
          feature = cdb[3];
          lba_low = cdb[5];
        } else if (cdb[0] == 0xDF && cdb[11] == 0xB0) {
          feature = cdb[5];
          lba_low = cdb[7];
        } else {
          continue;
        }
      }
      if (feature == 0xD4) subs.push_back(lba_low);
    }
    return subs;
  }

 private:
  TempWorkDir work_dir_;
};

}  // namespace plovix::selftest_testing
