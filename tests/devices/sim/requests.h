// Raw requests for the bench tests, built byte by byte the way a host sends them.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "drive/DeviceIo.h"

namespace plovix::sim::testing {

inline std::uint16_t Word(const std::uint8_t* data, int word) {
  return static_cast<std::uint16_t>(data[word * 2] | data[word * 2 + 1] << 8);
}

// An ATA task file: feature, count, lba low, mid, high, device, command.
inline AtaPassThroughRequest Ata(std::array<std::uint8_t, 7> regs, std::uint16_t flags = 0,
                                 std::uint8_t* buffer = nullptr,
                                 std::array<std::uint8_t, 5> prev = {}) {
  AtaPassThroughRequest r;
  r.AtaFlags = flags;
  r.TimeOutValue = 10;
  r.DataBuffer = buffer;
  r.DataTransferLength = buffer ? 512 : 0;
  for (int i = 0; i < 7; ++i) r.CurrentTaskFile[i] = regs[static_cast<std::size_t>(i)];
  for (int i = 0; i < 5; ++i) r.PreviousTaskFile[i] = prev[static_cast<std::size_t>(i)];
  return r;
}

inline AtaPassThroughRequest AtaIdentify(std::uint8_t* buffer) {
  return Ata({0, 0, 0, 0, 0, 0x50, 0xEC}, kAtaFlagsDataIn, buffer);
}

inline AtaPassThroughRequest AtaSmart(std::uint8_t feature, std::uint8_t lba_low = 0,
                                      std::uint8_t* buffer = nullptr) {
  return Ata({feature, 0, lba_low, 0x4F, 0xC2, 0xE0, 0xB0},
             buffer ? kAtaFlagsDataIn : std::uint16_t{0}, buffer);
}

// 48-bit non-data command with a 16-bit count (READ VERIFY EXT) or a 32-bit count
// split over count and feature (the vendor erase).
inline AtaPassThroughRequest Ata48(std::uint8_t command, std::uint64_t lba, std::uint32_t n) {
  const auto b = [](std::uint64_t v, int shift) { return static_cast<std::uint8_t>(v >> shift); };
  return Ata({b(n, 8), b(n, 0), b(lba, 0), b(lba, 8), b(lba, 16), 0x50, command},
             kAtaFlags48Bit, nullptr, {b(n, 24), b(n, 16), b(lba, 24), b(lba, 32), b(lba, 40)});
}
inline AtaPassThroughRequest AtaReadVerify(std::uint64_t lba, std::uint16_t count) {
  const auto b = [](std::uint64_t v, int shift) { return static_cast<std::uint8_t>(v >> shift); };
  return Ata({0, b(count, 0), b(lba, 0), b(lba, 8), b(lba, 16), 0x50, 0x42}, kAtaFlags48Bit,
             nullptr, {0, b(count, 8), b(lba, 24), b(lba, 32), b(lba, 40)});
}

inline ScsiPassThroughRequest Scsi(std::initializer_list<std::uint8_t> cdb, std::uint8_t data_in,
                                   std::uint8_t* buffer = nullptr, std::uint32_t length = 0) {
  ScsiPassThroughRequest r;
  r.CdbLength = static_cast<std::uint8_t>(cdb.size());
  r.SenseInfoLength = 24;
  r.DataIn = data_in;
  r.DataBuffer = buffer;
  r.DataTransferLength = length;
  r.TimeOutValue = 10;
  r.SenseInfoOffset = 48;
  int i = 0;
  for (std::uint8_t b : cdb) r.Cdb[i++] = b;
  return r;
}

inline ScsiPassThroughRequest ScsiInquiry(std::uint8_t* buffer) {
  return Scsi({0x12, 0x10, 0x00, 0x00, 0x28, 0x00}, kScsiDataIn, buffer, 40);
}
inline ScsiPassThroughRequest ScsiIdentifyStandard(std::uint8_t* buffer) {
  return Scsi({0xA1, 0x08, 0x0B, 0, 0, 0, 0, 0, 0, 0xEC, 0, 0}, kScsiDataIn, buffer, 512);
}
inline ScsiPassThroughRequest ScsiIdentifyVendor(std::uint8_t* buffer) {
  return Scsi({0xDF, 0x10, 0x00, 0x02, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0xE0, 0xEC},
              kScsiDataIn, buffer, 512);
}
inline ScsiPassThroughRequest ScsiRegisterWrite(std::uint8_t* four_bytes, std::uint8_t x) {
  return Scsi({0xDF, 0x00, 0x00, 0x00, 0x04, 0x00, x, 0x75, 0x00, 0x00, 0x00, 0xFE},
              kScsiDataOut, four_bytes, 4);
}
inline ScsiPassThroughRequest Scsi16ReadVerify(std::uint64_t lba, std::uint16_t count) {
  const auto b = [](std::uint64_t v, int shift) { return static_cast<std::uint8_t>(v >> shift); };
  return Scsi({0x85, 0x07, 0x00, 0x00, 0x00, b(count, 8), b(count, 0), b(lba, 24), b(lba, 0),
               b(lba, 32), b(lba, 8), b(lba, 40), b(lba, 16), 0x50, 0x42, 0x00},
              kScsiDataUnspecified);
}
inline ScsiPassThroughRequest Scsi16Erase(std::uint64_t lba, std::uint32_t n) {
  const auto b = [](std::uint64_t v, int shift) { return static_cast<std::uint8_t>(v >> shift); };
  return Scsi({0x85, 0x07, 0x00, b(n, 24), b(n, 8), b(n, 16), b(n, 0), b(lba, 24), b(lba, 0),
               b(lba, 32), b(lba, 8), b(lba, 40), b(lba, 16), 0x50, 0x82, 0x00},
              kScsiDataUnspecified);
}
inline ScsiPassThroughRequest Scsi12WriteBuffer(std::uint8_t* buffer) {
  return Scsi({0xA1, 0x0A, 0x03, 0, 0, 0, 0, 0, 0, 0xE8, 0, 0}, kScsiDataOut, buffer, 512);
}
inline ScsiPassThroughRequest Scsi12Smart(std::uint8_t feature, std::uint8_t* buffer) {
  return Scsi({0xA1, 0x08, 0x0B, feature, 0, 0, 0x4F, 0xC2, 0, 0xB0, 0, 0}, kScsiDataIn, buffer,
              512);
}
inline ScsiPassThroughRequest ScsiVendorSmart(std::uint8_t feature, std::uint8_t* buffer) {
  return Scsi({0xDF, 0x10, 0x00, 0x02, 0x00, feature, 0x00, 0x00, 0x4F, 0xC2, 0xE0, 0xB0},
              kScsiDataIn, buffer, 512);
}

}  // namespace plovix::sim::testing
