// Layout and measuring: every static's and button's text measured in its own font, a
// report list's columns, the caption; the controls widened where they need it and the
// dialog grown around them (ui/TextFit.h decides where).
#include "faces/win32/Win32BackendImpl.h"

#include <algorithm>
#include <climits>
#include <utility>
#include <vector>

#include "ui/TextFit.h"

namespace ui::win32 {

namespace {

// Pixels at 96 DPI: the clearance a button's text keeps on either side, the most a
// widened control keeps to the dialog's edges, and the room a caption's text leaves.
constexpr int kButtonPadding = 4;
constexpr int kDialogMargin = 11;
constexpr int kCaptionPadding = 12;

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

Rect FromRECT(const RECT& r) { return Rect{r.left, r.top, r.right - r.left, r.bottom - r.top}; }

// What a static's or button's text needs, in pixels; {0, 0} when it fits as placed.
SIZE TextNeed(HWND h, const Control& control, const RECT& placed, int dpi) {
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
int ClientLimit(HWND hwnd) {
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
std::pair<int, int> ListColumnsAndChrome(HWND h, int dpi) {
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

}  // namespace

RECT ChildRect(HWND child) {
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// Places every control where its template puts it at this DPI, widened where its text
// or a list's columns need more, and grows the dialog when a widened control needs that.
// exact: the dialog takes just the size its template and those needs give it, not
// less nor more (after a DPI change, rather than the old size scaled).
void Win32Backend::Impl::Layout(NativeDialog& nd, bool exact) {
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

}  // namespace ui::win32
