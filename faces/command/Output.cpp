// The printed forms of a command's result for people, and the Prometheus text format for
// node_exporter's textfile collector.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iomanip>
#include <map>
#include <optional>
#include <sstream>

#include "faces/command/Run.h"
#include "reports/CSmartdlg.h"
#include "reports/NvmeHealthRows.h"

namespace plovix::command {

const char* TransportName(const DriveRecord& r) {
  if (r.nvme == 1) return "nvme";
  if (r.via_scsi == 0) return "ata";
  return r.behind_bridge != 0 ? "usb" : "scsi";
}

std::vector<Attribute> Attributes(const DriveResult& drive) {
  std::vector<Attribute> all;
  for (const SmartAttributeRow& row : drive.table.rows) {
    if (row.id == 0) continue;
    all.push_back(Attribute{row.id, row.current, row.worst, row.threshold, row.raw48,
                            Field(row.name, sizeof row.name), IsAttributeFailing(row)});
  }
  for (int i = 0; i < drive.others.count; ++i) {
    const SmartOtherAttribute& row = drive.others.rows[i];
    all.push_back(Attribute{row.id, row.current, row.worst, row.threshold, row.raw48,
                            OtherAttributeName(row.id), IsAttributeFailing(row)});
  }
  return all;
}

namespace {

// The number a decoded raw value starts with ("42 (min 21, max 53)" is 42).
std::optional<long long> LeadingNumber(const std::string& text) {
  long long value = 0;
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
    value = value * 10 + (text[digits] - '0');
    ++digits;
  }
  if (digits == 0) return std::nullopt;
  return value;
}

std::optional<long long> AttributeNumber(const std::vector<Attribute>& attributes,
                                         std::initializer_list<int> ids) {
  for (int id : ids) {
    for (const Attribute& a : attributes) {
      if (a.id == id) return LeadingNumber(RawValueText(a.id, a.raw));
    }
  }
  return std::nullopt;
}

// The last self-test the log records, and when: the log's local time as seconds since
// the epoch.
struct LastSelfTest {
  std::string kind, result;
  std::optional<std::time_t> when;
};
std::optional<LastSelfTest> FindLastSelfTest(const std::vector<LogRecord>& log) {
  for (auto it = log.rbegin(); it != log.rend(); ++it) {
    if (it->tag != "SMART QT" && it->tag != "SMART ET") continue;
    LastSelfTest last{it->tag == "SMART QT" ? "short" : "extended", it->result, std::nullopt};
    std::tm tm{};
    std::istringstream in(it->when);
    in >> std::get_time(&tm, "%m/%d/%Y %H:%M:%S");
    if (!in.fail()) {
      tm.tm_isdst = -1;
      const std::time_t t = std::mktime(&tm);
      if (t != static_cast<std::time_t>(-1)) last.when = t;
    }
    return last;
  }
  return std::nullopt;
}

}  // namespace

const char* CommandName(Command command) {
  switch (command) {
    case Command::List: return "list";
    case Command::Smart: return "smart";
    case Command::SelfTest: return "self-test";
    case Command::Surface: return "surface";
    case Command::Report: return "report";
    case Command::Log: return "log";
    case Command::EraseMbr: return "erase-mbr";
    case Command::EraseDisk: return "erase-disk";
  }
  return "";
}

namespace {

// Characters, not bytes, of UTF-8 text ("38 °C" is five wide).
std::size_t Width(const std::string& text) {
  std::size_t width = 0;
  for (unsigned char c : text) width += (c & 0xC0) != 0x80 ? 1 : 0;
  return width;
}

// Columns as wide as their widest cell, two spaces apart; numbers to the right.
void PrintTable(std::ostream& out, const std::string& indent, const std::vector<std::vector<std::string>>& rows,
                const std::vector<bool>& right) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], Width(row[i]));
  }
  for (const auto& row : rows) {
    std::string text = indent;
    for (std::size_t i = 0; i < row.size(); ++i) {
      const std::string pad(widths[i] - Width(row[i]), ' ');
      const bool last = i + 1 == row.size();
      text += i < right.size() && right[i] ? pad + row[i] : row[i] + (last ? "" : pad);
      if (!last) text += "  ";
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out << text << "\n";
  }
}

}  // namespace

