// Surface scan: READ VERIFY over the disk in a worker thread, with its progress and
// result dialogs.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "diagnostics/RunPlan.h"
#include "diagnostics/WorkerDialog.h"
#include "drive/DriveConnection.h"
#include "drive/NvmeDecode.h"
#include "ui/Dialog.h"

namespace plovix {

// Why an NVMe scan read the sectors where it would have verified them.
enum class ReadsInstead : std::uint8_t {
  No,            // Verify all the way
  NoVerify,      // the drive offers no Verify command
  SystemRefused, // the operating system did not pass it
  DriveRefused,  // the drive answered it as a command it does not know
};

// Closing codes of CSFTest.
inline constexpr int kSurfaceCompleted = 1;
inline constexpr int kSurfaceFailed = -2;
inline constexpr int kSurfaceAborted = -3;
// NVMe: the operating system passed neither Verify nor Read; refused_at says where.
inline constexpr int kSurfaceRefused = -5;

inline constexpr int kProgressTimer = 1;
inline constexpr unsigned kProgressPeriodMs = 5000;

class CSFTest : public WorkerDialog {
 public:
  CSFTest();
  ~CSFTest() override;

  void DoDataExchange(ui::DataExchange& dx) override;
  bool OnInitDialog() override;
  void OnTimer(int timer_id) override;
  ui::CtlColor OnCtlColor(int id) override;

  // Set by the caller before DoModal.
  std::uint64_t total_sectors = 0;
  DriveConnection* connection = nullptr;
  int kind = kSurfaceShort;
  std::uint8_t via_scsi = 0;
  // An NVMe namespace instead: its blocks, the controller's transfer limit, and whether
  // it offers Verify (without it, or where the system refuses it, the scan reads).
  std::uint8_t nvme = 0;
  NvmeNamespace nvme_ns;
  std::uint8_t nvme_mdts = 0;
  std::uint8_t nvme_verify = 0;

  // The run whose READ VERIFY failed (count 0: none). Written by the worker before it
  // sets finished, so whoever has seen finished may read it.
  std::atomic<std::uint64_t> failed_run_lba{0};
  std::atomic<std::uint32_t> failed_run_count{0};
  SectorRun FailedRun() const;
  // Whether, why and from which sector the scan read instead of verifying; written by
  // the worker before it sets finished, like the failed run.
  std::atomic<ReadsInstead> reads_instead{ReadsInstead::No};
  std::atomic<std::uint64_t> reads_from{0};

  ui::Font title_font{.face = "Arial", .tenths_of_point = 150};
  ui::Brush white_brush;
  std::string title_text;
  std::string progress_text;
  std::string drive_caption;
};

// Worker procedures; 0 when the scan ran to its end or stopped on abort, 1 on failure.
int SurfaceShortWorker(CSFTest* dlg);
int SurfaceLongWorker(CSFTest* dlg);

class CSFTestResult : public ui::Dialog {
 public:
  explicit CSFTestResult(std::uint8_t* selftest_status = nullptr);

  void DoDataExchange(ui::DataExchange& dx) override;
  bool OnInitDialog() override;
  ui::CtlColor OnCtlColor(int id) override;

  ui::Font title_font{.face = "Arial", .tenths_of_point = 150};
  ui::Font result_font{.face = "Arial", .tenths_of_point = 130};
  ui::Brush white_brush;
  std::uint8_t* selftest_status;
  int read_error_code = 0;  // 255 the check could not run, 1 fail, 0 pass
  int kind = kSurfaceShort;
  SectorRun failed_run;  // shown when its count is not 0
  ReadsInstead reads_instead = ReadsInstead::No;  // told when not No
  std::uint64_t reads_from = 0;
  std::string title_text;
  std::string subtitle_text;
  std::string read_error_text;
  std::string surface_text;
  std::string failed_run_text;
  std::string reads_note_text;
  std::string drive_caption;
};

// The surface result sentence for a self-test status byte (by its high nibble).
std::string SurfaceResultText(std::uint8_t status);
// Where a failed scan stopped: "Failing run: LBA <first>, <count> sectors"; empty for none.
std::string FailedRunText(const SectorRun& run);
// How the scan read the disk where it could not verify it; empty for ReadsInstead::No.
std::string ReadsInsteadText(ReadsInstead why, std::uint64_t from_sector);

}  // namespace plovix
