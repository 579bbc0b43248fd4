#include "diagnostics/EraseMethods.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include "diagnostics/NvmeSupport.h"
#include "diagnostics/RunPlan.h"
#include "drive/NvmeCommands.h"

namespace plovix {

namespace {

constexpr std::uint64_t kMiBSectors = 2048;
constexpr std::uint64_t kVerifyStrideSectors = 256 * kMiBSectors;

// A zero-filled buffer aligned for unbuffered I/O (O_DIRECT, FILE_FLAG_NO_BUFFERING).
class AlignedZeros {
 public:
  explicit AlignedZeros(std::size_t bytes)
      : bytes_(bytes), data_(static_cast<std::uint8_t*>(::operator new(bytes, kAlign))) {
    std::memset(data_, 0, bytes_);
  }
  ~AlignedZeros() { ::operator delete(data_, kAlign); }
  AlignedZeros(const AlignedZeros&) = delete;
  AlignedZeros& operator=(const AlignedZeros&) = delete;
  std::uint8_t* data() { return data_; }
  std::size_t size() const { return bytes_; }

 private:
  static constexpr std::align_val_t kAlign{4096};
  std::size_t bytes_;
  std::uint8_t* data_;
};

EraseResult Failure(std::uint64_t lba, std::string answer) {
  return {EraseStatus::Failed, lba, std::move(answer)};
}

// WRITE BUFFER with zeros, then the vendor opcode over each run of 65535 sectors: the
// drive writes its loaded buffer, no data crosses the bus. Neither command has a bridge
// form: on SCSI they always use the ATA PASS-THROUGH blocks.
class VendorFill : public EraseMethod {
 public:
  explicit VendorFill(const EraseTarget& t)
      : connection_(*t.connection), transport_{static_cast<std::uint8_t>(t.via_scsi == 1), 0} {}
  EraseMethodKind kind() const override { return EraseMethodKind::VendorFill; }

  EraseResult Zero(std::uint64_t first, std::uint64_t count, const EraseControl& c) override {
    const RunPlan plan(first, first + count - 1);
    for (std::uint64_t k = 0; k < plan.size(); ++k) {
      const SectorRun run = plan[k];
      c.At(run.lba);
      if (c.Aborting()) return {EraseStatus::Aborted, run.lba, {}};
      // A run erased without the zeros loaded would hold stale buffer data.
      for (int step = 0; step < 2; ++step) {
        const AtaReply answer = step == 0
                                     ? SendWriteBufferZeros(connection_, transport_)
                                     : SendEraseRange(connection_, transport_, run.lba, run.count);
        if (answer.ok()) continue;
        // A drive that does not know these commands says so before it has written a
        // sector: another method takes over.
        if (!started_ && answer.outcome == AtaOutcome::DriveError) return {EraseStatus::Refused, 0, {}};
        return Failure(run.lba, DescribeReply(answer));
      }
      started_ = true;
    }
    return {};
  }

 private:
  DriveConnection& connection_;
  Transport transport_;
  bool started_ = false;
};

// SCT Write Same: the drive fills a range by itself in the background, in pieces of
// 256 MiB so that an abort waits for one piece only; progress from the SCT status.
class SctFill : public EraseMethod {
 public:
  explicit SctFill(const EraseTarget& t)
      : connection_(*t.connection), transport_{static_cast<std::uint8_t>(t.via_scsi == 1), 0} {}
  EraseMethodKind kind() const override { return EraseMethodKind::SctWriteSame; }

  EraseResult Zero(std::uint64_t first, std::uint64_t count, const EraseControl& c) override {
    constexpr std::uint64_t kPiece = kVerifyStrideSectors;
    for (std::uint64_t lba = first; lba < first + count; lba += kPiece) {
      const std::uint64_t n = std::min(kPiece, first + count - lba);
      c.At(lba);
      if (c.Aborting()) return {EraseStatus::Aborted, lba, {}};
      const AtaReply start = SctWriteSame(connection_, transport_, lba, n, 0);
      if (!start.ok()) {
        if (!started_ && start.outcome == AtaOutcome::DriveError) return {EraseStatus::Refused, 0, {}};
        return Failure(lba, DescribeReply(start));
      }
      started_ = true;
      if (EraseResult r = WaitForPiece(lba, n, c); r.status != EraseStatus::Done) return r;
    }
    return {};
  }

