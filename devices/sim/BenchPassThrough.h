// One pass-through call on the bench, whatever it carries. The bench notes the
// request, lets an injected fault take it, runs it on the drive under its lock, hands
// back the data and takes as long as the media would. A port says what each step
// means for its transport:
//   Answer                 what the entry point returns
//   Record(impl, handle)   notes the request in the bench's log (the lock is held)
//   Match()                what the faults are matched against
//   Begin()                clears the answer once the fault is known
//   CallFailed(), Refused(), Failed(fault), Lost()   answers that never reach a drive
//   kClockAfterBlock       a blocked command reaches the drive only once released
//   Prepare()              unpacks the request, without the lock
//   Run(impl, handle, now, garbage, work)   runs it under the lock; an answer ends the
//                          call there, else work says what goes back and how long it takes
//   Deliver()              the answer once the data is back and the time has passed
#pragma once

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include "devices/sim/BenchState.h"

namespace plovix::sim::bench_detail {

struct MediaWork {
  std::vector<std::uint8_t> data_in;
  std::uint8_t* buffer = nullptr;  // where data_in goes, room bytes at most
  std::size_t room = 0;
  std::uint64_t units = 0;  // sectors or blocks passed over on the media
  std::uint64_t units_per_second = 0;
};

template <class Port>
typename Port::Answer PassThrough(Bench::Impl& impl, DeviceHandle handle, Port& port) {
  std::uint64_t now = impl.Now();
  std::optional<Fault> fault;
  std::uint64_t generation = 0;
  {
    std::lock_guard lock(impl.mutex);
    auto it = impl.handles.find(handle);
    const Bench::Impl::Handle* h = it == impl.handles.end() ? nullptr : &it->second;
    port.Record(impl, h);
    if (!h) return port.CallFailed();
    fault = impl.TakeFault(h->drive.value_or(-1), port.Match());
    generation = impl.release_generation;
  }
  port.Begin();
  if (fault) {
    switch (fault->effect) {
      case FaultEffect::CallFails:
      case FaultEffect::Timeout:
        return port.CallFailed();
      case FaultEffect::Refused:
        return port.Refused();
      case FaultEffect::AtaError:
      case FaultEffect::CheckCondition:
      case FaultEffect::NvmeError:
        return port.Failed(*fault);
      case FaultEffect::Lost:
        return port.Lost();
      case FaultEffect::Block:
        impl.Block(generation, fault->until_ms);
        if (Port::kClockAfterBlock) now = impl.Now();
        break;
      case FaultEffect::Garbage:
        break;
    }
  }
  const bool garbage = fault && fault->effect == FaultEffect::Garbage;
  port.Prepare();
  MediaWork work;
  {
    std::lock_guard lock(impl.mutex);
    auto it = impl.handles.find(handle);
    if (it == impl.handles.end()) return port.CallFailed();
    if (auto answer = port.Run(impl, it->second, now, garbage, work)) return *answer;
    if (garbage) {
      for (auto& b : work.data_in) b = impl.NextGarbage();
    }
  }
  if (!work.data_in.empty() && work.buffer) {
    std::memcpy(work.buffer, work.data_in.data(), std::min(work.data_in.size(), work.room));
  }
  if (work.units_per_second > 0 && work.units > 0) {
    std::this_thread::sleep_for(
        std::chrono::microseconds(work.units * 1000000 / work.units_per_second));
  }
  return port.Deliver();
}

}  // namespace plovix::sim::bench_detail
