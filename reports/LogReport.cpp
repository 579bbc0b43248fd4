#include "reports/LogReport.h"

#include <cstdio>
#include <string_view>

#include "diagnostics/DriveCaption.h"
#include "inventory/DriveRecord.h"
#include "reports/DriveLog.h"
#include "ui/Backend.h"

namespace plovix {

namespace {

constexpr int kTemplateDispLog = 153;
constexpr int kTemplateSaveLog = 154;
constexpr int kSaveToFile = 1001;
constexpr int kTitleStatic = 1030;
constexpr int kLogEdit = 1031;

constexpr const char* kRule = "-------------------------------------------------------------";
constexpr const char* kReportFile = "ZUL_TEST.LOG";

struct TagLabel {
  std::string_view tag;
  std::string_view label;
};

constexpr TagLabel kTagLabels[] = {
    {"ReadErrStat", "        ReadErrStat       : "},
    {"SMART QT", "        SMART QT          : "},
    {"SMART ET", "        SMART ET          : "},
    {"Erase MBR", "        Erase MBR         : "},
    {"Erase Disk", "        Erase Disk        : "},
    {"SURFACE QT", "        SURFACE QT        : "},
    {"SURFACE ET", "        SURFACE ET        : "},
};

const TagLabel* FindTag(const std::string& line) {
  for (const auto& t : kTagLabels) {
    if (line == t.tag) return &t;
  }
  return nullptr;
}

// Reads one line of any length without its line end (LF or CR LF). Returns whether
// anything was read: an empty line counts, the end of the file does not. Byte by byte,
// so a stray zero byte in a damaged log cannot swallow a line end.
bool ReadLine(std::FILE* file, std::string& line) {
  line.clear();
  bool got = false;
  for (int c; (c = std::getc(file)) != EOF;) {
    got = true;
    if (c == '\n') break;
    line += static_cast<char>(c);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return got;
}

}  // namespace

std::string BuildLogReportText(const std::string& serial, const std::string& model,
                               const std::string& firmware, std::uint64_t total_sectors,
                               std::time_t now, const std::string& line_break) {
  const std::string& L = line_break;

  std::string text;
  text += kRule + L + L;
  text += "         ZUL-Win Norbek HDD Diagnostic TEST" + L + L;
  text += "         Copyright (C) Norbek Storage Systems" + L + L;
  text += kRule + L + L;
  text += "      DATE       :  " + FormatLogTime(now) + L + L + L;
  text += "DRIVE INFORMATION" + L;
  text += "        Serial Number     : " + serial + L;
  text += "        Model             : " + model + L;
  text += "        Firmware Rev.     : " + firmware + L;
  text += "        Capacity          : " + FormatCapacityGb(total_sectors) + L;
  text += "        SMART Status      : Healthy" + L + L;
  text += "Test Log" + L + L;

  // Binary mode: the line ends are stripped by ReadLine, so CR LF and LF-only logs
  // read the same on every platform.
  std::FILE* file = std::fopen(LogFileName(serial).c_str(), "rb");
  if (file == nullptr) return text;

  std::string line;
  bool more = true;
  while (more) {
    more = ReadLine(file, line);
    const TagLabel* tag = FindTag(line);
    if (tag == nullptr) continue;  // stray lines of a damaged or unknown record
    std::string status, result, when;
    ReadLine(file, status);
    ReadLine(file, result);
    more = ReadLine(file, when);
    text.append(tag->label).append(status).append(L);
    text.append("        Result            : ").append(result).append(L);
    text.append("        Date/Time         : ").append(when).append(L).append(L).append(L);
  }
  std::fclose(file);
  return text;
}

CDispLog::CDispLog() : ui::Dialog(kTemplateDispLog) {
  title_font = ui::Font{"Arial", 150};
  log_font.face = "Arial";
  log_font.height = 12;
  log_font.charset = 128;
  log_font.pitch = 1;
}

bool CDispLog::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  NameDriveInCaption(*this, drive_caption);
  SetControlFont(kTitleStatic, title_font);
  SetControlFont(kLogEdit, log_font);
  white_brush = ui::CreateSolidBrush(0xFFFFFF);
  title_text = "Test Log";
  BuildLogReport("\r\n");
  log_text = report_text;
  UpdateData(false);
  return true;
}

void CDispLog::DoDataExchange(ui::DataExchange& dx) {
  ui::Dialog::DoDataExchange(dx);
  dx.Text(kTitleStatic, title_text);
  dx.Text(kLogEdit, log_text);
}

void CDispLog::BuildLogReport(const std::string& line_break) {
  report_text = BuildLogReportText(serial, model, firmware, total_sectors, ui::Now(), line_break);
}

void CDispLog::OnCommand(int id) {
  if (id == kTitleStatic) return;  // the title is a static; a click means nothing
  if (id != kSaveToFile) {
    ui::Dialog::OnCommand(id);
    return;
  }
  // A second snapshot for the file; the screen keeps the one taken at opening.
  BuildLogReport("\n");
  std::string out;
  out.reserve(report_text.size() + report_text.size() / 16);
  for (char c : report_text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  if (std::FILE* file = std::fopen(kReportFile, "wb")) {
    std::fwrite(out.data(), 1, out.size(), file);
    std::fclose(file);
  }
  CSaveLog notice;
  notice.DoModal();
}

ui::CtlColor CDispLog::OnCtlColor(int id) {
  if (id == kTitleStatic) return ui::TitleBandColors(white_brush);
  return ui::Dialog::OnCtlColor(id);
}

CSaveLog::CSaveLog() : ui::Dialog(kTemplateSaveLog) {}

}  // namespace plovix
