// Erase MBR and the disk erase with its progress dialog.
#pragma once

#include <cstdint>
#include <string>

#include "diagnostics/EraseMethods.h"
#include "diagnostics/WorkerDialog.h"
#include "drive/DriveConnection.h"
#include "drive/IoBuffers.h"
#include "ui/Dialog.h"

namespace plovix {

// Closing codes of CEraseDisk.
inline constexpr int kEraseCompleted = 1;
inline constexpr int kEraseFailed = 2;
inline constexpr int kEraseAborted = 3;
// NVMe: the operating system refused the writes; refused_at says where the erase stopped.
inline constexpr int kEraseRefused = 4;

// Zeroes the first logical block through the session's method (for 4096-byte blocks,
// sectors 0 to 7), then makes it stick.
EraseResult EraseFirstBlock(EraseSession& session, std::uint32_t block_bytes);

class CEraseDisk : public WorkerDialog {
 public:
  CEraseDisk(DriveConnection& connection, IoBuffers& buffers);
  ~CEraseDisk() override;

  void DoDataExchange(ui::DataExchange& dx) override;
  bool OnInitDialog() override;
  void OnTimer(int timer_id) override;
  ui::CtlColor OnCtlColor(int id) override;

  // Set by the caller before DoModal.
  std::uint64_t total_sectors = 0;
  IoBuffers* io_buffers;
  DriveConnection* connection;
  std::uint8_t via_scsi = 0;
  // How the drive is written; without one the erase fails at once.
  EraseSession* session = nullptr;
  // Seed of the read-back's places, so two erases do not read the same blocks.
  std::uint64_t verify_seed = 0;
  ui::Font title_font;
  ui::Brush white_brush;
  std::string drive_caption;  // also names the drive in the completion notice

  // Left by the worker, read once finished is seen set.
  EraseResult result;
  VerifyResult verify;
};

// Worker procedure; 0 when the erase ran to its end or stopped on abort, 1 on failure.
int EraseDiskWorker(CEraseDisk* dlg);

}  // namespace plovix
