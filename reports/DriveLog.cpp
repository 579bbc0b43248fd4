#include "reports/DriveLog.h"

#include <cctype>
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

// Windows opens these names (with any extension, trailing blanks and dots ignored) as
// devices, not files: a drive with such a serial would log into the console or nowhere.
bool IsDeviceName(const std::string& name) {
  std::string base = name.substr(0, name.find('.'));
  while (!base.empty() && (base.back() == ' ' || base.back() == '.')) base.pop_back();
  for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (base == device) return true;
  }
  return base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) && base[3] >= '1' &&
         base[3] <= '9';
}

}  // namespace

std::string LogFileName(const std::string& serial) {
  // The serial comes from the drive and may hold anything; keep ordinary names as
  // they are and replace every other byte so the log stays in the current directory.
  std::string name;
  name.reserve(serial.size() + 4);
  for (char c : serial) name += IsNameSafe(static_cast<unsigned char>(c)) ? c : '_';
  if (IsDeviceName(name)) name.insert(0, "_");
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
