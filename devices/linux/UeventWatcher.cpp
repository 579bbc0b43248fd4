#include "devices/linux/UeventWatcher.h"

#include <fcntl.h>
#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>

namespace plovix::linuxdev {

namespace {

// USB storage waits a second before it scans the drive (usb-storage delay_use), so the
// disk arrives well after its USB device; three quiet seconds cover both.
constexpr std::uint64_t kQuietMs = 3000;

std::uint64_t SteadyMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

}  // namespace

bool IsArrivalEvent(const char* message, std::size_t length) {
  if (message == nullptr) return false;
  std::string_view action, subsystem, devtype;
  std::size_t at = 0;
  while (at < length) {
    const void* nul = std::memchr(message + at, '\0', length - at);
    const std::size_t end = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - message)
                                : length;
    const std::string_view field(message + at, end - at);
    if (field.rfind("ACTION=", 0) == 0) action = field.substr(7);
    if (field.rfind("SUBSYSTEM=", 0) == 0) subsystem = field.substr(10);
    if (field.rfind("DEVTYPE=", 0) == 0) devtype = field.substr(8);
    at = end + 1;
  }
  if (action != "add") return false;
  if (subsystem == "block") return devtype == "disk";
  if (subsystem == "usb") return devtype == "usb_device";
  return false;
}

UeventWatcher::UeventWatcher(std::function<void()> on_arrival)
    : on_arrival_(std::move(on_arrival)) {}

UeventWatcher::~UeventWatcher() { Stop(); }

bool UeventWatcher::Start() {
  if (thread_.joinable()) return true;
  socket_ = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
  if (socket_ < 0) return false;
  sockaddr_nl address;
  std::memset(&address, 0, sizeof address);
  address.nl_family = AF_NETLINK;
  address.nl_groups = 1;  // the kernel's own broadcast group
  if (::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::pipe2(wake_, O_CLOEXEC) != 0) {
    ::close(socket_);
    socket_ = -1;
    return false;
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

void UeventWatcher::Stop() {
  if (thread_.joinable()) {
    const char byte = 0;
    (void)!::write(wake_[1], &byte, 1);
    thread_.join();
  }
  for (int* fd : {&socket_, &wake_[0], &wake_[1]}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

void UeventWatcher::Run() {
  ArrivalCoalescer coalescer(kQuietMs);
  char buffer[8192];
  for (;;) {
    pollfd fds[2] = {{socket_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    const int ready = ::poll(fds, 2, coalescer.WaitMs(SteadyMs()));
    if (ready < 0 && errno != EINTR) return;
    if (fds[1].revents != 0) return;
    if (ready > 0 && (fds[0].revents & POLLIN)) {
      const ssize_t got = ::recv(socket_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (got > 0 && IsArrivalEvent(buffer, static_cast<std::size_t>(got))) {
        coalescer.Arrived(SteadyMs());
      }
    }
    if (coalescer.Due(SteadyMs())) on_arrival_();
  }
}

}  // namespace plovix::linuxdev
