#include "reports/DriveLog.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "ui/Backend.h"

namespace plovix {

namespace {

// Bytes a log name may keep as they are: printable ASCII that every file system we run
// on accepts and that cannot leave the current directory; '%' is reserved for escapes.
bool IsNameSafe(unsigned char c) {
  if (c < 0x20 || c > 0x7E) return false;
  return std::strchr("\\/:*?\"<>|%", c) == nullptr;
}

// Windows opens these as devices whatever follows the first dot, in any case and with
// blanks before that dot: a log so named would go nowhere.
bool IsDeviceName(const std::string& stem) {
  std::string base = stem.substr(0, stem.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const char* name : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (base == name) return true;
  }
  return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
         base[3] >= '0' && base[3] <= '9';
}

void AppendEscape(std::string& name, unsigned char c) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  name += '%';
  name += kHex[c >> 4];
  name += kHex[c & 0x0F];
}

}  // namespace

std::string LogFileName(const std::string& serial) {
  // The serial comes from the drive and may hold anything. An ordinary serial keeps its
  // name, so existing logs stay readable. Any other byte becomes %XX, '%' included, and a
  // device name gets its first byte escaped: the mapping can be undone, so no two serials
  // ever share a log, and the name stays in the current directory.
  std::string name;
  name.reserve(serial.size() + 4);
  const bool device = IsDeviceName(serial);
  for (std::size_t i = 0; i < serial.size(); ++i) {
    const auto c = static_cast<unsigned char>(serial[i]);
    if (IsNameSafe(c) && !(device && i == 0)) {
      name += static_cast<char>(c);
    } else {
      AppendEscape(name, c);
    }
  }
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
