// Small helpers shared by the main-window flow tests.
#pragma once

#include <gtest/gtest.h>

#include <random>
#include <filesystem>
#include <string>
#include <vector>

#include "app/CPlovixDlg.h"
#include "faces/scripted/ScriptedBackend.h"
#include "devices/sim/Bench.h"
#include "resources/ResourceIds.h"
#include "ui/Backend.h"
#include "tests/support/temp_dir.h"
#include "tests/support/main_window_rig.h"

namespace plovix::app_test {

inline sim::DriveSpec Sata(std::string model, std::string serial, std::string firmware,
                           std::uint64_t sectors) {
  sim::DriveSpec setup;
  setup.model = std::move(model);
  setup.serial = std::move(serial);
  setup.firmware = std::move(firmware);
  setup.total_sectors = sectors;
  return setup;
}

// A USB drive whose bridge Windows does not list: the scan drops it as unsupported.
// vendor and product are given at their full INQUIRY widths (8 and 16).
inline void AddUnsupportedUsb(sim::Bench& bench, int number, std::string vendor,
                              std::string product) {
  sim::BridgeSpec bridge;
  bridge.vendor = std::move(vendor);
  bridge.product = std::move(product);
  bridge.revision = "0100";
  bridge.chip_id = "    ";
  bridge.listed_as_usbstor = false;
  bridge.listed_as_usb_device = false;
  bench.AddUsb(number, Sata("USB DISK " + std::to_string(number), "USB" + std::to_string(number),
                            "1.00", 1u << 22),
               bridge);
}

// What the main window says when a scan lists nothing and met no disk at all.
inline constexpr const char* kNothingFound = "No drive is listed: the scan found no disk.";

using testing_support::DriveListColumn;
using testing_support::RunProgram;
using testing_support::ScriptedUser;

// An empty bench: the start-up scan's notice comes first.
inline void ExpectNothingFound(ScriptedUser& user) {
  user.ExpectMessageBox(kNothingFound).Press(ui::IDOK);
}

inline CPlovixDlg& Main(ui::Dialog& dlg) { return static_cast<CPlovixDlg&>(dlg); }

inline std::vector<bool> Checks(ui::Dialog& dlg) {
  std::vector<bool> checks;
  ui::ListCtrl& list = dlg.List(ids::main_window::kDriveList);
  for (int i = 0; i < list.GetItemCount(); ++i) checks.push_back(list.GetCheck(i));
  return checks;
}

inline std::vector<int> Highlighted(ui::Dialog& dlg) {
  std::vector<int> lines;
  ui::ListCtrl& list = dlg.List(ids::main_window::kDriveList);
  for (int i = list.GetNextItem(-1, ui::LVNI_SELECTED); i != -1;
       i = list.GetNextItem(i, ui::LVNI_SELECTED)) {
    lines.push_back(i);
  }
  return lines;
}

inline std::vector<std::string> BoxTexts(const ui::scripted::ScriptedBackend& ui) {
  std::vector<std::string> texts;
  for (const auto& box : ui.message_boxes()) texts.push_back(box.text);
  return texts;
}

using TempWorkDir = testing_support::TempWorkDir;

}  // namespace plovix::app_test
