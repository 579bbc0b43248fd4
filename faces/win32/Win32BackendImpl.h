// What the Windows back end keeps behind its interface, shared by the files that
// implement it: the entry points and the messages (Win32Backend.cpp), a dialog's window
// made ready and its controls brought in line (Win32Dialog.cpp), the list views
// (Win32ListView.cpp), layout and measuring (Win32Layout.cpp), pictures and DPI
// scaling (Win32Dpi.cpp), the cached fonts, brushes and icons (Win32Gdi.cpp).
#pragma once

#include "faces/win32/Win32Backend.h"

#include <windows.h>
#include <commctrl.h>
// The framework's own MessageBox member must not turn into MessageBoxW.
#undef MessageBox

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "faces/win32/Win32ListSync.h"
#include "faces/win32/Win32Template.h"

namespace ui::win32 {

inline std::wstring Wide(std::string_view utf8) {
  const std::u16string u = Utf8ToUtf16(utf8);
  return std::wstring(u.begin(), u.end());
}

inline std::wstring WindowText(HWND hwnd) {
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

// The screen's and a window's DPI, and the system's metrics at a DPI (Win32Dpi.cpp).
int ScreenDpi();
int WindowDpi(HWND hwnd);
int MetricForDpi(int index, int dpi);
// The dialog manager would scale fonts and places itself on a DPI change, but not the
// fonts, columns and pictures the program sets: the back end does all of it instead.
void TakeOverDpiChanges(HWND hwnd);

// A control's rectangle in its dialog's client area (Win32Layout.cpp).
RECT ChildRect(HWND child);

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

  ~Impl();

  static NativeDialog* Native(Dialog& dlg) { return static_cast<NativeDialog*>(dlg.backend_data); }

  // The modal loops and the messages (Win32Backend.cpp).
  static HWND TopWindow();
  void CheckEnd();
  void PushForeignChanges();
  INT_PTR Handle(NativeDialog& nd, UINT msg, WPARAM wp, LPARAM lp);

  // A dialog's window made ready, and each control brought in line with its model
  // (Win32Dialog.cpp).
  void InitDialog(NativeDialog& nd);
  void PushControl(NativeDialog& nd, int index);

  // List views (Win32ListView.cpp).
  void SetImageList(HWND h, const std::vector<int>& ids, int dpi);
  bool PushList(HWND h, const ListCtrl& model, ListShadow& shadow, int dpi);
  void ListItemChanged(NativeDialog& nd, int index, const NMLISTVIEW& nm);

  // Layout and measuring (Win32Layout.cpp).
  void Layout(NativeDialog& nd, bool exact = false);

  // Pictures and DPI scaling (Win32Dpi.cpp).
  void DrawPictures(NativeDialog& nd);
  void SetWindowIcons(NativeDialog& nd);
  void DpiChanged(NativeDialog& nd, int dpi, const RECT* suggested);

  // Fonts, brushes and icons, made once (Win32Gdi.cpp); the colours a dialog asks for.
  HFONT FontFor(const Font& font, int dpi);
  HBRUSH BrushFor(Color color);
  HICON IconFor(int id, int size);
  INT_PTR CtlColor(NativeDialog& nd, UINT msg, HDC dc, HWND control);
};

}  // namespace ui::win32
