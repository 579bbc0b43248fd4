#include "platform/win32/Win32Backend.h"

#include <windows.h>
#include <commctrl.h>
#include <dbt.h>
// The framework's own MessageBox member must not turn into MessageBoxW.
#undef MessageBox

#include <algorithm>
#include <atomic>
#include <ctime>
#include <map>
#include <utility>
#include <vector>

#include "ui/Win32ListSync.h"
#include "ui/Win32Template.h"

namespace ui::win32 {

namespace {

std::wstring Wide(std::string_view utf8) {
  const std::u16string u = Utf8ToUtf16(utf8);
  return std::wstring(u.begin(), u.end());
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<std::size_t>(std::max(n, 0)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

std::wstring WindowText(HWND hwnd) {
  const int n = GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
  const int got = GetWindowTextW(hwnd, text.data(), n + 1);
  text.resize(static_cast<std::size_t>(std::max(got, 0)));
  return text;
}

// The native side of one open dialog.
struct NativeDialog {
  Dialog* dlg = nullptr;
  HWND hwnd = nullptr;
  std::vector<std::uint8_t> bytes;  // the DLGTEMPLATEEX image
  std::vector<int> ids;             // native id of each control, template order
  std::vector<std::string> texts;   // text last given to each control
  std::vector<HFONT> fonts;         // font last given to each control
  std::vector<ListShadow> lists;
  std::map<int, unsigned> pending_timers;  // armed before the window existed
  bool ended = false;

  int IndexOfNativeId(int native_id) const {
    for (std::size_t i = 0; i < ids.size(); ++i) {
      if (ids[i] == native_id) return static_cast<int>(i);
    }
    return -1;
  }
  int IndexOf(const Control& control) const {
    const auto& controls = dlg->controls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
      if (controls[i].get() == &control) return static_cast<int>(i);
    }
    return -1;
  }
  Control* At(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= dlg->controls().size()) return nullptr;
    return dlg->controls()[static_cast<std::size_t>(index)].get();
  }
  HWND Item(int index) const {
    return hwnd == nullptr ? nullptr : GetDlgItem(hwnd, ids[static_cast<std::size_t>(index)]);
  }
};

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

}  // namespace

// A control changed on another thread: the window is brought in line on its own
// thread, since a cross-thread SendMessage would wait for a UI thread that may itself
// be waiting for that worker.
constexpr UINT kPushControlMessage = WM_APP + 0x50;
// A queued device change. WM_DEVICECHANGE itself cannot be posted: for arrivals and
// removals its lParam counts as a pointer, and PostMessage refuses it.
constexpr UINT kDeviceChangeMessage = WM_APP + 0x51;

struct Win32Backend::Impl {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  DWORD ui_thread = GetCurrentThreadId();
  int pushing = 0;  // >0 while the program's changes go to the windows
  int message_boxes = 0;
  std::atomic<HWND> top_level{nullptr};
  std::vector<std::pair<Font, HFONT>> fonts;
  std::map<Color, HBRUSH> brushes;
  std::map<std::pair<int, int>, HICON> icons;

  ~Impl() {
    for (auto& f : fonts) DeleteObject(f.second);
    for (auto& b : brushes) DeleteObject(b.second);
    for (auto& i : icons) DestroyIcon(i.second);
  }

  HFONT FontFor(const Font& font) {
    for (auto& f : fonts) {
      if (f.first == font) return f.second;
    }
    LOGFONTW lf{};
    if (font.tenths_of_point != 0) {
      // A point font: the height follows the screen's vertical resolution.
      HDC dc = GetDC(nullptr);
      const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
      ReleaseDC(nullptr, dc);
      lf.lfHeight = -MulDiv(font.tenths_of_point, dpi, 720);
    } else {
      lf.lfHeight = font.height;
    }
    lf.lfCharSet = static_cast<BYTE>(font.charset);
    lf.lfPitchAndFamily = font.pitch == 1 ? FIXED_PITCH : DEFAULT_PITCH;
    const std::wstring face = Wide(font.face);
    face.copy(lf.lfFaceName, LF_FACESIZE - 1);
    HFONT handle = CreateFontIndirectW(&lf);
    fonts.emplace_back(font, handle);
    return handle;
  }

  HBRUSH BrushFor(Color color) {
    auto it = brushes.find(color);
    if (it != brushes.end()) return it->second;
    HBRUSH brush = ::CreateSolidBrush(static_cast<COLORREF>(color));
    brushes.emplace(color, brush);
    return brush;
  }

  HICON IconFor(int id, int size) {
    const auto key = std::make_pair(id, size);
    auto it = icons.find(key);
    if (it != icons.end()) return it->second;
    auto icon = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    icons.emplace(key, icon);
    return icon;
  }

