// Builders for the two pass-through requests, shared by the probes and the command
// catalogue so that every request starts from the same cleared, fully filled state.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "drive/DeviceIo.h"

namespace plovix {

inline constexpr std::uint32_t kCommandTimeoutSeconds = 10;
inline constexpr std::uint32_t kSectorBytes = 512;
inline constexpr std::uint8_t kScsiSenseLength = 24;
inline constexpr std::uint32_t kScsiSenseOffset = 48;

// Seven task-file registers: feature, count, LBA low, mid, high, device, command.
struct TaskFile {
  std::uint8_t feature = 0;
  std::uint8_t count = 0;
  std::uint8_t lba_low = 0;
  std::uint8_t lba_mid = 0;
  std::uint8_t lba_high = 0;
  std::uint8_t device = 0;
  std::uint8_t command = 0;
};

// A request with every member zero, as the pass-through interfaces expect before filling.
inline AtaPassThroughRequest ClearedAtaRequest() {
  AtaPassThroughRequest r;
  r.Length = 0;
  return r;
}

inline AtaPassThroughRequest MakeAtaRequest(std::uint16_t ata_flags, std::uint8_t* data,
                                            std::uint32_t data_length, const TaskFile& current,
                                            const TaskFile& previous = TaskFile{}) {
  AtaPassThroughRequest r = ClearedAtaRequest();
  r.Length = 40;
  r.AtaFlags = ata_flags;
  r.DataTransferLength = data_length;
  r.TimeOutValue = kCommandTimeoutSeconds;
  r.DataBuffer = data;
  const TaskFile* files[2] = {&previous, &current};
  std::uint8_t* targets[2] = {r.PreviousTaskFile, r.CurrentTaskFile};
  for (int i = 0; i < 2; ++i) {
    const TaskFile& tf = *files[i];
    std::uint8_t* out = targets[i];
    out[kTfFeature] = tf.feature;
    out[kTfSectorCount] = tf.count;
    out[kTfLbaLow] = tf.lba_low;
    out[kTfLbaMid] = tf.lba_mid;
    out[kTfLbaHigh] = tf.lba_high;
    out[kTfDevice] = tf.device;
    out[kTfCommand] = tf.command;
    out[kTfReserved] = 0;
  }
  return r;
}

inline ScsiPassThroughRequest MakeScsiRequest(std::uint8_t data_in, std::uint8_t* data,
                                              std::uint32_t data_length,
                                              std::initializer_list<std::uint8_t> cdb) {
  ScsiPassThroughRequest r;
  r.DataIn = 0;  // cleared first, like the rest of the buffer
  r.Length = 44;
  r.CdbLength = static_cast<std::uint8_t>(cdb.size());
  r.SenseInfoLength = kScsiSenseLength;
  r.DataIn = data_in;
  r.DataTransferLength = data_length;
  r.TimeOutValue = kCommandTimeoutSeconds;
  r.DataBuffer = data;
  r.SenseInfoOffset = kScsiSenseOffset;
  int i = 0;
  for (std::uint8_t b : cdb) {
    if (i >= 16) break;
    r.Cdb[i++] = b;
  }
  return r;
}

}  // namespace plovix
