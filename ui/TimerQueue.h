// The dialogs' timers, for the back ends that keep their own clock (terminal, scripted):
// one queue and one rule for a timer that comes late.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace ui {

class Dialog;

class TimerQueue {
 public:
  struct Fired {
    Dialog* dlg;
    int id;
  };

  // Arming a timer again restarts it: its first tick is a period from now.
  void Set(Dialog& dlg, int id, unsigned period_ms, std::uint64_t now);
  bool Kill(Dialog& dlg, int id);
  void KillAll(Dialog& dlg);

  // When the next timer is due; none when no timer is set. Timers due at the same
  // time fire in the order they were set.
  std::optional<std::uint64_t> NextDue() const;
  // Takes the timer that is due at now or before, if any, and sets its next tick. A
  // timer keeps its period's phase; one that missed whole periods (the clock moved on
  // while nothing fired) fires once, not once per period, and goes on a period from now.
  std::optional<Fired> TakeDue(std::uint64_t now);

 private:
  struct Timer {
    Dialog* dlg;
    int id;
    unsigned period;
    std::uint64_t due;
    std::uint64_t seq;
  };
  int Next() const;
  std::vector<Timer> timers_;
  std::uint64_t next_seq_ = 0;
};

}  // namespace ui
