// The ATA side of a virtual drive: decodes task-file registers and answers as a drive
// would. The bench owns the lock; Execute and the *Locked helpers run under it.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "devices/sim/Bench.h"
#include "devices/sim/SectorStore.h"
#include "drive/AtaWire.h"

namespace plovix::sim {

// A command as the drive sees it, after the transport has unpacked its block.
struct AtaExchange {
  AtaTaskFile regs;
  AtaData phase = AtaData::None;
  std::size_t length = 0;              // bytes the transport is set up to move
  std::vector<std::uint8_t> data_out;  // what it carried to the drive
};

inline constexpr std::uint8_t kStatusOk = 0x50;
inline constexpr std::uint8_t kStatusError = 0x51;

struct AtaResult {
  // The transport asked for a data phase the command does not have (or too short a
  // one): a real host adapter refuses such a request before the drive sees it.
  bool protocol_error = false;
  std::uint8_t status = kStatusOk;
  std::uint8_t error = 0;
  std::optional<AtaTaskFile> out;      // registers after the command, when changed
  std::vector<std::uint8_t> data_in;   // 512 bytes for data-in commands
  std::uint64_t media_sectors = 0;     // sectors the command passed over on the media
};

class AtaDrive : public VirtualDrive {
 public:
  AtaDrive(DriveSpec setup, std::optional<BridgeSpec> bridge, std::mutex& bench_mutex,
           std::function<std::uint64_t()> now_ms);

  AtaResult Execute(const AtaExchange& exchange, std::uint64_t now_ms);

  bool is_usb() const { return bridge_.has_value(); }
  const BridgeSpec& bridge() const { return *bridge_; }

  // VirtualDrive
  const DriveSpec& setup() const override { return setup_; }
  DriveSpec& mutable_setup() override { return setup_; }
  std::array<std::uint8_t, 512> ReadSector(std::uint64_t lba) const override;
  bool IsZeroed(std::uint64_t first, std::uint64_t count) const override;
  std::array<std::uint8_t, 512> SectorBuffer() const override;
  std::uint8_t SelfTestStatus() override;
  bool smart_enabled() const override;

  std::uint8_t SelfTestStatusLocked(std::uint64_t now_ms);
  std::vector<std::uint8_t> IdentifyData() const;
  std::vector<std::uint8_t> SmartData(std::uint64_t now_ms);
  std::vector<std::uint8_t> SmartThresholds() const;
  std::size_t stored_runs() const { return store_.run_count(); }
  // A write of count sectors from lba through the system's block path, under the bench
  // lock: stops at a write error (false, failed_at set), skips dropped sectors.
  bool WriteLocked(std::uint64_t lba, const std::uint8_t* data, std::uint64_t count,
                   std::uint64_t& failed_at);
  Sector ReadLocked(std::uint64_t lba) const;

 private:
  AtaResult Smart(const AtaExchange& exchange, std::uint64_t now_ms);
  AtaResult ReadVerify(const AtaTaskFile& regs, std::uint64_t lba, std::uint64_t count);
  AtaResult Erase(const AtaTaskFile& regs);
  AtaResult ReadNativeMax(const AtaTaskFile& regs) const;
  // SMART READ LOG / WRITE LOG of the SCT command log (E0h).
  AtaResult SctWrite(const AtaExchange& exchange, std::uint64_t now_ms);
  AtaResult SctStatus(std::uint64_t now_ms);
  // Fills sectors with one pattern as a write command would: the part before a write
  // error, nothing of a dropped range. False when it met the write error (at failed_at).
  bool FillWrite(std::uint64_t lba, std::uint64_t count, const Sector& data,
                 std::uint64_t& failed_at);
  // Brings a running SCT Write Same up to now.
  void SettleSct(std::uint64_t now_ms);

  DriveSpec setup_;
  std::optional<BridgeSpec> bridge_;
  std::mutex& mutex_;
  std::function<std::uint64_t()> now_ms_;
  SectorStore store_;
  Sector buffer_{};

  struct RunningTest {
    SelfTestPlan plan;
    std::uint64_t start_ms = 0;
  };
  std::optional<RunningTest> running_;
  std::optional<std::uint8_t> last_status_;  // set once a test ended or was aborted

  struct SctState {
    std::uint16_t action = 0;
    std::uint16_t function = 0;
    std::uint16_t status = 0;  // 0xFFFF while it runs
    std::uint64_t first = 0;
    std::uint64_t count = 0;
    std::uint64_t done = 0;
    std::uint64_t start_ms = 0;
    Sector pattern{};
  };
  std::optional<SctState> sct_;
};

}  // namespace plovix::sim
