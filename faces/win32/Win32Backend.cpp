// The native Windows back end's entry points and its messages: the modal loops, the
// dialog procedure, timers, message boxes, and the changes other threads queue for the
// UI thread. What the pieces share is in Win32BackendImpl.h.
#include "faces/win32/Win32BackendImpl.h"

#include <dbt.h>

#include <algorithm>
#include <ctime>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace ui::win32 {

namespace {

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<std::size_t>(std::max(n, 0)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

}  // namespace

// Control changes that came from another thread are waiting: the UI thread brings the
// windows in line itself. Another thread never touches a window or the back end's data
// of a dialog, which the UI thread may be freeing meanwhile; and a cross-thread
// SendMessage would wait for a UI thread that may itself be waiting for that thread.
constexpr UINT kPushControlMessage = WM_APP + 0x50;
// A queued device change. WM_DEVICECHANGE itself cannot be posted: for arrivals and
// removals its lParam counts as a pointer, and PostMessage refuses it.
constexpr UINT kDeviceChangeMessage = WM_APP + 0x51;

// The window of the innermost dialog whose window exists.
HWND Win32Backend::Impl::TopWindow() {
  const auto open = OpenDialogs();
  for (auto it = open.rbegin(); it != open.rend(); ++it) {
    if (NativeDialog* nd = Native(**it); nd != nullptr && nd->hwnd != nullptr) return nd->hwnd;
  }
  return nullptr;
}

// A model EndDialog takes effect when the dialog's own loop has control again: the
// dialog is the innermost one and no message box runs above it.
void Win32Backend::Impl::CheckEnd() {
  if (message_boxes > 0) return;
  const auto open = OpenDialogs();
  if (open.empty()) return;
  Dialog* top = open.back();
  NativeDialog* nd = Native(*top);
  if (nd == nullptr || nd->hwnd == nullptr || nd->ended || !top->end_requested()) return;
  nd->ended = true;
  ::EndDialog(nd->hwnd, top->end_code());
}

// On the UI thread: the changes other threads left, for the dialogs still open.
void Win32Backend::Impl::PushForeignChanges() {
  std::vector<std::pair<Dialog*, int>> changes;
  {
    std::lock_guard<std::mutex> lock(foreign_mutex);
    changes.swap(foreign_changes);
  }
  const std::vector<Dialog*> open = OpenDialogs();
  for (const auto& [dlg, index] : changes) {
    if (std::find(open.begin(), open.end(), dlg) == open.end()) continue;
    if (NativeDialog* nd = Native(*dlg); nd != nullptr && nd->hwnd != nullptr) PushControl(*nd, index);
  }
}

INT_PTR Win32Backend::Impl::Handle(NativeDialog& nd, UINT msg, WPARAM wp, LPARAM lp) {
  Dialog& dlg = *nd.dlg;
  switch (msg) {
    case WM_COMMAND: {
      const int native_id = LOWORD(wp);
      const int code = HIWORD(wp);
      const int index = nd.IndexOfNativeId(native_id);
      Control* control = nd.At(index);
      if (control == nullptr) {
        // Enter and Escape without such a button.
        if (native_id == IDOK || native_id == IDCANCEL) dlg.OnCommand(native_id);
        return TRUE;
      }
      if (control->kind() == Kind::Button && code == BN_CLICKED) {
        dlg.OnCommand(control->id());
      } else if (control->kind() == Kind::Edit && code == EN_CHANGE && pushing == 0) {
        std::string text = Narrow(WindowText(reinterpret_cast<HWND>(lp)));
        nd.texts[static_cast<std::size_t>(index)] = text;
        control->SetText(std::move(text));
      }
      return TRUE;
    }
    case WM_NOTIFY: {
      const auto* hdr = reinterpret_cast<const NMHDR*>(lp);
      const int index = nd.IndexOfNativeId(static_cast<int>(hdr->idFrom));
      Control* control = nd.At(index);
      if (control == nullptr) return FALSE;
      if (hdr->code == LVN_ITEMCHANGED) {
        ListItemChanged(nd, index, *reinterpret_cast<const NMLISTVIEW*>(lp));
      } else if (hdr->code == NM_CLICK || hdr->code == NM_DBLCLK || hdr->code == NM_RCLICK ||
                 hdr->code == NM_RETURN) {
        dlg.OnNotify(control->id(), static_cast<int>(hdr->code));
      }
      return FALSE;
    }
    case WM_TIMER:
      dlg.OnTimer(static_cast<int>(wp));
      return TRUE;
    case WM_SYSCOMMAND:
      // Our own menu items and Close go to the program; moving, sizing and the
      // rest keep the system's handling.
      if ((wp & 0xFFF0) == SC_CLOSE || wp < 0xF000) {
        dlg.OnSysCommand(static_cast<int>(wp));
        SetWindowLongPtrW(nd.hwnd, DWLP_MSGRESULT, 0);
        return TRUE;
      }
      return FALSE;
    case kDeviceChangeMessage:
    case WM_DEVICECHANGE: {
      const bool result = dlg.OnDeviceChange(static_cast<unsigned>(wp), static_cast<std::uintptr_t>(lp));
      SetWindowLongPtrW(nd.hwnd, DWLP_MSGRESULT, result ? TRUE : FALSE);
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
      return CtlColor(nd, msg, reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp));
    case kPushControlMessage:
      PushForeignChanges();
      return TRUE;
    case WM_DPICHANGED:
      DpiChanged(nd, HIWORD(wp), reinterpret_cast<const RECT*>(lp));
      SetWindowLongPtrW(nd.hwnd, DWLP_MSGRESULT, 0);
      return TRUE;
    case WM_DESTROY:
      if (top_level.load() == nd.hwnd) top_level.store(nullptr);
      return FALSE;
    default:
      return FALSE;
  }
}

namespace {

Win32Backend::Impl* g_impl = nullptr;

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (g_impl == nullptr) return FALSE;
  if (msg == WM_INITDIALOG) {
    auto* nd = reinterpret_cast<NativeDialog*>(lp);
    SetWindowLongPtrW(hwnd, DWLP_USER, lp);
    nd->hwnd = hwnd;
    g_impl->InitDialog(*nd);
    g_impl->CheckEnd();
    return TRUE;
  }
  auto* nd = reinterpret_cast<NativeDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (nd == nullptr || nd->dlg == nullptr) return FALSE;
  const INT_PTR result = g_impl->Handle(*nd, msg, wp, lp);
  g_impl->CheckEnd();
  return result;
}

}  // namespace

