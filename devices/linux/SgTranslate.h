// Translation between the program's pass-through requests and the Linux SG_IO
// interface: the ATA PASS-THROUGH(16) block built from a task file, and the ATA
// registers a SCSI/ATA translation layer returns in sense data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "drive/DeviceIo.h"

namespace plovix::linuxdev {

// ATA PASS-THROUGH protocol numbers.
inline constexpr std::uint8_t kProtocolNonData = 3;
inline constexpr std::uint8_t kProtocolPioIn = 4;
inline constexpr std::uint8_t kProtocolPioOut = 5;

// Byte 2 of the block.
inline constexpr std::uint8_t kCkCond = 0x20;
inline constexpr std::uint8_t kTDir = 0x08;      // data from the device
inline constexpr std::uint8_t kBytBlok = 0x04;   // length counted in blocks
inline constexpr std::uint8_t kTLengthCount = 0x02;  // length in the count field

enum class DataDirection { None, In, Out };

DataDirection AtaDirection(const AtaPassThroughRequest& request);

// The 16-byte ATA PASS-THROUGH block carrying the request's task file. The high-order
// bytes come from PreviousTaskFile only for 48-bit requests. CK_COND is asked for only
// on non-data commands: some translators fail a data-in command that asks for it even
// though the data arrived, and a data command's outcome shows in the SCSI status anyway.
std::array<std::uint8_t, 16> BuildAtaPassThrough16(const AtaPassThroughRequest& request);

// The ATA registers as a translator returns them after a command.
struct AtaReturn {
  bool extend = false;
  std::uint8_t error = 0;
  std::uint8_t count = 0;
  std::uint8_t lba_low = 0;
  std::uint8_t lba_mid = 0;
  std::uint8_t lba_high = 0;
  std::uint8_t device = 0;
  std::uint8_t status = 0;
  std::uint8_t hob_count = 0;
  std::uint8_t hob_lba_low = 0;
  std::uint8_t hob_lba_mid = 0;
  std::uint8_t hob_lba_high = 0;
};

// Finds the ATA registers in sense data: descriptor format (response code 72/73,
// ATA Status Return descriptor 09) or fixed format (70/71). Fixed-format data comes in
// two layouts: the standard one (error, status, device, count at bytes 3..6) and the one
// older kernels wrote (the same four registers at bytes 8..11). nullopt when the sense
// data carries no ATA registers.
std::optional<AtaReturn> DecodeAtaSense(const std::uint8_t* sense, std::size_t length);

// Writes the registers into a reply's task files in IDEREGS order (error in the
// feature slot, status in the command slot).
void FillReply(const AtaReturn& registers, AtaPassThroughRequest& reply);

}  // namespace plovix::linuxdev
