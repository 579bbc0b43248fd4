#include "faces/win32/Win32Backend.h"

#include <windows.h>
#include <commctrl.h>
#include <dbt.h>
// The framework's own MessageBox member must not turn into MessageBoxW.
#undef MessageBox

#include <algorithm>
#include <atomic>
#include <climits>
#include <ctime>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "ui/TextFit.h"
#include "faces/win32/Win32ListSync.h"
#include "faces/win32/Win32Template.h"

namespace ui::win32 {

namespace {

// Pixels at 96 DPI: the clearance a button's text keeps on either side, the most a
// widened control keeps to the dialog's edges, and the room a caption's text leaves.
constexpr int kButtonPadding = 4;
constexpr int kDialogMargin = 11;
constexpr int kCaptionPadding = 12;

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

// Per-monitor DPI calls exist from Windows 10 on; the program still starts on older
// systems, where the screen's DPI holds for every window.
template <typename F>
F User32(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 == nullptr ? nullptr : reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

int ScreenDpi() {
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : 96;
}

int WindowDpi(HWND hwnd) {
  using Fn = UINT(WINAPI*)(HWND);
  static const auto get = User32<Fn>("GetDpiForWindow");
  const int dpi = get != nullptr ? static_cast<int>(get(hwnd)) : 0;
  return dpi > 0 ? dpi : ScreenDpi();
}

int MetricForDpi(int index, int dpi) {
  using Fn = int(WINAPI*)(int, UINT);
  static const auto get = User32<Fn>("GetSystemMetricsForDpi");
  return get != nullptr ? get(index, static_cast<UINT>(dpi)) : MulDiv(GetSystemMetrics(index), dpi, ScreenDpi());
}

// The dialog manager would scale fonts and places itself on a DPI change, but not the
// fonts, columns and pictures the program sets: the back end does all of it instead.
void TakeOverDpiChanges(HWND hwnd) {
  using Fn = BOOL(WINAPI*)(HWND, DIALOG_DPI_CHANGE_BEHAVIORS, DIALOG_DPI_CHANGE_BEHAVIORS);
  static const auto set = User32<Fn>("SetDialogDpiChangeBehavior");
  if (set != nullptr) set(hwnd, DDC_DISABLE_ALL, DDC_DISABLE_ALL);
}

// The caption's font at a DPI, ours to delete.
HFONT CaptionFont(int dpi) {
  NONCLIENTMETRICSW ncm{};
  ncm.cbSize = sizeof ncm;
  using Fn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
  static const auto get = User32<Fn>("SystemParametersInfoForDpi");
  if (get != nullptr) {
    if (!get(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0, static_cast<UINT>(dpi))) return nullptr;
  } else {
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0)) return nullptr;
    ncm.lfCaptionFont.lfHeight = MulDiv(ncm.lfCaptionFont.lfHeight, dpi, ScreenDpi());
  }
  return CreateFontIndirectW(&ncm.lfCaptionFont);
}

// How wide the window must be for its caption to show whole: the text in the caption
// font, the icon before it, the buttons after it and the frame.
int CaptionNeed(HWND hwnd, int dpi) {
  const std::wstring text = WindowText(hwnd);
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE));
  if (text.empty() || (style & WS_CAPTION) != WS_CAPTION) return 0;
  HFONT font = CaptionFont(dpi);
  if (font == nullptr) return 0;
  HDC dc = GetDC(hwnd);
  HGDIOBJ old = SelectObject(dc, font);
  RECT r{};
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(hwnd, dc);
  DeleteObject(font);
  int buttons = (style & WS_SYSMENU) != 0 ? 1 : 0;
  if ((style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) != 0) buttons += 2;
  RECT outer{};
  RECT client{};
  GetWindowRect(hwnd, &outer);
  GetClientRect(hwnd, &client);
  const int frame = (outer.right - outer.left) - client.right;
  return r.right + buttons * MetricForDpi(SM_CXSIZE, dpi) + MetricForDpi(SM_CXSMICON, dpi) +
         MulDiv(kCaptionPadding, dpi, 96) + frame;
}

