#include "devices/linux/Privileges.h"

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

namespace plovix::linuxdev {

bool HasRawIoCapability(std::string_view proc_status) {
  return HasCapability(proc_status, kCapSysRawio);
}

bool HasCapability(std::string_view proc_status, int capability) {
  if (capability < 0 || capability > 63) return false;
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
    return ((mask >> capability) & 1u) != 0;
  }
  return false;
}

namespace {

std::optional<std::string> ReadStatus(std::string_view root) {
  std::ifstream in(std::string(root) + "/proc/self/status", std::ios::binary);
  if (!in) return std::nullopt;
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

bool ProcessHasRawIo(const std::string_view root) {
  const auto text = ReadStatus(root);
  return text && HasRawIoCapability(*text);
}

bool ProcessHasCapability(int capability, std::string_view root) {
  const auto text = ReadStatus(root);
  return text && HasCapability(*text, capability);
}

std::string RawIoRefusal(std::string_view title, const std::optional<std::string>& proc_status,
                         bool is_root) {
  const std::string name(title);
  if (!proc_status) {
    return name + " cannot tell whether it may send commands to drives: /proc/self/status "
                  "cannot be read.";
  }
  if (HasRawIoCapability(*proc_status)) return {};
  // Root that lacks the capability has had it taken away (a container, a bounding set);
  // telling it to run as root would send the user round in a circle.
  if (is_root) {
    return name + " is running as root but without the CAP_SYS_RAWIO capability, which it "
                  "needs to send commands to drives; a container or a capability bounding "
                  "set has left it out. Run it where root keeps CAP_SYS_RAWIO.";
  }
  return name + " needs administrator rights to open physical drives: run it as root.";
}

std::string ProcessRawIoRefusal(std::string_view title) {
  return RawIoRefusal(title, ReadStatus(""), ::geteuid() == 0);
}

}  // namespace plovix::linuxdev
