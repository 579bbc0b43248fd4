// The GDI objects the Windows back end makes once and keeps while it lives: fonts at
// each DPI, solid brushes, icons at each size; and the colours a dialog asks for its
// controls.
#include "faces/win32/Win32BackendImpl.h"

#include <string>

namespace ui::win32 {

Win32Backend::Impl::~Impl() {
  for (auto& f : fonts) DeleteObject(f.handle);
  for (auto& b : brushes) DeleteObject(b.second);
  for (auto& i : icons) DestroyIcon(i.second);
}

// Point sizes and pixel heights alike are meant at 96 DPI's pixels: both follow the
// window's DPI.
HFONT Win32Backend::Impl::FontFor(const Font& font, int dpi) {
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

HBRUSH Win32Backend::Impl::BrushFor(Color color) {
  auto it = brushes.find(color);
  if (it != brushes.end()) return it->second;
  HBRUSH brush = ::CreateSolidBrush(static_cast<COLORREF>(color));
  brushes.emplace(color, brush);
  return brush;
}

HICON Win32Backend::Impl::IconFor(int id, int size) {
  const auto key = std::make_pair(id, size);
  auto it = icons.find(key);
  if (it != icons.end()) return it->second;
  auto icon = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
  icons.emplace(key, icon);
  return icon;
}

INT_PTR Win32Backend::Impl::CtlColor(NativeDialog& nd, UINT msg, HDC dc, HWND control) {
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

}  // namespace ui::win32
