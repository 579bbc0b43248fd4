// Finds windows for the screenshot script, which runs under wine with a virtual
// desktop where dialogs are no X windows of their own. Prints screen rectangles as
// "x y w h".
//
//   winprobe window "<caption>"         the visible, enabled window with that caption
//   winprobe control "<caption>" <id>   a control of that window
//   winprobe exists "<caption>"         exit code 0 when such a window is up
//   winprobe arrival "<caption>"        sends that window a device-arrival notice
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Search {
  std::wstring caption;
  HWND found = nullptr;
};

BOOL CALLBACK Visit(HWND hwnd, LPARAM lp) {
  auto* search = reinterpret_cast<Search*>(lp);
  if (!IsWindowVisible(hwnd) || !IsWindowEnabled(hwnd)) return TRUE;
  wchar_t text[256] = {};
  GetWindowTextW(hwnd, text, 256);
  // Dialogs about one drive append " - <number>: <model> <serial>" to their caption.
  const std::wstring shown = text;
  if (shown == search->caption || shown.starts_with(search->caption + L" - ")) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND Find(const wchar_t* caption) {
  Search search;
  search.caption = caption;
  EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

int Print(HWND hwnd) {
  RECT r{};
  if (hwnd == nullptr || !GetWindowRect(hwnd, &r)) return 1;
  std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
  return 0;
}

}  // namespace

int main() {
  // Wide arguments: captions may be Japanese, which the ANSI argv would lose.
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return 2;
  const std::wstring verb = argc >= 2 ? argv[1] : L"";
  if (argc >= 3 && verb == L"window") return Print(Find(argv[2]));
  if (argc >= 3 && verb == L"exists") return Find(argv[2]) != nullptr ? 0 : 1;
  if (argc >= 3 && verb == L"arrival") {
    HWND hwnd = Find(argv[2]);
    if (hwnd == nullptr) return 1;
    // An arrival counts as a message with a pointer, which may only be sent; the
    // receiver shows a modal box, so do not wait for its answer.
    DWORD_PTR result = 0;
    SendMessageTimeoutW(hwnd, WM_DEVICECHANGE, 0x8000, 0, SMTO_NORMAL, 1000, &result);
    return 0;
  }
  if (argc >= 4 && verb == L"control") {
    HWND dlg = Find(argv[2]);
    return dlg == nullptr ? 1 : Print(GetDlgItem(dlg, _wtoi(argv[3])));
  }
  std::fprintf(stderr, "usage: winprobe window|exists|arrival <caption> | control <caption> <id>\n");
  return 2;
}
