#include "tests/support/main_window_rig.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "app/CPlovixApp.h"
#include "reports/DriveLog.h"
#include "resources/ResourceIds.h"

namespace plovix::testing_support {

ScriptedUser::ScriptedUser() {
  SetFailureHandler([](const std::string& message) { ADD_FAILURE() << message; });
}

int ScriptedUser::MessageBox(const std::string& text, const std::string& caption, unsigned type) {
  if (on_message_box) on_message_box(text);
  return ui::scripted::ScriptedBackend::MessageBox(text, caption, type);
}

bool RunProgram(DeviceIo& io, DeviceCatalog& catalog) {
  CPlovixApp app(io, catalog);
  return app.InitInstance();
}

bool RunProgram(sim::Bench& bench) { return RunProgram(bench, bench); }

std::vector<std::string> DriveListColumn(ui::Dialog& main_window, int column) {
  std::vector<std::string> texts;
  ui::ListCtrl& list = main_window.List(ids::main_window::kDriveList);
  for (int i = 0; i < list.GetItemCount(); ++i) texts.push_back(list.GetItemText(i, column));
  return texts;
}

std::string LogFileBytes(const std::string& serial) {
  std::ifstream in(LogFileName(serial), std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> LogFileLines(const std::string& serial) {
  const std::string bytes = LogFileBytes(serial);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(bytes.substr(start) + "<no CR LF>");
      break;
    }
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

MainWindowRig::MainWindowRig() {
  bench.SetClock([this] { return ui.now_ms(); });
}

void MainWindowRig::Run() {
  RunProgram(bench);
  EXPECT_FALSE(ui.failed());
  EXPECT_EQ(ui.pending_steps(), 0u);
}

}  // namespace plovix::testing_support
