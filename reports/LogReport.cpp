#include "reports/LogReport.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "diagnostics/DriveCaption.h"
#include "inventory/DriveRecord.h"
#include "reports/DriveLog.h"
#include "resources/ResourceIds.h"
#include "ui/Backend.h"

namespace plovix {

namespace {

using namespace ids::log_view;

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

const TagLabel* FindTag(std::string_view line) {
  for (const auto& t : kTagLabels) {
    if (line.size() == t.tag.size() && std::memcmp(line.data(), t.tag.data(), line.size()) == 0) return &t;
  }
  return nullptr;
}

constexpr std::string_view kResultLabel = "        Result            : ";
constexpr std::string_view kWhenLabel = "        Date/Time         : ";

// The whole log in memory: a log of many thousand records is read in a few large reads
// rather than a call per byte.
std::string ReadWhole(std::FILE* file) {
  std::string data;
  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long size = std::ftell(file);
    if (size > 0) data.reserve(static_cast<std::size_t>(size));
    std::rewind(file);
  }
  char chunk[1 << 16];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) data.append(chunk, n);
  return data;
}

// The lines of a log without their line ends (LF or CR LF). Next returns whether anything
// was read: an empty line counts, the end of the text does not. The line end is found by
// its byte, so a stray zero byte in a damaged log cannot swallow one.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}
  bool Next(std::string_view& line) {
    if (at_ == text_.size()) {
      line = {};
      return false;
    }
    const char* begin = text_.data() + at_;
    const void* lf = std::memchr(begin, '\n', text_.size() - at_);
    const std::size_t length =
        lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - begin) : text_.size() - at_;
    at_ += lf != nullptr ? length + 1 : length;
    line = std::string_view(begin, length != 0 && begin[length - 1] == '\r' ? length - 1 : length);
    return true;
  }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

// Calls block(label, status, result, when) for every record the log holds, in file order.
// Any line that is not a tag, blank or stray, is passed over; a record cut short by the
// end of the log gets empty values.
template <typename Block>
void ForEachRecord(std::string_view log, Block&& block) {
  LineReader lines(log);
  std::string_view line;
  std::string_view status;
  std::string_view result;
  std::string_view when;
  bool more = true;
  while (more) {
    more = lines.Next(line);
    const TagLabel* tag = FindTag(line);
    if (tag == nullptr) continue;
    lines.Next(status);
    lines.Next(result);
    more = lines.Next(when);
    block(*tag, status, result, when);
  }
}

std::string ReadLog(const std::string& serial) {
  // Binary mode: the line ends are stripped by LineReader, so CR LF and LF-only logs
  // read the same on every platform.
  std::FILE* file = std::fopen(LogFileName(serial).c_str(), "rb");
  if (file == nullptr) return {};
  std::string log = ReadWhole(file);
  std::fclose(file);
  return log;
}

}  // namespace

void ForEachLogRecord(const std::string& serial, const LogRecordVisitor& visit) {
  ForEachRecord(ReadLog(serial), [&](const TagLabel& tag, std::string_view status,
                                     std::string_view result, std::string_view when) {
    visit(tag.tag, status, result, when);
  });
}

std::vector<LogRecord> ReadLogRecords(const std::string& serial) {
  std::vector<LogRecord> records;
  ForEachRecord(ReadLog(serial), [&](const TagLabel& tag, std::string_view status,
                                     std::string_view result, std::string_view when) {
    records.push_back(LogRecord{std::string(tag.tag), std::string(status), std::string(result),
                                std::string(when)});
  });
  return records;
}

std::string BuildLogReportText(const std::string& serial, const std::string& model,
                               const std::string& firmware, std::uint64_t total_sectors,
                               SmartVerdict smart, std::time_t now,
                               const std::string& line_break) {
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
  text += "        SMART Status      : ";
  text += SmartVerdictWord(smart);
  text += L + L;
  text += "Test Log" + L + L;

  const std::string log = ReadLog(serial);
  if (log.empty()) return text;

  // Two passes: the first sizes the report, so the second copies each piece once into
  // place instead of growing the text a piece at a time.
  const std::size_t line_break_size = L.size();
  std::size_t size = text.size();
  ForEachRecord(log, [&](const TagLabel& tag, std::string_view status, std::string_view result,
                         std::string_view when) {
    size += tag.label.size() + status.size() + kResultLabel.size() + result.size() + kWhenLabel.size() +
            when.size() + 5 * line_break_size;
  });
  std::size_t at = text.size();
  text.resize(size);
  char* out = text.data();
  auto put = [&](std::string_view piece) {
    if (piece.empty()) return;
    std::memcpy(out + at, piece.data(), piece.size());
    at += piece.size();
  };
  const std::string_view lb(L);
  ForEachRecord(log, [&](const TagLabel& tag, std::string_view status, std::string_view result,
                         std::string_view when) {
    put(tag.label);
    put(status);
    put(lb);
    put(kResultLabel);
    put(result);
    put(lb);
    put(kWhenLabel);
    put(when);
    put(lb);
    put(lb);
    put(lb);
  });
  return text;
}

CDispLog::CDispLog() : ui::Dialog(ids::kLogViewTemplate) {
  title_font = ui::Font{"Arial", 150};
  log_font.face = "Arial";
  log_font.height = 12;
  log_font.charset = 128;
  log_font.pitch = 1;
}

bool CDispLog::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  NameDriveInCaption(*this, drive_caption);
  SetControlFont(kTitle, title_font);
  SetControlFont(kText, log_font);
  white_brush = ui::CreateSolidBrush(0xFFFFFF);
  title_text = "Test Log";
  BuildLogReport("\r\n");
  log_text = report_text;
  UpdateData(false);
  return true;
}

void CDispLog::DoDataExchange(ui::DataExchange& dx) {
  ui::Dialog::DoDataExchange(dx);
  dx.Text(kTitle, title_text);
  dx.Text(kText, log_text);
}

void CDispLog::BuildLogReport(const std::string& line_break) {
  report_text = BuildLogReportText(serial, model, firmware, total_sectors, smart_verdict, ui::Now(),
                                   line_break);
}

void CDispLog::OnCommand(int id) {
  if (id == kTitle) return;  // the title is a static; a click means nothing
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
  if (id == kTitle) return ui::TitleBandColors(white_brush);
  return ui::Dialog::OnCtlColor(id);
}

CSaveLog::CSaveLog() : ui::Dialog(ids::kLogSavedTemplate) {}

}  // namespace plovix
