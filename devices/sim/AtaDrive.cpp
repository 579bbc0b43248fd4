#include "devices/sim/AtaDrive.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <string>

namespace plovix::sim {
namespace {

constexpr std::uint8_t kCmdIdentify = 0xEC;
constexpr std::uint8_t kCmdSmart = 0xB0;
constexpr std::uint8_t kCmdReadVerify = 0x40;
constexpr std::uint8_t kCmdReadVerifyExt = 0x42;
constexpr std::uint8_t kCmdWriteBuffer = 0xE8;
constexpr std::uint8_t kCmdVendorErase = 0x82;
constexpr std::uint8_t kCmdFlushCache = 0xE7;
constexpr std::uint8_t kCmdFlushCacheExt = 0xEA;
constexpr std::uint8_t kCmdCheckPowerMode = 0xE5;
constexpr std::uint8_t kCmdReadNativeMaxExt = 0x27;

constexpr std::uint8_t kSmartReadData = 0xD0;
constexpr std::uint8_t kSmartReadThresholds = 0xD1;
constexpr std::uint8_t kSmartExecuteOffline = 0xD4;
constexpr std::uint8_t kSmartEnable = 0xD8;
constexpr std::uint8_t kSmartDisable = 0xD9;
constexpr std::uint8_t kSmartReturnStatus = 0xDA;
constexpr std::uint8_t kSmartReadLog = 0xD5;
constexpr std::uint8_t kSmartWriteLog = 0xD6;
constexpr std::uint8_t kSctLog = 0xE0;

// Error register bits.
constexpr std::uint8_t kErrAbort = 0x04;
constexpr std::uint8_t kErrIdNotFound = 0x10;
constexpr std::uint8_t kErrUncorrectable = 0x40;

constexpr std::uint8_t kAbortedByHost = 0x10;

void PutWord(std::vector<std::uint8_t>& data, int word, std::uint16_t value) {
  data[static_cast<std::size_t>(word) * 2] = static_cast<std::uint8_t>(value & 0xFF);
  data[static_cast<std::size_t>(word) * 2 + 1] = static_cast<std::uint8_t>(value >> 8);
}

// ATA text: blank padded, the first character of each pair in the high byte.
void PutText(std::vector<std::uint8_t>& data, int first_word, int words,
             const std::string& text) {
  std::string field = text.substr(0, static_cast<std::size_t>(words) * 2);
  field.resize(static_cast<std::size_t>(words) * 2, ' ');
  for (int i = 0; i < words; ++i) {
    const auto hi = static_cast<std::uint8_t>(field[static_cast<std::size_t>(i) * 2]);
    const auto lo = static_cast<std::uint8_t>(field[static_cast<std::size_t>(i) * 2 + 1]);
    PutWord(data, first_word + i, static_cast<std::uint16_t>((hi << 8) | lo));
  }
}

// Byte 511 makes the sector sum to zero, as drives checksum their SMART sectors.
void PutChecksum(std::vector<std::uint8_t>& data) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < 511; ++i) sum = static_cast<std::uint8_t>(sum + data[i]);
  data[511] = static_cast<std::uint8_t>(0x100 - sum);
}

std::uint8_t Minutes(std::uint64_t ms, std::uint8_t cap) {
  const std::uint64_t minutes = std::max<std::uint64_t>(1, (ms + 59999) / 60000);
  return static_cast<std::uint8_t>(std::min<std::uint64_t>(minutes, cap));
}

AtaResult Failed(std::uint8_t error) {
  AtaResult result;
  result.status = kStatusError;
  result.error = error;
  return result;
}

bool PhaseFits(const AtaExchange& ex, AtaData wanted) {
  if (ex.phase != wanted) return false;
  if (wanted == AtaData::In) return ex.length >= 512;
  if (wanted == AtaData::Out) return ex.length >= 512 && ex.data_out.size() >= 512;
  return true;
}

AtaResult ProtocolError() {
  AtaResult result;
  result.protocol_error = true;
  result.status = kStatusError;
  result.error = kErrAbort;
  return result;
}

}  // namespace

AtaDrive::AtaDrive(DriveSpec setup, std::optional<BridgeSpec> bridge, std::mutex& bench_mutex,
                   std::function<std::uint64_t()> now_ms)
    : setup_(std::move(setup)),
      bridge_(std::move(bridge)),
      mutex_(bench_mutex),
      now_ms_(std::move(now_ms)) {}

