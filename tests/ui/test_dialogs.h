// Small dialogs and templates of the framework tests (ids from 9000 up).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/Backend.h"
#include "ui/Dialog.h"

namespace uitest {

inline constexpr int kProbe = 9000;    // edit, static, progress, list, button "Go", OK, Cancel
inline constexpr int kConfirm = 9001;  // OK, Cancel
inline constexpr int kEdit = 9101;
inline constexpr int kLabel = 9102;
inline constexpr int kBar = 9103;
inline constexpr int kList = 9104;
inline constexpr int kGo = 9105;

inline void AddTestTemplates() {
  ui::DialogTemplate probe;
  probe.id = kProbe;
  probe.caption = "Probe";
  probe.width = 200;
  probe.height = 120;
  probe.controls = {
      {kEdit, ui::Kind::Edit, "", {5, 5, 100, 12}, ui::style::kTabStop | ui::style::kBorder, 0},
      {kLabel, ui::Kind::Static, "label", {5, 20, 100, 8}, 0, 0},
      {kBar, ui::Kind::Progress, "", {5, 30, 100, 10}, ui::style::kBorder, 0},
      {kList, ui::Kind::ListView, "", {5, 45, 190, 40}, ui::style::kReport | ui::style::kTabStop, 0},
      {kGo, ui::Kind::Button, "Go", {5, 100, 50, 14}, ui::style::kTabStop, 0},
      {ui::IDOK, ui::Kind::Button, "OK", {80, 100, 50, 14}, ui::style::kDefButton | ui::style::kTabStop, 0},
      {ui::IDCANCEL, ui::Kind::Button, "Cancel", {140, 100, 50, 14}, ui::style::kTabStop, 0},
  };
  ui::AddTemplate(probe);

  ui::DialogTemplate confirm;
  confirm.id = kConfirm;
  confirm.caption = "Sure?";
  confirm.width = 120;
  confirm.height = 50;
  confirm.controls = {
      {ui::IDOK, ui::Kind::Button, "OK", {10, 30, 40, 14}, ui::style::kDefButton, 0},
      {ui::IDCANCEL, ui::Kind::Button, "Cancel", {60, 30, 40, 14}, 0, 0},
  };
  ui::AddTemplate(confirm);
}

// A dialog whose handlers are set by each test.
class HookDialog : public ui::Dialog {
 public:
  explicit HookDialog(int template_id = kProbe) : Dialog(template_id) { AddTestTemplates(); }

  std::function<void(HookDialog&)> on_init;
  std::function<void(HookDialog&, int)> on_timer;
  std::function<bool(HookDialog&, int)> on_command;  // true: handled
  std::function<void(ui::DataExchange&)> on_exchange;
  std::vector<std::pair<int, int>> notifications;
  std::vector<unsigned> device_events;

  bool OnInitDialog() override {
    Dialog::OnInitDialog();
    if (on_init) on_init(*this);
    return true;
  }
  void DoDataExchange(ui::DataExchange& dx) override {
    if (on_exchange) on_exchange(dx);
  }
  void OnTimer(int timer_id) override {
    if (on_timer) on_timer(*this, timer_id);
  }
  void OnCommand(int id) override {
    if (on_command && on_command(*this, id)) return;
    Dialog::OnCommand(id);
  }
  void OnNotify(int id, int code) override { notifications.emplace_back(id, code); }
  bool OnDeviceChange(unsigned event, std::uintptr_t data) override {
    (void)data;
    device_events.push_back(event);
    return false;
  }
};

}  // namespace uitest