RECT ChildRect(HWND child) {
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

Rect FromRECT(const RECT& r) { return Rect{r.left, r.top, r.right - r.left, r.bottom - r.top}; }

// A picture drawn at another size, smoothed.
HBITMAP ScaledBitmap(HBITMAP source, int w, int h) {
  BITMAP bm{};
  if (GetObjectW(source, sizeof bm, &bm) == 0 || w <= 0 || h <= 0) return nullptr;
  HDC screen = GetDC(nullptr);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP out = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC from = CreateCompatibleDC(screen);
  HDC to = CreateCompatibleDC(screen);
  if (out != nullptr) {
    HGDIOBJ old_from = SelectObject(from, source);
    HGDIOBJ old_to = SelectObject(to, out);
    SetStretchBltMode(to, HALFTONE);
    SetBrushOrgEx(to, 0, 0, nullptr);
    StretchBlt(to, 0, 0, w, h, from, 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY);
    SelectObject(from, old_from);
    SelectObject(to, old_to);
  }
  DeleteDC(from);
  DeleteDC(to);
  ReleaseDC(nullptr, screen);
  return out;
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
  // Layout at the window's DPI: each control's rectangle and the client size as the
  // template gives them (texts not yet fitted), and the pictures drawn for this DPI.
  int dpi = 96;
  std::vector<RECT> base;
  SIZE base_client{};
  bool laid_out = false;
  HFONT own_dialog_font = nullptr;  // the template's font redrawn after a DPI change
  std::vector<HGDIOBJ> pictures;    // per control, ours to delete

  ~NativeDialog() {
    if (own_dialog_font != nullptr) DeleteObject(own_dialog_font);
    for (HGDIOBJ p : pictures) {
      if (p != nullptr) DeleteObject(p);
    }
  }
  NativeDialog() = default;
  NativeDialog(const NativeDialog&) = delete;
  NativeDialog& operator=(const NativeDialog&) = delete;

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

// Control changes that came from another thread are waiting: the UI thread brings the
// windows in line itself. Another thread never touches a window or the back end's data
// of a dialog, which the UI thread may be freeing meanwhile; and a cross-thread
// SendMessage would wait for a UI thread that may itself be waiting for that thread.
constexpr UINT kPushControlMessage = WM_APP + 0x50;
// A queued device change. WM_DEVICECHANGE itself cannot be posted: for arrivals and
// removals its lParam counts as a pointer, and PostMessage refuses it.
constexpr UINT kDeviceChangeMessage = WM_APP + 0x51;

struct Win32Backend::Impl {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  DWORD ui_thread = GetCurrentThreadId();
  // Changes from other threads, by dialog and index of the control; taken on the UI thread.
  std::mutex foreign_mutex;
  std::vector<std::pair<Dialog*, int>> foreign_changes;
  int pushing = 0;  // >0 while the program's changes go to the windows
  int message_boxes = 0;
  std::atomic<HWND> top_level{nullptr};
  struct MadeFont {
    Font font;
    int dpi;
    HFONT handle;
  };
  std::vector<MadeFont> fonts;
  std::map<Color, HBRUSH> brushes;
  std::map<std::pair<int, int>, HICON> icons;

  ~Impl() {
    for (auto& f : fonts) DeleteObject(f.handle);
    for (auto& b : brushes) DeleteObject(b.second);
    for (auto& i : icons) DestroyIcon(i.second);
  }

  // Point sizes and pixel heights alike are meant at 96 DPI's pixels: both follow the
  // window's DPI.
  HFONT FontFor(const Font& font, int dpi) {
    for (auto& f : fonts) {
      if (f.font == font && f.dpi == dpi) return f.handle;
    }
    LOGFONTW lf{};
    if (font.tenths_of_point != 0) {
      lf.lfHeight = -MulDiv(font.tenths_of_point, dpi, 720);
    } else {
      lf.lfHeight = MulDiv(font.height, dpi, 96);
    }
    lf.lfCharSet = static_cast<BYTE>(font.charset);
    lf.lfPitchAndFamily = font.pitch == 1 ? FIXED_PITCH : DEFAULT_PITCH;
    const std::wstring face = Wide(font.face);
    face.copy(lf.lfFaceName, LF_FACESIZE - 1);
    HFONT handle = CreateFontIndirectW(&lf);
    fonts.push_back(MadeFont{font, dpi, handle});
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

  void SetImageList(HWND h, const std::vector<int>& ids, int dpi) {
    HIMAGELIST list = nullptr;
    if (!ids.empty()) {
      const int size = MulDiv(16, dpi, 96);
      list = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, static_cast<int>(ids.size()), 0);
      for (int id : ids) {
        if (auto icon = static_cast<HICON>(
                LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR))) {
          ImageList_AddIcon(list, icon);
          DestroyIcon(icon);
        }
      }
    }
    // The list view destroys its current list with itself; a replaced one is ours.
    if (HIMAGELIST old = ListView_SetImageList(h, list, LVSIL_SMALL)) ImageList_Destroy(old);
  }

  // Column widths are the program's pixels at 96 DPI.
  static void RebuildColumns(HWND h, const std::vector<ListColumn>& columns, int dpi) {
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
        lvc.cx = MulDiv(column.width, dpi, 96);
      }
      if (index < kept) {
        ListView_SetColumn(h, index++, &lvc);
      } else if (ListView_InsertColumn(h, index++, &lvc) < 0) {
        break;
      }
    }
  }

  // True when the columns were made again: the list may need another width.
  bool PushList(HWND h, const ListCtrl& model, ListShadow& shadow, int dpi) {
    bool columns = false;
    for (const ListStep& step : PlanListSync(model, shadow)) {
      switch (step.op) {
        case ListStep::Op::kSetExtendedStyle:
          ListView_SetExtendedListViewStyleEx(h, 0xFFFFFFFFu, step.value);
          break;
        case ListStep::Op::kSetImageList:
          SetImageList(h, step.images, dpi);
          break;
        case ListStep::Op::kRebuildColumns:
          RebuildColumns(h, step.columns, dpi);
          columns = true;
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
    return columns;
  }

  // Brings one control in line with its model; a static's or button's new text or font,
  // or a list's new columns, lay the dialog out again.
  // On the UI thread: the changes other threads left, for the dialogs still open.
  void PushForeignChanges() {
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

  void PushControl(NativeDialog& nd, int index) {
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

  // What a static's or button's text needs, in pixels; {0, 0} when it fits as placed.
  static SIZE TextNeed(HWND h, const Control& control, const RECT& placed, int dpi) {
    const std::wstring text = WindowText(h);
    if (text.empty()) return SIZE{0, 0};
    const bool button = control.kind() == Kind::Button;
    const bool single = button ? (control.style() & style::kMultiline) == 0
                               : (control.style() & style::kVCenter) != 0;
    UINT flags = DT_CALCRECT | DT_EXPANDTABS;
    if (button || (control.style() & style::kNoPrefix) != 0) flags |= DT_NOPREFIX;
    // A button's text keeps clear of its edges and focus frame.
    const int pad_x = button ? 2 * MulDiv(kButtonPadding, dpi, 96) : 0;
    const int pad_y = button ? 2 * MulDiv(1, dpi, 96) : 0;
    const int w = placed.right - placed.left;
    const int hgt = placed.bottom - placed.top;
    HDC dc = GetDC(h);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(h, WM_GETFONT, 0, 0)));
    auto extent = [&](UINT more, int width) {
      RECT r{0, 0, width, 0};
      DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, flags | more);
      return SIZE{r.right - r.left, r.bottom - r.top};
    };
    SIZE need{0, 0};
    if (single) {
      const SIZE e = extent(DT_SINGLELINE, 0);
      need = SIZE{e.cx + pad_x, e.cy + pad_y};
    } else {
      // Word-wrapped: the narrowest width (at least the template's) at which the
      // wrapped lines fit the template's height, or all lines unwrapped.
      const SIZE whole = extent(0, 0);
      const SIZE at_w = extent(DT_WORDBREAK, w);
      if (at_w.cx <= w && at_w.cy <= hgt) {
        need = at_w;
      } else if (whole.cy > hgt || whole.cx <= w) {
        need = SIZE{std::max(whole.cx, at_w.cx), std::max(whole.cy, at_w.cy)};
      } else {
        int lo = w;  // too narrow
        int hi = whole.cx;
        while (hi - lo > 1) {
          const int mid = lo + (hi - lo) / 2;
          const SIZE e = extent(DT_WORDBREAK, mid);
          if (e.cx <= mid && e.cy <= hgt) {
            hi = mid;
          } else {
            lo = mid;
          }
        }
        need = SIZE{hi, extent(DT_WORDBREAK, hi).cy};
      }
    }
    SelectObject(dc, old);
    ReleaseDC(h, dc);
    return need;
  }

  // The screen's work area, as the most client width this dialog may have.
  static int ClientLimit(HWND hwnd) {
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    if (!GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &mi)) return INT_MAX / 2;
    RECT outer{};
    RECT client{};
    GetWindowRect(hwnd, &outer);
    GetClientRect(hwnd, &client);
    return (mi.rcWork.right - mi.rcWork.left) - ((outer.right - outer.left) - client.right);
  }

  // A report list's columns side by side, and its frame with a vertical scroll bar
  // beside them whether one shows yet or not: rows added later must not push the last
  // column out of sight.
  static std::pair<int, int> ListColumnsAndChrome(HWND h, int dpi) {
    HWND header = ListView_GetHeader(h);
    const int n = header != nullptr ? Header_GetItemCount(header) : 0;
    int columns = 0;
    for (int col = 0; col < n; ++col) columns += ListView_GetColumnWidth(h, col);
    RECT outer{};
    RECT client{};
    GetWindowRect(h, &outer);
    GetClientRect(h, &client);
    int bar = 0;
    SCROLLBARINFO sbi{};
    sbi.cbSize = sizeof sbi;
    if (GetScrollBarInfo(h, OBJID_VSCROLL, &sbi) &&
        (sbi.rgstate[0] & (STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_OFFSCREEN)) == 0) {
      bar = sbi.rcScrollBar.right - sbi.rcScrollBar.left;
    }
    const int frame = (outer.right - outer.left) - client.right - bar;
    return {columns, frame + std::max(bar, MetricForDpi(SM_CXVSCROLL, dpi))};
  }

  // Places every control where its template puts it at this DPI, widened where its text
  // or a list's columns need more, and grows the dialog when a widened control needs that.
  // exact: the dialog takes just the size its template and those needs give it, not
  // less nor more (after a DPI change, rather than the old size scaled).
  void Layout(NativeDialog& nd, bool exact = false) {
    const auto& controls = nd.dlg->controls();
    if (nd.base.size() != nd.ids.size() || controls.size() != nd.ids.size()) return;
    const int margin = MulDiv(kDialogMargin, nd.dpi, 96);
    std::vector<TextBox> boxes;
    std::vector<std::size_t> boxed;
    for (std::size_t i = 0; i < nd.ids.size(); ++i) {
      const Control& c = *controls[i];
      if (c.kind() != Kind::Static && c.kind() != Kind::Button) continue;
      HWND h = nd.Item(static_cast<int>(i));
      if (h == nullptr) continue;
      TextBox box;
      box.rect = FromRECT(nd.base[i]);
      const bool centred = c.kind() == Kind::Button || (c.style() & style::kCenter) != 0;
      box.anchor = centred ? TextAnchor::kCentre
                           : (c.style() & style::kRight) != 0 ? TextAnchor::kRight : TextAnchor::kLeft;
      // Taller about the middle: a label at the foot of a band stays inside the band.
      box.vcentre = true;
      const SIZE need = TextNeed(h, c, nd.base[i], nd.dpi);
      box.need_w = need.cx;
      box.need_h = need.cy;
      box.spans = c.kind() == Kind::Static && box.rect.x <= margin &&
                  nd.base_client.cx - (box.rect.x + box.rect.w) <= margin;
      boxes.push_back(box);
      boxed.push_back(i);
    }
    const int limit = ClientLimit(nd.hwnd);
    for (std::size_t i = 0; i < nd.ids.size(); ++i) {
      const Control& c = *controls[i];
      if (c.kind() != Kind::ListView || (c.style() & style::kReport) == 0) continue;
      HWND h = nd.Item(static_cast<int>(i));
      if (h == nullptr) continue;
      TextBox box;
      box.rect = FromRECT(nd.base[i]);
      const auto [columns, chrome] = ListColumnsAndChrome(h, nd.dpi);
      box.need_w = ListWidthNeed(box.rect, columns, chrome, nd.base_client.cx, limit, margin);
      boxes.push_back(box);
      boxed.push_back(i);
    }
    // A caption that needs a wider window widens it on both sides alike.
    RECT outer{};
    RECT client{};
    GetWindowRect(nd.hwnd, &outer);
    GetClientRect(nd.hwnd, &client);
    const int caption_client = CaptionNeed(nd.hwnd, nd.dpi) - ((outer.right - outer.left) - client.right);
    const FittedLayout fit = FitTextBoxes(boxes, nd.base_client.cx, nd.base_client.cy, margin, caption_client);
    std::vector<RECT> target(nd.base);
    for (RECT& r : target) OffsetRect(&r, fit.shift_x, fit.shift_y);
    for (std::size_t k = 0; k < boxed.size(); ++k) {
      const Rect& r = fit.rects[k];
      target[boxed[k]] = RECT{r.x, r.y, r.x + r.w, r.y + r.h};
    }
    // Grow the window first, so no control is ever placed outside it.
    const int wider = fit.width - static_cast<int>(client.right);
    const int taller = fit.height - static_cast<int>(client.bottom);
    const int grow_w = exact ? wider : std::max(0, wider);
    const int grow_h = exact ? taller : std::max(0, taller);
    if (grow_w != 0 || grow_h != 0) {
      SetWindowPos(nd.hwnd, nullptr, 0, 0, outer.right - outer.left + grow_w, outer.bottom - outer.top + grow_h,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    for (std::size_t i = 0; i < target.size(); ++i) {
      HWND h = nd.Item(static_cast<int>(i));
      if (h == nullptr) continue;
      const RECT now = ChildRect(h);
      const RECT& want = target[i];
      const Kind kind = controls[i]->kind();
      // A picture sizes itself to its image.
      const bool picture = kind == Kind::Bitmap || kind == Kind::Icon;
      if (now.left == want.left && now.top == want.top &&
          (picture || (now.right == want.right && now.bottom == want.bottom))) {
        continue;
      }
      SetWindowPos(h, nullptr, want.left, want.top, want.right - want.left, want.bottom - want.top,
                   SWP_NOZORDER | SWP_NOACTIVATE | (picture ? SWP_NOSIZE : 0));
      InvalidateRect(h, nullptr, TRUE);
    }
    InvalidateRect(nd.hwnd, nullptr, TRUE);
  }

  // Bitmaps come at the size they were drawn for 96 DPI, made smaller where that would
  // reach past their template rectangle (a picture's white would show below the band it
  // sits in); the template's icon at the system's icon size.
  void DrawPictures(NativeDialog& nd) {
    const auto& controls = nd.dlg->controls();
    for (std::size_t i = 0; i < controls.size() && i < nd.ids.size(); ++i) {
      const Control& c = *controls[i];
      HWND h = nd.Item(static_cast<int>(i));
      if (h == nullptr || c.image_id() == 0) continue;
      if (c.kind() == Kind::Bitmap) {
        auto source = static_cast<HBITMAP>(
            LoadImageW(instance, MAKEINTRESOURCEW(c.image_id()), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        if (source == nullptr) continue;
        BITMAP bm{};
        GetObjectW(source, sizeof bm, &bm);
        int w = MulDiv(bm.bmWidth, nd.dpi, 96);
        int hgt = MulDiv(bm.bmHeight, nd.dpi, 96);
        const RECT& box = nd.base[i];
        if (const int room = box.right - box.left; room > 0 && w > room) {
          hgt = MulDiv(hgt, room, w);
          w = room;
        }
        if (const int room = box.bottom - box.top; room > 0 && hgt > room) {
          w = MulDiv(w, room, hgt);
          hgt = room;
        }
        HBITMAP scaled = ScaledBitmap(source, w, hgt);
        DeleteObject(source);
        if (scaled == nullptr) continue;
        auto old = reinterpret_cast<HGDIOBJ>(
            SendMessageW(h, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(scaled)));
        // The control gives back the template's picture or the one drawn for the DPI
        // before (or its own copy of that): none is in use any more.
        if (old != nullptr) DeleteObject(old);
        if (nd.pictures[i] != nullptr && nd.pictures[i] != old) DeleteObject(nd.pictures[i]);
        nd.pictures[i] = scaled;
      } else if (c.kind() == Kind::Icon) {
        const int size = MetricForDpi(SM_CXICON, nd.dpi);
        SendMessageW(h, STM_SETICON, reinterpret_cast<WPARAM>(IconFor(c.image_id(), size)), 0);
      }
    }
  }

  void SetWindowIcons(NativeDialog& nd) {
    if (nd.dlg->icon_id() == 0) return;
    SendMessageW(nd.hwnd, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(IconFor(nd.dlg->icon_id(), MetricForDpi(SM_CXICON, nd.dpi))));
    SendMessageW(nd.hwnd, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(IconFor(nd.dlg->icon_id(), MetricForDpi(SM_CXSMICON, nd.dpi))));
  }

  // The window moved to a monitor of another DPI: everything is drawn again at the new
  // DPI from the template, the way it was laid out at the old one.
  void DpiChanged(NativeDialog& nd, int dpi, const RECT* suggested) {
    if (dpi <= 0 || dpi == nd.dpi) return;
    const int old_dpi = nd.dpi;
    nd.dpi = dpi;
    for (RECT& r : nd.base) {
      r = RECT{MulDiv(r.left, dpi, old_dpi), MulDiv(r.top, dpi, old_dpi), MulDiv(r.right, dpi, old_dpi),
               MulDiv(r.bottom, dpi, old_dpi)};
    }
    nd.base_client = SIZE{MulDiv(nd.base_client.cx, dpi, old_dpi), MulDiv(nd.base_client.cy, dpi, old_dpi)};
    // The dialog's own font, the template's face, at the new size for the controls that
    // use it. The dialog keeps the one it made (and deletes it itself); after an earlier
    // change the controls hold ours of the DPI before.
    auto dialog_font = reinterpret_cast<HFONT>(SendMessageW(nd.hwnd, WM_GETFONT, 0, 0));
    const HFONT current = nd.own_dialog_font != nullptr ? nd.own_dialog_font : dialog_font;
    HFONT new_dialog_font = nullptr;
    LOGFONTW lf{};
    if (current != nullptr && GetObjectW(current, sizeof lf, &lf) != 0) {
      lf.lfHeight = MulDiv(lf.lfHeight, dpi, old_dpi);
      new_dialog_font = CreateFontIndirectW(&lf);
    }
    ++pushing;
    if (new_dialog_font != nullptr) {
      for (std::size_t i = 0; i < nd.ids.size(); ++i) {
        HWND h = nd.Item(static_cast<int>(i));
        if (h != nullptr && reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)) == current) {
          SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(new_dialog_font), TRUE);
        }
      }
      if (nd.own_dialog_font != nullptr) DeleteObject(nd.own_dialog_font);
      nd.own_dialog_font = new_dialog_font;
    }
    const auto& controls = nd.dlg->controls();
    for (std::size_t i = 0; i < controls.size() && i < nd.ids.size(); ++i) {
      HWND h = nd.Item(static_cast<int>(i));
      if (h == nullptr) continue;
      if (controls[i]->font().has_value()) {
        nd.fonts[i] = FontFor(*controls[i]->font(), dpi);
        SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(nd.fonts[i]), TRUE);
      }
      if (controls[i]->kind() == Kind::ListView) {
        // Widths as they are now, the user's own drags included.
        HWND header = ListView_GetHeader(h);
        const int n = header != nullptr ? Header_GetItemCount(header) : 0;
        for (int col = 0; col < n; ++col) {
          ListView_SetColumnWidth(h, col, MulDiv(ListView_GetColumnWidth(h, col), dpi, old_dpi));
        }
        SetImageList(h, static_cast<const ListCtrl&>(*controls[i]).image_list(), dpi);
      }
    }
    --pushing;
    DrawPictures(nd);
    SetWindowIcons(nd);
    if (suggested != nullptr) {
      SetWindowPos(nd.hwnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // The old size scaled may be too small for the texts at the new DPI, or wider than
    // the new screen lets a widened list be. A window the user can size keeps the size
    // they gave it, grown where it must.
    const auto window_style = static_cast<DWORD>(GetWindowLongPtrW(nd.hwnd, GWL_STYLE));
    Layout(nd, (window_style & WS_THICKFRAME) == 0);
  }

  void InitDialog(NativeDialog& nd) {
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
