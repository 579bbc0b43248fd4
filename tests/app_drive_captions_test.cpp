// Every dialog that acts on one drive names it after its own caption; every other window
// keeps its caption. Read from the captions the scripted user saw, through whole flows.
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "diagnostics/Erase.h"
#include "diagnostics/Surface.h"
#include "tests/support/utils_rig.h"

namespace ui::scripted {
void PrintTo(const ShownDialog& d, std::ostream* os) {
  *os << "{" << d.template_id << ", \"" << d.caption << "\"}";
}
}  // namespace ui::scripted

namespace plovix::testing_utils {
namespace {

using ui::scripted::ShownDialog;

// The drive on line 1: number 5, not its line, is what the caption names.
const std::string kDrive = " - 5: PLOVIX BENCH CAPT0005 CAPT0005";

void WaitForWorker(ui::Dialog& d) {
  auto* worker = dynamic_cast<WorkerDialog*>(&d);
  ASSERT_NE(worker, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return worker->finished.load() != 0; }));
}

struct CaptionCase {
  const char* name;
  bool smart_off;  // the drive on line 1 has SMART switched off
  std::function<void(ui::scripted::ScriptedBackend&)> script;  // from the main window on
  std::vector<ShownDialog> shown;  // after the main window
};

class DriveCaptions : public UtilsRig, public ::testing::WithParamInterface<CaptionCase> {};

TEST_P(DriveCaptions, DialogsAboutOneDriveNameIt) {
  const CaptionCase& c = GetParam();
  AddSata(3, 4000, "CAPT0003");
  AddSata(5, 4000, "CAPT0005");
  if (c.smart_off) bench.Drive(5).mutable_setup().smart_enabled = false;

  c.script(ui);
  End();
  Run();

  std::vector<ShownDialog> expected{{kMainTemplate, "ZUL for Windows"}};
  expected.insert(expected.end(), c.shown.begin(), c.shown.end());
  EXPECT_EQ(ui.shown_dialogs(), expected);
  // The one box of these flows, if any, keeps the program's title; the erase's result,
  // about the drive, names it after the title as the drive's own dialogs do.
  for (const auto& box : ui.message_boxes()) {
    EXPECT_EQ(box.caption, box.text.starts_with("Erased by ") ? ui::AppTitle() + kDrive
                                                             : ui::AppTitle());
  }
}

using Ui = ui::scripted::ScriptedBackend;

