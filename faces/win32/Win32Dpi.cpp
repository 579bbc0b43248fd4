// Pictures and DPI scaling: the DPI a window is shown at, bitmaps and icons drawn for
// it, and everything drawn again when the window moves to a monitor of another DPI.
#include "faces/win32/Win32BackendImpl.h"

namespace ui::win32 {

namespace {

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

}  // namespace

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

void TakeOverDpiChanges(HWND hwnd) {
  using Fn = BOOL(WINAPI*)(HWND, DIALOG_DPI_CHANGE_BEHAVIORS, DIALOG_DPI_CHANGE_BEHAVIORS);
  static const auto set = User32<Fn>("SetDialogDpiChangeBehavior");
  if (set != nullptr) set(hwnd, DDC_DISABLE_ALL, DDC_DISABLE_ALL);
}

// Bitmaps come at the size they were drawn for 96 DPI, made smaller where that would
// reach past their template rectangle (a picture's white would show below the band it
// sits in); the template's icon at the system's icon size.
void Win32Backend::Impl::DrawPictures(NativeDialog& nd) {
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

void Win32Backend::Impl::SetWindowIcons(NativeDialog& nd) {
  if (nd.dlg->icon_id() == 0) return;
  SendMessageW(nd.hwnd, WM_SETICON, ICON_BIG,
               reinterpret_cast<LPARAM>(IconFor(nd.dlg->icon_id(), MetricForDpi(SM_CXICON, nd.dpi))));
  SendMessageW(nd.hwnd, WM_SETICON, ICON_SMALL,
               reinterpret_cast<LPARAM>(IconFor(nd.dlg->icon_id(), MetricForDpi(SM_CXSMICON, nd.dpi))));
}

// The window moved to a monitor of another DPI: everything is drawn again at the new
// DPI from the template, the way it was laid out at the old one.
void Win32Backend::Impl::DpiChanged(NativeDialog& nd, int dpi, const RECT* suggested) {
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

}  // namespace ui::win32
