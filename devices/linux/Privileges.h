// Whether the process may send raw commands to drives.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace plovix::linuxdev {

inline constexpr int kCapSysRawio = 17;
inline constexpr int kCapSysAdmin = 21;

// From the text of /proc/self/status: the effective capability set holds `capability`.
bool HasCapability(std::string_view proc_status, int capability);
// The same for CAP_SYS_RAWIO, which SG_IO needs for the program's commands.
bool HasRawIoCapability(std::string_view proc_status);
// Reads root + "/proc/self/status"; false when it cannot be read. The kernel's NVMe
// pass-through wants CAP_SYS_ADMIN.
bool ProcessHasCapability(int capability, std::string_view root = "");
// Reads root + "/proc/self/status"; false when it cannot be read.
bool ProcessHasRawIo(const std::string_view root = "");

// What keeps a process from sending commands to drives, as the sentence that tells the
// user; "" when nothing does. proc_status is the text of its /proc/self/status (nullopt
// when that could not be read); is_root, whether its effective user is root.
std::string RawIoRefusal(std::string_view title, const std::optional<std::string>& proc_status,
                         bool is_root);
// The same for this process.
std::string ProcessRawIoRefusal(std::string_view title);

}  // namespace plovix::linuxdev
