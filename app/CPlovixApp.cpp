#include "app/CPlovixApp.h"

#include "app/CPlovixDlg.h"

namespace plovix {

bool CPlovixApp::InitInstance() {
  CPlovixDlg main_window(io_, catalog_);
  main_window.DoModal();
  // No message loop of our own: the program ends when the main window closes.
  return false;
}

}  // namespace plovix
