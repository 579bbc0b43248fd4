// The ncurses back end: each dialog template drawn in character cells.
#pragma once

#include <memory>

#include "ui/Backend.h"

namespace ui::terminal {

class TerminalBackend : public Backend {
 public:
  // Takes over the terminal and installs itself with ui::SetBackend.
  TerminalBackend();
  // Gives the terminal back and restores the previous back end.
  ~TerminalBackend() override;

  void RunModalLoop(Dialog& dlg) override;
  void DialogOpened(Dialog& dlg) override;
  void DialogClosed(Dialog& dlg) override;
  void ControlChanged(Dialog& dlg, Control& control) override;
  void CaptionChanged(Dialog& dlg) override;
  bool SetTimer(Dialog& dlg, int timer_id, unsigned period_ms) override;
  bool KillTimer(Dialog& dlg, int timer_id) override;
  int MessageBox(const std::string& text, const std::string& caption, unsigned type) override;
  void Sleep(unsigned ms) override;
  std::time_t Now() override;
  std::uint64_t TickMs() override;
  void PostDeviceChange(unsigned event) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ui::terminal
