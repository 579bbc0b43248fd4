// The kernel's names of disks and the Windows-style paths the program opens them by.
#include "devices/linux/SysfsLayout.h"

#include <string>
#include <string_view>

namespace plovix::linuxdev {

std::optional<int> SdIndex(std::string_view name) {
  if (name.size() < 3 || name.size() > 6 || name.substr(0, 2) != "sd") return std::nullopt;
  int value = 0;
  for (char c : name.substr(2)) {
    if (c < 'a' || c > 'z') return std::nullopt;
    value = value * 26 + (c - 'a' + 1);
  }
  return value - 1;
}

std::string SdName(int index) {
  if (index < 0) return {};
  std::string letters;
  long n = static_cast<long>(index) + 1;
  while (n > 0) {
    --n;
    letters.insert(letters.begin(), static_cast<char>('a' + n % 26));
    n /= 26;
  }
  return "sd" + letters;
}

std::optional<int> DriveNumberOf(std::string_view name) {
  const auto index = SdIndex(name);
  if (!index || *index > kMaxDriveNumber) return std::nullopt;
  return index;
}

namespace {

// Decimal digits at the front of text, taken off it; none when there are none or too many.
std::optional<unsigned> TakeNumber(std::string_view& text) {
  std::size_t n = 0;
  unsigned value = 0;
  while (n < text.size() && text[n] >= '0' && text[n] <= '9') {
    if (n == 9) return std::nullopt;
    value = value * 10 + static_cast<unsigned>(text[n] - '0');
    ++n;
  }
  if (n == 0) return std::nullopt;
  text.remove_prefix(n);
  return value;
}

bool TakePrefix(std::string_view& text, std::string_view prefix) {
  if (text.substr(0, prefix.size()) != prefix) return false;
  text.remove_prefix(prefix.size());
  return true;
}

}  // namespace

std::optional<NvmeName> ParseNvmeName(std::string_view name) {
  if (!TakePrefix(name, "nvme")) return std::nullopt;
  const auto controller = TakeNumber(name);
  if (!controller || !TakePrefix(name, "n")) return std::nullopt;
  const auto ns = TakeNumber(name);
  if (!ns || !name.empty()) return std::nullopt;
  return NvmeName{*controller, *ns};
}

bool IsNvmePathNode(std::string_view name) {
  return TakePrefix(name, "nvme") && TakeNumber(name) && TakePrefix(name, "c") &&
         TakeNumber(name) && TakePrefix(name, "n") && TakeNumber(name) && name.empty();
}

std::optional<int> ParsePhysicalDrivePath(std::string_view path) {
  constexpr std::string_view prefix = "\\\\.\\PhysicalDrive";
  if (path.size() <= prefix.size() || path.size() > prefix.size() + 4 ||
      path.substr(0, prefix.size()) != prefix) {
    return std::nullopt;
  }
  int value = 0;
  for (char c : path.substr(prefix.size())) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::optional<char> ParseVolumePath(std::string_view path) {
  if (path.size() != 6 || path.substr(0, 4) != "\\\\.\\" || path[5] != ':') return std::nullopt;
  char letter = path[4];
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter < 'A' || letter > 'Z') return std::nullopt;
  return letter;
}

}  // namespace plovix::linuxdev
