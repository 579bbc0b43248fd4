// The erase record: a short text kept beside the drive's log after Erase Disk, for the
// people who must show that a disk was wiped, how and when.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace plovix {

struct EraseRecordInfo {
  std::string model;
  std::string serial;
  std::uint64_t total_sectors = 0;
  std::optional<std::uint64_t> hidden_sectors;  // none: the drive could not tell
  std::string method;                           // empty: no method took the erase
  std::time_t started = 0;
  std::time_t ended = 0;
  std::uint64_t sectors_written = 0;
  std::string verification;
  std::string result;
};

// The record's text, every line ended by CR LF like the drive's log.
std::string FormatEraseRecord(const EraseRecordInfo& info);
// Writes the record under a name of its own beside the drive's log,
// "<log name>-erase-YYYYMMDD-HHMMSS.txt" with "-2", "-3", ... when that is taken, never
// over an earlier record. The file name, or empty when it could not be written.
std::string WriteEraseRecord(const EraseRecordInfo& info);

}  // namespace plovix