 private:
  EraseResult WaitForPiece(std::uint64_t lba, std::uint64_t n, const EraseControl& c) {
    for (int polls = 0;; ++polls) {
      const AtaReply read = SctReadStatus(connection_, transport_);
      if (!read.ok()) return Failure(lba, "the SCT status could not be read: " + DescribeReply(read));
      const SctStatus status = DecodeSctStatus(connection_.buffers().a());
      if (status.extended_status == 0) return {};
      if (status.extended_status != 0xFFFF) {
        char text[64];
        std::snprintf(text, sizeof text, "SCT Write Same ended with status %04Xh",
                      static_cast<unsigned>(status.extended_status));
        return Failure(std::clamp(status.current_lba, lba, lba + n - 1), text);
      }
      c.At(std::clamp(status.current_lba, lba, lba + n));
      // The drive writes on its own; a look every quarter second is enough for the bar.
      if (polls > 0) std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
  }

  DriveConnection& connection_;
  Transport transport_;
  bool started_ = false;
};

// Zeros written through the system's own block path, as dd writes them: large aligned
// writes on the claimed whole disk.
class SystemWrites : public EraseMethod {
 public:
  static constexpr std::uint32_t kChunkBytes = 4u << 20;

  explicit SystemWrites(const EraseTarget& t) : io_(*t.io), claim_(t.claim) {}
  EraseMethodKind kind() const override { return EraseMethodKind::SystemWrites; }

  EraseResult Zero(std::uint64_t first, std::uint64_t count, const EraseControl& c) override {
    if (claim_.outcome != ClaimOutcome::Claimed || claim_.size_bytes == 0) {
      return {EraseStatus::Refused, 0, {}};
    }
    const std::uint64_t block = std::max<std::uint32_t>(claim_.logical_block_bytes, 512);
    // Whole logical blocks, within what the system can reach.
    std::uint64_t begin = first * 512 / block * block;
    std::uint64_t end = ((first + count) * 512 + block - 1) / block * block;
    end = std::min(end, claim_.size_bytes / block * block);
    if (!zeros_) zeros_ = std::make_unique<AlignedZeros>(kChunkBytes);
    while (begin < end) {
      const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kChunkBytes, end - begin));
      c.At(begin / 512);
      if (c.Aborting()) return {EraseStatus::Aborted, begin / 512, {}};
      const BlockIo io = io_.WriteDisk(claim_.handle, begin, zeros_->data(), n);
      if (!io.ok) return Failure(begin / 512, "the system's write failed: " + io.error);
      begin += n;
    }
    return {};
  }

 private:
  DeviceIo& io_;
  DiskClaim claim_;
  std::unique_ptr<AlignedZeros> zeros_;
};

// Runs of Write Zeroes as long as the ATA erase's, so a 512-byte namespace is erased in
// the very same runs; zero writes in what the buffers and the controller take.
constexpr std::uint32_t kZeroesRunBlocks = 65535;

// NVMe Write Zeroes while it works; where the controller does not offer it, or the
// system refuses it, or the drive does not know it, writes of zeros for the rest.
class NvmeZeroes : public EraseMethod {
 public:
  explicit NvmeZeroes(const EraseTarget& t)
      : connection_(*t.connection), target_(t.nvme_target), use_writes_(t.nvme_target.write_zeroes != 1) {}
  EraseMethodKind kind() const override { return EraseMethodKind::NvmeZeroes; }

  EraseResult Zero(std::uint64_t first, std::uint64_t count, const EraseControl& c) override {
    const std::uint64_t per_block = target_.ns.sectors_per_block();
    const std::uint64_t blocks = target_.ns.block_count;
    if (per_block == 0 || blocks == 0) return Failure(first, "the namespace has no blocks");
    std::uint64_t b = first / per_block;
    const std::uint64_t end = std::min(blocks, (first + count + per_block - 1) / per_block);
    while (b < end) {
      c.At(b * per_block);
      if (c.Aborting()) return {EraseStatus::Aborted, b * per_block, {}};
      const std::uint32_t run =
          use_writes_ ? std::max<std::uint32_t>(1, NvmeMaxDataBlocks(target_.ns, target_.mdts))
                      : kZeroesRunBlocks;
      const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(run, end - b));
      std::uint64_t refused_at = 0;
      const EraseStatus s = ZeroBlocks(b, n, refused_at);
      if (s == EraseStatus::SystemRefused) {
        // Nothing of it reached the drive yet: the system's own writes may still do.
        if (!started_ && refused_at == b) return {EraseStatus::Refused, 0, {}};
        return {EraseStatus::SystemRefused, refused_at * per_block, {}};
      }
      if (s != EraseStatus::Done) return Failure(b * per_block, answer_);
      started_ = true;
      b += n;
    }
    return {};
  }

