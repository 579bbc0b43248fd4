// Progress dialog of the quick and extended test: watches the drive's own self-test.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "drive/Commands.h"
#include "drive/DriveConnection.h"
#include "drive/IoBuffers.h"
#include "ui/Dialog.h"

namespace plovix {

inline constexpr int kTestDlgTimer = 1;
inline constexpr unsigned kTestDlgPollMs = 5000;

// Closing codes of CTestdlg.
inline constexpr int kSelfTestPassed = -1;
inline constexpr int kSelfTestFailed = -2;
inline constexpr int kSelfTestAborted = -3;
inline constexpr int kSelfTestStillRunning = -4;
// The drive did not start the test: the start was refused or failed, or (NVMe) it was
// taken and yet no test ran and no result came of it.
inline constexpr int kSelfTestNotStarted = -5;

// Self-test execution status: the host aborted the test.
inline constexpr std::uint8_t kStatusAbortedByHost = 0x10;
// Status a showing starts from: running, 9 tenths left. A drive that never answers
// then keeps the dialog open instead of being judged on another drive's last byte.
inline constexpr std::uint8_t kStatusNeutralRunning = 0xF9;

class CTestdlg : public ui::Dialog {
 public:
  CTestdlg();
  ~CTestdlg() override;

  void DoDataExchange(ui::DataExchange& dx) override;
  bool OnInitDialog() override;
  void OnTimer(int timer_id) override;
  void OnCommand(int id) override;
  // Abort is the only focusable control, so Enter means Abort.
  void OnOK() override;
  ui::CtlColor OnCtlColor(int id) override;
  void OnAbort();

  // One poll: reads the status byte on a fresh handle and judges it; returns the
  // closing code the poll stands for (only meant when `finished` is then 1).
  int Poll();
  Transport transport() const;
  // Before the start of a device self-test: what the self-test log holds, so that the
  // polls can tell the new result from the ones before it. Call with the log in buffer
  // A, or with nullptr when it could not be read.
  void SetNvmeResultsBefore(const std::uint8_t* self_test_log);

  std::string title_text;
  ui::ProgressCtrl* progress_bar = nullptr;  // bound by data exchange while open
  ui::Font title_font;
  ui::Brush white_brush;
  IoBuffers* io_buffers = nullptr;
  DriveConnection* connection = nullptr;
  int kind = 0;
  std::uint8_t status = kStatusNeutralRunning;
  std::uint8_t via_scsi = 0;
  std::uint8_t behind_bridge = 0;
  int drive_number = 0;
  std::uint8_t* status_out = nullptr;
  int first_poll_done = 0;
  int finished = 0;
  std::string progress_text;
  std::string drive_caption;  // set per drive with drive_number

  // 1: the drive is NVMe; polls read its Device Self-test log (set per drive).
  std::uint8_t nvme = 0;

 private:
  static constexpr std::size_t kNvmeResultBytes = 20 * 28;
  int PollNvme();
  void AbortNvme();
  std::optional<std::array<std::uint8_t, kNvmeResultBytes>> nvme_results_before_;
  int nvme_unchanged_polls_ = 0;
};

}  // namespace plovix
