// The --json document, written by RapidJSON's writer as it goes: a report of a long log
// streams from the log file to the output without being held whole.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <string>

#include "faces/command/Run.h"
#include "reports/DriveLog.h"
#include "reports/NvmeHealthRows.h"

#ifndef PLOVIX_VERSION
#define PLOVIX_VERSION "0.92"
#endif

namespace plovix::command {

namespace {

// Bumped when a field changes meaning or goes; new fields keep it.
constexpr int kSchemaVersion = 1;

// The document is written into RapidJSON's own buffer (its writer scans strings fastest
// there) and handed on to the output in large pieces as it grows.
struct Buffer {
  rapidjson::StringBuffer buffer;  // a base, so that it exists before the writer given it
};
class Writer : private Buffer, public rapidjson::Writer<rapidjson::StringBuffer> {
 public:
  explicit Writer(std::ostream& out) : rapidjson::Writer<rapidjson::StringBuffer>(buffer), out_(out) {}
  void PassOn(std::size_t at_least = 0) {
    if (buffer.GetSize() < at_least) return;
    out_.write(buffer.GetString(), static_cast<std::streamsize>(buffer.GetSize()));
    buffer.Clear();
  }

 private:
  std::ostream& out_;
};


void Str(Writer& w, std::string_view text) {
  w.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}
void Key(Writer& w, const char* key) { w.Key(key); }
void Field(Writer& w, const char* key, std::string_view text) {
  w.Key(key);
  Str(w, text);
}
// Without it a text literal would take the bool overload.
void Field(Writer& w, const char* key, const char* text) { Field(w, key, std::string_view(text)); }
void Field(Writer& w, const char* key, std::uint64_t n) {
  w.Key(key);
  w.Uint64(n);
}
void Field(Writer& w, const char* key, bool b) {
  w.Key(key);
  w.Bool(b);
}
void Strings(Writer& w, const char* key, const std::vector<std::string>& texts) {
  w.Key(key);
  w.StartArray();
  for (const std::string& text : texts) Str(w, text);
  w.EndArray();
}

void Identity(Writer& w, const DriveRecord& r) {
  Field(w, "number", std::uint64_t{r.drive_number});
  Field(w, "model", command::Field(r.model));
  Field(w, "serial", command::Field(r.serial));
  Field(w, "firmware", command::Field(r.firmware));
  Field(w, "sectors", r.total_sectors);
  Field(w, "capacity", FormatCapacityGb(r.total_sectors));
  Field(w, "transport", TransportName(r));
  if (r.nvme == 1) {
    Field(w, "block_bytes", std::uint64_t{r.nvme_block_bytes});
    return;
  }
  Key(w, "smart");
  w.StartObject();
  Field(w, "supported", r.smart_supported == 1);
  Field(w, "enabled", r.smart_enabled == 1);
  Field(w, "self_test", r.smart_selftest_supported == 1);
  w.EndObject();
}

void Health(Writer& w, const NvmeHealth& h) {
  w.StartObject();
  Field(w, "critical_warning", std::uint64_t{h.critical_warning});
  Field(w, "available_spare_percent", std::uint64_t{h.available_spare});
  Field(w, "available_spare_threshold_percent", std::uint64_t{h.available_spare_threshold});
  Field(w, "percentage_used", std::uint64_t{h.percentage_used});
  // 128-bit counters: decimal strings, every digit kept.
  const std::pair<const char*, const NvmeU128*> counters[] = {
      {"data_units_read", &h.data_units_read},     {"data_units_written", &h.data_units_written},
      {"host_read_commands", &h.host_read_commands}, {"host_write_commands", &h.host_write_commands},
      {"controller_busy_minutes", &h.controller_busy_minutes}, {"power_cycles", &h.power_cycles},
      {"power_on_hours", &h.power_on_hours},       {"unsafe_shutdowns", &h.unsafe_shutdowns},
      {"media_errors", &h.media_errors},           {"error_log_entries", &h.error_log_entries},
  };
  for (const auto& [key, value] : counters) Field(w, key, U128Decimal(*value));
  Field(w, "warning_temperature_minutes", std::uint64_t{h.warning_temp_minutes});
  Field(w, "critical_temperature_minutes", std::uint64_t{h.critical_temp_minutes});
  Key(w, "temperature_celsius");
  if (const std::optional<int> celsius = KelvinToCelsius(h.temperature_kelvin)) {
    w.Int(*celsius);
  } else {
    w.Null();
  }
  w.EndObject();
}

void Record(Writer& w, std::string_view tag, std::string_view status, std::string_view result,
            std::string_view when) {
  w.StartObject();
  Field(w, "tag", tag);
  Field(w, "status", status);
  Field(w, "result", result);
  Field(w, "time", when);
  w.EndObject();
  w.PassOn(1 << 16);
}

void Drive(Writer& w, Command command, const DriveResult& drive) {
  w.StartObject();
  Identity(w, drive.record);
  switch (command) {
    case Command::List:
      break;
    case Command::Smart:
      Field(w, "verdict", SmartVerdictWord(drive.verdict));
      Field(w, "smart_read", drive.smart_read);
      if (drive.record.nvme == 1) {
        if (drive.smart_read) {
          Key(w, "nvme_health");
          Health(w, drive.health);
        }
        break;
      }
      Key(w, "attributes");
      w.StartArray();
      for (const Attribute& a : Attributes(drive)) {
        w.StartObject();
        Field(w, "id", std::uint64_t{a.id});
        Field(w, "name", a.name);
        Field(w, "current", std::uint64_t{a.current});
        Field(w, "worst", std::uint64_t{a.worst});
        Field(w, "threshold", std::uint64_t{a.threshold});
        Field(w, "raw", a.raw);
        Field(w, "raw_text", RawValueText(a.id, a.raw));
        Field(w, "failing", a.failing);
        w.EndObject();
      }
      w.EndArray();
      break;
    case Command::Report:
      // The report's header as fields, and its records straight from the log.
      Field(w, "date", FormatLogTime(drive.read_at));
      Field(w, "verdict", SmartVerdictWord(drive.verdict));
      Key(w, "log");
      w.StartArray();
      ForEachLogRecord(command::Field(drive.record.serial),
                       [&](std::string_view tag, std::string_view status, std::string_view result,
                           std::string_view when) { Record(w, tag, status, result, when); });
      w.EndArray();
      break;
    case Command::Log:
      Key(w, "log");
      w.StartArray();
      for (const LogRecord& r : drive.log) Record(w, r.tag, r.status, r.result, r.when);
      w.EndArray();
      break;
    default:
      Field(w, "status", drive.status);
      Field(w, "read_error_failed", drive.read_error_failed);
      break;
  }
  w.EndObject();
}

}  // namespace

void PrintJson(const Request& request, const RunResult& result, std::ostream& out) {
  {
    Writer w(out);
    w.StartObject();
    Field(w, "plovix_version", PLOVIX_VERSION);
    Field(w, "schema_version", std::uint64_t{kSchemaVersion});
    Field(w, "command", CommandName(request.command));
    Strings(w, "notices", result.notices);
    if (request.command == Command::List) Strings(w, "not_listed", result.left_out);
    Strings(w, "not_found", result.not_found);
    Strings(w, "refusals", result.refusals);
    Key(w, "said");
    w.StartArray();
    for (const Said& s : result.said) {
      w.StartObject();
      Field(w, "caption", s.caption);
      Field(w, "text", s.text);
      w.EndObject();
    }
    w.EndArray();
    Key(w, "drives");
    w.StartArray();
    for (const DriveResult& drive : result.drives) Drive(w, request.command, drive);
    w.EndArray();
    Field(w, "exit_status", static_cast<std::uint64_t>(result.exit));
    w.EndObject();
    w.PassOn();
  }
  out << "\n";
}

}  // namespace plovix::command
