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
#include "resources/ResourceIds.h"

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

  std::vector<ShownDialog> expected{{ids::kMainTemplate, "ZUL for Windows"}};
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
                      ui.Expect(ids::kMainTemplate).Check(ids::main_window::kDriveList, 1)
                          .Press(ids::main_window::kQuickTest);
                      ui.Expect(ids::kSelfTestProgressTemplate).AdvanceUntilClosed(60000);
                      ui.Expect(ids::kSelfTestResultTemplate).Press(ui::IDOK);
                    },
                    {{ids::kSelfTestProgressTemplate, "SMART Test" + kDrive},
                     {ids::kSelfTestResultTemplate, "SMART Test Result" + kDrive}}},
        // The abort question sits on the named progress dialog and keeps its caption.
        CaptionCase{"extended_test_aborted", false,
                    [](Ui& ui) {
                      ui.Expect(ids::kMainTemplate).Check(ids::main_window::kDriveList, 1)
                          .Press(ids::main_window::kExtTest);
                      ui.Expect(ids::kSelfTestProgressTemplate).Advance(5000)
                          .Press(ids::selftest_progress::kAbort);
                      ui.Expect(ids::kAbortQuestionTemplate).Press(ui::IDOK);
                      ui.Expect(ids::kSelfTestResultTemplate).Press(ui::IDOK);
                    },
                    {{ids::kSelfTestProgressTemplate, "SMART Test" + kDrive},
                     {ids::kAbortQuestionTemplate, "Confirmation"},
                     {ids::kSelfTestResultTemplate, "SMART Test Result" + kDrive}}},
        CaptionCase{"smart_enable_from_quick_test", true,
                    [](Ui& ui) {
                      ui.Expect(ids::kMainTemplate).Check(ids::main_window::kDriveList, 1)
                          .Press(ids::main_window::kQuickTest);
                      ui.Expect(ids::kWarningTemplate).Press(ui::IDOK);
                      ui.Expect(ids::kSureTemplate).Press(ui::IDCANCEL);
                    },
                    {{ids::kWarningTemplate, "WARNING" + kDrive},
                     {ids::kSureTemplate, "Confirmation" + kDrive}}},
        CaptionCase{"smart_status", false,
                    [](Ui& ui) {
                      ui.Expect(ids::kMainTemplate).DoubleClick(ids::main_window::kDriveList, 1);
                      ui.Expect(ids::kSmartTemplate).Press(ui::IDOK);
                    },
                    {{ids::kSmartTemplate, "ZUL for Windows" + kDrive}}},
        CaptionCase{"smart_enable_from_status", true,
                    [](Ui& ui) {
                      ui.Expect(ids::kMainTemplate).DoubleClick(ids::main_window::kDriveList, 1);
                      ui.Expect(ids::kWarningTemplate).Press(ui::IDOK);
                      ui.Expect(ids::kSureTemplate).Press(ui::IDCANCEL);
                    },
                    {{ids::kWarningTemplate, "WARNING" + kDrive},
                     {ids::kSureTemplate, "Confirmation" + kDrive}}},
        CaptionCase{"erase_mbr", false,
                    [](Ui& ui) {
                      ui.Expect(ids::kMainTemplate).Check(ids::main_window::kDriveList, 1)
                          .Press(ids::main_window::kUtilities);
                      ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kEraseMbr);
                      ui.Expect(ids::kWarningTemplate).Press(ui::IDOK);
                      ui.Expect(ids::kSureTemplate).Press(ui::IDOK);
                      ui.Expect(ids::kEraseMbrDoneTemplate).Press(ui::IDOK);
                    },
                    {{ids::kUtilitiesTemplate, "Utilities" + kDrive},
                     {ids::kWarningTemplate, "WARNING" + kDrive},
                     {ids::kSureTemplate, "Confirmation" + kDrive},
                     {ids::kEraseMbrDoneTemplate, "Erase MBR Result" + kDrive}}},
        CaptionCase{"erase_disk", false,
                    [](Ui& ui) {
                      ui.Expect(ids::kMainTemplate).Check(ids::main_window::kDriveList, 1)
                          .Press(ids::main_window::kUtilities);
                      ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kEraseDisk);
                      ui.Expect(ids::kWarningTemplate).Press(ui::IDOK);
                      ui.Expect(ids::kSureTemplate).Press(ui::IDOK);
                      ui.Expect(ids::kEraseDiskTemplate).Do(WaitForWorker)
                          .AdvanceUntilClosed(10000);
                      ui.Expect(ids::kEraseDiskDoneTemplate).Press(ui::IDOK);
                      ui.ExpectMessageBoxStarting("Erased by vendor fill.").Press(ui::IDOK);
                    },
                    {{ids::kUtilitiesTemplate, "Utilities" + kDrive},
                     {ids::kWarningTemplate, "WARNING" + kDrive},
                     {ids::kSureTemplate, "Confirmation" + kDrive},
                     {ids::kEraseDiskTemplate, "Erase Disk" + kDrive},
                     {ids::kEraseDiskDoneTemplate, "Erase Disk Result" + kDrive}}},
        CaptionCase{"surface_short", false,
                    [](Ui& ui) {
                      ui.Expect(ids::kMainTemplate).Check(ids::main_window::kDriveList, 1)
                          .Press(ids::main_window::kUtilities);
                      ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kShortTest);
                      ui.Expect(ids::kSurfaceTemplate).Do(WaitForWorker).AdvanceUntilClosed(10000);
                      ui.Expect(ids::kSurfaceResultTemplate).Press(ui::IDOK);
                    },
                    {{ids::kUtilitiesTemplate, "Utilities" + kDrive},
                     {ids::kSurfaceTemplate, "Surface Test" + kDrive},
                     {ids::kSurfaceResultTemplate, "Surface Test Result" + kDrive}}},
        // Saving is about the report file, not the drive: its notice keeps "Dialog".
        CaptionCase{"log_view_and_save", false,
                    [](Ui& ui) {
                      ui.Expect(ids::kMainTemplate).Check(ids::main_window::kDriveList, 1)
                          .Press(ids::main_window::kUtilities);
                      ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kLogView);
                      ui.Expect(ids::kLogViewTemplate).Press(ids::log_view::kSaveToFile);
                      ui.Expect(ids::kLogSavedTemplate).Press(ui::IDOK);
                      ui.Expect(ids::kLogViewTemplate).Press(ui::IDOK);
                    },
                    {{ids::kUtilitiesTemplate, "Utilities" + kDrive},
                     {ids::kLogViewTemplate, "Dialog" + kDrive},
                     {ids::kLogSavedTemplate, "Dialog"}}}),
    [](const auto& p) { return std::string(p.param.name); });

