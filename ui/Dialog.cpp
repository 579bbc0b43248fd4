#include "ui/Dialog.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "ui/Backend.h"

namespace ui {

namespace {

std::vector<Dialog*>& Stack() {
  static std::vector<Dialog*> stack;
  return stack;
}

// Timers armed by each open dialog, so that closing it stops them all.
std::map<const Dialog*, std::set<int>>& Timers() {
  static std::map<const Dialog*, std::set<int>> timers;
  return timers;
}

// Stand-ins handed out when a dialog asks for a list or bar it does not have: a
// programming error, reported once per control, that must not bring the program down.
std::map<const Dialog*, std::vector<std::unique_ptr<Control>>>& Orphans() {
  static std::map<const Dialog*, std::vector<std::unique_ptr<Control>>> orphans;
  return orphans;
}

template <class T>
T& Orphan(Dialog& dlg, int id, Kind kind, const char* what) {
  auto& mine = Orphans()[&dlg];
  for (auto& control : mine) {
    if (control->id() == id && control->kind() == kind) return static_cast<T&>(*control);
  }
  std::fprintf(stderr, "dialog %d has no %s with id %d\n", dlg.template_id(), what, id);
  mine.push_back(std::make_unique<T>(dlg, id, kind, std::string(), Rect{}, 0u, 0));
  return static_cast<T&>(*mine.back());
}

}  // namespace

std::vector<Dialog*> OpenDialogs() { return Stack(); }

std::string TruncateChars(const std::string& text, std::size_t max_chars) {
  if (max_chars == 0) return text;
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte & 0xC0) == 0x80) continue;  // continuation byte
    if (chars == max_chars) return text.substr(0, i);
    ++chars;
  }
  return text;
}

void DataExchange::Text(int id, std::string& value, std::size_t max_chars) {
  Control* control = dialog_.GetDlgItem(id);
  if (control == nullptr) return;
  if (max_chars != 0) control->SetLimitText(max_chars);
  if (save_) {
    value = TruncateChars(control->text(), max_chars);
  } else if (control->text() != value) {
    control->SetText(value);
  }
}

Dialog::Dialog(int template_id) : template_id_(template_id) {}

Dialog::~Dialog() {
  auto& stack = Stack();
  stack.erase(std::remove(stack.begin(), stack.end(), this), stack.end());
  Timers().erase(this);
  Orphans().erase(this);
}

int Dialog::DoModal() {
  template_ = FindTemplate(template_id_);
  if (template_ == nullptr || !HasBackend()) return -1;
  Backend& backend = GetBackend();
  caption_ = template_->caption;
  system_menu_.clear();  // every window starts with the standard menu
  end_requested_ = false;
  end_code_ = 0;
  CreateControls();
  open_ = true;
  Stack().push_back(this);
  backend.DialogOpened(*this);

  OnInitDialog();
  backend.RunModalLoop(*this);

  backend.DialogClosed(*this);
  auto timers = Timers().find(this);
  if (timers != Timers().end()) {
    for (int id : timers->second) backend.KillTimer(*this, id);
    Timers().erase(timers);
  }
  open_ = false;
  auto& stack = Stack();
  stack.erase(std::remove(stack.begin(), stack.end(), this), stack.end());
  DestroyControls();
  return end_code_;
}

void Dialog::EndDialog(int code) {
  // A later request overwrites an earlier one until the loop notices.
  end_requested_ = true;
  end_code_ = code;
}

bool Dialog::UpdateData(bool save) {
  DataExchange dx(*this, save);
  DoDataExchange(dx);
  return true;
}

int Dialog::SetTimer(int timer_id, unsigned period_ms) {
  if (!open_ || !HasBackend()) return 0;
  if (!GetBackend().SetTimer(*this, timer_id, period_ms)) return 0;
  Timers()[this].insert(timer_id);
  return timer_id;
}

bool Dialog::KillTimer(int timer_id) {
  if (!open_ || !HasBackend()) return false;
  auto timers = Timers().find(this);
  if (timers != Timers().end()) timers->second.erase(timer_id);
  return GetBackend().KillTimer(*this, timer_id);
}

void Dialog::SetCaption(std::string caption) {
  caption_ = std::move(caption);
  if (open_ && HasBackend()) GetBackend().CaptionChanged(*this);
}

Control* Dialog::GetDlgItem(int id) {
  for (auto& control : controls_) {
    if (control->id() == id) return control.get();
  }
  return nullptr;
}

ListCtrl& Dialog::List(int id) {
  auto* list = dynamic_cast<ListCtrl*>(GetDlgItem(id));
  return list != nullptr ? *list : Orphan<ListCtrl>(*this, id, Kind::ListView, "list view");
}

ProgressCtrl& Dialog::Progress(int id) {
  auto* progress = dynamic_cast<ProgressCtrl*>(GetDlgItem(id));
  return progress != nullptr ? *progress : Orphan<ProgressCtrl>(*this, id, Kind::Progress, "progress bar");
}

void Dialog::SetDlgItemText(int id, const std::string& text) {
  if (Control* control = GetDlgItem(id)) control->SetText(text);
}

std::string Dialog::GetDlgItemText(int id) {
  Control* control = GetDlgItem(id);
  return control == nullptr ? std::string() : control->text();
}

void Dialog::SetControlFont(int id, const Font& font) {
  if (Control* control = GetDlgItem(id)) control->SetFont(font);
}

void Dialog::AppendSystemMenu(int command, const std::string& text) {
  system_menu_.push_back(SystemMenuItem{command, command == 0 ? std::string() : text});
}

bool Dialog::OnInitDialog() {
  UpdateData(false);
  return true;
}

void Dialog::DoDataExchange(DataExchange& dx) { (void)dx; }

void Dialog::OnTimer(int timer_id) { (void)timer_id; }

void Dialog::OnCommand(int id) {
  if (id == IDOK) {
    OnOK();
  } else if (id == IDCANCEL) {
    OnCancel();
  }
}

void Dialog::OnOK() {
  if (UpdateData(true)) EndDialog(IDOK);
}

void Dialog::OnCancel() { EndDialog(IDCANCEL); }

void Dialog::OnNotify(int id, int code) {
  (void)id;
  (void)code;
}

CtlColor Dialog::OnCtlColor(int id) {
  (void)id;
  return {};
}

void Dialog::OnSysCommand(int command) {
  if ((command & 0xFFF0) == SC_CLOSE) OnCancel();
}

bool Dialog::OnDeviceChange(unsigned event, std::uintptr_t data) {
  (void)event;
  (void)data;
  return false;
}

void Dialog::ControlChanged(Control& control) {
  if (open_ && HasBackend()) GetBackend().ControlChanged(*this, control);
}

void Dialog::CreateControls() {
  controls_.clear();
  for (const auto& t : template_->controls) {
    std::unique_ptr<Control> control;
    switch (t.kind) {
      case Kind::Progress:
        control = std::make_unique<ProgressCtrl>(*this, t.id, t.kind, t.text, t.rect, t.style, t.image_id);
        break;
      case Kind::ListView:
        control = std::make_unique<ListCtrl>(*this, t.id, t.kind, t.text, t.rect, t.style, t.image_id);
        break;
      default:
        control = std::make_unique<Control>(*this, t.id, t.kind, t.text, t.rect, t.style, t.image_id);
        break;
    }
    controls_.push_back(std::move(control));
  }
}

void Dialog::DestroyControls() { controls_.clear(); }

}  // namespace ui