AtaResult AtaDrive::Execute(const AtaExchange& ex, std::uint64_t now_ms) {
  const AtaTaskFile& r = ex.regs;
  switch (r.command) {
    case kCmdIdentify: {
      if (!PhaseFits(ex, AtaData::In)) return ProtocolError();
      AtaResult result;
      result.data_in = IdentifyData();
      return result;
    }
    case kCmdSmart:
      return Smart(ex, now_ms);
    case kCmdReadVerifyExt: {
      if (!PhaseFits(ex, AtaData::None)) return ProtocolError();
      const std::uint32_t count = static_cast<std::uint32_t>(r.hob_count) << 8 | r.count;
      return ReadVerify(r, r.Lba48(), count == 0 ? 65536 : count);
    }
    case kCmdReadVerify: {
      if (!PhaseFits(ex, AtaData::None)) return ProtocolError();
      return ReadVerify(r, r.Lba28(), r.count == 0 ? 256 : r.count);
    }
    case kCmdWriteBuffer: {
      if (!PhaseFits(ex, AtaData::Out)) return ProtocolError();
      if (!setup_.write_buffer) return Failed(kErrAbort);
      std::copy_n(ex.data_out.begin(), buffer_.size(), buffer_.begin());
      return AtaResult{};
    }
    case kCmdVendorErase:
      if (!PhaseFits(ex, AtaData::None)) return ProtocolError();
      if (!setup_.vendor_erase) return Failed(kErrAbort);
      return Erase(r);
    case kCmdReadNativeMaxExt:
      if (!PhaseFits(ex, AtaData::None)) return ProtocolError();
      return ReadNativeMax(r);
    case kCmdFlushCache:
    case kCmdFlushCacheExt:
      if (!PhaseFits(ex, AtaData::None)) return ProtocolError();
      return AtaResult{};
    case kCmdCheckPowerMode: {
      if (!PhaseFits(ex, AtaData::None)) return ProtocolError();
      AtaResult result;
      result.out = r;
      result.out->count = 0xFF;  // active or idle
      return result;
    }
    default:
      return Failed(kErrAbort);
  }
}

AtaResult AtaDrive::Smart(const AtaExchange& ex, std::uint64_t now_ms) {
  const AtaTaskFile& r = ex.regs;
  const bool reads = r.feature == kSmartReadData || r.feature == kSmartReadThresholds ||
                     r.feature == kSmartReadLog;
  const bool writes = r.feature == kSmartWriteLog;
  const bool known = reads || writes || r.feature == kSmartEnable ||
                     r.feature == kSmartDisable || r.feature == kSmartExecuteOffline ||
                     r.feature == kSmartReturnStatus;
  if (!known) return Failed(kErrAbort);
  if (!PhaseFits(ex, reads ? AtaData::In : writes ? AtaData::Out : AtaData::None)) {
    return ProtocolError();
  }
  if (r.lba_mid != 0x4F || r.lba_high != 0xC2) return Failed(kErrAbort);
  if (!setup_.smart_supported) return Failed(kErrAbort);
  if (!setup_.smart_enabled && r.feature != kSmartEnable) return Failed(kErrAbort);

  AtaResult result;
  switch (r.feature) {
    case kSmartReadData:
      result.data_in = SmartData(now_ms);
      return result;
    case kSmartReadThresholds:
      result.data_in = SmartThresholds();
      return result;
    case kSmartReadLog:
      if (r.lba_low != kSctLog || !setup_.sct_write_same) return Failed(kErrAbort);
      return SctStatus(now_ms);
    case kSmartWriteLog:
      if (r.lba_low != kSctLog || !setup_.sct_write_same) return Failed(kErrAbort);
      return SctWrite(ex, now_ms);
    case kSmartEnable:
      setup_.smart_enabled = true;
      return result;
    case kSmartDisable:
      setup_.smart_enabled = false;
      return result;
    case kSmartReturnStatus: {
      result.out = r;
      const bool exceeded = setup_.smart_says_exceeded || std::any_of(
          setup_.attributes.begin(), setup_.attributes.end(), [](const SmartAttr& a) {
            return a.id != 0 && a.threshold != 0 && a.current <= a.threshold;
          });
      if (exceeded) {
        result.out->lba_mid = 0xF4;
        result.out->lba_high = 0x2C;
      }
      return result;
    }
    case kSmartExecuteOffline:
      SelfTestStatusLocked(now_ms);  // settles a test that has ended by now
      switch (r.lba_low) {
        case 0x00:  // off-line data collection: nothing to model
          return result;
        case 0x01:
        case 0x02:
          if (!setup_.selftest_supported) return Failed(kErrAbort);
          running_ = RunningTest{r.lba_low == 0x01 ? setup_.short_test : setup_.extended_test,
                                 now_ms};
          return result;
        case 0x7F:
          if (running_) {
            running_.reset();
            last_status_ = kAbortedByHost;
          }
          return result;
        default:  // captive and conveyance tests are not offered
          return Failed(kErrAbort);
      }
    default:
      return Failed(kErrAbort);
  }
}