// One progress and one result dialog serve every drive of a run: each showing names its
// own drive, not the one before.
TEST_F(UtilsRig, EachDriveOfARunIsNamedInItsOwnDialogs) {
  AddSata(3, 4000, "CAPT0003");
  AddSata(5, 4000, "CAPT0005");

  Begin({0, 1}, ids::main_window::kQuickTest);
  for (int n = 0; n < 2; ++n) {
    ui.Expect(ids::kSelfTestProgressTemplate).AdvanceUntilClosed(60000);
    ui.Expect(ids::kSelfTestResultTemplate).Press(ui::IDOK);
  }
  End();
  Run();

  const std::string first = " - 3: PLOVIX BENCH CAPT0003 CAPT0003";
  EXPECT_EQ(ui.shown_dialogs(),
            (std::vector<ShownDialog>{{ids::kMainTemplate, "ZUL for Windows"},
                                      {ids::kSelfTestProgressTemplate, "SMART Test" + first},
                                      {ids::kSelfTestResultTemplate, "SMART Test Result" + first},
                                      {ids::kSelfTestProgressTemplate, "SMART Test" + kDrive},
                                      {ids::kSelfTestResultTemplate, "SMART Test Result" + kDrive}}));
}

}  // namespace
}  // namespace plovix::testing_utils
