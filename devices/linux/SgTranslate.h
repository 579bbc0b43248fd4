// Translation between the program's ATA pass-through requests and the Linux SG_IO
// interface, which carries them in ATA PASS-THROUGH(16) blocks and answers with the
// registers in sense data. The blocks and the sense formats are drive/AtaWire's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "drive/AtaWire.h"
#include "drive/DeviceIo.h"

namespace plovix::linuxdev {

// The 16-byte block carrying the request's task file. The high-order bytes come from
// PreviousTaskFile only for 48-bit requests. CK_COND is asked for only on non-data
// commands: some translators fail a data-in command that asks for it even though the
// data arrived, and a data command's outcome shows in the SCSI status anyway.
std::array<std::uint8_t, 16> BuildAtaPassThrough16(const AtaPassThroughRequest& request);

// Writes the registers a translator returned in sense data into the reply's task files
// (IDEREGS order: error in the feature slot, status in the command slot). Descriptor
// and fixed formats are both read: which one a kernel writes depends on its version and
// the device's D_SENSE setting. False, with the reply untouched, when the sense data
// carries no registers.
bool ReplyFromSense(const std::uint8_t* sense, std::size_t length, AtaPassThroughRequest& reply);

}  // namespace plovix::linuxdev
