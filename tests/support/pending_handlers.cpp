// Temporary: empty stand-ins for the main-window handlers that the test-run, utilities
// and SMART-status code supplies, so the main window links before that code is merged.
// Weak, so the real definitions win as soon as they are in the library. Remove at merge.
#include "app/CPlovixDlg.h"

namespace plovix {

__attribute__((weak)) void CPlovixDlg::RunSelfTests(int kind) { (void)kind; }
__attribute__((weak)) int CPlovixDlg::GetCheckedDriveNumbers(int* numbers) {
  (void)numbers;
  return 0;
}
__attribute__((weak)) int CPlovixDlg::ReadErrorCheck(int drive_number, Transport transport) {
  (void)drive_number;
  (void)transport;
  return 0;
}
__attribute__((weak)) void CPlovixDlg::OnUtilities() {}
__attribute__((weak)) void CPlovixDlg::OpenSmartStatus() {}
__attribute__((weak)) void CPlovixDlg::ReadSmartAttributes(int drive_number, Transport transport) {
  (void)drive_number;
  (void)transport;
}

}  // namespace plovix
