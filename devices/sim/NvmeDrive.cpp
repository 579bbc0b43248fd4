#include "devices/sim/NvmeDrive.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <utility>

#include "drive/NvmeCommands.h"

namespace plovix::sim {
namespace {

constexpr std::size_t kResultEntryBytes = 28;
constexpr std::size_t kResultEntries = 20;

void Put16(std::vector<std::uint8_t>& d, std::size_t at, std::uint16_t v) {
  d[at] = static_cast<std::uint8_t>(v);
  d[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::vector<std::uint8_t>& d, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) d[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void Put64(std::uint8_t* d, std::uint64_t v) {
  for (std::size_t i = 0; i < 8; ++i) d[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void Put128(std::vector<std::uint8_t>& d, std::size_t at, const NvmeU128& v) {
  Put64(d.data() + at, v.low);
  Put64(d.data() + at + 8, v.high);
}

// NVMe text: ASCII, left-justified, blank padded.
void PutText(std::vector<std::uint8_t>& d, std::size_t at, std::size_t width,
             const std::string& text) {
  for (std::size_t i = 0; i < width; ++i) {
    d[at + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
  }
}

void Increment(NvmeU128& v) {
  if (++v.low == 0) ++v.high;
}

NvmeResult Status(std::uint8_t sct, std::uint8_t sc, bool dnr = true) {
  NvmeResult result;
  result.status = MakeNvmeStatus(sct, sc, dnr);
  return result;
}

NvmeResult TransferError() {
  NvmeResult result;
  result.transfer_error = true;
  return result;
}

// The request sets up the data phase the command has, with room for what it moves.
bool Fits(const NvmeExchange& ex, NvmeData wanted, std::uint64_t bytes) {
  const NvmeRequest& r = ex.request;
  if (r.direction != wanted) return false;
  if (wanted == NvmeData::None) return true;
  if (r.data_length < bytes) return false;
  return wanted != NvmeData::ToDevice || ex.data_out.size() >= bytes;
}

std::vector<std::uint32_t> Formats(std::uint32_t in_use) {
  std::vector<std::uint32_t> formats{512, 4096};
  if (std::find(formats.begin(), formats.end(), in_use) == formats.end()) {
    formats.push_back(in_use);
  }
  return formats;
}

}  // namespace

NvmeDrive::NvmeDrive(NvmeSpec setup, std::mutex& bench_mutex,
                     std::function<std::uint64_t()> now_ms)
    : setup_(std::move(setup)), mutex_(bench_mutex), now_ms_(std::move(now_ms)) {}

bool NvmeDrive::OsRefuses(const NvmeRequest& request) const {
  const auto& refused =
      request.queue == NvmeQueue::Admin ? setup_.os_refused_admin : setup_.os_refused_io;
  return refused.count(request.opcode) != 0;
}

NvmeResult NvmeDrive::Execute(const NvmeExchange& ex, std::uint64_t now_ms) {
  return ex.request.queue == NvmeQueue::Admin ? Admin(ex, now_ms) : Io(ex);
}

NvmeResult NvmeDrive::Admin(const NvmeExchange& ex, std::uint64_t now_ms) {
  const NvmeRequest& r = ex.request;
  switch (r.opcode) {
    case kNvmeAdminIdentify:
      if (!Fits(ex, NvmeData::FromDevice, kNvmeIdentifyBytes)) return TransferError();
      return Identify(r);
    case kNvmeAdminGetLogPage: {
      const std::uint64_t numd = (r.cdw10 >> 16) | static_cast<std::uint64_t>(r.cdw11 & 0xFFFF) << 16;
      if (!Fits(ex, NvmeData::FromDevice, (numd + 1) * 4)) return TransferError();
      return GetLogPage(r, now_ms);
    }
    case kNvmeAdminDeviceSelfTest:
      if (!Fits(ex, NvmeData::None, 0)) return TransferError();
      return SelfTest(r, now_ms);
    default:
      return Status(0, kNvmeScInvalidOpcode);
  }
}

NvmeResult NvmeDrive::Identify(const NvmeRequest& r) const {
  const std::uint8_t cns = r.cdw10 & 0xFF;
  NvmeResult result;
  if (cns == kNvmeCnsController) {
    if (r.nsid != 0) return Status(0, kNvmeScInvalidField);
    result.data_in = IdentifyControllerData();
    return result;
  }
  if (cns == kNvmeCnsNamespace) {
    if (r.nsid == setup_.nsid) {
      result.data_in = IdentifyNamespaceData();
    } else if (r.nsid != 0 && r.nsid <= setup_.namespace_count) {
      result.data_in.assign(kNvmeIdentifyBytes, 0);  // a namespace id with nothing behind it
    } else {
      return Status(0, kNvmeScInvalidNamespace);
    }
    return result;
  }
  return Status(0, kNvmeScInvalidField);
}

NvmeResult NvmeDrive::GetLogPage(const NvmeRequest& r, std::uint64_t now_ms) {
  const std::uint8_t lid = r.cdw10 & 0xFF;
  const std::uint64_t numd = (r.cdw10 >> 16) | static_cast<std::uint64_t>(r.cdw11 & 0xFFFF) << 16;
  const std::uint64_t offset = r.cdw12 | static_cast<std::uint64_t>(r.cdw13) << 32;
  const bool whole_controller = r.nsid == 0 || r.nsid == kNvmeAllNamespaces;
  std::vector<std::uint8_t> log;
  switch (lid) {
    case kNvmeLogHealth:
      // Log page attributes say no per-namespace health log.
      if (!whole_controller) return Status(0, kNvmeScInvalidField);
      log = HealthLogData();
      break;
    case kNvmeLogSelfTest:
      if (!setup_.self_test_supported) return Status(kNvmeSctCommandSpecific, kNvmeScInvalidLogPage);
      if (!whole_controller && r.nsid != setup_.nsid) return Status(0, kNvmeScInvalidNamespace);
      log = SelfTestLogLocked(now_ms);
      break;
    default:
      return Status(kNvmeSctCommandSpecific, kNvmeScInvalidLogPage);
  }
  if (offset % 4 != 0 || offset >= log.size()) return Status(0, kNvmeScInvalidField);
  NvmeResult result;
  result.data_in.assign((numd + 1) * 4, 0);  // past the log's end the host reads zeros
  const std::size_t n = std::min<std::size_t>(result.data_in.size(), log.size() - offset);
  std::copy_n(log.begin() + static_cast<std::ptrdiff_t>(offset), n, result.data_in.begin());
  return result;
}

NvmeResult NvmeDrive::SelfTest(const NvmeRequest& r, std::uint64_t now_ms) {
  if (!setup_.self_test_supported) return Status(0, kNvmeScInvalidOpcode);
  if (r.nsid != 0 && r.nsid != kNvmeAllNamespaces && r.nsid != setup_.nsid) {
    return Status(0, kNvmeScInvalidNamespace);
  }
  SettleLocked(now_ms);
  const auto code = static_cast<std::uint8_t>(r.cdw10 & 0x0F);
  switch (code) {
    case 0x1:
    case 0x2:
      if (running_) return Status(kNvmeSctCommandSpecific, kNvmeScSelfTestInProgress);
      running_ = RunningTest{code, code == 0x1 ? setup_.short_test : setup_.extended_test, now_ms};
      return NvmeResult{};
    case 0xF:
      // Aborting when nothing runs is no error; it leaves no entry either.
      if (running_) {
        RecordResult(running_->code, running_->plan, kNvmeTestAbortedByCommand);
        running_.reset();
      }
      return NvmeResult{};
    default:  // vendor-specific tests are not offered
      return Status(0, kNvmeScInvalidField);
  }
}

NvmeResult NvmeDrive::Io(const NvmeExchange& ex) {
  const NvmeRequest& r = ex.request;
  if (r.nsid != setup_.nsid) return Status(0, kNvmeScInvalidNamespace);
  const std::uint64_t slba = r.cdw10 | static_cast<std::uint64_t>(r.cdw11) << 32;
  const std::uint64_t blocks = (r.cdw12 & 0xFFFF) + 1;
  const std::uint64_t bytes = blocks * setup_.block_bytes;
  const std::uint64_t per_block = setup_.block_bytes / 512;

  bool supported = true;
  NvmeData phase = NvmeData::None;
  switch (r.opcode) {
    case kNvmeIoFlush:
      if (!Fits(ex, NvmeData::None, 0)) return TransferError();
      return NvmeResult{};
    case kNvmeIoVerify:
      supported = setup_.verify_supported;
      break;
    case kNvmeIoWriteZeroes:
      supported = setup_.write_zeroes_supported;
      break;
    case kNvmeIoRead:
      phase = NvmeData::FromDevice;
      break;
    case kNvmeIoWrite:
      phase = NvmeData::ToDevice;
      break;
    default:
      supported = false;
      break;
  }
  if (!supported) return Status(0, kNvmeScInvalidOpcode);
  if (!Fits(ex, phase, bytes)) return TransferError();
  if (phase != NvmeData::None && setup_.mdts != 0 && setup_.mdts < 32 &&
      bytes > (std::uint64_t{4096} << setup_.mdts)) {
    return Status(0, kNvmeScInvalidField);
  }
  if (slba >= setup_.block_count || blocks > setup_.block_count - slba) {
    return Status(0, kNvmeScLbaOutOfRange);
  }

  NvmeResult result;
  if (r.opcode == kNvmeIoVerify || r.opcode == kNvmeIoRead) {
    auto bad = setup_.bad_blocks.lower_bound(slba);
    if (bad != setup_.bad_blocks.end() && *bad < slba + blocks) {
      CountUnrecoveredRead();
      result = Status(kNvmeSctMediaError, kNvmeScUnrecoveredReadError);
      result.media_blocks = *bad - slba + 1;
      return result;
    }
    if (r.opcode == kNvmeIoRead) {
      result.data_in.reserve(bytes);
      for (std::uint64_t b = slba; b < slba + blocks; ++b) {
        const auto block = BlockLocked(b);
        result.data_in.insert(result.data_in.end(), block.begin(), block.end());
      }
    }
    result.media_blocks = blocks;
    return result;
  }
  if (r.opcode == kNvmeIoWriteZeroes) {
    store_.Fill(slba * per_block, blocks * per_block, Sector{});
  } else {
    store_.Write(slba * per_block, ex.data_out.data(), blocks * per_block);
  }
  result.media_blocks = blocks;
  return result;
}

void NvmeDrive::CountUnrecoveredRead() {
  Increment(setup_.health.media_errors);
  Increment(setup_.health.error_log_entries);
}

void NvmeDrive::SettleLocked(std::uint64_t now_ms) {
  if (!running_) return;
  const std::uint64_t elapsed = now_ms >= running_->start_ms ? now_ms - running_->start_ms : 0;
  if (elapsed < running_->plan.duration_ms) return;
  RecordResult(running_->code, running_->plan, running_->plan.result);
  running_.reset();
}

void NvmeDrive::RecordResult(std::uint8_t code, const NvmeSelfTestPlan& plan, std::uint8_t status) {
  std::array<std::uint8_t, kResultEntryBytes> e{};
  e[0] = static_cast<std::uint8_t>((code << 4) | (status & 0x0F));
  const bool failed = status == kNvmeTestFatalError || status == kNvmeTestFailedUnknownSegment ||
                      status == kNvmeTestFailedSegment;
  if (status == kNvmeTestFailedSegment) e[1] = plan.segment;
  Put64(e.data() + 4, setup_.health.power_on_hours.low);
  if (failed && plan.failing_lba) {
    e[2] = 0x0F;  // namespace, failing LBA, status code type and status code valid
    for (std::size_t i = 0; i < 4; ++i) e[12 + i] = static_cast<std::uint8_t>(setup_.nsid >> (8 * i));
    Put64(e.data() + 16, *plan.failing_lba);
    e[24] = kNvmeSctMediaError;
    e[25] = kNvmeScUnrecoveredReadError;
  }
  results_.push_front(e);
  if (results_.size() > kResultEntries) results_.pop_back();
}

std::vector<std::uint8_t> NvmeDrive::SelfTestLogLocked(std::uint64_t now_ms) {
  SettleLocked(now_ms);
  std::vector<std::uint8_t> d(kNvmeSelfTestLogBytes, 0);
  if (running_) {
    const std::uint64_t elapsed = now_ms >= running_->start_ms ? now_ms - running_->start_ms : 0;
    const std::uint64_t duration = std::max<std::uint64_t>(1, running_->plan.duration_ms);
    d[0] = running_->code;
    d[1] = static_cast<std::uint8_t>(std::min<std::uint64_t>(99, elapsed * 100 / duration));
  }
  for (std::size_t i = 0; i < kResultEntries; ++i) {
    std::uint8_t* e = d.data() + 4 + i * kResultEntryBytes;
    if (i < results_.size()) {
      std::copy(results_[i].begin(), results_[i].end(), e);
    } else {
      e[0] = kNvmeTestEntryUnused;
    }
  }
  return d;
}

std::vector<std::uint8_t> NvmeDrive::IdentifyControllerData() const {
  std::vector<std::uint8_t> d(kNvmeIdentifyBytes, 0);
  Put16(d, 0, 0x1D5A);  // PCI vendor of the bench's make-believe maker
  Put16(d, 2, 0x1D5A);
  PutText(d, 4, 20, setup_.serial);
  PutText(d, 24, 40, setup_.model);
  PutText(d, 64, 8, setup_.firmware);
  d[72] = 0x06;  // recommended arbitration burst
  d[77] = setup_.mdts;
  Put16(d, 78, 0x0001);      // controller id
  Put32(d, 80, 0x00010400);  // NVMe 1.4
  Put16(d, 256, setup_.self_test_supported ? 0x0010 : 0x0000);
  d[258] = 3;  // abort command limit
  d[259] = 3;  // asynchronous event request limit
  d[260] = 0x02;  // one firmware slot
  d[262] = 63;    // error log entries, zero-based
  Put16(d, 266, 343);  // warning temperature, 70 C
  Put16(d, 268, 358);  // critical temperature, 85 C
  const std::uint64_t minutes = (setup_.extended_test.duration_ms + 59999) / 60000;
  Put16(d, 316, static_cast<std::uint16_t>(std::clamp<std::uint64_t>(minutes, 1, 0xFFFF)));
  d[318] = 0x01;  // one self-test at a time
  d[512] = 0x66;  // submission and completion queue entry sizes
  d[513] = 0x44;
  Put32(d, 516, setup_.namespace_count);
  Put16(d, 520, static_cast<std::uint16_t>((setup_.write_zeroes_supported ? 0x0008 : 0) |
                                           (setup_.verify_supported ? 0x0080 : 0)));
  return d;
}

std::vector<std::uint8_t> NvmeDrive::IdentifyNamespaceData() const {
  std::vector<std::uint8_t> d(kNvmeIdentifyBytes, 0);
  Put64(d.data() + 0, setup_.block_count);   // size
  Put64(d.data() + 8, setup_.block_count);   // capacity
  Put64(d.data() + 16, setup_.block_count);  // utilisation
  const std::vector<std::uint32_t> formats = Formats(setup_.block_bytes);
  d[25] = static_cast<std::uint8_t>(formats.size() - 1);
  for (std::size_t i = 0; i < formats.size(); ++i) {
    d[128 + 4 * i + 2] = static_cast<std::uint8_t>(std::countr_zero(formats[i]));
    d[128 + 4 * i + 3] = formats[i] == 4096 ? 0x00 : 0x02;  // relative performance
    if (formats[i] == setup_.block_bytes) d[26] = static_cast<std::uint8_t>(i);
  }
  return d;
}

std::vector<std::uint8_t> NvmeDrive::HealthLogData() const {
  const NvmeHealth& h = setup_.health;
  std::vector<std::uint8_t> d(kNvmeHealthLogBytes, 0);
  d[0] = h.critical_warning;
  Put16(d, 1, h.temperature_kelvin);
  d[3] = h.available_spare;
  d[4] = h.available_spare_threshold;
  d[5] = h.percentage_used;
  Put128(d, 32, h.data_units_read);
  Put128(d, 48, h.data_units_written);
  Put128(d, 64, h.host_read_commands);
  Put128(d, 80, h.host_write_commands);
  Put128(d, 96, h.controller_busy_minutes);
  Put128(d, 112, h.power_cycles);
  Put128(d, 128, h.power_on_hours);
  Put128(d, 144, h.unsafe_shutdowns);
  Put128(d, 160, h.media_errors);
  Put128(d, 176, h.error_log_entries);
  Put32(d, 192, h.warning_temp_minutes);
  Put32(d, 196, h.critical_temp_minutes);
  Put16(d, 200, h.temperature_kelvin);  // sensor 1 reads what the composite does
  return d;
}

std::vector<std::uint8_t> NvmeDrive::InquiryData() const {
  std::vector<std::uint8_t> d(36, ' ');
  d[0] = 0x00;  // direct-access block device
  d[1] = 0x00;
  d[2] = 0x06;  // SPC-4
  d[3] = 0x02;
  d[4] = 36 - 5;
  d[5] = d[6] = 0x00;
  d[7] = 0x02;  // command queueing
  PutText(d, 8, 8, "NVMe");
  PutText(d, 16, 16, setup_.model);
  PutText(d, 32, 4, setup_.firmware);
  return d;
}

std::vector<std::uint8_t> NvmeDrive::BlockLocked(std::uint64_t block) const {
  const std::uint64_t per_block = setup_.block_bytes / 512;
  std::vector<std::uint8_t> out;
  out.reserve(setup_.block_bytes);
  for (std::uint64_t s = block * per_block; s < (block + 1) * per_block; ++s) {
    const Sector sector = store_.Read(s);
    out.insert(out.end(), sector.begin(), sector.end());
  }
  return out;
}

std::array<std::uint8_t, 512> NvmeDrive::ReadSector(std::uint64_t lba) const {
  std::lock_guard lock(mutex_);
  return store_.Read(lba);
}

bool NvmeDrive::IsZeroed(std::uint64_t first, std::uint64_t count) const {
  std::lock_guard lock(mutex_);
  return store_.IsZeroed(first, count);
}

std::vector<std::uint8_t> NvmeDrive::ReadBlock(std::uint64_t block) const {
  std::lock_guard lock(mutex_);
  return BlockLocked(block);
}

std::vector<std::uint8_t> NvmeDrive::SelfTestLog() {
  const std::uint64_t now = now_ms_ ? now_ms_() : 0;
  std::lock_guard lock(mutex_);
  return SelfTestLogLocked(now);
}

NvmeHealth NvmeDrive::Health() const {
  std::lock_guard lock(mutex_);
  return setup_.health;
}

}  // namespace plovix::sim
