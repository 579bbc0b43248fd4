// What both Windows executables do before the main window: common controls and the
// application title from the executable's own name; for a command, the console.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// The framework headers first: windows.h turns IDOK, RGB and friends into macros.
#include "ui/Backend.h"

#include <windows.h>
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>

namespace plovix::win32 {

inline void StartWindowsProgram() {
  INITCOMMONCONTROLSEX icc{};
  icc.dwSize = sizeof icc;
  icc.dwICC = ICC_WIN95_CLASSES;
  InitCommonControlsEx(&icc);
  char path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n > 0 && n < MAX_PATH) ui::SetAppTitle(ui::TitleFromExecutablePath(path));
}

namespace detail {

// A file or a pipe: what redirection (cmd's > and |, wine's own descriptors) hands over.
inline bool IsRedirected(HANDLE h) {
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return false;
  const DWORD type = GetFileType(h);
  return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE;
}

inline HANDLE Duplicate(HANDLE h) {
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, FALSE,
                       DUPLICATE_SAME_ACCESS))
    return nullptr;
  return copy;
}

// Points the C stream, and the standard handle it stands for, at a handle of its own.
// Rebinding may close the handle the C runtime picked at start-up, which can be the
// standard handle itself: callers duplicate every handle before binding any.
inline void BindStream(FILE* stream, DWORD which, HANDLE own) {
  if (own == nullptr) return;
  const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(own), _O_TEXT);
  if (fd < 0) {
    CloseHandle(own);
    return;
  }
  // A GUI program's streams may have no descriptor at all (-2); give them one first.
  if (_fileno(stream) < 0 && !std::freopen("NUL", "w", stream)) {
    _close(fd);
    return;
  }
  if (_dup2(fd, _fileno(stream)) == 0)
    SetStdHandle(which, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))));
  _close(fd);
  if (stream == stderr) std::setvbuf(stderr, nullptr, _IONBF, 0);
}

}  // namespace detail

// A GUI-subsystem program started with a command prints where it was started from: into
// the file or pipe its output is redirected to, or else into the console of the program
// that started it. Without either, output goes nowhere and nothing fails.
inline void UseParentConsole() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  const bool outRedirected = detail::IsRedirected(out);
  const bool errRedirected = detail::IsRedirected(err);
  HANDLE outCopy = outRedirected ? detail::Duplicate(out) : nullptr;
  HANDLE errCopy = errRedirected ? detail::Duplicate(err) : nullptr;
  // Started from Explorer there is no console to attach to.
  if ((!outRedirected || !errRedirected) && AttachConsole(ATTACH_PARENT_PROCESS)) {
    const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       0, nullptr);
    if (console != INVALID_HANDLE_VALUE) {
      if (!outRedirected) outCopy = detail::Duplicate(console);
      if (!errRedirected) errCopy = detail::Duplicate(console);
      CloseHandle(console);
    }
  }
  detail::BindStream(stdout, STD_OUTPUT_HANDLE, outCopy);
  detail::BindStream(stderr, STD_ERROR_HANDLE, errCopy);
}

}  // namespace plovix::win32
