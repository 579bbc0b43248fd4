#include "faces/terminal/TerminalBackend.h"

#include <curses.h>
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "faces/terminal/Canvas.h"
#include "faces/terminal/Input.h"
#include "faces/terminal/Render.h"
#include "ui/TimerQueue.h"

namespace ui::terminal {

namespace {

struct BoxWindow {
  BoxState state;
  int answer = 0;
};

// One window on the screen, bottom first.
struct Layer {
  Dialog* dlg = nullptr;
  BoxWindow* box = nullptr;
  bool Done() const { return dlg != nullptr ? dlg->end_requested() : box->answer != 0; }
};

struct Input {
  enum class Type { None, Key, Click, DoubleClick, Wheel, Resize } type = Type::None;
  KeyEvent key;
  int x = 0;
  int y = 0;
  int lines = 0;
};

short CursesColor(Ink ink) {
  switch (ink) {
    case Ink::Black: return COLOR_BLACK;
    case Ink::Red: return COLOR_RED;
    case Ink::Green: return COLOR_GREEN;
    case Ink::Yellow: return COLOR_YELLOW;
    case Ink::Blue: return COLOR_BLUE;
    case Ink::Magenta: return COLOR_MAGENTA;
    case Ink::Cyan: return COLOR_CYAN;
    case Ink::White: return COLOR_WHITE;
    case Ink::Default: break;
  }
  return -1;
}

}  // namespace

struct TerminalBackend::Impl {
  Backend* previous = nullptr;
  std::vector<Layer> layers;
  std::map<Dialog*, DialogView> views;
  TimerQueue timers;
  int pipe_r = -1;
  int pipe_w = -1;
  std::mutex posted_mutex;
  std::vector<unsigned> posted;
  Canvas canvas;
  bool dirty = true;
  bool colors = false;
  bool too_small = false;  // the screen shows only how big it must be: nothing to click
  std::map<std::pair<short, short>, short> pairs;
  short next_pair = 1;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

  std::uint64_t Tick() const {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count());
  }

  short Pair(Ink fg, Ink bg) {
    if (!colors || (fg == Ink::Default && bg == Ink::Default)) return 0;
    const auto key = std::make_pair(CursesColor(fg), CursesColor(bg));
    auto it = pairs.find(key);
    if (it != pairs.end()) return it->second;
    if (next_pair >= COLOR_PAIRS) return 0;
    init_pair(next_pair, key.first, key.second);
    pairs.emplace(key, next_pair);
    return next_pair++;
  }

  void Render() {
    int rows = 0;
    int cols = 0;
    getmaxyx(stdscr, rows, cols);
    if (canvas.width() != cols || canvas.height() != rows) canvas.Resize(cols, rows);
    std::vector<ScreenLayer> screen;
    for (const Layer& layer : layers) {
      if (layer.dlg != nullptr) {
        screen.push_back(ScreenLayer{layer.dlg, &views[layer.dlg], nullptr});
      } else {
        screen.push_back(ScreenLayer{nullptr, nullptr, &layer.box->state});
      }
    }
    too_small = !DrawScreen(canvas, screen);
    for (int y = 0; y < rows; ++y) {
      for (int x = 0; x < cols; ++x) {
        const Cell& cell = canvas.At(x, y);
        if (cell.glyph.empty()) continue;
        attr_t a = A_NORMAL;
        if (cell.attr.bold) a |= A_BOLD;
        if (cell.attr.reverse) a |= A_REVERSE;
        if (cell.attr.underline) a |= A_UNDERLINE;
        if (cell.attr.dim) a |= A_DIM;
        attr_set(a, Pair(cell.attr.fg, cell.attr.bg), nullptr);
        mvaddstr(y, x, cell.glyph.c_str());
      }
    }
    attr_set(A_NORMAL, 0, nullptr);
    refresh();
    dirty = false;
  }

  void FireTimers(const Layer& top) {
    while (!top.Done()) {
      const std::optional<TimerQueue::Fired> fired = timers.TakeDue(Tick());
      if (!fired) return;
      dirty = true;
      fired->dlg->OnTimer(fired->id);
    }
  }

  int Timeout() const {
    const std::optional<std::uint64_t> next = timers.NextDue();
    if (!next) return 1000;
    const std::uint64_t due = *next;
    const std::uint64_t now = Tick();
    return due <= now ? 0 : static_cast<int>(std::min<std::uint64_t>(due - now, 1000));
  }

  void DeliverPosted() {
    std::vector<unsigned> events;
    {
      std::lock_guard<std::mutex> lock(posted_mutex);
      events.swap(posted);
    }
    for (unsigned event : events) {
      for (const auto& layer : layers) {
        if (layer.dlg != nullptr) {
          layer.dlg->OnDeviceChange(event, 0);
          dirty = true;
          break;
        }
      }
    }
  }

