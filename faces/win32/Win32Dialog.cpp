// A dialog's window shown as its model says: made ready when the dialog manager has
// made it (texts, fonts, pictures, timers armed early, its place on the screen), and
// each control brought in line with its model when the program changes it.
#include "faces/win32/Win32BackendImpl.h"

#include <algorithm>
#include <string>

namespace ui::win32 {

namespace {

// Dialogs open centred over their owner (the main window on the work area), as the
// framework the program was designed with places them.
void Center(HWND hwnd) {
  RECT r{};
  if (!GetWindowRect(hwnd, &r)) return;
  HWND owner = GetWindow(hwnd, GW_OWNER);
  MONITORINFO mi{};
  mi.cbSize = sizeof mi;
  if (!GetMonitorInfoW(MonitorFromWindow(owner != nullptr ? owner : hwnd, MONITOR_DEFAULTTOPRIMARY), &mi)) return;
  const RECT area = mi.rcWork;
  RECT base = area;
  if (owner != nullptr && IsWindowVisible(owner) && !IsIconic(owner)) GetWindowRect(owner, &base);
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  int x = base.left + (base.right - base.left - w) / 2;
  int y = base.top + (base.bottom - base.top - h) / 2;
  x = std::max(static_cast<int>(area.left), std::min(x, static_cast<int>(area.right) - w));
  y = std::max(static_cast<int>(area.top), std::min(y, static_cast<int>(area.bottom) - h));
  SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

void Win32Backend::Impl::InitDialog(NativeDialog& nd) {
  Dialog& dlg = *nd.dlg;
  if (dlg.dialog_template() == nullptr || dlg.caption() != dlg.dialog_template()->caption) {
    SetWindowTextW(nd.hwnd, Wide(dlg.caption()).c_str());
  }
  nd.dpi = WindowDpi(nd.hwnd);
  TakeOverDpiChanges(nd.hwnd);
  SetWindowIcons(nd);
  if (!dlg.system_menu().empty()) {
    if (HMENU menu = GetSystemMenu(nd.hwnd, FALSE)) {
      for (const auto& item : dlg.system_menu()) {
        if (item.command == 0) {
          AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        } else {
          AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(item.command), Wide(item.text).c_str());
        }
      }
    }
  }
  // The template put its own texts in; start from those so only changes are sent.
  const DialogTemplate* t = dlg.dialog_template();
  for (std::size_t i = 0; i < nd.ids.size(); ++i) {
    if (t != nullptr && i < t->controls.size()) nd.texts[i] = t->controls[i].text;
  }
  // The template's places as the dialog manager made them, before any text is fitted;
  // a picture's is its template rectangle, whatever size its image came at.
  nd.base.clear();
  for (std::size_t i = 0; i < nd.ids.size(); ++i) {
    HWND h = nd.Item(static_cast<int>(i));
    RECT r = h != nullptr ? ChildRect(h) : RECT{};
    if (h != nullptr && t != nullptr && i < t->controls.size() && t->controls[i].kind == Kind::Bitmap) {
      const Rect& units = t->controls[i].rect;
      RECT box{units.x, units.y, units.x + units.w, units.y + units.h};
      if (MapDialogRect(nd.hwnd, &box)) {
        r = RECT{r.left, r.top, r.left + box.right - box.left, r.top + box.bottom - box.top};
      }
    }
    nd.base.push_back(r);
  }
  DrawPictures(nd);
  RECT client{};
  GetClientRect(nd.hwnd, &client);
  nd.base_client = SIZE{client.right, client.bottom};
  for (std::size_t i = 0; i < nd.ids.size(); ++i) PushControl(nd, static_cast<int>(i));
  Layout(nd);
  nd.laid_out = true;
  for (const auto& [id, period] : nd.pending_timers) {
    ::SetTimer(nd.hwnd, static_cast<UINT_PTR>(id), period, nullptr);
  }
  nd.pending_timers.clear();
  Center(nd.hwnd);
  if (OpenDialogs().size() == 1) {
    top_level.store(nd.hwnd);
    // The program's only top-level window comes up in front, ready for keys.
    SetForegroundWindow(nd.hwnd);
  }
}

// Brings one control in line with its model; a static's or button's new text or font,
// or a list's new columns, lay the dialog out again.
void Win32Backend::Impl::PushControl(NativeDialog& nd, int index) {
  Control* control = nd.At(index);
  if (control == nullptr) return;
  HWND h = nd.Item(index);
  if (h == nullptr) return;
  bool refit = false;
  ++pushing;
  const auto i = static_cast<std::size_t>(index);
  switch (control->kind()) {
    case Kind::Static:
    case Kind::Button:
    case Kind::Edit: {
      const bool multiline = (control->style() & style::kMultiline) != 0;
      const std::string text = multiline && control->kind() == Kind::Edit ? WithCrLf(control->text())
                                                                            : control->text();
      if (text != nd.texts[i]) {
        SetWindowTextW(h, Wide(text).c_str());
        nd.texts[i] = text;
        refit = true;
      }
      if (control->kind() == Kind::Edit) {
        SendMessageW(h, EM_SETLIMITTEXT, static_cast<WPARAM>(control->limit_text()), 0);
      }
      break;
    }
    case Kind::Progress: {
      auto* progress = static_cast<ProgressCtrl*>(control);
      SendMessageW(h, PBM_SETRANGE32, static_cast<WPARAM>(progress->lo()), static_cast<LPARAM>(progress->hi()));
      const int lo = std::min(progress->lo(), progress->hi());
      const int hi = std::max(progress->lo(), progress->hi());
      SendMessageW(h, PBM_SETPOS, static_cast<WPARAM>(std::clamp(progress->pos(), lo, hi)), 0);
      break;
    }
    case Kind::ListView:
      refit = PushList(h, *static_cast<ListCtrl*>(control), nd.lists[i], nd.dpi);
      break;
    case Kind::Icon:
    case Kind::Bitmap:
      break;
  }
  if (control->font().has_value()) {
    HFONT font = FontFor(*control->font(), nd.dpi);
    if (font != nd.fonts[i]) {
      SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
      nd.fonts[i] = font;
      refit = true;
    }
  }
  --pushing;
  const Kind kind = control->kind();
  if (refit && nd.laid_out && (kind == Kind::Static || kind == Kind::Button || kind == Kind::ListView)) {
    Layout(nd);
  }
}

}  // namespace ui::win32
