// The writing side of a virtual ATA drive besides the vendor erase: SCT Write Same with
// its status, the native max address, and writes through the system's block path.
#include <algorithm>

#include "devices/sim/AtaDrive.h"

namespace plovix::sim {
namespace {

constexpr std::uint8_t kErrAbort = 0x04;
constexpr std::uint8_t kErrUncorrectable = 0x40;

constexpr std::uint16_t kSctWriteSame = 0x0002;
constexpr std::uint16_t kSctRunning = 0xFFFF;
constexpr std::uint16_t kSctInvalidFunction = 0x0001;
constexpr std::uint16_t kSctLbaOutOfRange = 0x0002;
constexpr std::uint16_t kSctWriteFailed = 0x0003;

std::uint64_t Le(const std::vector<std::uint8_t>& d, std::size_t at, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | d[at + static_cast<std::size_t>(i)];
  return v;
}

void PutLe(std::vector<std::uint8_t>& d, std::size_t at, int bytes, std::uint64_t v) {
  for (int i = 0; i < bytes; ++i) d[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

AtaResult Error(std::uint8_t error) {
  AtaResult result;
  result.status = kStatusError;
  result.error = error;
  return result;
}

}  // namespace

bool AtaDrive::FillWrite(std::uint64_t lba, std::uint64_t count, const Sector& data,
                         std::uint64_t& failed_at) {
  std::uint64_t end = lba + count;
  bool ok = true;
  if (setup_.write_error_lba && *setup_.write_error_lba >= lba && *setup_.write_error_lba < end) {
    end = *setup_.write_error_lba;
    failed_at = end;
    ok = false;
  }
  if (setup_.dropped_writes_count == 0) {
    if (end > lba) store_.Fill(lba, end - lba, data);
    return ok;
  }
  // The parts before and after the dropped range.
  const std::uint64_t drop_first = setup_.dropped_writes_first;
  const std::uint64_t drop_end = drop_first + setup_.dropped_writes_count;
  const std::uint64_t before_end = std::min(end, drop_first);
  if (before_end > lba) store_.Fill(lba, before_end - lba, data);
  const std::uint64_t after_first = std::max(lba, drop_end);
  if (end > after_first) store_.Fill(after_first, end - after_first, data);
  return ok;
}

bool AtaDrive::WriteLocked(std::uint64_t lba, const std::uint8_t* data, std::uint64_t count,
                           std::uint64_t& failed_at) {
  for (std::uint64_t i = 0; i < count; ++i) {
    Sector sector;
    std::copy_n(data + i * 512, sector.size(), sector.begin());
    // Runs of equal sectors go in as one, so writes of zeros stay cheap.
    std::uint64_t j = i + 1;
    while (j < count && std::equal(sector.begin(), sector.end(), data + j * 512)) ++j;
    if (!FillWrite(lba + i, j - i, sector, failed_at)) return false;
    i = j - 1;
  }
  return true;
}

Sector AtaDrive::ReadLocked(std::uint64_t lba) const {
  return store_.Read(lba);
}

AtaResult AtaDrive::ReadNativeMax(const AtaTaskFile& r) const {
  const std::uint64_t native =
      std::max(setup_.native_sectors, setup_.total_sectors);
  const std::uint64_t max = native == 0 ? 0 : native - 1;
  AtaResult result;
  result.out = r;
  result.out->lba_low = static_cast<std::uint8_t>(max);
  result.out->lba_mid = static_cast<std::uint8_t>(max >> 8);
  result.out->lba_high = static_cast<std::uint8_t>(max >> 16);
  result.out->hob_lba_low = static_cast<std::uint8_t>(max >> 24);
  result.out->hob_lba_mid = static_cast<std::uint8_t>(max >> 32);
  result.out->hob_lba_high = static_cast<std::uint8_t>(max >> 40);
  return result;
}

void AtaDrive::SettleSct(std::uint64_t now_ms) {
  if (!sct_ || sct_->status != kSctRunning) return;
  std::uint64_t target = sct_->count;
  if (setup_.sectors_per_second > 0) {
    const std::uint64_t elapsed = now_ms > sct_->start_ms ? now_ms - sct_->start_ms : 0;
    target = std::min(sct_->count, elapsed * setup_.sectors_per_second / 1000);
  }
  if (target <= sct_->done) return;
  std::uint64_t failed_at = 0;
  if (!FillWrite(sct_->first + sct_->done, target - sct_->done, sct_->pattern, failed_at)) {
    sct_->done = failed_at - sct_->first;
    sct_->status = kSctWriteFailed;
    return;
  }
  sct_->done = target;
  if (sct_->done == sct_->count) sct_->status = 0;
}

AtaResult AtaDrive::SctWrite(const AtaExchange& ex, std::uint64_t now_ms) {
  SettleSct(now_ms);
  const std::vector<std::uint8_t>& d = ex.data_out;
  const auto action = static_cast<std::uint16_t>(Le(d, 0, 2));
  const auto function = static_cast<std::uint16_t>(Le(d, 2, 2));
  if (sct_ && sct_->status == kSctRunning) return Error(kErrAbort);  // one at a time
  SctState state;
  state.action = action;
  state.function = function;
  state.start_ms = now_ms;
  if (action != kSctWriteSame || (function != 0x0001 && function != 0x0101)) {
    state.status = kSctInvalidFunction;
    sct_ = state;
    return Error(kErrAbort);
  }
  state.first = Le(d, 4, 8);
  state.count = Le(d, 12, 8);
  if (state.count == 0 && state.first < setup_.total_sectors) {
    state.count = setup_.total_sectors - state.first;  // to the end of the disk
  }
  if (state.first >= setup_.total_sectors || state.count > setup_.total_sectors - state.first) {
    state.status = kSctLbaOutOfRange;
    sct_ = state;
    return Error(kErrAbort);
  }
  const auto pattern = static_cast<std::uint32_t>(Le(d, 20, 4));
  for (std::size_t i = 0; i < state.pattern.size(); ++i) {
    state.pattern[i] = static_cast<std::uint8_t>(pattern >> (8 * (i % 4)));
  }
  state.status = kSctRunning;
  sct_ = state;
  // A foreground fill ends before the command does.
  if (function == 0x0101 || setup_.sectors_per_second == 0) {
    const std::uint64_t speed = setup_.sectors_per_second;
    setup_.sectors_per_second = 0;
    SettleSct(now_ms);
    setup_.sectors_per_second = speed;
    if (function == 0x0101 && sct_->status != 0) return Error(kErrUncorrectable);
  }
  return AtaResult{};
}

AtaResult AtaDrive::SctStatus(std::uint64_t now_ms) {
  SettleSct(now_ms);
  std::vector<std::uint8_t> d(512, 0);
  PutLe(d, 0, 2, 3);  // format version
  PutLe(d, 4, 2, 1);  // SCT level
  const bool running = sct_ && sct_->status == kSctRunning;
  d[10] = running ? 5 : 0;  // device state: an SCT command in the background
  if (sct_) {
    PutLe(d, 14, 2, sct_->status);
    PutLe(d, 16, 2, sct_->action);
    PutLe(d, 18, 2, sct_->function);
    PutLe(d, 40, 8, sct_->first + sct_->done);
  }
  d[200] = 36;  // temperature
  AtaResult result;
  result.data_in = std::move(d);
  return result;
}

}  // namespace plovix::sim
