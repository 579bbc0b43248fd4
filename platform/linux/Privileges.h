// Whether the process may send raw commands to drives.
#pragma once

#include <string_view>

namespace plovix::linuxdev {

inline constexpr int kCapSysRawio = 17;

// From the text of /proc/self/status: the effective capability set holds CAP_SYS_RAWIO.
bool HasRawIoCapability(std::string_view proc_status);
// Reads root + "/proc/self/status"; false when it cannot be read.
bool ProcessHasRawIo(const std::string_view root = "");

}  // namespace plovix::linuxdev
