// Builders for the two pass-through requests, shared by the probes and the command
// catalogue so that every request starts from the same cleared, fully filled state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "drive/AtaWire.h"
#include "drive/DeviceIo.h"

namespace plovix {

inline constexpr std::uint32_t kCommandTimeoutSeconds = 10;
inline constexpr std::uint32_t kSectorBytes = 512;
inline constexpr std::uint8_t kScsiSenseLength = 24;
inline constexpr std::uint32_t kScsiSenseOffset = 48;

// A request with every member zero, as the pass-through interfaces expect before filling.
inline AtaPassThroughRequest ClearedAtaRequest() {
  AtaPassThroughRequest r;
  r.Length = 0;
  return r;
}

// The ATA form of a command: its data phase and its 48-bit flag as the task file says.
inline AtaPassThroughRequest MakeAtaRequest(const AtaTaskFile& tf, AtaData data,
                                            std::uint8_t* buffer,
                                            std::uint32_t length = kSectorBytes) {
  AtaPassThroughRequest r = ClearedAtaRequest();
  r.Length = 40;
  std::uint16_t flags = tf.extend ? kAtaFlags48Bit : 0;
  if (data == AtaData::In) flags |= kAtaFlagsDataIn;
  if (data == AtaData::Out) flags |= kAtaFlagsDataOut;
  r.AtaFlags = flags;
  r.DataTransferLength = data == AtaData::None ? 0 : length;
  r.TimeOutValue = kCommandTimeoutSeconds;
  r.DataBuffer = data == AtaData::None ? nullptr : buffer;
  PutTaskFiles(tf, r);
  return r;
}

inline ScsiPassThroughRequest MakeScsiRequest(std::uint8_t data_in, std::uint8_t* data,
                                              std::uint32_t data_length, const std::uint8_t* cdb,
                                              std::size_t cdb_length) {
  ScsiPassThroughRequest r;
  r.DataIn = 0;  // cleared first, like the rest of the buffer
  r.Length = 44;
  r.CdbLength = static_cast<std::uint8_t>(cdb_length < 16 ? cdb_length : 16);
  r.SenseInfoLength = kScsiSenseLength;
  r.DataIn = data_in;
  r.DataTransferLength = data_length;
  r.TimeOutValue = kCommandTimeoutSeconds;
  r.DataBuffer = data;
  r.SenseInfoOffset = kScsiSenseOffset;
  for (std::size_t i = 0; i < r.CdbLength; ++i) r.Cdb[i] = cdb[i];
  return r;
}

inline ScsiPassThroughRequest MakeScsiRequest(std::uint8_t data_in, std::uint8_t* data,
                                              std::uint32_t data_length,
                                              std::initializer_list<std::uint8_t> cdb) {
  return MakeScsiRequest(data_in, data, data_length, cdb.begin(), cdb.size());
}

// A block that carries an ATA command, with the SCSI direction of its data phase.
template <std::size_t N>
ScsiPassThroughRequest MakeScsiRequest(const std::array<std::uint8_t, N>& cdb, AtaData data,
                                       std::uint8_t* buffer,
                                       std::uint32_t length = kSectorBytes) {
  const std::uint8_t direction = data == AtaData::In    ? kScsiDataIn
                                 : data == AtaData::Out ? kScsiDataOut
                                                        : kScsiDataUnspecified;
  if (data == AtaData::None) return MakeScsiRequest(direction, nullptr, 0, cdb.data(), N);
  return MakeScsiRequest(direction, buffer, length, cdb.data(), N);
}

}  // namespace plovix