void PrintText(const Request& request, const RunResult& result, std::ostream& out) {
  switch (request.command) {
    case Command::List: {
      std::vector<std::vector<std::string>> rows = {{"No", "Model", "Serial", "Firmware", "Capacity", "Transport"}};
      for (const DriveResult& d : result.drives) {
        const DriveRecord& r = d.record;
        rows.push_back({std::to_string(r.drive_number), Field(r.model), Field(r.serial), Field(r.firmware),
                        FormatCapacityGb(r.total_sectors), TransportName(r)});
      }
      PrintTable(out, "", rows, {true, false, false, false, true, false});
      for (const std::string& disk : result.left_out) out << "Not listed: " << disk << "\n";
      break;
    }
    case Command::Smart:
      for (const DriveResult& d : result.drives) {
        const DriveRecord& r = d.record;
        out << "Drive " << unsigned{r.drive_number} << ": " << Field(r.model) << "\n"
            << "  Serial: " << Field(r.serial) << "\n  Firmware: " << Field(r.firmware)
            << "\n  Capacity: " << FormatCapacityGb(r.total_sectors) << " (" << r.total_sectors
            << " sectors)\n  SMART verdict: " << SmartVerdictWord(d.verdict) << "\n";
        if (!d.smart_read) {
          out << "  " << (r.nvme == 1 ? "The health log could not be read." : "No SMART attributes were read.")
              << "\n\n";
          continue;
        }
        std::vector<std::vector<std::string>> rows = {{"ID", "Name", "Current", "Worst", "Threshold", "Status", "Raw"}};
        if (r.nvme == 1) {
          for (const HealthRow& row : NvmeHealthRows(d.health, r)) {
            rows.push_back({std::to_string(row.offset), row.name, row.current, row.worst, row.threshold,
                            row.image == kHealthBad ? "Bad" : row.image == kHealthGood ? "Good" : "", row.raw});
          }
        } else {
          for (const Attribute& a : Attributes(d)) {
            rows.push_back({std::to_string(a.id), a.name, std::to_string(a.current), std::to_string(a.worst),
                            std::to_string(a.threshold), a.failing ? "Bad" : "Good", RawValueText(a.id, a.raw)});
          }
        }
        PrintTable(out, "  ", rows, {true, false, true, true, true, false, false});
        out << "\n";
      }
      break;
    case Command::Report:
      for (const DriveResult& d : result.drives) out << d.report;
      break;
    case Command::Log:
      for (const DriveResult& d : result.drives) {
        for (const LogRecord& r : d.log) out << r.tag << "\n" << r.status << "\n" << r.result << "\n" << r.when << "\n";
      }
      break;
    default:
      for (const Said& s : result.said) out << s.caption << "\n  " << [&] {
        std::string text = s.text;
        for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 3) text.replace(at, 1, "\n  ");
        return text;
      }() << "\n";
      for (const DriveResult& d : result.drives) {
        out << "Drive " << unsigned{d.record.drive_number} << " (" << Field(d.record.serial)
            << "): " << (d.status.empty() ? "nothing done" : d.status) << "\n";
      }
      break;
  }
}

