#include "reports/Help.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace plovix {

std::string ReadHelpText(const std::string& path) {
  // Binary read so that CR LF and LF files give the same lines on every platform.
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return std::string();
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::string();
  const std::string content((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());

  std::string text;
  text.reserve(content.size() + content.size() / 16 + 2);
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    const bool last = end == std::string::npos;
    if (last) end = content.size();
    std::size_t line_end = end;
    if (line_end > start && content[line_end - 1] == '\r') --line_end;
    text.append(content, start, line_end - start);
    text += "\r\n";
    start = last ? content.size() : end + 1;
  }
  // The read at the end of the file yields one more, empty, line.
  text += "\r\n";
  return text;
}

CDispHelp::CDispHelp() : ui::Dialog(kHelpTemplate) {}

CDispHelp::~CDispHelp() = default;

bool CDispHelp::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  help_text = ReadHelpText(kHelpFileName);
  UpdateData(false);
  return true;
}

void CDispHelp::DoDataExchange(ui::DataExchange& dx) {
  ui::Dialog::DoDataExchange(dx);
  dx.Text(kHelpEdit, help_text);
}

CAboutDlg::CAboutDlg() : ui::Dialog(kAboutTemplate) {}

}  // namespace plovix
