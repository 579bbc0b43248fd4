// Erase MBR and Erase Disk from the Utilities menu: the notice before the confirmation,
// the identity check, the claim on the disk, the erase through one method, the system
// told, and the result in the Status column, the log, the boxes and the erase record.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/CPlovixDlg.h"
#include "diagnostics/Confirm.h"
#include "diagnostics/DriveCaption.h"
#include "diagnostics/Erase.h"
#include "diagnostics/EraseRecord.h"
#include "diagnostics/NvmeSupport.h"
#include "diagnostics/Utilities.h"
#include "inventory/DriveScan.h"
#include "reports/DriveLog.h"
#include "ui/Backend.h"

namespace plovix {

namespace {

template <std::size_t N>
std::string Text(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

std::uint16_t Word(const std::uint8_t* identify, int word) {
  return static_cast<std::uint16_t>(identify[word * 2] | identify[word * 2 + 1] << 8);
}

NvmeEraseTarget EraseTargetOf(const DriveRecord& record) {
  NvmeEraseTarget target;
  target.ns = NamespaceOf(record);
  target.mdts = record.nvme_mdts;
  target.write_zeroes = record.nvme_write_zeroes;
  return target;
}

// Without Write Zeroes the program writes zeros itself, which a format with metadata
// does not allow.
bool NvmeErasable(const DriveRecord& record) {
  return record.nvme_write_zeroes == 1 || record.nvme_metadata_bytes == 0;
}

// What the erase knows of the drive, right after its identity was read back.
EraseTarget TargetOf(const DriveRecord& record, DriveConnection& connection, DeviceIo& io) {
  EraseTarget target;
  target.connection = &connection;
  target.io = &io;
  target.via_scsi = record.via_scsi;
  target.total_sectors = record.total_sectors;
  target.nvme = record.nvme == 1;
  if (target.nvme) {
    target.nvme_target = EraseTargetOf(record);
  } else if (connection.IsOpen()) {
    // The identity just read back: SCT with Write Same (word 206 bits 0 and 2).
    target.sct_write_same = (Word(connection.buffers().a(), 206) & 0x0005) == 0x0005;
  }
  return target;
}

// The log's result word: the vendor fill, the erase as first designed, keeps its word.
std::string Logged(const char* word, std::optional<EraseMethodKind> method) {
  if (!method || *method == EraseMethodKind::VendorFill) return word;
  return std::string(word) + " (" + EraseMethodName(*method) + ")";
}

std::string HiddenNote(std::uint64_t hidden) {
  char size[32];
  std::snprintf(size, sizeof size, "%.1f MiB", static_cast<double>(hidden) / 2048);
  return "A host protected area hides " + std::to_string(hidden) + " sectors (" + size +
         ") at the end of this disk. Erase Disk cannot reach them and leaves them as "
         "they are; the program does not change the drive's size.";
}

std::string InUseText(const std::vector<std::string>& users) {
  std::string text;
  for (const std::string& user : users) text += user + ".\n";
  return text + "\nUnmount it first (or stop what uses it), then erase again. Nothing was written.";
}

}  // namespace

std::string CPlovixDlg::EraseNotice(const DriveRecord& record, std::uint8_t choice) {
  erase_hidden_sectors.reset();
  std::string notice;
  const std::vector<std::string> volumes = device_io.VolumesToDismount(record.drive_number);
  if (!volumes.empty()) {
    std::string names;
    for (std::size_t i = 0; i < volumes.size(); ++i) {
      names += (i == 0 ? "" : i + 1 == volumes.size() ? " and " : ", ") + volumes[i];
    }
    const bool one = volumes.size() == 1;
    notice = "While it runs, the erase dismounts " + names + " (takes " +
             (one ? "it" : "them") + " off-line). Close every program that uses " +
             (one ? "it" : "them") + " first.";
  }
  if (choice != utility::kEraseDisk || record.nvme == 1 || record.total_sectors == 0) return notice;
  // The native size, read only; the drive's max address is never set.
  connection->Close();
  connection->Open(record.drive_number);
  // Only of the listed drive: one swapped in meanwhile is refused after the warning.
  if (!IsStillListedDrive(*connection, record)) return notice;
  const std::uint8_t* id = connection->buffers().a();
  const bool ama = (Word(id, 119) & 0xC100) == 0x4100;
  const bool hpa = (Word(id, 82) & 0x0400) != 0 && (Word(id, 83) & 0x0400) != 0;
  if (!ama && !hpa) return notice;
  const Transport sat{record.via_scsi, 0};
  const AtaReply native = ama ? GetNativeMaxAddressExt(*connection, sat)
                               : ReadNativeMaxAddressExt(*connection, sat);
  if (!native.ok() || !native.registers) return notice;
  const std::uint64_t native_sectors = native.lba() + 1;
  erase_hidden_sectors = native_sectors > record.total_sectors ? native_sectors - record.total_sectors : 0;
  if (*erase_hidden_sectors == 0) return notice;
  return notice.empty() ? HiddenNote(*erase_hidden_sectors)
                        : notice + "\n\n" + HiddenNote(*erase_hidden_sectors);
}

bool CPlovixDlg::OpenListedDriveForErase(const DriveRecord& record, int line) {
  connection->Close();
  // One that does not open goes on to fail its erase, as it always has: nothing can
  // reach it to be written.
  if (!connection->Open(record.drive_number)) return true;
  if (IsStillListedDrive(*connection, record)) return true;
  SetStatusText(line, "Drive Changed");
  TellUser(kDriveChangedText, DriveCaption(record));
  return false;
}

bool CPlovixDlg::ClaimForErase(const DriveRecord& record, int line, DiskClaim& claim) {
  claim = device_io.ClaimDisk(record.drive_number);
  switch (claim.outcome) {
    case ClaimOutcome::Claimed:
    case ClaimOutcome::NoBlockPath:
      return true;
    case ClaimOutcome::InUse:
      SetStatusText(line, "In Use");
      TellUser(InUseText(claim.users), DriveCaption(record));
      return false;
    case ClaimOutcome::Failed:
      break;
  }
  SetStatusText(line, "Refused");
  TellUser("The operating system would not let the program take the disk for the erase (" +
               claim.why + "), so nothing was written.",
           DriveCaption(record));
  return false;
}

void CPlovixDlg::ReleaseAfterErase(DiskClaim& claim, const std::string& drive_caption) {
  if (claim.outcome != ClaimOutcome::Claimed) return;
  const std::string failure = device_io.ReleaseDisk(claim.handle);
  claim.outcome = ClaimOutcome::NoBlockPath;
  if (failure.empty()) return;
  TellUser("The erase's own result stands, but the operating system could not be told of "
           "the disk's new content (" + failure + "): it may still show the old partitions "
           "until the disk is plugged in again or the machine restarts.",
           drive_caption);
}

void CPlovixDlg::RunEraseMbr(const DriveRecord& record, int line) {
  const std::string serial = Text(record.serial);
  const std::string drive_caption = DriveCaption(record);
  if (record.nvme == 1) {
    if (!NvmeErasable(record)) {
      TellUser(nvme_text::kEraseNeedsWriteZeroes, drive_caption);
      SetStatusText(line, "Not Supported");
      return;
    }
    if (record.nvme_block_bytes > 512 &&
        !AskUser(MbrBlockNote(record.nvme_block_bytes), drive_caption)) {
      return;  // declined: like a declined warning, nothing done and nothing logged
    }
  }
  if (!OpenListedDriveForErase(record, line)) return;
  EraseTarget target = TargetOf(record, *connection, device_io);
  // A drive that did not open fails its erase as it always has; nothing to claim.
  if (connection->IsOpen() && !ClaimForErase(record, line, target.claim)) return;
  std::uint32_t block = target.nvme ? record.nvme_block_bytes : 512;
  if (!target.nvme && target.claim.outcome == ClaimOutcome::Claimed &&
      target.claim.logical_block_bytes > 512) {
    block = target.claim.logical_block_bytes;
    if (!AskUser(MbrBlockNote(block), drive_caption)) {
      ReleaseAfterErase(target.claim, drive_caption);
      return;
    }
  }
  SetStatusText(line, "Erase MBR Execute");
  EraseSession session(target);
  const EraseResult result = EraseFirstBlock(session, block);
  switch (result.status) {
    case EraseStatus::Done: {
      SetStatusText(line, "Completed");
      CCompErase1 done;
      done.drive_caption = drive_caption;
      done.DoModal();
      AppendDriveLog(serial, "Erase MBR", Logged("Completed", session.method()));
      if (session.method() && *session.method() != EraseMethodKind::VendorFill) {
        TellUser(std::string("The MBR was erased by ") + EraseMethodName(*session.method()) + ".",
                 drive_caption);
      }
      break;
    }
    case EraseStatus::SystemRefused:
      SetStatusText(line, "Refused");
      TellUser(nvme_text::kMbrRefused, drive_caption);
      AppendDriveLog(serial, "Erase MBR", "Refused");
      break;
    case EraseStatus::Failed:
    case EraseStatus::Refused:
    case EraseStatus::Aborted:
      SetStatusText(line, "Failure");
      ui::AfxMessageBox("!!! Erase MBR Fail !!!", ui::MB_OK);
      AppendDriveLog(serial, "Erase MBR", "Failed");
      break;
  }
  ReleaseAfterErase(target.claim, drive_caption);
}

void CPlovixDlg::RunEraseDisk(const DriveRecord& record, int line) {
  const std::string serial = Text(record.serial);
  const std::string drive_caption = DriveCaption(record);
  if (record.nvme == 1 && !NvmeErasable(record)) {
    TellUser(nvme_text::kEraseNeedsWriteZeroes, drive_caption);
    SetStatusText(line, "Not Supported");
    return;
  }
  if (!OpenListedDriveForErase(record, line)) return;
  EraseTarget target = TargetOf(record, *connection, device_io);
  if (connection->IsOpen() && !ClaimForErase(record, line, target.claim)) return;
  EraseSession session(target);
  CEraseDisk erase(*connection, *io_buffers);
  erase.title_font = ui::Font{.face = "Arial", .tenths_of_point = 150};
  erase.drive_caption = drive_caption;
  erase.via_scsi = record.via_scsi;
  erase.total_sectors = record.total_sectors;
  erase.session = &session;
  const std::time_t started = ui::Now();
  erase.verify_seed = static_cast<std::uint64_t>(started) * 0x9E3779B97F4A7C15ULL ^ record.total_sectors;
  SetStatusText(line, "Erase Disk Execute");
  const int code = erase.DoModal();
  const std::time_t ended = ui::Now();

  const std::optional<EraseMethodKind> method = session.method();
  const std::string method_name = method ? EraseMethodName(*method) : "";
  const EraseResult& result = erase.result;
  const bool read_back = result.status == EraseStatus::Done;
  EraseRecordInfo info;
  info.model = Text(record.model);
  info.serial = serial;
  info.total_sectors = record.total_sectors;
  info.hidden_sectors = record.nvme == 1 ? std::optional<std::uint64_t>(0) : erase_hidden_sectors;
  info.method = method_name;
  info.started = started;
  info.ended = ended;
  info.sectors_written = session.sectors_written();
  info.verification = read_back ? VerifyText(erase.verify) : "Not verified: the erase did not complete";
  std::string summary;
  switch (code) {
    case kEraseCompleted:
      SetStatusText(line, "Completed");
      AppendDriveLog(serial, "Erase Disk", Logged("Completed", method));
      info.result = "Completed";
      summary = "Erased by " + method_name + ".\n" + info.verification + ".";
      if (erase.verify.kind == VerifyResult::Kind::Verified) {
        summary += " The first and last MiB and one block in every 256 MiB read back as zeros.";
      }
      if (info.hidden_sectors && *info.hidden_sectors != 0) {
        summary += "\n" + std::to_string(*info.hidden_sectors) +
                   " sectors hidden by a host protected area were not erased.";
      }
      break;
    case kEraseAborted:
      SetStatusText(line, "Aborted");
      AppendDriveLog(serial, "Erase Disk", "Aborted");
      info.result = "Aborted at LBA " + std::to_string(result.lba);
      break;
    case kEraseFailed: {
      SetStatusText(line, "Failure");
      std::string why;
      if (result.status == EraseStatus::Done) {
        why = erase.verify.kind == VerifyResult::Kind::NotZero
                  ? "The erase reported success, but LBA " + std::to_string(erase.verify.lba) +
                        " does not read back as zeros: the drive did not write it."
                  : "The erase reported success, but " + VerifyText(erase.verify) + ".";
        info.result = "Failed: " + info.verification;
      } else {
        why = "The erase stopped at the run from LBA " + std::to_string(result.lba) +
              (result.answer.empty() ? std::string(".") : ": " + result.answer + ".");
        info.result = "Failed at LBA " + std::to_string(result.lba) +
                      (result.answer.empty() ? "" : ": " + result.answer);
      }
      ui::AfxMessageBox("!!! Erase Disk Fail !!!\n\n" + why, ui::MB_OK);
      AppendDriveLog(serial, "Erase Disk", "Failed");
      break;
    }
    case kEraseRefused:
      SetStatusText(line, "Refused");
      TellUser(EraseRefusedText(erase.refused_at.load()), drive_caption);
      AppendDriveLog(serial, "Erase Disk", "Refused");
      info.result = "Refused by the operating system at LBA " + std::to_string(erase.refused_at.load());
      break;
    default:
      break;
  }
  ReleaseAfterErase(target.claim, drive_caption);
  if (info.result.empty()) return;
  const std::string file = WriteEraseRecord(info);
  if (!summary.empty()) {
    summary += file.empty() ? "\nThe erase record could not be written."
                            : "\nErase record: " + file;
    TellUser(summary, drive_caption);
  }
}

}  // namespace plovix
