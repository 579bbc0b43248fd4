// Decoders for the data NVMe controllers return (identify controller and namespace, the
// SMART / Health and Device Self-test log pages), and the conversion between the
// program's 512-byte sectors and a namespace's logical blocks. Pure functions: every
// byte comes from a device and is checked before it is trusted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace plovix {

inline constexpr std::size_t kNvmeIdentifyBytes = 4096;
inline constexpr std::size_t kNvmeHealthLogBytes = 512;
inline constexpr std::size_t kNvmeSelfTestLogBytes = 564;

// A 128-bit little-endian counter of the health log. Kept whole; Shown() gives the
// value a 64-bit display can hold, saturating instead of wrapping.
struct NvmeU128 {
  std::uint64_t low = 0;
  std::uint64_t high = 0;

  std::uint64_t Shown() const { return high != 0 ? UINT64_MAX : low; }
  bool IsZero() const { return low == 0 && high == 0; }
  friend bool operator==(const NvmeU128&, const NvmeU128&) = default;
};

// Identify Controller (CNS 01h).
struct NvmeControllerIdentity {
  std::uint16_t pci_vendor = 0;  // bytes 0-1
  // Texts with blanks cut at both ends; bytes outside printable ASCII become '?', so a
  // controller cannot put control characters on the screen or into a file name.
  char serial[21] = {};    // bytes 4-23
  char model[41] = {};     // bytes 24-63
  char firmware[9] = {};   // bytes 64-71
  std::uint8_t mdts = 0;   // byte 77: largest transfer, 2^mdts minimum pages; 0 = no limit
  std::uint16_t controller_id = 0;  // bytes 78-79
  std::uint32_t version = 0;        // bytes 80-83, 0 before NVMe 1.2
  std::uint16_t oacs = 0;           // bytes 256-257
  std::uint8_t log_page_attributes = 0;      // byte 261
  std::uint16_t warning_temp_kelvin = 0;     // bytes 266-267, 0 = not reported
  std::uint16_t critical_temp_kelvin = 0;    // bytes 268-269
  std::uint16_t extended_self_test_minutes = 0;  // bytes 316-317
  std::uint8_t self_test_options = 0;            // byte 318
  std::uint32_t namespace_count = 0;  // bytes 516-519
  std::uint16_t oncs = 0;             // bytes 520-521

  bool self_test_supported() const { return (oacs & 0x0010) != 0; }
  bool write_zeroes_supported() const { return (oncs & 0x0008) != 0; }
  bool verify_supported() const { return (oncs & 0x0080) != 0; }
};

// Takes the 4096 bytes of an Identify Controller answer.
void DecodeIdentifyController(const std::uint8_t* data, NvmeControllerIdentity& out);

// Identify Namespace (CNS 00h) of one namespace, in its current LBA format.
struct NvmeNamespace {
  std::uint32_t nsid = 0;
  std::uint64_t block_count = 0;   // NSZE: blocks the host may address, 0..block_count-1
  std::uint32_t block_bytes = 0;   // 2^LBADS of the format in use: 512, 4096, ...
  std::uint8_t format_index = 0;
  std::uint16_t metadata_bytes = 0;  // per block; the program moves no metadata
  bool metadata_extended = false;    // metadata interleaved with the data (FLBAS bit 4)
  std::uint8_t protection_type = 0;  // DPS bits 2:0, 0 = none

  // The namespace in the program's 512-byte sectors.
  std::uint64_t sectors() const { return block_count * (block_bytes / 512); }
  std::uint32_t sectors_per_block() const { return block_bytes / 512; }
};

enum class NvmeNamespaceDecode {
  Ok,
  Inactive,        // NSZE 0: the controller knows no such namespace (all-zero data)
  BadFormatIndex,  // FLBAS names a format beyond NLBAF
  BadBlockSize,    // LBADS below 9 (512 bytes) or above 16 (64 KiB): not a usable format
  TooLarge,        // more 512-byte sectors than 64 bits hold
};

// Takes the 4096 bytes of an Identify Namespace answer for nsid. out is written only
// when the answer is Ok.
NvmeNamespaceDecode DecodeIdentifyNamespace(const std::uint8_t* data, std::uint32_t nsid,
                                            NvmeNamespace& out);

// Critical warning bits (health log byte 0).
inline constexpr std::uint8_t kNvmeWarnSpare = 0x01;
inline constexpr std::uint8_t kNvmeWarnTemperature = 0x02;
inline constexpr std::uint8_t kNvmeWarnReliability = 0x04;
inline constexpr std::uint8_t kNvmeWarnReadOnly = 0x08;
inline constexpr std::uint8_t kNvmeWarnBackup = 0x10;
inline constexpr std::uint8_t kNvmeWarnPmrReadOnly = 0x20;

