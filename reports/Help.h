// The help viewer ("HELP.TXT" in the working directory, beside the program or in the
// installed data folder) and the About box.
#pragma once

#include <string>
#include <vector>

#include "ui/Dialog.h"

namespace plovix {

inline constexpr const char* kHelpFileName = "HELP.TXT";
// The folders Help looks in after the current directory, in order; main names them
// (the program's own folder, the installed data folder). None unless told.
void SetHelpFolders(std::vector<std::string> folders);
// The first HELP.TXT that can be read: in the current directory, then in the folders;
// empty for none.
std::string FindHelpFile();
// What the help window says when there is no HELP.TXT: where it was looked for.
std::string NoHelpText();
// The folder of the running program: the system's own link to it where there is one,
// else argv0 made absolute.
std::string ProgramFolder(const std::string& argv0);

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
