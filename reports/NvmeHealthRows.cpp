#include "reports/NvmeHealthRows.h"

#include <algorithm>
#include <cstdio>

#include "reports/CSmartdlg.h"

namespace plovix {

namespace {

std::string Percent(std::uint8_t value) { return std::to_string(value) + "%"; }

std::string Celsius(std::uint16_t kelvin) {
  const std::optional<int> c = KelvinToCelsius(kelvin);
  return c ? std::to_string(*c) + " C" : std::string();
}

HealthRow Counter(int offset, const char* name, const NvmeU128& value) {
  HealthRow row;
  row.offset = offset;
  row.name = name;
  row.current = U128Decimal(value);
  row.raw = row.current;
  return row;
}

int Judge(bool bad) { return bad ? kHealthBad : kHealthGood; }

}  // namespace

std::string U128Decimal(const NvmeU128& value) {
  if (value.high == 0) return std::to_string(value.low);
  // Long division by ten over four 32-bit limbs, most significant first.
  std::uint32_t limbs[4] = {static_cast<std::uint32_t>(value.high >> 32),
                            static_cast<std::uint32_t>(value.high),
                            static_cast<std::uint32_t>(value.low >> 32),
                            static_cast<std::uint32_t>(value.low)};
  std::string digits;
  bool zero = false;
  while (!zero) {
    std::uint64_t remainder = 0;
    zero = true;
    for (std::uint32_t& limb : limbs) {
      const std::uint64_t part = remainder << 32 | limb;
      limb = static_cast<std::uint32_t>(part / 10);
      remainder = part % 10;
      if (limb != 0) zero = false;
    }
    digits.push_back(static_cast<char>('0' + remainder));
  }
  std::reverse(digits.begin(), digits.end());
  return digits;
}

std::string DataUnitsText(const NvmeU128& units) {
  const std::uint64_t bytes = DataUnitsToBytes(units);
  constexpr std::uint64_t kGb = 1'000'000'000;
  constexpr std::uint64_t kTb = 1'000'000'000'000;
  char text[40];
  if (bytes < kTb) {
    std::snprintf(text, sizeof text, "%llu GB", static_cast<unsigned long long>(bytes / kGb));
  } else {
    const std::uint64_t tenths = bytes / (kTb / 10);
    std::snprintf(text, sizeof text, "%llu.%llu TB", static_cast<unsigned long long>(tenths / 10),
                  static_cast<unsigned long long>(tenths % 10));
  }
  return text;
}

std::vector<HealthRow> NvmeHealthRows(const NvmeHealth& h, const DriveRecord& record) {
  std::vector<HealthRow> rows;

  HealthRow warning;
  warning.offset = 0;
  warning.name = "Critical Warning";
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", h.critical_warning);
  warning.current = hex;
  warning.raw = std::to_string(h.critical_warning);
  // Any bit set is the drive's own alarm: spare, temperature, reliability, read-only.
  warning.image = Judge(h.critical_warning != 0);
  rows.push_back(warning);

  HealthRow temperature;
  temperature.offset = 1;
  temperature.name = "Composite Temperature";
  temperature.current = Celsius(h.temperature_kelvin);
  temperature.threshold = Celsius(record.nvme_warning_temp_kelvin);
  temperature.raw = std::to_string(h.temperature_kelvin);
  const bool too_warm = (h.critical_warning & kNvmeWarnTemperature) != 0 ||
                        (record.nvme_warning_temp_kelvin != 0 && h.temperature_kelvin != 0 &&
                         h.temperature_kelvin >= record.nvme_warning_temp_kelvin);
  if (record.nvme_warning_temp_kelvin != 0 || too_warm) temperature.image = Judge(too_warm);
  rows.push_back(temperature);

  HealthRow spare;
  spare.offset = 3;
  spare.name = "Available Spare";
  spare.current = Percent(h.available_spare);
  spare.threshold = Percent(h.available_spare_threshold);
  spare.raw = std::to_string(h.available_spare);
  spare.image = Judge(h.available_spare < h.available_spare_threshold);
  rows.push_back(spare);

  HealthRow spare_threshold;
  spare_threshold.offset = 4;
  spare_threshold.name = "Available Spare Threshold";
  spare_threshold.current = Percent(h.available_spare_threshold);
  spare_threshold.raw = std::to_string(h.available_spare_threshold);
  rows.push_back(spare_threshold);

  HealthRow used;
  used.offset = 5;
  used.name = "Percentage Used";
  used.current = Percent(h.percentage_used);
  used.threshold = Percent(100);
  used.raw = std::to_string(h.percentage_used);
  // 100 means the drive's rated endurance is used up; it may count on past it.
  used.image = Judge(h.percentage_used >= 100);
  rows.push_back(used);

  HealthRow read = Counter(32, "Data Units Read", h.data_units_read);
  read.current = DataUnitsText(h.data_units_read);
  rows.push_back(read);
  HealthRow written = Counter(48, "Data Units Written", h.data_units_written);
  written.current = DataUnitsText(h.data_units_written);
  rows.push_back(written);

  rows.push_back(Counter(64, "Host Read Commands", h.host_read_commands));
  rows.push_back(Counter(80, "Host Write Commands", h.host_write_commands));
  rows.push_back(Counter(96, "Controller Busy Time (minutes)", h.controller_busy_minutes));
  rows.push_back(Counter(112, "Power Cycles", h.power_cycles));
  rows.push_back(Counter(128, "Power On Hours", h.power_on_hours));
  rows.push_back(Counter(144, "Unsafe Shutdowns", h.unsafe_shutdowns));

  HealthRow media = Counter(160, "Media and Data Integrity Errors", h.media_errors);
  media.image = Judge(!h.media_errors.IsZero());
  rows.push_back(media);

  rows.push_back(Counter(176, "Error Log Entries", h.error_log_entries));
  rows.push_back(Counter(192, "Warning Temperature Time (minutes)",
                         NvmeU128{h.warning_temp_minutes, 0}));
  rows.push_back(Counter(196, "Critical Temperature Time (minutes)",
                         NvmeU128{h.critical_temp_minutes, 0}));
  return rows;
}

std::string NvmeMaxLbaText(const DriveRecord& record) {
  return FormatMaxLba(record.nvme_block_count);
}

std::string NvmeCapacityText(const DriveRecord& record) {
  std::string text = FormatCapacity(record.total_sectors);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text + ", " + std::to_string(record.nvme_block_bytes) + " B blocks";
}

}  // namespace plovix
