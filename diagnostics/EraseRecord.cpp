#include "diagnostics/EraseRecord.h"

#include <cstdio>

#include "reports/DriveLog.h"

namespace plovix {

namespace {

std::string Line(const char* label, const std::string& value) {
  std::string line = label;
  line.resize(16, ' ');
  return line + ": " + value + "\r\n";
}

std::string Capacity(std::uint64_t sectors) {
  char text[96];
  std::snprintf(text, sizeof text, "%llu sectors of 512 bytes (%.1f GB)",
                static_cast<unsigned long long>(sectors), static_cast<double>(sectors) * 512 / 1e9);
  return text;
}

std::string Stamp(std::time_t time, const char* format) {
  char text[64] = {};
  std::tm parts{};
#if defined(_WIN32)
  if (localtime_s(&parts, &time) != 0) return {};
#else
  if (localtime_r(&time, &parts) == nullptr) return {};
#endif
  std::strftime(text, sizeof text, format, &parts);
  return text;
}

}  // namespace

std::string FormatEraseRecord(const EraseRecordInfo& info) {
  std::string hidden = "unknown (the drive does not tell its native size)";
  if (info.hidden_sectors) {
    hidden = *info.hidden_sectors == 0
                 ? "none"
                 : std::to_string(*info.hidden_sectors) +
                       " sectors in a host protected area, not erased";
  }
  std::string text = "Plovix erase record\r\n";
  text += Line("Model", info.model);
  text += Line("Serial", info.serial);
  text += Line("Capacity", Capacity(info.total_sectors));
  text += Line("Hidden sectors", hidden);
  text += Line("Method", info.method.empty() ? "none" : info.method);
  text += Line("Started", FormatLogTime(info.started));
  text += Line("Ended", FormatLogTime(info.ended));
  text += Line("Sectors written", std::to_string(info.sectors_written));
  text += Line("Verification", info.verification);
  text += Line("Result", info.result);
  return text;
}

std::string WriteEraseRecord(const EraseRecordInfo& info) {
  std::string stem = LogFileName(info.serial);
  stem.resize(stem.size() - 4);  // ".log"
  stem += "-erase-" + Stamp(info.started, "%Y%m%d-%H%M%S");
  const std::string text = FormatEraseRecord(info);
  for (int n = 1; n < 1000; ++n) {
    const std::string name = stem + (n == 1 ? "" : "-" + std::to_string(n)) + ".txt";
    // Opened for appending, so an earlier record of the same name is never cut; one that
    // already holds anything makes us take the next name.
    std::FILE* file = std::fopen(name.c_str(), "ab");
    if (file == nullptr) return {};
    std::fseek(file, 0, SEEK_END);
    if (std::ftell(file) != 0) {
      std::fclose(file);
      continue;
    }
    const bool whole = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    return whole && closed ? name : std::string{};
  }
  return {};
}

}  // namespace plovix
