// The one timer queue of the back ends: which timer fires, and when it fires next.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/TimerQueue.h"
#include "ui/Dialog.h"

namespace ui {
namespace {

// Steps on one queue: set a timer ("set id period"), kill one ("kill id"), or take what
// is due at a time ("take now"), noting the id of each timer fired.
struct Case {
  const char* name;
  std::vector<std::string> steps;
  std::vector<std::string> fired;  // ids, in the order taken
  std::uint64_t next_due;          // afterwards; 0: none
};

class TimerQueueRule : public ::testing::TestWithParam<Case> {};

TEST_P(TimerQueueRule, FiresAndRearms) {
  Dialog a(1);  // never shown: only its address counts
  TimerQueue queue;
  std::vector<std::string> fired;
  for (const std::string& step : GetParam().steps) {
    const std::size_t space = step.find(' ');
    const std::string verb = step.substr(0, space);
    const std::string rest = step.substr(space + 1);
    if (verb == "set") {
      const std::size_t at = rest.find(' ');
      queue.Set(a, std::stoi(rest.substr(0, at)), std::stoul(rest.substr(at + 1)), 0);
    } else if (verb == "kill") {
      queue.Kill(a, std::stoi(rest));
    } else {
      while (const auto due = queue.TakeDue(std::stoull(rest))) fired.push_back(std::to_string(due->id));
    }
  }
  EXPECT_EQ(fired, GetParam().fired);
  EXPECT_EQ(queue.NextDue().value_or(0), GetParam().next_due);
}

const Case kCases[] = {
    {"nothing_due_yet", {"set 1 100", "take 99"}, {}, 100},
    {"same_due_in_set_order", {"set 2 100", "set 1 100", "take 100"}, {"2", "1"}, 200},
    {"late_keeps_its_phase", {"set 1 100", "take 130"}, {"1"}, 200},
    {"missed_periods_fire_once", {"set 1 100", "take 450"}, {"1"}, 550},
    {"killed_never_fires", {"set 1 100", "kill 1", "take 500"}, {}, 0},
};

INSTANTIATE_TEST_SUITE_P(Timers, TimerQueueRule, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace ui
