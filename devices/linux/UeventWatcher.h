// Watches the kernel's device events and reports the arrival of disks and USB devices.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <thread>

namespace plovix::linuxdev {

// One kernel uevent datagram ("add@/devices/...\0ACTION=add\0SUBSYSTEM=block\0...").
// True for the arrival of a whole disk or of a USB device: the events a user's plugging
// in of a drive produces, without its partitions, interfaces and SCSI nodes.
bool IsArrivalEvent(const char* message, std::size_t length);

// Plugging in one drive brings a burst of events; they are told as one arrival once
// the burst has been quiet for a while.
class ArrivalCoalescer {
 public:
  explicit ArrivalCoalescer(std::uint64_t quiet_ms) : quiet_ms_(quiet_ms) {}
  void Arrived(std::uint64_t now_ms) {
    pending_ = true;
    due_ms_ = now_ms + quiet_ms_;
  }
  // True once per burst, when its quiet time has passed.
  bool Due(std::uint64_t now_ms) {
    if (!pending_ || now_ms < due_ms_) return false;
    pending_ = false;
    return true;
  }
  // Milliseconds until Due turns true, or -1 when nothing is pending.
  int WaitMs(std::uint64_t now_ms) const {
    if (!pending_) return -1;
    return now_ms >= due_ms_ ? 0 : static_cast<int>(due_ms_ - now_ms);
  }

 private:
  std::uint64_t quiet_ms_;
  bool pending_ = false;
  std::uint64_t due_ms_ = 0;
};

class UeventWatcher {
 public:
  // on_arrival runs on the watcher's own thread.
  explicit UeventWatcher(std::function<void()> on_arrival);
  ~UeventWatcher();
  UeventWatcher(const UeventWatcher&) = delete;
  UeventWatcher& operator=(const UeventWatcher&) = delete;

  // Opens the kernel's event socket and starts the thread; false when the socket
  // cannot be had (the program then simply hears of no arrivals).
  bool Start();
  void Stop();

 private:
  void Run();

  std::function<void()> on_arrival_;
  int socket_ = -1;
  int wake_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace plovix::linuxdev
