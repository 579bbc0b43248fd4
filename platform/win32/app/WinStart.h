// What both Windows executables do before the main window: common controls and the
// application title from the executable's own name.
#pragma once

#include <string>

// The framework headers first: windows.h turns IDOK, RGB and friends into macros.
#include "ui/Backend.h"

#include <windows.h>
#include <commctrl.h>

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

}  // namespace plovix::win32
