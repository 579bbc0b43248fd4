#include "faces/scripted/ScriptedBackend.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace ui::scripted {

namespace {

// Real time for the other threads to move. The Windows C runtime sleeps whole
// milliseconds and turns a shorter sleep into none at all, so there the time is spent
// yielding instead.
void RealPause(std::chrono::microseconds d) {
#ifdef _WIN32
  const auto end = std::chrono::steady_clock::now() + d;
  do {
    std::this_thread::yield();
  } while (std::chrono::steady_clock::now() < end);
#else
  std::this_thread::sleep_for(d);
#endif
}

bool HasCancelButton(unsigned type) { return (type & 0x0F) == MB_OKCANCEL; }

// The window a wait is for: a dialog, or a message box.
struct Window {
  Dialog* dlg = nullptr;
  std::string box_text;
  unsigned box_type = 0;
  int box_answer = 0;

  bool Done() const { return dlg != nullptr ? dlg->end_requested() : box_answer != 0; }
  std::string Describe() const {
    if (dlg != nullptr) {
      return "dialog " + std::to_string(dlg->template_id()) + " '" + dlg->caption() + "'";
    }
    return "message box '" + box_text + "'";
  }
};

// What a step's actions may ask of the back end.
class Engine {
 public:
  virtual ~Engine() = default;
  virtual void Fail(const std::string& message) = 0;
  virtual bool Cancelling() const = 0;
  virtual void Advance(unsigned ms, Window& w) = 0;
  virtual void AdvanceUntilClosed(unsigned max_ms, Window& w,
                                  const std::function<void(Dialog&)>* each = nullptr,
                                  unsigned every_ms = 0) = 0;
  virtual void Post(unsigned event) = 0;
  virtual Dialog* TopDialog() const = 0;
};

using Action = std::function<void(Engine&, Window&)>;

std::function<void(const std::string&)>& DefaultHandler() {
  static std::function<void(const std::string&)> handler;
  return handler;
}

ListCtrl* FindList(Engine& engine, Window& w, int list_id, int line, const char* what) {
  if (w.dlg == nullptr) {
    engine.Fail(std::string(what) + " does not apply to " + w.Describe());
    return nullptr;
  }
  auto* list = dynamic_cast<ListCtrl*>(w.dlg->GetDlgItem(list_id));
  if (list == nullptr) {
    engine.Fail(w.Describe() + " has no list " + std::to_string(list_id));
    return nullptr;
  }
  if (line < 0 || line >= list->GetItemCount()) {
    engine.Fail(w.Describe() + ": list " + std::to_string(list_id) + " has no line " +
                std::to_string(line));
    return nullptr;
  }
  return list;
}

void SelectOnly(ListCtrl& list, int line) {
  list.SetItemState(-1, 0, LVIS_SELECTED | LVIS_FOCUSED);
  list.SetItemState(line, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

}  // namespace

struct Step::Impl {
  bool box = false;
  bool prefix = false;  // a box whose text begins with text
  int template_id = 0;
  std::string text;
  std::vector<Action> actions;

  std::string Describe() const {
    return box ? "message box '" + text + "'" : "dialog " + std::to_string(template_id);
  }
  bool Fits(const Window& w) const {
    if (box) return w.dlg == nullptr && (prefix ? w.box_text.starts_with(text) : w.box_text == text);
    return w.dlg != nullptr && w.dlg->template_id() == template_id;
  }
};

Step& Step::Do(std::function<void(Dialog&)> f) {
  impl_->actions.push_back([f = std::move(f)](Engine& engine, Window& w) {
    Dialog* target = w.dlg != nullptr ? w.dlg : engine.TopDialog();
    if (target == nullptr) {
      engine.Fail("Do() has no dialog beneath " + w.Describe());
      return;
    }
    f(*target);
  });
  return *this;
}

Step& Step::Press(int control_id) {
  impl_->actions.push_back([control_id](Engine& engine, Window& w) {
    if (w.dlg == nullptr) {
      if (control_id == IDOK || (control_id == IDCANCEL && HasCancelButton(w.box_type))) {
        w.box_answer = control_id;
      } else {
        engine.Fail(w.Describe() + " has no button " + std::to_string(control_id));
      }
      return;
    }
    if (w.dlg->GetDlgItem(control_id) == nullptr && control_id != IDOK && control_id != IDCANCEL) {
      engine.Fail(w.Describe() + " has no control " + std::to_string(control_id));
      return;
    }
    w.dlg->OnCommand(control_id);
  });
  return *this;
}

Step& Step::Escape() {
  impl_->actions.push_back([](Engine&, Window& w) {
    if (w.dlg == nullptr) {
      // A box without a Cancel button answers Escape with its OK.
      w.box_answer = HasCancelButton(w.box_type) ? IDCANCEL : IDOK;
      return;
    }
    w.dlg->OnCancel();
  });
  return *this;
}

Step& Step::CloseBox() {
  impl_->actions.push_back([](Engine&, Window& w) {
    if (w.dlg == nullptr) {
      w.box_answer = HasCancelButton(w.box_type) ? IDCANCEL : IDOK;
      return;
    }
    w.dlg->OnSysCommand(SC_CLOSE);
  });
  return *this;
}

Step& Step::Check(int list_id, int line, bool checked) {
  impl_->actions.push_back([=](Engine& engine, Window& w) {
    ListCtrl* list = FindList(engine, w, list_id, line, "Check()");
    if (list == nullptr) return;
    if ((list->GetExtendedStyle() & LVS_EX_CHECKBOXES) == 0) {
      engine.Fail(w.Describe() + ": list " + std::to_string(list_id) + " has no check boxes");
      return;
    }
    list->SetCheck(line, checked);
  });
  return *this;
}

Step& Step::Select(int list_id, int line) {
  impl_->actions.push_back([=](Engine& engine, Window& w) {
    ListCtrl* list = FindList(engine, w, list_id, line, "Select()");
    if (list != nullptr) SelectOnly(*list, line);
  });
  return *this;
}

Step& Step::DoubleClick(int list_id, int line) {
  impl_->actions.push_back([=](Engine& engine, Window& w) {
    ListCtrl* list = FindList(engine, w, list_id, line, "DoubleClick()");
    if (list == nullptr) return;
    SelectOnly(*list, line);
    w.dlg->OnNotify(list_id, NM_DBLCLK);
  });
  return *this;
}

Step& Step::SystemCommand(int command) {
  impl_->actions.push_back([command](Engine& engine, Window& w) {
    if (w.dlg == nullptr) {
      engine.Fail("SystemCommand() does not apply to " + w.Describe());
      return;
    }
    w.dlg->OnSysCommand(command);
  });
  return *this;
}

Step& Step::DeviceArrival() {
  impl_->actions.push_back([](Engine& engine, Window&) { engine.Post(DBT_DEVICEARRIVAL); });
  return *this;
}

Step& Step::Advance(unsigned ms) {
  impl_->actions.push_back([ms](Engine& engine, Window& w) { engine.Advance(ms, w); });
  return *this;
}

Step& Step::AdvanceUntilClosed(unsigned max_ms) {
  impl_->actions.push_back(
      [max_ms](Engine& engine, Window& w) { engine.AdvanceUntilClosed(max_ms, w); });
  return *this;
}

Step& Step::AdvanceUntilClosed(unsigned max_ms, unsigned every_ms,
                               std::function<void(Dialog&)> each) {
  impl_->actions.push_back([=, each = std::move(each)](Engine& engine, Window& w) {
    engine.AdvanceUntilClosed(max_ms, w, &each, std::max(1u, every_ms));
  });
  return *this;
}

struct ScriptedBackend::Impl : Engine {
  explicit Impl(ScriptedBackend& backend) : self(backend) {}

  ScriptedBackend& self;
  Backend* previous = nullptr;
  std::deque<Step> steps;
  std::vector<Window*> windows;   // waiting windows, bottom first
  std::vector<Dialog*> dialogs;   // open dialogs, bottom first
  TimerQueue timers;
  bool cancelling = false;
  std::function<void(const std::string&)> handler;
  std::mutex posted_mutex;
  std::vector<unsigned> posted;

  void Fail(const std::string& message) override {
    self.failed_ = true;
    if (handler) {
      handler(message);
    } else if (DefaultHandler()) {
      DefaultHandler()(message);
    } else {
      std::fprintf(stderr, "scripted ui: %s\n", message.c_str());
    }
    if (cancelling) return;
    cancelling = true;
    // Close everything, top first, so the program runs to its end.
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) CancelWindow(**it);
    for (auto it = dialogs.rbegin(); it != dialogs.rend(); ++it) {
      if (!(*it)->end_requested()) (*it)->OnCancel();
    }
  }

  bool Cancelling() const override { return cancelling; }
  Dialog* TopDialog() const override { return dialogs.empty() ? nullptr : dialogs.back(); }

  static void CancelWindow(Window& w) {
    if (w.Done()) return;
    if (w.dlg != nullptr) {
      w.dlg->OnCancel();
    } else {
      w.box_answer = IDCANCEL;
    }
  }

  std::uint64_t Tick() const { return self.TickMs(); }

  void RaiseTick(std::uint64_t to) {
    if (self.real_time_) std::this_thread::sleep_until(self.real_zero_ + std::chrono::milliseconds(to));
    std::uint64_t now = self.tick_ms_.load();
    while (now < to && !self.tick_ms_.compare_exchange_weak(now, to)) {
    }
  }

  void Advance(unsigned ms, Window& w) override {
    const std::uint64_t target = Tick() + ms;
    while (!w.Done()) {
      const std::optional<std::uint64_t> due = timers.NextDue();
      if (!due || *due > target) {
        RaiseTick(target);
        return;
      }
      RaiseTick(*due);
      const std::optional<TimerQueue::Fired> fired = timers.TakeDue(Tick());
      // May open nested windows that fire timers themselves.
      if (fired) fired->dlg->OnTimer(fired->id);
    }
  }

  void AdvanceUntilClosed(unsigned max_ms, Window& w, const std::function<void(Dialog&)>* each,
                          unsigned every_ms) override {
    const std::uint64_t deadline = Tick() + max_ms;
    std::uint64_t next_each = Tick() + every_ms;
    while (!w.Done()) {
      if (each != nullptr && w.dlg != nullptr && Tick() >= next_each) {
        (*each)(*w.dlg);
        next_each = Tick() + every_ms;
      }
      const std::uint64_t now = Tick();
      if (now >= deadline) {
        Fail(w.Describe() + " still open after " + std::to_string(max_ms) + " ms");
        return;
      }
      // Worker threads get a moment to finish what the next tick will look at.
      RealPause(std::chrono::microseconds(500));
      std::uint64_t step = deadline - now;
      if (each != nullptr) step = std::min(step, next_each > now ? next_each - now : 1);
      if (const std::optional<std::uint64_t> due = timers.NextDue()) {
        step = *due > now ? std::min(step, *due - now) : 0;
      } else {
        step = std::min<std::uint64_t>(step, 100);
      }
      Advance(static_cast<unsigned>(step), w);
    }
  }

  void Post(unsigned event) override {
    std::lock_guard<std::mutex> lock(posted_mutex);
    posted.push_back(event);
  }

  void DeliverPosted() {
    std::vector<unsigned> events;
    {
      std::lock_guard<std::mutex> lock(posted_mutex);
      events.swap(posted);
    }
    for (unsigned event : events) {
      if (!dialogs.empty()) dialogs.front()->OnDeviceChange(event, 0);
    }
  }

  void Wait(Window& w) {
    windows.push_back(&w);
    int cancel_rounds = 0;
    while (!w.Done()) {
      DeliverPosted();
      if (w.Done()) break;
      if (cancelling) {
        // A dialog that will not close at once (a worker still running) gets time.
        if (cancel_rounds++ < 1000) {
          CancelWindow(w);
          if (!w.Done()) AdvanceToNextTimer(w);
        } else if (w.dlg != nullptr) {
          w.dlg->EndDialog(IDCANCEL);
        }
        continue;
      }
      if (steps.empty()) {
        Fail(w.Describe() + " left unanswered");
        continue;
      }
      Step step = steps.front();
      if (!step.impl_->Fits(w)) {
        Fail("expected " + step.impl_->Describe() + " but " + w.Describe() + " is on top");
        continue;
      }
      steps.pop_front();
      for (auto& action : step.impl_->actions) {
        if (cancelling) break;
        action(*this, w);
      }
    }
    windows.erase(std::find(windows.begin(), windows.end(), &w));
  }

  void AdvanceToNextTimer(Window& w) {
    RealPause(std::chrono::microseconds(500));
    const std::optional<std::uint64_t> due = timers.NextDue();
    const std::uint64_t now = Tick();
    if (!due) {
      Advance(100, w);
      return;
    }
    Advance(static_cast<unsigned>(*due > now ? *due - now : 0), w);
  }

  Step& NewStep(bool box, int template_id, const std::string& text, bool first = false) {
    Step step;
    step.impl_ = std::make_shared<Step::Impl>();
    step.impl_->box = box;
    step.impl_->template_id = template_id;
    step.impl_->text = text;
    if (first) {
      steps.push_front(std::move(step));
      return steps.front();
    }
    steps.push_back(std::move(step));
    return steps.back();
  }
};

ScriptedBackend::ScriptedBackend(std::time_t start_time)
    : impl_(std::make_unique<Impl>(*this)), start_time_(start_time) {
  impl_->previous = HasBackend() ? &GetBackend() : nullptr;
  SetBackend(this);
}

ScriptedBackend::~ScriptedBackend() { SetBackend(impl_->previous); }

Step& ScriptedBackend::Expect(int template_id) { return impl_->NewStep(false, template_id, {}); }

Step& ScriptedBackend::ExpectMessageBox(const std::string& text) {
  return impl_->NewStep(true, 0, text);
}

Step& ScriptedBackend::ExpectMessageBoxNext(const std::string& text) {
  return impl_->NewStep(true, 0, text, true);
}

Step& ScriptedBackend::ExpectMessageBoxStarting(const std::string& text) {
  Step& step = impl_->NewStep(true, 0, text);
  step.impl_->prefix = true;
  return step;
}

void ScriptedBackend::SetFailureHandler(std::function<void(const std::string&)> handler) {
  impl_->handler = std::move(handler);
}

void ScriptedBackend::SetDefaultFailureHandler(std::function<void(const std::string&)> handler) {
  DefaultHandler() = std::move(handler);
}

std::size_t ScriptedBackend::pending_steps() const { return impl_->steps.size(); }

std::vector<Dialog*> ScriptedBackend::open_dialogs() const { return impl_->dialogs; }

void ScriptedBackend::AdvanceClock(unsigned ms) {
  if (real_time_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return;
  }
  tick_ms_.fetch_add(ms);
}

void ScriptedBackend::FollowRealTime() {
  real_time_ = true;
  real_zero_ = std::chrono::steady_clock::now() - std::chrono::milliseconds(tick_ms_.load());
}

void ScriptedBackend::RunModalLoop(Dialog& dlg) {
  shown_.push_back(ShownDialog{dlg.template_id(), dlg.caption()});
  Window w;
  w.dlg = &dlg;
  impl_->Wait(w);
}

void ScriptedBackend::DialogOpened(Dialog& dlg) {
  impl_->dialogs.push_back(&dlg);
  opened_.push_back(dlg.template_id());
}

void ScriptedBackend::DialogClosed(Dialog& dlg) {
  auto& dialogs = impl_->dialogs;
  dialogs.erase(std::remove(dialogs.begin(), dialogs.end(), &dlg), dialogs.end());
  impl_->timers.KillAll(dlg);
}

bool ScriptedBackend::SetTimer(Dialog& dlg, int timer_id, unsigned period_ms) {
  impl_->timers.Set(dlg, timer_id, period_ms, TickMs());
  return true;
}

bool ScriptedBackend::KillTimer(Dialog& dlg, int timer_id) { return impl_->timers.Kill(dlg, timer_id); }

int ScriptedBackend::MessageBox(const std::string& text, const std::string& caption,
                                unsigned type) {
  const std::size_t index = boxes_.size();
  boxes_.push_back(ShownMessageBox{text, caption, type, 0});
  Window w;
  w.box_text = text;
  w.box_type = type;
  impl_->Wait(w);
  boxes_[index].answer = w.box_answer;
  return w.box_answer;
}

void ScriptedBackend::Sleep(unsigned ms) {
  AdvanceClock(ms);  // a real wait once the clock is the real one
  // Real time is what lets the other threads move.
  RealPause(std::chrono::microseconds(100));
}

std::time_t ScriptedBackend::Now() {
  return start_time_ + static_cast<std::time_t>(TickMs() / 1000);
}

std::uint64_t ScriptedBackend::TickMs() const {
  const std::uint64_t tick = tick_ms_.load();
  if (!real_time_) return tick;
  const auto real = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - real_zero_);
  return std::max(tick, static_cast<std::uint64_t>(real.count()));
}

std::uint64_t ScriptedBackend::TickMs() { return std::as_const(*this).TickMs(); }

void ScriptedBackend::PostDeviceChange(unsigned event) { impl_->Post(event); }

}  // namespace ui::scripted
