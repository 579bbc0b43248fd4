// The ATA command catalogue: every command the diagnostics send, in all its forms.
// Wrappers return 0 on success and 2 on failure (SmartEnableOperations always 0).
#pragma once

#include <cstdint>
#include <string>

#include "drive/AtaWire.h"
#include "drive/DriveConnection.h"

namespace plovix {

inline constexpr int kCommandOk = 0;
inline constexpr int kCommandFailed = 2;

// How a command reaches the drive: ATA pass-through, or SCSI with the standard
// ATA PASS-THROUGH block or the bridge vendor block.
struct Transport {
  std::uint8_t via_scsi = 0;
  std::uint8_t behind_bridge = 0;
};

// SMART READ DATA / READ ATTRIBUTE THRESHOLDS: 512 bytes into buffer A.
int SmartReadData(DriveConnection& connection, Transport transport);
int SmartReadThresholds(DriveConnection& connection, Transport transport);
// Close, open drive_number, send SMART ENABLE OPERATIONS (never the bridge block), close.
int SmartEnableOperations(DriveConnection& connection, Transport transport, int drive_number);
// EXECUTE OFF-LINE IMMEDIATE subcommand kind (1 short, 2 extended) and 0x7F (abort).
int SmartStartSelfTest(DriveConnection& connection, Transport transport, std::uint8_t kind);
int SmartAbortSelfTest(DriveConnection& connection, Transport transport);
// Bridge vendor register write; SCSI only, chip 1..3.
int BridgeRegisterWrite(DriveConnection& connection, std::uint8_t chip);
// READ VERIFY SECTORS EXT, count 1..65535.
int ReadVerifySectorsExt(DriveConnection& connection, Transport transport, std::uint64_t lba,
                         std::uint16_t count);
// Zeroes the front of buffer B and sends WRITE BUFFER with its first 512 bytes.
int WriteBufferZeros(DriveConnection& connection, Transport transport);
// Vendor opcode 0x82: write the loaded buffer over n sectors from lba.
int EraseRange(DriveConnection& connection, Transport transport, std::uint64_t lba,
               std::uint32_t n);

// "aborted command", "a write error (uncorrectable)", "no answer", ... for the user.
std::string DescribeReply(const AtaReply& reply);

// The answers behind WriteBufferZeros and EraseRange.
AtaReply SendWriteBufferZeros(DriveConnection& connection, Transport transport);
AtaReply SendEraseRange(DriveConnection& connection, Transport transport, std::uint64_t lba,
                         std::uint32_t n);
// READ NATIVE MAX ADDRESS EXT, and GET NATIVE MAX ADDRESS EXT of the accessible max
// address feature set: the native max LBA in the answer's registers.
AtaReply ReadNativeMaxAddressExt(DriveConnection& connection, Transport transport);
AtaReply GetNativeMaxAddressExt(DriveConnection& connection, Transport transport);
// SCT Write Same (SMART WRITE LOG to the SCT command log): the drive fills count
// sectors from lba with a repeated 32-bit pattern on its own, in the background.
AtaReply SctWriteSame(DriveConnection& connection, Transport transport, std::uint64_t lba,
                       std::uint64_t count, std::uint32_t pattern);
// SMART RETURN STATUS: the drive's own verdict, in the LBA mid and high registers it
// returns (ATA form, or ATA PASS-THROUGH(16) asking for the registers on SCSI).
enum class DriveSmartStatus : std::uint8_t { Unknown, Passed, ThresholdExceeded };
DriveSmartStatus SmartReturnStatus(DriveConnection& connection, Transport transport);

// SCT status (SMART READ LOG of the SCT command log) into buffer A.
AtaReply SctReadStatus(DriveConnection& connection, Transport transport);

// The SCT status fields an erase follows.
struct SctStatus {
  std::uint16_t extended_status = 0;  // 0xFFFF while a command runs, 0 done, else error
  std::uint16_t action = 0;
  std::uint8_t device_state = 0;
  std::uint64_t current_lba = 0;
};
SctStatus DecodeSctStatus(const std::uint8_t* sector);

// Offset of the self-test execution status byte in the SMART data sector.
inline constexpr int kSelfTestStatusOffset = 363;

}  // namespace plovix