AtaResult AtaDrive::ReadVerify(const AtaTaskFile& regs, std::uint64_t lba,
                               std::uint64_t count) {
  if (lba >= setup_.total_sectors || count > setup_.total_sectors - lba) {
    AtaResult result = Failed(kErrIdNotFound);
    result.out = regs;
    return result;
  }
  auto bad = setup_.bad_lbas.lower_bound(lba);
  if (bad != setup_.bad_lbas.end() && *bad < lba + count) {
    AtaResult result = Failed(kErrUncorrectable);
    // The drive reports the first sector it could not read.
    result.out = regs;
    result.out->lba_low = static_cast<std::uint8_t>(*bad);
    result.out->lba_mid = static_cast<std::uint8_t>(*bad >> 8);
    result.out->lba_high = static_cast<std::uint8_t>(*bad >> 16);
    result.out->hob_lba_low = static_cast<std::uint8_t>(*bad >> 24);
    result.out->hob_lba_mid = static_cast<std::uint8_t>(*bad >> 32);
    result.out->hob_lba_high = static_cast<std::uint8_t>(*bad >> 40);
    result.media_sectors = *bad - lba + 1;
    return result;
  }
  AtaResult result;
  result.media_sectors = count;
  return result;
}

AtaResult AtaDrive::Erase(const AtaTaskFile& r) {
  const std::uint64_t n = static_cast<std::uint64_t>(r.count) |
                          static_cast<std::uint64_t>(r.feature) << 8 |
                          static_cast<std::uint64_t>(r.hob_count) << 16 |
                          static_cast<std::uint64_t>(r.hob_feature) << 24;
  const std::uint64_t lba = r.Lba48();
  if (n == 0) return Failed(kErrAbort);
  if (lba >= setup_.total_sectors || n > setup_.total_sectors - lba) {
    return Failed(kErrIdNotFound);
  }
  std::uint64_t failed_at = 0;
  if (!FillWrite(lba, n, buffer_, failed_at)) {
    AtaResult result = Failed(kErrUncorrectable);
    result.media_sectors = failed_at - lba;
    return result;
  }
  AtaResult result;
  result.media_sectors = n;
  return result;
}

std::vector<std::uint8_t> AtaDrive::IdentifyData() const {
  std::vector<std::uint8_t> d(512, 0);
  const std::uint64_t total = setup_.total_sectors;
  PutWord(d, 0, 0x0040);  // fixed device
  PutWord(d, 1, 16383);
  PutWord(d, 3, 16);
  PutWord(d, 6, 63);
  PutText(d, 10, 10, setup_.serial);
  PutText(d, 23, 4, setup_.firmware);
  PutText(d, 27, 20, setup_.model);
  PutWord(d, 47, 0x8010);
  PutWord(d, 49, 0x0F00);  // LBA, DMA, IORDY
  PutWord(d, 50, 0x4000);
  PutWord(d, 53, 0x0007);
  PutWord(d, 54, 16383);
  PutWord(d, 55, 16);
  PutWord(d, 56, 63);
  PutWord(d, 57, 0xFC10);
  PutWord(d, 58, 0x00FB);
  PutWord(d, 59, 0x0110);
  const std::uint64_t lba28 = std::min<std::uint64_t>(total, 0x0FFFFFFF);
  PutWord(d, 60, static_cast<std::uint16_t>(lba28 & 0xFFFF));
  PutWord(d, 61, static_cast<std::uint16_t>(lba28 >> 16));
  PutWord(d, 63, 0x0007);
  PutWord(d, 64, 0x0003);
  for (int w = 65; w <= 68; ++w) PutWord(d, w, 120);
  PutWord(d, 80, 0x01F0);  // ATA/ATAPI-4 to ATA8-ACS
  // Host protected area feature set, as nearly every drive has it.
  PutWord(d, 82, static_cast<std::uint16_t>(0x4468 | (setup_.smart_supported ? 0x0001 : 0)));
  PutWord(d, 83, 0x7400);  // 48-bit addressing, FLUSH CACHE (EXT)
  PutWord(d, 84, static_cast<std::uint16_t>(0x4000 | (setup_.smart_supported ? 0x0001 : 0) |
                                            (setup_.selftest_supported ? 0x0002 : 0)));
  PutWord(d, 85, static_cast<std::uint16_t>(0x4068 | (setup_.smart_enabled ? 0x0001 : 0)));
  PutWord(d, 86, 0x3400);
  PutWord(d, 87, static_cast<std::uint16_t>(0x4000 | (setup_.smart_supported ? 0x0001 : 0) |
                                            (setup_.selftest_default ? 0x0002 : 0)));
  PutWord(d, 88, 0x407F);
  PutWord(d, 93, 0x6A7F);
  for (int i = 0; i < 4; ++i) {
    PutWord(d, 100 + i, static_cast<std::uint16_t>(total >> (16 * i)));
  }
  PutWord(d, 106, 0x4000);
  if (setup_.sct_write_same) PutWord(d, 206, 0x0005);  // SCT, with Write Same
  PutWord(d, 217, 7200);
  d[510] = 0xA5;  // integrity word: signature and checksum
  PutChecksum(d);
  return d;
}