namespace {

std::string LabelValue(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

// Samples by family, so each family's lines stay together under one HELP and TYPE.
class Metrics {
 public:
  void Add(const std::string& family, const char* type, const char* help, const std::string& labels,
           double value) {
    auto [it, fresh] = families_.try_emplace(family);
    if (fresh) {
      order_.push_back(family);
      it->second = "# HELP " + family + " " + help + "\n# TYPE " + family + " " + type + "\n";
    }
    std::ostringstream sample;
    sample << std::setprecision(17) << value;
    it->second += family + "{" + labels + "} " + sample.str() + "\n";
  }
  void Print(std::ostream& out) const {
    for (const std::string& family : order_) out << families_.at(family);
  }

 private:
  std::vector<std::string> order_;
  std::map<std::string, std::string> families_;
};

}  // namespace

void PrintPrometheus(const RunResult& result, std::ostream& out) {
  Metrics m;
  for (const DriveResult& d : result.drives) {
    const DriveRecord& r = d.record;
    const std::string labels = "number=\"" + std::to_string(r.drive_number) + "\",model=\"" +
                               LabelValue(Field(r.model)) + "\",serial=\"" + LabelValue(Field(r.serial)) + "\"";
    m.Add("plovix_smart_verdict", "gauge", "SMART verdict: 0 unknown, 1 healthy, 2 failing.", labels,
          d.verdict == SmartVerdict::Healthy ? 1 : d.verdict == SmartVerdict::Failing ? 2 : 0);
    m.Add("plovix_capacity_bytes", "gauge", "Addressable capacity in bytes.", labels,
          static_cast<double>(r.total_sectors) * 512.0);
    std::optional<long long> celsius;
    std::optional<long long> hours;
    if (r.nvme == 1 && d.smart_read) {
      const NvmeHealth& h = d.health;
      if (const auto c = KelvinToCelsius(h.temperature_kelvin)) celsius = *c;
      hours = static_cast<long long>(h.power_on_hours.Shown());
      m.Add("plovix_nvme_critical_warning", "gauge", "NVMe critical warning bits.", labels, h.critical_warning);
      m.Add("plovix_nvme_available_spare_ratio", "gauge", "NVMe available spare.", labels, h.available_spare / 100.0);
      m.Add("plovix_nvme_available_spare_threshold_ratio", "gauge", "NVMe available spare threshold.", labels,
            h.available_spare_threshold / 100.0);
      m.Add("plovix_nvme_percentage_used_ratio", "gauge", "NVMe estimate of the life used.", labels,
            h.percentage_used / 100.0);
      m.Add("plovix_nvme_data_read_bytes_total", "counter", "NVMe data read.", labels,
            static_cast<double>(DataUnitsToBytes(h.data_units_read)));
      m.Add("plovix_nvme_data_written_bytes_total", "counter", "NVMe data written.", labels,
            static_cast<double>(DataUnitsToBytes(h.data_units_written)));
      m.Add("plovix_nvme_power_cycles_total", "counter", "NVMe power cycles.", labels,
            static_cast<double>(h.power_cycles.Shown()));
      m.Add("plovix_nvme_unsafe_shutdowns_total", "counter", "NVMe unsafe shutdowns.", labels,
            static_cast<double>(h.unsafe_shutdowns.Shown()));
      m.Add("plovix_nvme_media_errors_total", "counter", "NVMe media and data integrity errors.", labels,
            static_cast<double>(h.media_errors.Shown()));
      m.Add("plovix_nvme_error_log_entries_total", "counter", "NVMe error log entries.", labels,
            static_cast<double>(h.error_log_entries.Shown()));
    } else if (d.smart_read) {
      const std::vector<Attribute> attributes = Attributes(d);
      for (const Attribute& a : attributes) {
        const std::string with_id = labels + ",id=\"" + std::to_string(a.id) + "\",name=\"" + LabelValue(a.name) + "\"";
        m.Add("plovix_smart_attribute_current", "gauge", "SMART attribute normalised value.", with_id, a.current);
        m.Add("plovix_smart_attribute_worst", "gauge", "SMART attribute worst value.", with_id, a.worst);
        m.Add("plovix_smart_attribute_threshold", "gauge", "SMART attribute threshold.", with_id, a.threshold);
        m.Add("plovix_smart_attribute_raw", "gauge", "SMART attribute raw value, all 48 bits.", with_id,
              static_cast<double>(a.raw));
      }
      celsius = AttributeNumber(attributes, {194, 190});
      hours = AttributeNumber(attributes, {9});
    }
    if (celsius) m.Add("plovix_temperature_celsius", "gauge", "Drive temperature.", labels, static_cast<double>(*celsius));
    // In the base unit Prometheus wants: the drive's whole hours, as seconds.
    if (hours) {
      m.Add("plovix_power_on_seconds", "gauge", "Power-on time the drive counts, in whole hours.", labels,
            static_cast<double>(*hours) * 3600.0);
    }
    if (const auto last = FindLastSelfTest(d.log)) {
      const std::string with_kind = labels + ",kind=\"" + last->kind + "\"";
      m.Add("plovix_last_self_test_passed", "gauge", "Last self-test in the drive's log: 1 passed, 0 not.",
            with_kind, last->result == "Pass" ? 1 : 0);
      if (last->when) {
        m.Add("plovix_last_self_test_timestamp_seconds", "gauge", "When the last self-test was logged.",
              with_kind, static_cast<double>(*last->when));
      }
    }
  }
  m.Print(out);
}

}  // namespace plovix::command
