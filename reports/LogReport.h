// The test log report and its viewer.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "reports/SmartVerdict.h"
#include "ui/Dialog.h"

namespace plovix {

// The report of a drive's log file; line_break is "\r\n" on screen, "\n" for the file.
// smart is what its SMART Status line says.
std::string BuildLogReportText(const std::string& serial, const std::string& model,
                               const std::string& firmware, std::uint64_t total_sectors,
                               SmartVerdict smart, std::time_t now,
                               const std::string& line_break);

// One record of a drive's log: its tag ("SMART QT", "Erase Disk", ...), "Done", the
// result and the time as the log wrote them.
struct LogRecord {
  std::string tag;
  std::string status;
  std::string result;
  std::string when;
};
// The records the report shows, in file order; none when the drive has no log.
std::vector<LogRecord> ReadLogRecords(const std::string& serial);
// The same records one at a time, none of them kept: for logs too long to hold twice.
using LogRecordVisitor = std::function<void(std::string_view tag, std::string_view status,
                                            std::string_view result, std::string_view when)>;
void ForEachLogRecord(const std::string& serial, const LogRecordVisitor& visit);

class CDispLog : public ui::Dialog {
 public:
  CDispLog();
  bool OnInitDialog() override;
  void DoDataExchange(ui::DataExchange& dx) override;
  void OnCommand(int id) override;
  ui::CtlColor OnCtlColor(int id) override;
  void BuildLogReport(const std::string& line_break);

  // Set by the opener.
  std::string serial;
  std::string model;
  std::string firmware;
  std::uint64_t total_sectors = 0;
  // Judged once as the viewer opens; the saved report says the same.
  SmartVerdict smart_verdict = SmartVerdict::Unknown;
  std::string drive_caption;  // appended to the caption

  ui::Font title_font;
  ui::Font log_font;
  std::string report_text;
  ui::Brush white_brush;
  std::string title_text;
  std::string log_text;
};

class CSaveLog : public ui::Dialog {
 public:
  CSaveLog();
};

}  // namespace plovix
