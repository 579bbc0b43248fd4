// The NVMe command catalogue: every NVMe command the diagnostics send, as the exact
// fields of its submission-queue entry, and the wrappers that send them through the
// connection. Encoders are pure; wrappers move data through the IoBuffers as the ATA
// commands do (buffer A receives, buffer B is the zeroed source of writes).
#pragma once

#include <cstdint>
#include <optional>

#include "drive/DriveConnection.h"
#include "drive/NvmeDecode.h"

namespace plovix {

// Admin opcodes.
inline constexpr std::uint8_t kNvmeAdminGetLogPage = 0x02;
inline constexpr std::uint8_t kNvmeAdminIdentify = 0x06;
inline constexpr std::uint8_t kNvmeAdminDeviceSelfTest = 0x14;
// NVM command set (I/O) opcodes.
inline constexpr std::uint8_t kNvmeIoFlush = 0x00;
inline constexpr std::uint8_t kNvmeIoWrite = 0x01;
inline constexpr std::uint8_t kNvmeIoRead = 0x02;
inline constexpr std::uint8_t kNvmeIoWriteZeroes = 0x08;
inline constexpr std::uint8_t kNvmeIoVerify = 0x0C;

inline constexpr std::uint8_t kNvmeCnsNamespace = 0x00;
inline constexpr std::uint8_t kNvmeCnsController = 0x01;
inline constexpr std::uint8_t kNvmeLogHealth = 0x02;
inline constexpr std::uint8_t kNvmeLogSelfTest = 0x06;

// The controller and all its namespaces, for log pages and self-tests.
inline constexpr std::uint32_t kNvmeAllNamespaces = 0xFFFFFFFF;
// NLB is a zero-based 16-bit count: one command covers 1 to 65536 blocks.
inline constexpr std::uint32_t kNvmeMaxBlocksPerCommand = 65536;
// Get Log Page lengths up to 4096 dwords keep NUMDU zero, which NVMe 1.2 controllers
// (whose NUMD was 12 bits) also understand.
inline constexpr std::uint32_t kNvmeMaxLogBytes = 16384;

// Device Self-test codes (CDW10 bits 3:0).
enum class NvmeSelfTestCode : std::uint8_t { Short = 0x1, Extended = 0x2, Abort = 0xF };

// Status codes the program tells apart (generic SCT 0 unless named otherwise).
inline constexpr std::uint8_t kNvmeScInvalidOpcode = 0x01;
inline constexpr std::uint8_t kNvmeScInvalidField = 0x02;
inline constexpr std::uint8_t kNvmeScInternalError = 0x06;
inline constexpr std::uint8_t kNvmeScInvalidNamespace = 0x0B;
inline constexpr std::uint8_t kNvmeScLbaOutOfRange = 0x80;
inline constexpr std::uint8_t kNvmeSctCommandSpecific = 0x1;
inline constexpr std::uint8_t kNvmeScInvalidLogPage = 0x09;       // command specific
inline constexpr std::uint8_t kNvmeScSelfTestInProgress = 0x1D;   // command specific
inline constexpr std::uint8_t kNvmeSctMediaError = 0x2;
inline constexpr std::uint8_t kNvmeScUnrecoveredReadError = 0x81;  // media error

// --- Encoders ---------------------------------------------------------------------------
// Each fills every field it uses and leaves the rest zero; time-out as for ATA commands.

// Identify, 4096 bytes into buffer: the controller (NSID 0) or namespace nsid.
NvmeRequest EncodeIdentifyController(std::uint8_t* buffer);
NvmeRequest EncodeIdentifyNamespace(std::uint32_t nsid, std::uint8_t* buffer);
// Get Log Page of bytes (a multiple of 4, 4..kNvmeMaxLogBytes) from offset 0, NUMD
// zero-based in dwords, without Retain Asynchronous Event (bit 15 was reserved before
// NVMe 1.3, and reading the log is what lets the controller raise its next warning).
std::optional<NvmeRequest> EncodeGetLogPage(std::uint8_t log_id, std::uint32_t nsid,
                                            std::uint8_t* buffer, std::uint32_t bytes);
NvmeRequest EncodeDeviceSelfTest(std::uint32_t nsid, NvmeSelfTestCode code);
// Block commands over count blocks (1..kNvmeMaxBlocksPerCommand) from slba: SLBA in
// CDW10 (low) and CDW11 (high), NLB zero-based in CDW12 bits 15:0, no FUA, no
// protection-information flags, no deallocation. Data commands move count * block_bytes
// bytes; none when that does not fit 32 bits.
std::optional<NvmeRequest> EncodeVerify(std::uint32_t nsid, std::uint64_t slba,
                                        std::uint32_t count);
std::optional<NvmeRequest> EncodeWriteZeroes(std::uint32_t nsid, std::uint64_t slba,
                                             std::uint32_t count);
// Flush: what the namespace holds in a volatile write cache goes to the media.
NvmeRequest EncodeFlush(std::uint32_t nsid);
std::optional<NvmeRequest> EncodeRead(std::uint32_t nsid, std::uint64_t slba, std::uint32_t count,
                                      std::uint32_t block_bytes, std::uint8_t* buffer);
std::optional<NvmeRequest> EncodeWrite(std::uint32_t nsid, std::uint64_t slba, std::uint32_t count,
                                       std::uint32_t block_bytes, std::uint8_t* buffer);

// --- Wrappers ---------------------------------------------------------------------------
// Each sends one command on the open connection and returns its reply; a request the
// program will not send comes back NotSent without any I/O. Success is NvmeSucceeded.

// 4096 bytes into buffer A.
NvmeReply NvmeIdentifyController(DriveConnection& connection);
NvmeReply NvmeIdentifyNamespace(DriveConnection& connection, std::uint32_t nsid);
// SMART / Health (512 bytes) and Device Self-test (564 bytes) logs of the whole
// controller, into buffer A.
NvmeReply NvmeReadHealthLog(DriveConnection& connection);
NvmeReply NvmeReadSelfTestLog(DriveConnection& connection);
// Device Self-test for the controller and all namespaces, like an ATA self-test covers
// the whole drive: start short or extended, or abort the running one.
NvmeReply NvmeStartSelfTest(DriveConnection& connection, NvmeSelfTestCode kind);
NvmeReply NvmeAbortSelfTest(DriveConnection& connection);

// Block commands on namespace ns. NotSent when the blocks run past the namespace's end
// or count is outside 1..kNvmeMaxBlocksPerCommand.
NvmeReply NvmeVerify(DriveConnection& connection, const NvmeNamespace& ns, std::uint64_t slba,
                     std::uint32_t count);
NvmeReply NvmeWriteZeroes(DriveConnection& connection, const NvmeNamespace& ns,
                          std::uint64_t slba, std::uint32_t count);
// Read into buffer A, for drives without Verify. NotSent also when the blocks do not fit
// buffer A, or the namespace carries metadata (the program gives no metadata buffer, and
// a controller would write it wherever the missing pointer points).
NvmeReply NvmeRead(DriveConnection& connection, const NvmeNamespace& ns, std::uint64_t slba,
                   std::uint32_t count);
// Zeroes the front of buffer B and writes count blocks of zeros from it, for drives
// without Write Zeroes. NotSent as for NvmeRead, against the zeroed part of buffer B.
NvmeReply NvmeWriteZeroBuffer(DriveConnection& connection, const NvmeNamespace& ns,
                              std::uint64_t slba, std::uint32_t count);

// After the erase writes, so that "completed" means on the media.
NvmeReply NvmeFlush(DriveConnection& connection, const NvmeNamespace& ns);

// Blocks of ns that one NvmeRead or NvmeWriteZeroBuffer can move: what the buffers hold
// and, when the controller names a limit (MDTS, in minimum memory pages), what 4 KiB
// pages of that many allow - 4 KiB is the smallest page a controller may have, so the
// figure is never too large. At least 1 for any namespace the decoder accepts.
std::uint32_t NvmeMaxDataBlocks(const NvmeNamespace& ns, std::uint8_t mdts = 0);

}  // namespace plovix