// SMART / Health Information log (02h), 512 bytes.
struct NvmeHealth {
  std::uint8_t critical_warning = 0;        // byte 0
  std::uint16_t temperature_kelvin = 0;     // bytes 1-2, composite; 0 = not reported
  std::uint8_t available_spare = 0;         // byte 3, percent
  std::uint8_t available_spare_threshold = 0;  // byte 4, percent
  std::uint8_t percentage_used = 0;         // byte 5; may pass 100, up to 255
  NvmeU128 data_units_read;        // 32-47, in thousands of 512-byte units, rounded up
  NvmeU128 data_units_written;     // 48-63
  NvmeU128 host_read_commands;     // 64-79
  NvmeU128 host_write_commands;    // 80-95
  NvmeU128 controller_busy_minutes;  // 96-111
  NvmeU128 power_cycles;           // 112-127
  NvmeU128 power_on_hours;         // 128-143
  NvmeU128 unsafe_shutdowns;       // 144-159
  NvmeU128 media_errors;           // 160-175, media and data integrity errors
  NvmeU128 error_log_entries;      // 176-191
  std::uint32_t warning_temp_minutes = 0;   // 192-195
  std::uint32_t critical_temp_minutes = 0;  // 196-199
};

void DecodeHealthLog(const std::uint8_t* data, NvmeHealth& out);

// Whole degrees Celsius of a kelvin reading (kelvin minus 273: NVMe reports whole
// kelvins); none for 0, which means not reported.
std::optional<int> KelvinToCelsius(std::uint16_t kelvin);
// Bytes of a data-units counter (one unit is 1000 sectors of 512 bytes), saturating.
std::uint64_t DataUnitsToBytes(const NvmeU128& units);

// Device Self-test result codes (entry byte 0 bits 3:0).
enum NvmeSelfTestStatus : std::uint8_t {
  kNvmeTestPassed = 0x0,
  kNvmeTestAbortedByCommand = 0x1,
  kNvmeTestAbortedByReset = 0x2,
  kNvmeTestAbortedByNamespaceRemoval = 0x3,
  kNvmeTestAbortedByFormat = 0x4,
  kNvmeTestFatalError = 0x5,
  kNvmeTestFailedUnknownSegment = 0x6,
  kNvmeTestFailedSegment = 0x7,
  kNvmeTestAbortedUnknown = 0x8,
  kNvmeTestAbortedBySanitize = 0x9,
  kNvmeTestEntryUnused = 0xF,
};

// One Self-test Result Data Structure (28 bytes).
struct NvmeSelfTestResult {
  std::uint8_t status = kNvmeTestEntryUnused;  // NvmeSelfTestStatus
  std::uint8_t code = 0;        // the test it was: 1 short, 2 extended, 0xE vendor
  std::uint8_t segment = 0;     // first failing segment, for kNvmeTestFailedSegment
  std::uint64_t power_on_hours = 0;
  std::optional<std::uint32_t> nsid;         // each only when its valid bit is set
  std::optional<std::uint64_t> failing_lba;  // in the namespace's blocks
  std::optional<std::uint8_t> status_code_type;
  std::optional<std::uint8_t> status_code;

  friend bool operator==(const NvmeSelfTestResult&, const NvmeSelfTestResult&) = default;
};

// Device Self-test log (06h), 564 bytes: the running operation and the newest result.
struct NvmeSelfTestLog {
  std::uint8_t current_operation = 0;   // 0 none, 1 short, 2 extended, 0xE vendor
  std::uint8_t completion_percent = 0;  // of the running operation, held to 0..100
  std::optional<NvmeSelfTestResult> newest;  // none when entry 0 is unused

  bool running() const { return current_operation != 0; }
};

void DecodeSelfTestLog(const std::uint8_t* data, NvmeSelfTestLog& out);

// --- Sectors and blocks ---------------------------------------------------------------
// The program counts in 512-byte sectors; a namespace in blocks of block_bytes (a
// multiple of 512). A sector run that does not cover whole blocks is either widened to
// the blocks it touches (reads and verifies: touching more is harmless) or refused
// (writes: the program never changes a byte it was not asked to change).

struct NvmeBlockRange {
  std::uint64_t first = 0;
  std::uint64_t count = 0;
  friend bool operator==(const NvmeBlockRange&, const NvmeBlockRange&) = default;
};

enum class SectorRounding { Outward, ExactOnly };

// The blocks of [first_sector, first_sector + sector_count) in the namespace; none when
// the run is empty, runs past the namespace's end, the block size is no multiple of
// 512, or (ExactOnly) the run does not start and end on block boundaries.
std::optional<NvmeBlockRange> SectorsToBlocks(const NvmeNamespace& ns, std::uint64_t first_sector,
                                              std::uint64_t sector_count, SectorRounding rounding);
// The first 512-byte sector of a block; none when the block lies outside the namespace.
std::optional<std::uint64_t> BlockToSector(const NvmeNamespace& ns, std::uint64_t block);

}  // namespace plovix
