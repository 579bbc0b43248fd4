// What the program knows about each drive found by the last scan.
#pragma once

#include <cstdint>
#include <string>

#include "drive/NvmeDecode.h"

namespace plovix {

struct DriveRecord {
  std::uint8_t drive_number = 0;
  char model[41] = {};
  char serial[21] = {};
  char firmware[9] = {};
  char bridge_id[5] = {};
  char inquiry_revision[5] = {};
  char inquiry_vendor[9] = {};
  char inquiry_product[17] = {};
  char usb_serial[41] = {};
  char ven_pattern[13] = {};
  char prod_pattern[22] = {};
  char rev_pattern[10] = {};
  char vendor_words[4][9] = {};
  char product_words[8][17] = {};
  std::uint64_t total_sectors = 0;
  char drive_letter = 0;
  std::uint8_t bridge_chip = 0;
  std::uint8_t vendor_word_count = 0;
  std::uint8_t product_word_count = 0;
  std::uint8_t via_scsi = 0;
  std::uint8_t behind_bridge = 0;
  std::uint8_t smart_selftest_default = 0;
  std::uint8_t smart_selftest_supported = 0;
  std::uint8_t smart_enabled = 0;
  std::uint8_t smart_supported = 0;
  std::uint8_t usbstor_matched = 0;
  std::uint8_t usb_device_matched = 0;
  std::uint8_t usb_supported_a = 0;
  std::uint8_t usb_supported_b = 0;

  // An NVMe namespace, reached through NVMe commands on its own drive number: the
  // transport and SMART fields above then stay as an ATA drive directly attached would
  // have them, and these say what the namespace is and what its controller offers.
  std::uint8_t nvme = 0;
  std::uint32_t nvme_nsid = 0;
  std::uint64_t nvme_block_count = 0;    // in the namespace's blocks
  std::uint32_t nvme_block_bytes = 0;    // 512, 4096, ...
  std::uint16_t nvme_metadata_bytes = 0;
  std::uint8_t nvme_mdts = 0;            // largest transfer, 4 KiB pages as a power of 2
  std::uint8_t nvme_self_test = 0;       // Device Self-test offered (OACS bit 4)
  std::uint8_t nvme_verify = 0;          // Verify offered (ONCS bit 7)
  std::uint8_t nvme_write_zeroes = 0;    // Write Zeroes offered (ONCS bit 3)
  std::uint16_t nvme_warning_temp_kelvin = 0;   // 0: the controller names none
  std::uint16_t nvme_critical_temp_kelvin = 0;
};

inline constexpr int kMaxDrives = 32;

struct DriveTable {
  DriveRecord records[kMaxDrives] = {};
  std::int32_t count = 0;
};

inline constexpr int kMaxUnsupportedUsb = 21;

struct UnsupportedUsbEntry {
  char vendor[9] = {};
  char product[17] = {};
};

struct UnsupportedUsbList {
  UnsupportedUsbEntry entries[kMaxUnsupportedUsb] = {};
  std::uint8_t count = 0;
};

// All four SMART facilities present and switched on; always for an NVMe drive, whose
// health log every controller keeps.
bool IsSmartUsable(const DriveRecord& record);
// The namespace of an NVMe record, as the NVMe commands want it.
NvmeNamespace NamespaceOf(const DriveRecord& record);
// First valid record with this drive number, or nullptr.
const DriveRecord* FindByDriveNumber(const DriveTable& table, int drive_number);
// Slot index of that record, or -1.
int FindSlotByDriveNumber(const DriveTable& table, int drive_number);
// Capacity in whole gigabytes: total_sectors >> 21, as a 32-bit value.
std::uint32_t CapacityGb(const DriveRecord& record);
std::uint32_t CapacityGb(std::uint64_t total_sectors);
// That capacity as the drive list and the log report show it: "%dGB" of the 32-bit value.
std::string FormatCapacityGb(std::uint64_t total_sectors);

}  // namespace plovix
