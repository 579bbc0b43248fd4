#include "reports/DriveLog.h"

#include <cstdio>
#include <cstring>

#include "ui/Backend.h"

namespace plovix {

namespace {

// Characters no file system we run on accepts in a name, or that would leave the
// current directory.
bool IsNameSafe(unsigned char c) {
  if (c < 0x20 || c > 0x7E) return false;
  return std::strchr("\\/:*?\"<>|", c) == nullptr;
}

}  // namespace

std::string LogFileName(const std::string& serial) {
  // The serial comes from the drive and may hold anything; keep ordinary names as
  // they are and replace every other byte so the log stays in the current directory.
  std::string name;
  name.reserve(serial.size() + 4);
  for (char c : serial) name += IsNameSafe(static_cast<unsigned char>(c)) ? c : '_';
  name += ".log";
  return name;
}

void AppendDriveLog(const std::string& serial, const std::string& tag,
                    const std::string& result) {
  std::string record;
  record += tag;
  record += "\r\n";
  record += "Done\r\n";
  record += result;
  record += "\r\n";
  record += FormatLogTime(ui::Now());
  record += "\r\n";

  std::FILE* file = std::fopen(LogFileName(serial).c_str(), "ab");
  if (file == nullptr) return;  // the record is dropped; the test's outcome stands
  std::fwrite(record.data(), 1, record.size(), file);
  std::fflush(file);
  std::fclose(file);
}

std::string FormatLogTime(std::time_t time) {
  std::tm local{};
#ifdef _WIN32
  if (localtime_s(&local, &time) != 0) return {};
#else
  if (localtime_r(&time, &local) == nullptr) return {};
#endif
  char text[128];
  std::size_t n = std::strftime(text, sizeof text, "%m/%d/%Y %H:%M:%S", &local);
  return std::string(text, n);
}

}  // namespace plovix