INSTANTIATE_TEST_SUITE_P(
    Flows, DriveCaptions,
    ::testing::Values(
        CaptionCase{"quick_test", false,
                    [](Ui& ui) {
                      ui.Expect(kMainTemplate).Check(main_ids::kDriveList, 1).Press(main_ids::kQuickTest);
                      ui.Expect(130).AdvanceUntilClosed(60000);
                      ui.Expect(146).Press(1);
                    },
                    {{130, "SMART Test" + kDrive}, {146, "SMART Test Result" + kDrive}}},
        // The abort question sits on the named progress dialog and keeps its caption.
        CaptionCase{"extended_test_aborted", false,
                    [](Ui& ui) {
                      ui.Expect(kMainTemplate).Check(main_ids::kDriveList, 1).Press(main_ids::kExtTest);
                      ui.Expect(130).Advance(5000).Press(1020);
                      ui.Expect(131).Press(1);
                      ui.Expect(146).Press(1);
                    },
                    {{130, "SMART Test" + kDrive},
                     {131, "Confirmation"},
                     {146, "SMART Test Result" + kDrive}}},
        CaptionCase{"smart_enable_from_quick_test", true,
                    [](Ui& ui) {
                      ui.Expect(kMainTemplate).Check(main_ids::kDriveList, 1).Press(main_ids::kQuickTest);
                      ui.Expect(148).Press(1);
                      ui.Expect(149).Press(2);
                    },
                    {{148, "WARNING" + kDrive}, {149, "Confirmation" + kDrive}}},
        CaptionCase{"smart_status", false,
                    [](Ui& ui) {
                      ui.Expect(kMainTemplate).DoubleClick(main_ids::kDriveList, 1);
                      ui.Expect(129).Press(1);
                    },
                    {{129, "ZUL for Windows" + kDrive}}},
        CaptionCase{"smart_enable_from_status", true,
                    [](Ui& ui) {
                      ui.Expect(kMainTemplate).DoubleClick(main_ids::kDriveList, 1);
                      ui.Expect(148).Press(1);
                      ui.Expect(149).Press(2);
                    },
                    {{148, "WARNING" + kDrive}, {149, "Confirmation" + kDrive}}},
        CaptionCase{"erase_mbr", false,
                    [](Ui& ui) {
                      ui.Expect(kMainTemplate).Check(main_ids::kDriveList, 1).Press(main_ids::kUtilities);
                      ui.Expect(147).Press(1001);
                      ui.Expect(148).Press(1);
                      ui.Expect(149).Press(1);
                      ui.Expect(151).Press(1);
                    },
                    {{147, "Utilities" + kDrive},
                     {148, "WARNING" + kDrive},
                     {149, "Confirmation" + kDrive},
                     {151, "Erase MBR Result" + kDrive}}},
        CaptionCase{"erase_disk", false,
                    [](Ui& ui) {
                      ui.Expect(kMainTemplate).Check(main_ids::kDriveList, 1).Press(main_ids::kUtilities);
                      ui.Expect(147).Press(1002);
                      ui.Expect(148).Press(1);
                      ui.Expect(149).Press(1);
                      ui.Expect(150).Do(WaitForWorker).AdvanceUntilClosed(10000);
                      ui.Expect(152).Press(1);
                      ui.ExpectMessageBoxStarting("Erased by vendor fill.").Press(ui::IDOK);
                    },
                    {{147, "Utilities" + kDrive},
                     {148, "WARNING" + kDrive},
                     {149, "Confirmation" + kDrive},
                     {150, "Erase Disk" + kDrive},
                     {152, "Erase Disk Result" + kDrive}}},
        CaptionCase{"surface_short", false,
                    [](Ui& ui) {
                      ui.Expect(kMainTemplate).Check(main_ids::kDriveList, 1).Press(main_ids::kUtilities);
                      ui.Expect(147).Press(1004);
                      ui.Expect(163).Do(WaitForWorker).AdvanceUntilClosed(10000);
                      ui.Expect(164).Press(1);
                    },
                    {{147, "Utilities" + kDrive},
                     {163, "Surface Test" + kDrive},
                     {164, "Surface Test Result" + kDrive}}},
        // Saving is about the report file, not the drive: its notice keeps "Dialog".
        CaptionCase{"log_view_and_save", false,
                    [](Ui& ui) {
                      ui.Expect(kMainTemplate).Check(main_ids::kDriveList, 1).Press(main_ids::kUtilities);
                      ui.Expect(147).Press(1003);
                      ui.Expect(153).Press(1001);
                      ui.Expect(154).Press(1);
                      ui.Expect(153).Press(1);
                    },
                    {{147, "Utilities" + kDrive}, {153, "Dialog" + kDrive}, {154, "Dialog"}}}),
    [](const auto& p) { return std::string(p.param.name); });

// One progress and one result dialog serve every drive of a run: each showing names its
// own drive, not the one before.
TEST_F(UtilsRig, EachDriveOfARunIsNamedInItsOwnDialogs) {
  AddSata(3, 4000, "CAPT0003");
  AddSata(5, 4000, "CAPT0005");

  Begin({0, 1}, main_ids::kQuickTest);
  for (int n = 0; n < 2; ++n) {
    ui.Expect(130).AdvanceUntilClosed(60000);
    ui.Expect(146).Press(1);
  }
  End();
  Run();

  const std::string first = " - 3: PLOVIX BENCH CAPT0003 CAPT0003";
  EXPECT_EQ(ui.shown_dialogs(), (std::vector<ShownDialog>{{kMainTemplate, "ZUL for Windows"},
                                                          {130, "SMART Test" + first},
                                                          {146, "SMART Test Result" + first},
                                                          {130, "SMART Test" + kDrive},
                                                          {146, "SMART Test Result" + kDrive}}));
}

}  // namespace
}  // namespace plovix::testing_utils