  // The zeros are on the media only once a volatile write cache has been flushed. A
  // system that does not pass Flush keeps that cache its own business.
  EraseResult Complete() override {
    const NvmeReply reply = NvmeFlush(connection_, target_.ns);
    if (NvmeSucceeded(reply) || reply.outcome == NvmeOutcome::Refused) return {};
    return Failure(0, "the drive failed the flush of its write cache");
  }

 private:
  EraseStatus ZeroBlocks(std::uint64_t first, std::uint32_t count, std::uint64_t& refused_at) {
    if (!use_writes_) {
      const NvmeReply reply = NvmeWriteZeroes(connection_, target_.ns, first, count);
      if (NvmeSucceeded(reply)) return EraseStatus::Done;
      if (reply.outcome != NvmeOutcome::Refused && !NvmeInvalidOpcode(reply)) {
        answer_ = Describe(reply);
        return EraseStatus::Failed;
      }
      use_writes_ = true;
    }
    const std::uint32_t piece = NvmeMaxDataBlocks(target_.ns, target_.mdts);
    if (piece == 0) {
      refused_at = first;
      return EraseStatus::SystemRefused;
    }
    for (std::uint64_t b = first; b < first + count; b += piece) {
      const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(piece, first + count - b));
      const NvmeReply reply = NvmeWriteZeroBuffer(connection_, target_.ns, b, n);
      if (NvmeSucceeded(reply)) {
        started_ = true;
        continue;
      }
      // Not sent: a format with metadata, which a plain write cannot fill.
      if (reply.outcome == NvmeOutcome::Refused || reply.outcome == NvmeOutcome::NotSent) {
        refused_at = b;
        return EraseStatus::SystemRefused;
      }
      answer_ = Describe(reply);
      return EraseStatus::Failed;
    }
    return EraseStatus::Done;
  }

  static std::string Describe(const NvmeReply& reply) {
    if (reply.outcome != NvmeOutcome::Completed) return "no answer from the controller";
    char text[64];
    std::snprintf(text, sizeof text, "status code type %u, status code %02Xh",
                  static_cast<unsigned>(NvmeStatusCodeType(reply.status)),
                  static_cast<unsigned>(NvmeStatusCode(reply.status)));
    return text;
  }

  DriveConnection& connection_;
  NvmeEraseTarget target_;
  bool use_writes_;
  bool started_ = false;
  std::string answer_;
};

std::uint64_t SplitMix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

}  // namespace

const char* EraseMethodName(EraseMethodKind kind) {
  switch (kind) {
    case EraseMethodKind::VendorFill:
      return "vendor fill";
    case EraseMethodKind::SctWriteSame:
      return "SCT Write Same";
    case EraseMethodKind::SystemWrites:
      return "operating-system writes";
    case EraseMethodKind::NvmeZeroes:
      return "NVMe Write Zeroes";
  }
  return "";
}

EraseSession::EraseSession(EraseTarget target) : target_(std::move(target)) {
  if (target_.nvme) {
    candidates_.push_back(std::make_unique<NvmeZeroes>(target_));
  } else {
    candidates_.push_back(std::make_unique<VendorFill>(target_));
    if (target_.sct_write_same) candidates_.push_back(std::make_unique<SctFill>(target_));
  }
  if (target_.io != nullptr) candidates_.push_back(std::make_unique<SystemWrites>(target_));
}

EraseSession::~EraseSession() = default;

EraseResult EraseSession::Zero(std::uint64_t first, std::uint64_t count, const EraseControl& control) {
  if (count == 0 || target_.connection == nullptr) return Failure(first, "nothing to erase");
  EraseResult result;
  if (chosen_ != nullptr) {
    result = chosen_->Zero(first, count, control);
  } else {
    result = {EraseStatus::Refused, 0, {}};
    for (auto& candidate : candidates_) {
      result = candidate->Zero(first, count, control);
      if (result.status == EraseStatus::Refused) continue;
      chosen_ = candidate.get();
      break;
    }
    if (result.status == EraseStatus::Refused) {
      // Nothing was written: an NVMe drive the system keeps its writes from, or a drive
      // that refused every fill the program knows, with no block path to fall back on.
      result.status = target_.nvme ? EraseStatus::SystemRefused : EraseStatus::Failed;
      result.lba = first;
      result.answer = "the drive refused every way of erasing it that the program knows";
    }
  }
  switch (result.status) {
    case EraseStatus::Done:
      written_ += count;
      break;
    case EraseStatus::Failed:
    case EraseStatus::SystemRefused:
    case EraseStatus::Aborted:
      written_ += result.lba > first ? result.lba - first : 0;
      break;
    case EraseStatus::Refused:
      break;
  }
  return result;
}

