// A virtual NVMe drive: decodes the submission-queue fields of admin and NVM commands
// and answers as a controller would. The bench owns the lock; Execute and the *Locked
// helpers run under it.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "devices/sim/Bench.h"
#include "devices/sim/SectorStore.h"

namespace plovix::sim {

struct NvmeExchange {
  NvmeRequest request;                 // data pointer not used: the bench copies
  std::vector<std::uint8_t> data_out;  // what a write carried to the drive
};

struct NvmeResult {
  // The request's buffer cannot hold what the command moves: the operating system
  // refuses such a request before the controller sees it.
  bool transfer_error = false;
  std::uint16_t status = 0;
  std::uint32_t dw0 = 0;
  std::vector<std::uint8_t> data_in;
  std::uint64_t media_blocks = 0;  // blocks the command passed over on the media
};

class NvmeDrive : public VirtualNvme {
 public:
  NvmeDrive(NvmeSpec setup, std::mutex& bench_mutex, std::function<std::uint64_t()> now_ms);

  NvmeResult Execute(const NvmeExchange& exchange, std::uint64_t now_ms);
  bool OsRefuses(const NvmeRequest& request) const;

  // INQUIRY as Windows' NVMe driver translates it: vendor "NVMe", the model's first 16
  // characters as product, the firmware's first 4 as revision; 36 bytes.
  std::vector<std::uint8_t> InquiryData() const;

  // VirtualNvme
  const NvmeSpec& setup() const override { return setup_; }
  NvmeSpec& mutable_setup() override { return setup_; }
  std::array<std::uint8_t, 512> ReadSector(std::uint64_t lba) const override;
  bool IsZeroed(std::uint64_t first, std::uint64_t count) const override;
  std::vector<std::uint8_t> ReadBlock(std::uint64_t block) const override;
  std::vector<std::uint8_t> SelfTestLog() override;
  NvmeHealth Health() const override;

  std::vector<std::uint8_t> IdentifyControllerData() const;
  std::vector<std::uint8_t> IdentifyNamespaceData() const;
  std::vector<std::uint8_t> HealthLogData() const;
  std::vector<std::uint8_t> SelfTestLogLocked(std::uint64_t now_ms);
  // The system's block path, in 512-byte sectors, under the bench lock.
  void WriteLocked(std::uint64_t lba, const std::uint8_t* data, std::uint64_t count) {
    store_.Write(lba, data, count);
  }
  Sector ReadLocked(std::uint64_t lba) const {
    return store_.Read(lba);
  }

 private:
  NvmeResult Admin(const NvmeExchange& ex, std::uint64_t now_ms);
  NvmeResult Io(const NvmeExchange& ex);
  NvmeResult Identify(const NvmeRequest& r) const;
  NvmeResult GetLogPage(const NvmeRequest& r, std::uint64_t now_ms);
  NvmeResult SelfTest(const NvmeRequest& r, std::uint64_t now_ms);
  void SettleLocked(std::uint64_t now_ms);
  void RecordResult(std::uint8_t code, const NvmeSelfTestPlan& plan, std::uint8_t status);
  std::vector<std::uint8_t> BlockLocked(std::uint64_t block) const;
  void CountUnrecoveredRead();

  NvmeSpec setup_;
  std::mutex& mutex_;
  std::function<std::uint64_t()> now_ms_;
  SectorStore store_;  // in 512-byte sectors whatever the block size

  struct RunningTest {
    std::uint8_t code = 0;
    NvmeSelfTestPlan plan;
    std::uint64_t start_ms = 0;
  };
  std::optional<RunningTest> running_;
  std::deque<std::array<std::uint8_t, 28>> results_;  // newest first, at most 20
};

}  // namespace plovix::sim
