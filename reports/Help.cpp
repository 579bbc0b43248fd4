#include "reports/Help.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

#include "resources/ResourceIds.h"

namespace plovix {

namespace {

std::vector<std::string>& HelpFolders() {
  static std::vector<std::string> folders;
  return folders;
}

// Folders to look in after the current directory, the current one itself left out.
std::vector<std::filesystem::path> OtherFolders() {
  std::vector<std::filesystem::path> out;
  std::error_code error;
  const std::filesystem::path here = std::filesystem::current_path(error);
  for (const std::string& folder : HelpFolders()) {
    if (folder.empty()) continue;
    std::error_code same_error;
    if (std::filesystem::equivalent(folder, here, same_error)) continue;
    out.emplace_back(folder);
  }
  return out;
}

bool Readable(const std::filesystem::path& file) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) return false;
  return static_cast<bool>(std::ifstream(file, std::ios::binary));
}

}  // namespace

void SetHelpFolders(std::vector<std::string> folders) { HelpFolders() = std::move(folders); }

std::string FindHelpFile() {
  if (Readable(kHelpFileName)) return kHelpFileName;
  for (const auto& folder : OtherFolders()) {
    const std::filesystem::path file = folder / kHelpFileName;
    if (Readable(file)) return file.string();
  }
  return std::string();
}

std::string NoHelpText() {
  std::string places = "in the current directory";
  const auto folders = OtherFolders();
  for (std::size_t i = 0; i < folders.size(); ++i) {
    places += i + 1 == folders.size() ? " or in " : ", in ";
    places += folders[i].string();
  }
  return std::string(kHelpFileName) + " is not found " + places + ".\r\n";
}

std::string ProgramFolder(const std::string& argv0) {
  std::error_code error;
  std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || program.empty()) {
    error.clear();
    program = std::filesystem::absolute(argv0, error);
    if (error) return std::string();
  }
  return program.parent_path().string();
}

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

CDispHelp::CDispHelp() : ui::Dialog(ids::kHelpTemplate) {}

CDispHelp::~CDispHelp() = default;

bool CDispHelp::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  // Started from another directory, the help that came with the program is still found;
  // with none anywhere, the window says where it looked rather than stay blank.
  const std::string file = FindHelpFile();
  help_text = file.empty() ? NoHelpText() : ReadHelpText(file);
  UpdateData(false);
  return true;
}

void CDispHelp::DoDataExchange(ui::DataExchange& dx) {
  ui::Dialog::DoDataExchange(dx);
  dx.Text(ids::help::kText, help_text);
}

CAboutDlg::CAboutDlg() : ui::Dialog(ids::kAboutTemplate) {}

}  // namespace plovix
