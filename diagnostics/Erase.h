// Erase MBR and the disk erase with its progress dialog.
#pragma once

#include <cstdint>
#include <string>

#include "diagnostics/WorkerDialog.h"
#include "drive/DriveConnection.h"
#include "drive/IoBuffers.h"
#include "drive/NvmeDecode.h"
#include "ui/Dialog.h"

namespace plovix {

namespace erase_ids {
inline constexpr int kTemplate = 150;
inline constexpr int kBar = 1019;
inline constexpr int kTitle = 1029;
inline constexpr int kAbort = 1001;
}  // namespace erase_ids

// Closing codes of CEraseDisk.
inline constexpr int kEraseCompleted = 1;
inline constexpr int kEraseFailed = 2;
inline constexpr int kEraseAborted = 3;
// NVMe: the operating system refused the writes; refused_at says where the erase stopped.
inline constexpr int kEraseRefused = 4;

// Zeroes sector 0 on the open drive: WRITE BUFFER with zeros, then the erase opcode over
// one sector. True when the erase reported success.
bool EraseMbr(DriveConnection& connection, std::uint8_t via_scsi);

// An NVMe namespace's part: how it is to be written.
struct NvmeEraseTarget {
  NvmeNamespace ns;
  std::uint8_t mdts = 0;
  std::uint8_t write_zeroes = 0;  // offered by the controller
};

enum class NvmeEraseOutcome { Done, Failed, Refused };

// Zeroes block 0 of the namespace on the open drive (for 4096-byte blocks, sectors 0 to
// 7): Write Zeroes, or a write of zeros where the controller lacks it or the system
// refuses it; then a flush.
NvmeEraseOutcome EraseMbrNvme(DriveConnection& connection, const NvmeEraseTarget& target);

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
  // NVMe: the namespace to zero, block by block (nvme 1).
  std::uint8_t nvme = 0;
  NvmeEraseTarget nvme_target;
  ui::Font title_font;
  ui::Brush white_brush;
  std::string drive_caption;  // also names the drive in the completion notice
};

// Worker procedure; 0 when the erase ran to its end or stopped on abort, 1 on failure.
int EraseDiskWorker(CEraseDisk* dlg);

}  // namespace plovix
