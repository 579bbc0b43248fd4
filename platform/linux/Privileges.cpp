#include "platform/linux/Privileges.h"

#include <fstream>
#include <iterator>
#include <string>

namespace plovix::linuxdev {

bool HasRawIoCapability(std::string_view proc_status) {
  constexpr std::string_view key = "CapEff:";
  std::size_t at = 0;
  while (at < proc_status.size()) {
    std::size_t end = proc_status.find('\n', at);
    if (end == std::string_view::npos) end = proc_status.size();
    std::string_view line = proc_status.substr(at, end - at);
    at = end + 1;
    if (line.substr(0, key.size()) != key) continue;
    line.remove_prefix(key.size());
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
      line.remove_suffix(1);
    }
    if (line.empty() || line.size() > 16) return false;
    unsigned long long mask = 0;
    for (char c : line) {
      int digit;
      if (c >= '0' && c <= '9') {
        digit = c - '0';
      } else if (c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
      } else if (c >= 'A' && c <= 'F') {
        digit = c - 'A' + 10;
      } else {
        return false;
      }
      mask = (mask << 4) | static_cast<unsigned>(digit);
    }
    return ((mask >> kCapSysRawio) & 1u) != 0;
  }
  return false;
}

bool ProcessHasRawIo(const std::string_view root) {
  std::ifstream in(std::string(root) + "/proc/self/status", std::ios::binary);
  if (!in) return false;
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return HasRawIoCapability(text);
}

}  // namespace plovix::linuxdev