  static NativeDialog* Native(Dialog& dlg) { return static_cast<NativeDialog*>(dlg.backend_data); }

  // The window of the innermost dialog whose window exists.
  static HWND TopWindow() {
    const auto open = OpenDialogs();
    for (auto it = open.rbegin(); it != open.rend(); ++it) {
      if (NativeDialog* nd = Native(**it); nd != nullptr && nd->hwnd != nullptr) return nd->hwnd;
    }
    return nullptr;
  }

  // A model EndDialog takes effect when the dialog's own loop has control again: the
  // dialog is the innermost one and no message box runs above it.
  void CheckEnd() {
    if (message_boxes > 0) return;
    const auto open = OpenDialogs();
    if (open.empty()) return;
    Dialog* top = open.back();
    NativeDialog* nd = Native(*top);
    if (nd == nullptr || nd->hwnd == nullptr || nd->ended || !top->end_requested()) return;
    nd->ended = true;
    ::EndDialog(nd->hwnd, top->end_code());
  }

  void SetImageList(HWND h, const std::vector<int>& ids) {
    HIMAGELIST list = nullptr;
    if (!ids.empty()) {
      list = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, static_cast<int>(ids.size()), 0);
      for (int id : ids) {
        if (auto icon = static_cast<HICON>(
                LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR))) {
          ImageList_AddIcon(list, icon);
          DestroyIcon(icon);
        }
      }
    }
    // The list view destroys its current list with itself; a replaced one is ours.
    if (HIMAGELIST old = ListView_SetImageList(h, list, LVSIL_SMALL)) ImageList_Destroy(old);
  }

  static void RebuildColumns(HWND h, const std::vector<ListColumn>& columns) {
    // Last column first: older list views refuse to delete column 0, which is then
    // rewritten in place instead of inserted again.
    HWND header = ListView_GetHeader(h);
    for (int c = header != nullptr ? Header_GetItemCount(header) - 1 : -1; c >= 0; --c) {
      ListView_DeleteColumn(h, c);
    }
    const int kept = header != nullptr ? Header_GetItemCount(header) : 0;
    int index = 0;
    for (const auto& column : columns) {
      std::wstring title = Wide(column.title);
      LVCOLUMNW lvc{};
      lvc.mask = LVCF_TEXT | LVCF_FMT | LVCF_SUBITEM;
      lvc.fmt = column.format;
      lvc.pszText = title.data();
      lvc.iSubItem = column.subitem;
      if (column.width >= 0) {
        lvc.mask |= LVCF_WIDTH;
        lvc.cx = column.width;
      }
      if (index < kept) {
        ListView_SetColumn(h, index++, &lvc);
      } else if (ListView_InsertColumn(h, index++, &lvc) < 0) {
        break;
      }
    }
  }

  void PushList(HWND h, const ListCtrl& model, ListShadow& shadow) {
    for (const ListStep& step : PlanListSync(model, shadow)) {
      switch (step.op) {
        case ListStep::Op::kSetExtendedStyle:
          ListView_SetExtendedListViewStyleEx(h, 0xFFFFFFFFu, step.value);
          break;
        case ListStep::Op::kSetImageList:
          SetImageList(h, step.images);
          break;
        case ListStep::Op::kRebuildColumns:
          RebuildColumns(h, step.columns);
          break;
        case ListStep::Op::kDeleteAllItems:
          ListView_DeleteAllItems(h);
          break;
        case ListStep::Op::kDeleteItem:
          ListView_DeleteItem(h, step.item);
          break;
        case ListStep::Op::kInsertItem: {
          LVITEMW lvi{};
          lvi.mask = LVIF_TEXT;
          lvi.iItem = step.item;
          lvi.pszText = const_cast<wchar_t*>(L"");
          ListView_InsertItem(h, &lvi);
          break;
        }
        case ListStep::Op::kSetText: {
          std::wstring text = Wide(step.text);
          ListView_SetItemText(h, step.item, step.subitem, text.data());
          break;
        }
        case ListStep::Op::kSetImage: {
          LVITEMW lvi{};
          lvi.mask = LVIF_IMAGE;
          lvi.iItem = step.item;
          const int image = static_cast<int>(step.value);
          lvi.iImage = image >= 0 ? image : I_IMAGENONE;
          ListView_SetItem(h, &lvi);
          break;
        }
        case ListStep::Op::kSetState:
          ListView_SetItemState(h, step.item, step.value, kSyncedStates);
          break;
      }
    }
  }

  void PushControl(NativeDialog& nd, int index) {
    Control* control = nd.At(index);
    if (control == nullptr) return;
    HWND h = nd.Item(index);
    if (h == nullptr) return;
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
        PushList(h, *static_cast<ListCtrl*>(control), nd.lists[i]);
        break;
      case Kind::Icon:
      case Kind::Bitmap:
        break;
    }
    if (control->font().has_value()) {
      HFONT font = FontFor(*control->font());
      if (font != nd.fonts[i]) {
        SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        nd.fonts[i] = font;
      }
    }
    --pushing;
  }

  void InitDialog(NativeDialog& nd) {
    Dialog& dlg = *nd.dlg;
    if (dlg.dialog_template() == nullptr || dlg.caption() != dlg.dialog_template()->caption) {
      SetWindowTextW(nd.hwnd, Wide(dlg.caption()).c_str());
    }
    if (dlg.icon_id() != 0) {
      SendMessageW(nd.hwnd, WM_SETICON, ICON_BIG,
                   reinterpret_cast<LPARAM>(IconFor(dlg.icon_id(), GetSystemMetrics(SM_CXICON))));
      SendMessageW(nd.hwnd, WM_SETICON, ICON_SMALL,
                   reinterpret_cast<LPARAM>(IconFor(dlg.icon_id(), GetSystemMetrics(SM_CXSMICON))));
    }
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
    for (std::size_t i = 0; i < nd.ids.size(); ++i) {
      const auto* t = dlg.dialog_template();
      if (t != nullptr && i < t->controls.size()) nd.texts[i] = t->controls[i].text;
    }
    for (std::size_t i = 0; i < nd.ids.size(); ++i) PushControl(nd, static_cast<int>(i));
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

  // Dialogs open centred over their owner (the main window on the work area), as the
  // framework the program was designed with places them.
  static void Center(HWND hwnd) {
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

  INT_PTR CtlColor(NativeDialog& nd, UINT msg, HDC dc, HWND control) {
    const int index = nd.IndexOfNativeId(GetDlgCtrlID(control));
    Control* model = nd.At(index);
    if (model == nullptr) return FALSE;
    const ui::CtlColor colors = nd.dlg->OnCtlColor(model->id());
    if (!colors.text_color && !colors.back_color && !colors.transparent && !colors.brush) return FALSE;
    const int face = msg == WM_CTLCOLOREDIT ? COLOR_WINDOW : COLOR_BTNFACE;
    SetTextColor(dc, colors.text_color ? static_cast<COLORREF>(*colors.text_color) : GetSysColor(COLOR_WINDOWTEXT));
    SetBkColor(dc, colors.back_color ? static_cast<COLORREF>(*colors.back_color) : GetSysColor(face));
    if (colors.transparent) SetBkMode(dc, TRANSPARENT);
    HBRUSH brush = colors.brush ? BrushFor(*colors.brush) : GetSysColorBrush(face);
    return reinterpret_cast<INT_PTR>(brush);
  }

  void ListItemChanged(NativeDialog& nd, int index, const NMLISTVIEW& nm) {
    if (pushing > 0 || nm.iItem < 0 || (nm.uChanged & LVIF_STATE) == 0) return;
    auto* list = dynamic_cast<ListCtrl*>(nd.At(index));
    if (list == nullptr) return;
    if (nm.iItem >= list->GetItemCount()) return;
    const std::uint32_t state = ListView_GetItemState(nm.hdr.hwndFrom, nm.iItem, kSyncedStates);
    if (!NoteUserState(nd.lists[static_cast<std::size_t>(index)], nm.iItem, state)) return;
    list->SetItemState(nm.iItem, state, kSyncedStates);
  }

  INT_PTR Handle(NativeDialog& nd, UINT msg, WPARAM wp, LPARAM lp) {
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
        PushControl(nd, static_cast<int>(wp));
        return TRUE;
      case WM_DESTROY:
        if (top_level.load() == nd.hwnd) top_level.store(nullptr);
        return FALSE;
      default:
        return FALSE;
    }
  }
};

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
  NativeDialog* nd = Impl::Native(dlg);
  if (nd == nullptr || nd->hwnd == nullptr) return;  // pushed when the window is made
  const int index = nd->IndexOf(control);
  if (GetCurrentThreadId() != impl_->ui_thread) {
    PostMessageW(nd->hwnd, kPushControlMessage, static_cast<WPARAM>(index), 0);
    return;
  }
  impl_->PushControl(*nd, index);
}

void Win32Backend::CaptionChanged(Dialog& dlg) {
  NativeDialog* nd = Impl::Native(dlg);
  if (nd != nullptr && nd->hwnd != nullptr) SetWindowTextW(nd->hwnd, Wide(dlg.caption()).c_str());
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

std::time_t Win32Backend::Now() { return std::time(nullptr); }

std::uint64_t Win32Backend::TickMs() { return GetTickCount64(); }

void Win32Backend::PostDeviceChange(unsigned event) {
  if (HWND hwnd = impl_->top_level.load()) PostMessageW(hwnd, kDeviceChangeMessage, event, 0);
}

}  // namespace ui::win32