EraseResult EraseSession::Complete() {
  if (chosen_ == nullptr) return {};
  return chosen_->Complete();
}

std::optional<EraseMethodKind> EraseSession::method() const {
  if (chosen_ == nullptr) return std::nullopt;
  return chosen_->kind();
}

std::vector<std::uint64_t> VerifyPlaces(std::uint64_t total, std::uint32_t block_sectors,
                                        std::uint64_t seed) {
  std::vector<std::uint64_t> places;
  if (total == 0 || block_sectors == 0) return places;
  const std::uint64_t blocks = total / block_sectors;
  if (blocks == 0) return places;
  const auto add_span = [&](std::uint64_t first_block, std::uint64_t n) {
    for (std::uint64_t b = first_block; b < first_block + n && b < blocks; ++b) {
      places.push_back(b * block_sectors);
    }
  };
  const std::uint64_t mib_blocks = std::max<std::uint64_t>(1, kMiBSectors / block_sectors);
  add_span(0, mib_blocks);
  const std::uint64_t stride_blocks = kVerifyStrideSectors / block_sectors;
  for (std::uint64_t s = 0; s < blocks; s += stride_blocks) {
    const std::uint64_t span = std::min(stride_blocks, blocks - s);
    add_span(s + SplitMix(seed) % span, 1);
  }
  add_span(blocks > mib_blocks ? blocks - mib_blocks : 0, mib_blocks);
  std::sort(places.begin(), places.end());
  places.erase(std::unique(places.begin(), places.end()), places.end());
  return places;
}

VerifyResult VerifyZeroed(DeviceIo& io, const DiskClaim& claim, std::uint64_t total_sectors,
                          std::uint64_t seed) {
  VerifyResult result;
  if (claim.outcome != ClaimOutcome::Claimed) {
    result.why = "the system gives the program no way to read the disk back";
    return result;
  }
  const std::uint32_t block = std::max<std::uint32_t>(claim.logical_block_bytes, 512);
  const std::uint32_t block_sectors = block / 512;
  std::uint64_t total = total_sectors;
  if (claim.size_bytes != 0) total = std::min(total, claim.size_bytes / 512);
  const std::vector<std::uint64_t> places = VerifyPlaces(total, block_sectors, seed);
  // Neighbouring blocks are read together, up to 1 MiB at a time.
  AlignedZeros buffer(1u << 20);
  const std::uint64_t max_blocks = buffer.size() / block;
  for (std::size_t i = 0; i < places.size();) {
    std::size_t j = i + 1;
    while (j < places.size() && j - i < max_blocks && places[j] == places[j - 1] + block_sectors) ++j;
    const auto bytes = static_cast<std::uint32_t>((j - i) * block);
    const BlockIo read = io.ReadDisk(claim.handle, places[i] * 512, buffer.data(), bytes);
    if (!read.ok) {
      result.kind = VerifyResult::Kind::ReadFailed;
      result.lba = places[i];
      result.why = read.error;
      return result;
    }
    for (std::size_t k = 0; k < j - i; ++k) {
      const std::uint8_t* at = buffer.data() + k * block;
      if (std::any_of(at, at + block, [](std::uint8_t b) { return b != 0; })) {
        result.kind = VerifyResult::Kind::NotZero;
        result.lba = places[i + k];
        return result;
      }
    }
    result.blocks_read += j - i;
    i = j;
  }
  result.kind = places.empty() ? VerifyResult::Kind::NotPossible : VerifyResult::Kind::Verified;
  if (places.empty()) result.why = "the disk is empty";
  return result;
}

std::string VerifyText(const VerifyResult& result) {
  switch (result.kind) {
    case VerifyResult::Kind::Verified:
      return "Verified";
    case VerifyResult::Kind::NotZero:
      return "Not zero at LBA " + std::to_string(result.lba);
    case VerifyResult::Kind::ReadFailed:
      return "Not verified: the read-back failed at LBA " + std::to_string(result.lba) + " (" +
             result.why + ")";
    case VerifyResult::Kind::NotPossible:
      break;
  }
  return "Not verified: " + result.why;
}

}  // namespace plovix
