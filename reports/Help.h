// The help viewer ("HELP.TXT" in the working directory) and the About box.
#pragma once

#include <string>

#include "ui/Dialog.h"

namespace plovix {

inline constexpr int kHelpTemplate = 132;
inline constexpr int kAboutTemplate = 100;
inline constexpr int kHelpEdit = 1021;
inline constexpr const char* kHelpFileName = "HELP.TXT";

// The file's lines, each followed by CR LF, and one more CR LF for the empty read at
// the end of the file. A file that cannot be opened gives an empty text.
std::string ReadHelpText(const std::string& path);

class CDispHelp : public ui::Dialog {
 public:
  CDispHelp();
  ~CDispHelp() override;
  bool OnInitDialog() override;
  void DoDataExchange(ui::DataExchange& dx) override;

  std::string help_text;
};

class CAboutDlg : public ui::Dialog {
 public:
  CAboutDlg();
};

}  // namespace plovix