Win32Backend::Win32Backend() : impl_(std::make_unique<Impl>()) {
  previous_ = HasBackend() ? &GetBackend() : nullptr;
  g_impl = impl_.get();
  SetBackend(this);
}

Win32Backend::~Win32Backend() {
  SetBackend(previous_);
  g_impl = nullptr;
}

void Win32Backend::DialogOpened(Dialog& dlg) {
  auto* nd = new NativeDialog;
  nd->dlg = &dlg;
  if (const DialogTemplate* t = dlg.dialog_template()) {
    nd->bytes = BuildDialogTemplateEx(*t);
    nd->ids = NativeIds(*t);
  }
  nd->texts.resize(nd->ids.size());
  nd->fonts.resize(nd->ids.size(), nullptr);
  nd->lists.resize(nd->ids.size());
  nd->pictures.resize(nd->ids.size(), nullptr);
  dlg.backend_data = nd;
}

void Win32Backend::DialogClosed(Dialog& dlg) {
  delete Impl::Native(dlg);
  dlg.backend_data = nullptr;
}

void Win32Backend::RunModalLoop(Dialog& dlg) {
  NativeDialog* nd = Impl::Native(dlg);
  if (nd == nullptr || nd->bytes.empty()) {
    dlg.EndDialog(-1);
    return;
  }
  const auto open = OpenDialogs();
  HWND owner = nullptr;
  for (auto it = open.rbegin(); it != open.rend(); ++it) {
    if (*it == &dlg) continue;
    if (NativeDialog* below = Impl::Native(**it); below != nullptr && below->hwnd != nullptr) {
      owner = below->hwnd;
      break;
    }
  }
  const INT_PTR result =
      DialogBoxIndirectParamW(impl_->instance, reinterpret_cast<LPCDLGTEMPLATEW>(nd->bytes.data()), owner,
                              DialogProc, reinterpret_cast<LPARAM>(nd));
  // A dialog that could not be created ends at once with -1, like an unknown template.
  if (result == -1 && !nd->ended) dlg.EndDialog(-1);
  nd->hwnd = nullptr;
}

