// The text the kernel shows in /proc/self/mountinfo and /proc/swaps, and an overlay
// mount's options.
#include "devices/linux/SysfsLayout.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace plovix::linuxdev {

namespace {

// mountinfo escapes blanks, tabs, newlines and backslashes as \ooo.
std::string Unescape(std::string_view text) {
  std::string out;
  const auto oct = [](char c) { return c >= '0' && c <= '7'; };
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && oct(text[i + 1]) && oct(text[i + 2]) &&
        oct(text[i + 3])) {
      out += static_cast<char>(((text[i + 1] - '0') << 6) | ((text[i + 2] - '0') << 3) |
                               (text[i + 3] - '0'));
      i += 3;
      continue;
    }
    out += text[i];
  }
  return out;
}

}  // namespace

namespace {

// Splits a line into its blank-separated fields.
std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    std::size_t end = at;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
    if (end > at) fields.push_back(line.substr(at, end - at));
    at = end;
  }
  return fields;
}

template <typename Each>
void ForEachLine(std::string_view text, Each each) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    each(text.substr(start, end - start));
    start = end + 1;
  }
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  std::vector<MountEntry> mounts;
  ForEachLine(text, [&mounts](std::string_view line) {
    const auto fields = Fields(line);
    // id parent major:minor root mount-point options [optional...] - type source super
    const auto dash = std::find(fields.begin(), fields.end(), std::string_view("-"));
    if (fields.size() < 6 || dash == fields.end() || dash - fields.begin() < 6 ||
        fields.end() - dash < 3) {
      return;
    }
    MountEntry entry;
    entry.dev = std::string(fields[2]);
    entry.mount_point = Unescape(fields[4]);
    entry.fs_type = std::string(dash[1]);
    entry.source = Unescape(dash[2]);
    if (fields.end() - dash >= 4) entry.super_options = std::string(dash[3]);
    mounts.push_back(std::move(entry));
  });
  return mounts;
}

std::vector<SwapEntry> ParseSwaps(std::string_view text) {
  std::vector<SwapEntry> swaps;
  bool header = true;
  ForEachLine(text, [&](std::string_view line) {
    if (header) {  // "Filename Type Size Used Priority"
      header = false;
      return;
    }
    const auto fields = Fields(line);
    if (fields.size() < 2) return;
    swaps.push_back(SwapEntry{Unescape(fields[0]), std::string(fields[1])});
  });
  return swaps;
}

std::vector<std::string> OverlayLayers(std::string_view super_options) {
  std::vector<std::string> layers;
  // Options are comma-separated; a comma inside a value is shown escaped (\054).
  std::size_t at = 0;
  while (at <= super_options.size()) {
    std::size_t end = super_options.find(',', at);
    if (end == std::string_view::npos) end = super_options.size();
    const std::string_view option = super_options.substr(at, end - at);
    at = end + 1;
    const std::size_t eq = option.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view key = option.substr(0, eq);
    const std::string value = Unescape(option.substr(eq + 1));
    if (key == "upperdir" || key == "workdir" || key == "lowerdir+" || key == "datadir+") {
      if (!value.empty()) layers.push_back(value);
      continue;
    }
    if (key != "lowerdir") continue;
    // Lower layers are separated by ':' ("::" before data-only layers); "\:" is a colon
    // inside a name.
    std::string layer;
    for (std::size_t i = 0; i < value.size(); ++i) {
      if (value[i] == '\\' && i + 1 < value.size()) {
        layer += value[++i];
      } else if (value[i] == ':') {
        if (!layer.empty()) layers.push_back(layer);
        layer.clear();
      } else {
        layer += value[i];
      }
    }
    if (!layer.empty()) layers.push_back(layer);
  }
  return layers;
}

}  // namespace plovix::linuxdev
