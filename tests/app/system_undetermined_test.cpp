// When the device adapter cannot tell which drives carry the running system, the main
// window says so at start-up and after "Scan", and lists no drive at all.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/app_flow.h"
#include "resources/ResourceIds.h"

namespace plovix::app_test {
namespace {

constexpr const char* kWhy = "/ cannot be traced to its disks (zfs rpool/ROOT/debian)";
constexpr const char* kNotice =
    "The disks that hold the running system could not be determined: / cannot be traced "
    "to its disks (zfs rpool/ROOT/debian).\n\nNo drive is listed, so that none of them can "
    "be erased or tested by mistake.";

TEST(SystemUndeterminedNotice, AtStartUpAndAfterScanUntilTheSystemCanBeTraced) {
  ScriptedUser user;
  sim::Bench bench;
  bench.AddSata(0, Sata("DATA DISK", "D0", "F", 1ull << 24));
  bench.AddSata(1, Sata("SYSTEM DISK", "S1", "F", 1ull << 24));
  bench.SetSystemDrives({1});
  bench.SetSystemDrivesUndetermined(kWhy);

  // The box comes while the window starts, over its empty list.
  user.ExpectMessageBox(kNotice)
      .Do([](ui::Dialog& dlg) { EXPECT_TRUE(DriveListColumn(dlg, 0).empty()); })
      .Press(ui::IDOK);
  user.Expect(ids::kMainTemplate)
      .Do([&](ui::Dialog& dlg) {
        EXPECT_EQ(Main(dlg).drive_table.count, 0);
        EXPECT_EQ(Main(dlg).system_undetermined, kWhy);
        // Not a single drive was opened, let alone sent a command.
        EXPECT_TRUE(bench.OpenedPaths().empty());
        EXPECT_TRUE(bench.Log().empty());
      })
      .Press(ids::main_window::kSelectAll)
      .Press(ids::main_window::kScan);
  user.ExpectMessageBox(kNotice).Press(ui::IDOK);
  user.Expect(ids::kMainTemplate)
      .Do([&](ui::Dialog& dlg) {
        EXPECT_TRUE(DriveListColumn(dlg, 0).empty());
        bench.SetSystemDrivesUndetermined("");
      })
      .Press(ids::main_window::kScan)
      // Traced again: the system disk stays out, the other one is back, and no box.
      .Do([](ui::Dialog& dlg) {
        EXPECT_EQ(DriveListColumn(dlg, 0), std::vector<std::string>{"0"});
        EXPECT_EQ(DriveListColumn(dlg, 5), std::vector<std::string>{"Ready"});
        EXPECT_TRUE(Main(dlg).system_undetermined.empty());
      })
      .Advance(10000)
      .Escape();

  RunProgram(bench);
  EXPECT_FALSE(user.failed());
  EXPECT_EQ(user.pending_steps(), 0u);
  EXPECT_EQ(BoxTexts(user), (std::vector<std::string>{kNotice, kNotice}));
  for (const auto& box : user.message_boxes()) EXPECT_EQ(box.caption, "Plovix");
}

// The USB notice still follows on its timer when a later scan can trace the system.
TEST(SystemUndeterminedNotice, UnsupportedUsbNoticeIsNotLostBehindIt) {
  ScriptedUser user;
  sim::Bench bench;
  AddUnsupportedUsb(bench, 2, "ACME    ", "Portable Disk   ");
  bench.SetSystemDrivesUndetermined(kWhy);
  user.ExpectMessageBox(kNotice).Press(ui::IDOK);
  // Nothing was scanned, so nothing is named unsupported either.
  user.Expect(ids::kMainTemplate)
      .Do([](ui::Dialog& dlg) { EXPECT_EQ(Main(dlg).unsupported_usb.count, 0); })
      .Advance(6000)
      .Do([&](ui::Dialog&) { bench.SetSystemDrivesUndetermined(""); })
      .Press(ids::main_window::kScan)
      .Advance(5000);
  user.ExpectMessageBox("ACME     Portable Disk    USB Device is NOT supported.")
      .Press(ui::IDOK);
  user.Expect(ids::kMainTemplate).Escape();
  RunProgram(bench);
  EXPECT_FALSE(user.failed());
  EXPECT_EQ(user.pending_steps(), 0u);
}

}  // namespace
}  // namespace plovix::app_test