  std::optional<KeyEvent> KeyFromCode(int code) {
    switch (code) {
      case KEY_BTAB: return KeyEvent{Key::BackTab};
      case KEY_ENTER: return KeyEvent{Key::Enter};
      case KEY_UP: return KeyEvent{Key::Up};
      case KEY_DOWN: return KeyEvent{Key::Down};
      case KEY_LEFT: return KeyEvent{Key::Left};
      case KEY_RIGHT: return KeyEvent{Key::Right};
      case KEY_PPAGE: return KeyEvent{Key::PageUp};
      case KEY_NPAGE: return KeyEvent{Key::PageDown};
      case KEY_HOME: return KeyEvent{Key::Home};
      case KEY_END: return KeyEvent{Key::End};
      case KEY_BACKSPACE: return KeyEvent{Key::Backspace};
      default: break;
    }
    if (code == KEY_F(10)) return KeyEvent{Key::Menu};
    return std::nullopt;
  }

  std::optional<KeyEvent> KeyFromChar(wint_t ch) {
    switch (ch) {
      case L'\t': return KeyEvent{Key::Tab};
      case L'\n':
      case L'\r': return KeyEvent{Key::Enter};
      case L' ': return KeyEvent{Key::Space};
      case 8:
      case 127: return KeyEvent{Key::Backspace};
      case 27: {
        // A sequence the terminal's description does not know arrives as Escape and the
        // rest (Home from a terminal inside tmux); Alt+Space as Escape and a blank.
        std::string rest;
        while (!EscapeComplete(rest)) {
          wint_t next = 0;
          if (wget_wch(stdscr, &next) != OK) break;  // nothing more, or a key of its own
          rest.push_back(next < 0x80 ? static_cast<char>(next) : '?');
        }
        if (rest.empty()) return KeyEvent{Key::Escape};
        return DecodeEscape(rest);
      }
      default: break;
    }
    if (ch >= 0x20) return KeyEvent{Key::Char, static_cast<char32_t>(ch)};
    return std::nullopt;
  }

  // One pending input, or Type::None when there is none.
  Input Read() {
    Input in;
    wint_t ch = 0;
    const int r = wget_wch(stdscr, &ch);
    if (r == ERR) return in;
    in.type = Input::Type::Resize;  // anything unknown still asks for a redraw
    if (r == KEY_CODE_YES) {
      if (ch == KEY_RESIZE) return in;
      if (ch == KEY_MOUSE) {
        MEVENT ev{};
        if (getmouse(&ev) != OK) return in;
        in.x = ev.x;
        in.y = ev.y;
        if ((ev.bstate & BUTTON1_DOUBLE_CLICKED) != 0) {
          in.type = Input::Type::DoubleClick;
        } else if ((ev.bstate & (BUTTON1_CLICKED | BUTTON1_RELEASED)) != 0) {
          in.type = Input::Type::Click;
        } else if ((ev.bstate & BUTTON4_PRESSED) != 0) {
          in.type = Input::Type::Wheel;
          in.lines = -3;
#ifdef BUTTON5_PRESSED
        } else if ((ev.bstate & BUTTON5_PRESSED) != 0) {
          in.type = Input::Type::Wheel;
          in.lines = 3;
#endif
        }
        return in;
      }
      if (auto key = KeyFromCode(static_cast<int>(ch))) {
        in.type = Input::Type::Key;
        in.key = *key;
      }
      return in;
    }
    if (auto key = KeyFromChar(ch)) {
      in.type = Input::Type::Key;
      in.key = *key;
    }
    return in;
  }

  void Handle(Layer& top, const Input& in) {
    dirty = true;
    if (in.type == Input::Type::Resize || in.type == Input::Type::None) return;
    if (too_small && in.type != Input::Type::Key) return;
    if (top.box != nullptr) {
      int answer = 0;
      if (in.type == Input::Type::Key) answer = HandleBoxKey(top.box->state, in.key);
      if (in.type == Input::Type::Click || in.type == Input::Type::DoubleClick) {
        answer = HandleBoxClick(top.box->state, canvas.width(), canvas.height(), in.x, in.y);
      }
      top.box->answer = answer;
      return;
    }
    DialogView& view = views[top.dlg];
    switch (in.type) {
      case Input::Type::Key: HandleDialogKey(*top.dlg, view, in.key); break;
      case Input::Type::Click: HandleDialogClick(*top.dlg, view, in.x, in.y, false); break;
      case Input::Type::DoubleClick: HandleDialogClick(*top.dlg, view, in.x, in.y, true); break;
      case Input::Type::Wheel: HandleDialogWheel(*top.dlg, view, in.x, in.y, in.lines); break;
      default: break;
    }
  }