std::uint8_t AtaDrive::SelfTestStatusLocked(std::uint64_t now_ms) {
  if (running_) {
    const std::uint64_t elapsed = now_ms >= running_->start_ms ? now_ms - running_->start_ms : 0;
    const std::uint64_t duration = running_->plan.duration_ms;
    if (elapsed >= duration) {
      last_status_ = running_->plan.final_status;
      running_.reset();
    } else {
      // Tenths still to run: 9 at the start, never 0 while running.
      const std::uint64_t done = elapsed * 9 / duration;
      const auto remaining = static_cast<std::uint8_t>(std::max<std::uint64_t>(1, 9 - done));
      return static_cast<std::uint8_t>(0xF0 | remaining);
    }
  }
  return last_status_ ? *last_status_ : setup_.selftest_status;
}

std::vector<std::uint8_t> AtaDrive::SmartData(std::uint64_t now_ms) {
  std::vector<std::uint8_t> d(512, 0);
  d[0] = 0x10;  // data structure revision
  std::size_t at = 2;
  for (const SmartAttr& a : setup_.attributes) {
    if (at + 12 > 362) break;  // 30 entries
    d[at] = a.id;
    d[at + 1] = static_cast<std::uint8_t>(a.flags & 0xFF);
    d[at + 2] = static_cast<std::uint8_t>(a.flags >> 8);
    d[at + 3] = a.current;
    d[at + 4] = a.worst;
    for (int i = 0; i < 6; ++i) {
      d[at + 5 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(a.raw >> (8 * i));
    }
    at += 12;
  }
  d[362] = 0x82;  // off-line data collection completed, automatic collection on
  d[363] = SelfTestStatusLocked(now_ms);
  d[364] = 0x58;  // off-line collection time: 600 s
  d[365] = 0x02;
  d[367] = 0x7B;  // off-line capabilities, self-test included
  d[368] = 0x03;  // saves attributes over power cycles
  d[370] = 0x01;  // error logging
  d[372] = Minutes(setup_.short_test.duration_ms, 0xFF);
  const std::uint64_t extended_minutes =
      std::max<std::uint64_t>(1, (setup_.extended_test.duration_ms + 59999) / 60000);
  if (extended_minutes < 0xFF) {
    d[373] = static_cast<std::uint8_t>(extended_minutes);
  } else {
    d[373] = 0xFF;
    const auto word = static_cast<std::uint16_t>(std::min<std::uint64_t>(extended_minutes, 0xFFFF));
    d[375] = static_cast<std::uint8_t>(word & 0xFF);
    d[376] = static_cast<std::uint8_t>(word >> 8);
  }
  PutChecksum(d);
  return d;
}

std::vector<std::uint8_t> AtaDrive::SmartThresholds() const {
  std::vector<std::uint8_t> d(512, 0);
  d[0] = 0x10;
  std::size_t at = 2;
  for (const SmartAttr& a : setup_.attributes) {
    if (at + 12 > 362) break;
    d[at] = a.id;
    d[at + 1] = a.threshold;
    at += 12;
  }
  PutChecksum(d);
  return d;
}

std::array<std::uint8_t, 512> AtaDrive::ReadSector(std::uint64_t lba) const {
  std::lock_guard lock(mutex_);
  return store_.Read(lba);
}

bool AtaDrive::IsZeroed(std::uint64_t first, std::uint64_t count) const {
  std::lock_guard lock(mutex_);
  return store_.IsZeroed(first, count);
}

std::array<std::uint8_t, 512> AtaDrive::SectorBuffer() const {
  std::lock_guard lock(mutex_);
  return buffer_;
}

std::uint8_t AtaDrive::SelfTestStatus() {
  const std::uint64_t now = now_ms_ ? now_ms_() : 0;
  std::lock_guard lock(mutex_);
  return SelfTestStatusLocked(now);
}

bool AtaDrive::smart_enabled() const {
  std::lock_guard lock(mutex_);
  return setup_.smart_enabled;
}

}  // namespace plovix::sim
