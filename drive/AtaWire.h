// The ATA task file and every form it travels in: the two 8-byte task files of an ATA
// pass-through request, the ATA PASS-THROUGH(12) and (16) blocks, the USB bridges'
// vendor block, and the ATA Status Return sense data a translator answers with. The
// command layer encodes with it, the Linux SCSI translation and the bench decode with
// it, so that a byte means the same thing at both ends of the wire.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "drive/DeviceIo.h"

namespace plovix {

inline constexpr std::uint8_t kAtaStatusErr = 0x01;

// SCSI operation codes that carry an ATA command.
inline constexpr std::uint8_t kOpAtaPassThrough12 = 0xA1;
inline constexpr std::uint8_t kOpAtaPassThrough16 = 0x85;
inline constexpr std::uint8_t kOpBridgeVendor = 0xDF;

// ATA PASS-THROUGH protocol numbers (byte 1, bits 4:1).
inline constexpr std::uint8_t kProtocolNonData = 3;
inline constexpr std::uint8_t kProtocolPioIn = 4;
inline constexpr std::uint8_t kProtocolPioOut = 5;

// ATA PASS-THROUGH byte 2.
inline constexpr std::uint8_t kCkCond = 0x20;
inline constexpr std::uint8_t kTDir = 0x08;          // data from the device
inline constexpr std::uint8_t kBytBlok = 0x04;       // length counted in blocks
inline constexpr std::uint8_t kTLengthCount = 0x02;  // length in the count field
inline constexpr std::uint8_t kTLengthStpsiu = 0x03;  // length as the transport says

// The data phase a command has.
enum class AtaData : std::uint8_t { None, In, Out };

// The registers of one command. In what a drive returns, feature and command stand for
// nothing: its error and status registers are the reply's own (AtaReply).
struct AtaTaskFile {
  std::uint8_t feature = 0;
  std::uint8_t count = 0;
  std::uint8_t lba_low = 0;
  std::uint8_t lba_mid = 0;
  std::uint8_t lba_high = 0;
  std::uint8_t device = 0;
  std::uint8_t command = 0;
  // The high-order bytes of a 48-bit command; zero when the transport carried none.
  std::uint8_t hob_feature = 0;
  std::uint8_t hob_count = 0;
  std::uint8_t hob_lba_low = 0;
  std::uint8_t hob_lba_mid = 0;
  std::uint8_t hob_lba_high = 0;
  bool extend = false;  // a 48-bit command: the high-order bytes are meant

  std::uint64_t Lba48() const;
  std::uint32_t Lba28() const;  // with bits 24-27 from the device register
  std::uint16_t Count16() const { return static_cast<std::uint16_t>(hob_count << 8 | count); }

  // A 48-bit command: 16-bit feature and count, 48-bit LBA.
  static AtaTaskFile Ext(std::uint8_t command, std::uint64_t lba, std::uint16_t feature,
                         std::uint16_t count, std::uint8_t device);
};

// What became of one command, shaped like NvmeReply: whether the drive refused it (its
// error status, or a check condition through a bridge) or never answered, its status
// and error registers, and the rest of the registers where it returned them.
enum class AtaOutcome : std::uint8_t { Ok, DriveError, NoAnswer };

struct AtaReply {
  AtaOutcome outcome = AtaOutcome::NoAnswer;
  std::uint8_t status = 0;
  std::uint8_t error = 0;
  std::optional<AtaTaskFile> registers;

  bool ok() const { return outcome == AtaOutcome::Ok; }
  std::uint64_t lba() const { return registers ? registers->Lba48() : 0; }
  std::uint16_t count() const { return registers ? registers->Count16() : 0; }
};

// The outcome a status register means.
AtaReply ReplyFromStatus(std::uint8_t status, std::uint8_t error,
                         std::optional<AtaTaskFile> registers);

// --- ATA pass-through: IDEREGS order, current and previous task file ----------------
void PutTaskFiles(const AtaTaskFile& tf, AtaPassThroughRequest& request);
// The registers a request carries; the previous task file only when it is 48-bit, as a
// host adapter loads it.
AtaTaskFile TaskFilesOfRequest(const AtaPassThroughRequest& request);
// What a reply holds: error in the feature slot, status in the command slot, the
// high-order bytes as they stand (adapters clear what the drive did not return).
AtaReply ReplyOfTaskFiles(const AtaPassThroughRequest& reply);
// Writes a reply so: the previous task file carries the high-order count and LBA of a
// 48-bit reply, and nothing else.
void PutReply(const AtaReply& reply, AtaPassThroughRequest& out);
AtaData DataOfRequest(const AtaPassThroughRequest& request);

// --- SCSI blocks --------------------------------------------------------------------
// ATA PASS-THROUGH(16): PIO in or out by the data phase, with the length in blocks in
// the count field; a non-data command asks for the registers back when check_condition.
std::array<std::uint8_t, 16> PassThrough16(const AtaTaskFile& tf, AtaData data,
                                           bool check_condition);
// ATA PASS-THROUGH(12), 28-bit, the length as the transport sets it up.
std::array<std::uint8_t, 12> PassThrough12(const AtaTaskFile& tf, AtaData data);
// The USB bridges' vendor block: direction, transfer length, then the seven registers.
std::array<std::uint8_t, 12> BridgeBlock(const AtaTaskFile& tf, bool from_device,
                                         std::uint16_t length);
// The registers in any of the three blocks; nullopt for another operation code.
std::optional<AtaTaskFile> TaskFileOfCdb(const std::uint8_t* cdb);

// --- Sense data ---------------------------------------------------------------------
// Which sense formats a reader takes the registers from.
enum class SenseForms : std::uint8_t { DescriptorOnly, DescriptorOrFixed };

// The registers in sense data: descriptor format (72h/73h, ATA Status Return descriptor
// 09h), or, where asked, fixed format (70h/71h) in the standard layout (error, status,
// device, count at bytes 3..6) or the one older kernels wrote (the same at 8..11).
// nullopt when the sense data carries none.
std::optional<AtaReply> DecodeAtaSense(const std::uint8_t* sense, std::size_t length,
                                       SenseForms forms);

// Descriptor-format sense data with the ATA Status Return descriptor, as a translator
// answers a command sent with CK_COND: recovered error, "ATA pass through information
// available".
inline constexpr std::size_t kAtaStatusSenseLength = 22;
std::array<std::uint8_t, kAtaStatusSenseLength> AtaStatusSense(const AtaReply& reply);

}  // namespace plovix
