// A scripted user who answers whatever window comes up from a table of answers by
// template id, so one script fits every path a flow may take. Message boxes are
// acknowledged. A progress dialog that closes while its worker still runs is noted.
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "diagnostics/Erase.h"
#include "diagnostics/Surface.h"
#include "faces/scripted/ScriptedBackend.h"

namespace plovix::testing_utils {

class AutoUser : public ui::scripted::ScriptedBackend {
 public:
  // How to answer each template; each window gets its step when it starts waiting, so
  // nested windows fit. A window without an answer fails the script.
  std::map<int, std::function<void(ui::scripted::Step&)>> answers;
  std::vector<std::string> problems;

  AutoUser() {
    SetFailureHandler([this](const std::string& m) { problems.push_back("ui: " + m); });
  }

  void RunModalLoop(ui::Dialog& dlg) override {
    auto it = answers.find(dlg.template_id());
    if (it != answers.end()) it->second(Expect(dlg.template_id()));
    ui::scripted::ScriptedBackend::RunModalLoop(dlg);
  }

  int MessageBox(const std::string& text, const std::string& caption, unsigned type) override {
    ExpectMessageBoxNext(text).Press(ui::IDOK);
    return ui::scripted::ScriptedBackend::MessageBox(text, caption, type);
  }

  void DialogClosed(ui::Dialog& dlg) override {
    if (auto* erase = dynamic_cast<CEraseDisk*>(&dlg); erase && erase->finished.load() == 0) {
      problems.push_back("the erase dialog ended while its worker ran");
    }
    if (auto* scan = dynamic_cast<CSFTest*>(&dlg); scan && scan->finished.load() == 0) {
      problems.push_back("the surface dialog ended while its worker ran");
    }
    ui::scripted::ScriptedBackend::DialogClosed(dlg);
  }
};

// The lines of a drive's log file in the current directory (CR LF split); empty when
// there is none.
inline std::vector<std::string> LogFileLines(const std::string& serial) {
  std::vector<std::string> lines;
  std::FILE* f = std::fopen((serial + ".log").c_str(), "rb");
  if (f == nullptr) return lines;
  std::string all;
  for (int c; (c = std::fgetc(f)) != EOF;) all += static_cast<char>(c);
  std::fclose(f);
  std::size_t start = 0;
  while (start < all.size()) {
    const std::size_t end = all.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(all.substr(start));
      break;
    }
    lines.push_back(all.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

}  // namespace plovix::testing_utils