  void Wait(Layer top) {
    while (!top.Done()) {
      DeliverPosted();
      if (top.Done()) break;
      FireTimers(top);
      if (top.Done()) break;
      if (dirty) Render();
      pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {pipe_r, POLLIN, 0}};
      poll(fds, 2, Timeout());  // an interrupted wait (resize) just goes round again
      if ((fds[1].revents & POLLIN) != 0) {
        char drain[64];
        while (read(pipe_r, drain, sizeof drain) > 0) {
        }
      }
      while (!top.Done()) {
        const Input in = Read();
        if (in.type == Input::Type::None) break;
        Handle(top, in);
      }
    }
    dirty = true;
  }
};

TerminalBackend::TerminalBackend() : impl_(std::make_unique<Impl>()) {
  std::setlocale(LC_ALL, "");
  UseUtf8Glyphs(std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0);
  initscr();
  cbreak();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  nodelay(stdscr, TRUE);
  set_escdelay(25);
  curs_set(0);
  mousemask(BUTTON1_CLICKED | BUTTON1_DOUBLE_CLICKED | BUTTON4_PRESSED
#ifdef BUTTON5_PRESSED
                | BUTTON5_PRESSED
#endif
            ,
            nullptr);
  UseSendableKeys(SendableFromDescription(
      [](const char* name) -> const char* {
        const char* s = tigetstr(name);
        return reinterpret_cast<std::intptr_t>(s) == -1 ? nullptr : s;
      },
      tigetflag("km") > 0));
  if (has_colors()) {
    start_color();
    use_default_colors();
    impl_->colors = true;
  }
  int fds[2] = {-1, -1};
  if (pipe(fds) == 0) {
    for (int fd : fds) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
      fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    impl_->pipe_r = fds[0];
    impl_->pipe_w = fds[1];
  }
  impl_->previous = HasBackend() ? &GetBackend() : nullptr;
  SetBackend(this);
}

TerminalBackend::~TerminalBackend() {
  endwin();
  if (impl_->pipe_r >= 0) close(impl_->pipe_r);
  if (impl_->pipe_w >= 0) close(impl_->pipe_w);
  SetBackend(impl_->previous);
}

void TerminalBackend::RunModalLoop(Dialog& dlg) {
  DialogView& view = impl_->views[&dlg];
  if (view.focus < 0) view.focus = InitialFocus(dlg);
  Layer top;
  top.dlg = &dlg;
  impl_->Wait(top);
}

void TerminalBackend::DialogOpened(Dialog& dlg) {
  impl_->layers.push_back(Layer{&dlg, nullptr});
  impl_->views[&dlg] = DialogView{};
  impl_->dirty = true;
}

void TerminalBackend::DialogClosed(Dialog& dlg) {
  auto& layers = impl_->layers;
  layers.erase(std::remove_if(layers.begin(), layers.end(), [&](const Layer& l) { return l.dlg == &dlg; }),
               layers.end());
  impl_->views.erase(&dlg);
  impl_->timers.KillAll(dlg);
  impl_->dirty = true;
}

void TerminalBackend::ControlChanged(Dialog& dlg, Control& control) {
  (void)dlg;
  (void)control;
  impl_->dirty = true;
}

void TerminalBackend::CaptionChanged(Dialog& dlg) {
  (void)dlg;
  impl_->dirty = true;
}

bool TerminalBackend::SetTimer(Dialog& dlg, int timer_id, unsigned period_ms) {
  impl_->timers.Set(dlg, timer_id, period_ms, impl_->Tick());
  return true;
}

bool TerminalBackend::KillTimer(Dialog& dlg, int timer_id) { return impl_->timers.Kill(dlg, timer_id); }

int TerminalBackend::MessageBox(const std::string& text, const std::string& caption, unsigned type) {
  BoxWindow box;
  box.state.text = text;
  box.state.caption = caption;
  box.state.type = type;
  impl_->layers.push_back(Layer{nullptr, &box});
  impl_->dirty = true;
  impl_->Wait(Layer{nullptr, &box});
  auto& layers = impl_->layers;
  layers.erase(std::remove_if(layers.begin(), layers.end(), [&](const Layer& l) { return l.box == &box; }),
               layers.end());
  impl_->dirty = true;
  return box.answer;
}

void TerminalBackend::Sleep(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::time_t TerminalBackend::Now() { return std::time(nullptr); }

std::uint64_t TerminalBackend::TickMs() { return impl_->Tick(); }

void TerminalBackend::PostDeviceChange(unsigned event) {
  {
    std::lock_guard<std::mutex> lock(impl_->posted_mutex);
    impl_->posted.push_back(event);
  }
  if (impl_->pipe_w >= 0) {
    const char wake = 1;
    [[maybe_unused]] const auto written = write(impl_->pipe_w, &wake, 1);
  }
}

}  // namespace ui::terminal
