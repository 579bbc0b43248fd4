#include "ui/TimerQueue.h"

#include <algorithm>

namespace ui {

void TimerQueue::Set(Dialog& dlg, int id, unsigned period_ms, std::uint64_t now) {
  Kill(dlg, id);
  timers_.push_back(Timer{&dlg, id, period_ms, now + period_ms, next_seq_++});
}

bool TimerQueue::Kill(Dialog& dlg, int id) {
  const auto it = std::find_if(timers_.begin(), timers_.end(),
                               [&](const Timer& t) { return t.dlg == &dlg && t.id == id; });
  if (it == timers_.end()) return false;
  timers_.erase(it);
  return true;
}

void TimerQueue::KillAll(Dialog& dlg) {
  std::erase_if(timers_, [&](const Timer& t) { return t.dlg == &dlg; });
}

int TimerQueue::Next() const {
  int best = -1;
  for (std::size_t i = 0; i < timers_.size(); ++i) {
    const Timer& t = timers_[i];
    const Timer* b = best < 0 ? nullptr : &timers_[static_cast<std::size_t>(best)];
    if (b == nullptr || t.due < b->due || (t.due == b->due && t.seq < b->seq)) best = static_cast<int>(i);
  }
  return best;
}

std::optional<std::uint64_t> TimerQueue::NextDue() const {
  const int next = Next();
  if (next < 0) return std::nullopt;
  return timers_[static_cast<std::size_t>(next)].due;
}

std::optional<TimerQueue::Fired> TimerQueue::TakeDue(std::uint64_t now) {
  const int next = Next();
  if (next < 0) return std::nullopt;
  Timer& t = timers_[static_cast<std::size_t>(next)];
  if (t.due > now) return std::nullopt;
  const std::uint64_t period = std::max(1u, t.period);
  t.due += period;
  if (t.due <= now) t.due = now + period;
  return Fired{t.dlg, t.id};
}

}  // namespace ui
