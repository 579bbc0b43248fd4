// The lines the SMART status dialog shows for an NVMe drive: one per field of its
// SMART / Health log, in the columns the ATA attributes use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drive/NvmeDecode.h"
#include "inventory/DriveRecord.h"

namespace plovix {

// Image of a line: none where the field has no limit, else good or bad (indices of the
// dialog's image list).
inline constexpr int kHealthNoImage = -1;
inline constexpr int kHealthGood = 0;
inline constexpr int kHealthBad = 1;

struct HealthRow {
  int offset = 0;  // the field's byte offset in the log, shown as its ID
  std::string name;
  std::string current;    // the value as read
  std::string worst;      // NVMe keeps no worst value: always empty
  std::string threshold;  // the field's limit, where it has one
  std::string raw;        // the field's number as the drive reports it
  int image = kHealthNoImage;
  bool operator==(const HealthRow&) const = default;
};

// Every field of the log, in log order. The record gives the controller's warning
// temperature, the limit of the composite temperature.
std::vector<HealthRow> NvmeHealthRows(const NvmeHealth& health, const DriveRecord& record);

// A 128-bit counter in decimal, every digit kept.
std::string U128Decimal(const NvmeU128& value);
// Bytes of a data-units counter as "<n> GB" below a terabyte, else "<n.n> TB" (powers
// of ten, as drives count them).
std::string DataUnitsText(const NvmeU128& units);

// Identity lines of the dialog for an NVMe drive: the namespace's block count in the ATA
// drive's "0x%-12llX\r\n", and the capacity with the block size, "931GB, 4096 B blocks".
std::string NvmeMaxLbaText(const DriveRecord& record);
std::string NvmeCapacityText(const DriveRecord& record);

}  // namespace plovix