void Win32Backend::ControlChanged(Dialog& dlg, Control& control) {
  if (GetCurrentThreadId() != impl_->ui_thread) {
    // Found by the dialog's own list: the back end's data of it is the UI thread's.
    const auto& controls = dlg.controls();
    int index = -1;
    for (std::size_t i = 0; i < controls.size() && index < 0; ++i) {
      if (controls[i].get() == &control) index = static_cast<int>(i);
    }
    {
      std::lock_guard<std::mutex> lock(impl_->foreign_mutex);
      impl_->foreign_changes.emplace_back(&dlg, index);
    }
    if (HWND hwnd = impl_->top_level.load()) PostMessageW(hwnd, kPushControlMessage, 0, 0);
    return;
  }
  NativeDialog* nd = Impl::Native(dlg);
  if (nd == nullptr || nd->hwnd == nullptr) return;  // pushed when the window is made
  impl_->PushControl(*nd, nd->IndexOf(control));
}

void* Win32Backend::NativeWindow(const Dialog& dlg) {
  auto* nd = static_cast<NativeDialog*>(dlg.backend_data);
  return nd != nullptr ? nd->hwnd : nullptr;
}

void Win32Backend::CaptionChanged(Dialog& dlg) {
  NativeDialog* nd = Impl::Native(dlg);
  if (nd == nullptr || nd->hwnd == nullptr) return;
  SetWindowTextW(nd->hwnd, Wide(dlg.caption()).c_str());
  if (nd->laid_out) impl_->Layout(*nd);
}

bool Win32Backend::SetTimer(Dialog& dlg, int timer_id, unsigned period_ms) {
  NativeDialog* nd = Impl::Native(dlg);
  if (nd == nullptr) return false;
  if (nd->hwnd == nullptr) {
    nd->pending_timers[timer_id] = period_ms;
    return true;
  }
  return ::SetTimer(nd->hwnd, static_cast<UINT_PTR>(timer_id), period_ms, nullptr) != 0;
}

bool Win32Backend::KillTimer(Dialog& dlg, int timer_id) {
  NativeDialog* nd = Impl::Native(dlg);
  if (nd == nullptr) return false;
  if (nd->hwnd == nullptr) return nd->pending_timers.erase(timer_id) != 0;
  return ::KillTimer(nd->hwnd, static_cast<UINT_PTR>(timer_id)) != 0;
}

int Win32Backend::MessageBox(const std::string& text, const std::string& caption, unsigned type) {
  ++impl_->message_boxes;
  const int answer = MessageBoxW(Impl::TopWindow(), Wide(text).c_str(), Wide(caption).c_str(), type);
  --impl_->message_boxes;
  // Any positive answer counts as OK; the program asks only OK or OK/Cancel.
  return answer == IDOK || answer == IDYES ? 1 : 2;
}

void Win32Backend::Sleep(unsigned ms) { ::Sleep(ms); }

void Win32Backend::Pump(unsigned ms) {
  if (GetCurrentThreadId() != impl_->ui_thread) {
    ::Sleep(ms);
    return;
  }
  // The windows keep being painted and moved meanwhile; whatever arrives ends the wait,
  // so the caller looks again at what it waits for.
  if (MsgWaitForMultipleObjects(0, nullptr, FALSE, ms, QS_ALLINPUT) != WAIT_OBJECT_0) return;
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    HWND top = Impl::TopWindow();
    if (top != nullptr && IsDialogMessageW(top, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

std::time_t Win32Backend::Now() { return std::time(nullptr); }

std::uint64_t Win32Backend::TickMs() { return GetTickCount64(); }

void Win32Backend::PostDeviceChange(unsigned event) {
  if (HWND hwnd = impl_->top_level.load()) PostMessageW(hwnd, kDeviceChangeMessage, event, 0);
}

}  // namespace ui::win32
