#include "inventory/DriveRecord.h"

#include <cstdio>

namespace plovix {

bool IsSmartUsable(const DriveRecord& record) {
  if (record.nvme == 1) return true;
  return record.smart_selftest_default == 1 && record.smart_selftest_supported == 1 &&
         record.smart_enabled == 1 && record.smart_supported == 1;
}

NvmeNamespace NamespaceOf(const DriveRecord& record) {
  NvmeNamespace ns;
  ns.nsid = record.nvme_nsid;
  ns.block_count = record.nvme_block_count;
  ns.block_bytes = record.nvme_block_bytes;
  ns.metadata_bytes = record.nvme_metadata_bytes;
  return ns;
}

int FindSlotByDriveNumber(const DriveTable& table, int drive_number) {
  int valid = table.count;
  if (valid < 0) valid = 0;
  if (valid > kMaxDrives) valid = kMaxDrives;
  for (int i = 0; i < valid; ++i) {
    if (table.records[i].drive_number == drive_number) return i;
  }
  return -1;
}

const DriveRecord* FindByDriveNumber(const DriveTable& table, int drive_number) {
  const int slot = FindSlotByDriveNumber(table, drive_number);
  return slot < 0 ? nullptr : &table.records[slot];
}

std::uint32_t CapacityGb(std::uint64_t total_sectors) {
  return static_cast<std::uint32_t>(total_sectors >> 21);
}

std::uint32_t CapacityGb(const DriveRecord& record) { return CapacityGb(record.total_sectors); }

std::string FormatCapacityGb(std::uint64_t total_sectors) {
  char text[16];
  // Below a gigabyte in megabytes: a 256 MiB disk is no "0GB".
  if (CapacityGb(total_sectors) == 0) {
    std::snprintf(text, sizeof text, "%uMB", static_cast<unsigned>(total_sectors >> 11));
    return text;
  }
  // Signed, as the list has always shown it; both views must agree on an absurd size.
  std::snprintf(text, sizeof text, "%dGB", static_cast<std::int32_t>(CapacityGb(total_sectors)));
  return text;
}

}  // namespace plovix
