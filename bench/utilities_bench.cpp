// Host cost of the surface scan and the disk erase per command run, measured through the
// real workers on a bench drive that answers at once.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "diagnostics/Erase.h"
#include "diagnostics/EraseMethods.h"
#include "diagnostics/RunPlan.h"
#include "diagnostics/Surface.h"
#include "drive/DriveConnection.h"
#include "drive/IoBuffers.h"
#include "devices/sim/Bench.h"

namespace {

using namespace plovix;

constexpr std::uint64_t kRunsPerIteration = 1000;
constexpr std::uint64_t kSectors = kRunsPerIteration * RunPlan::kRunSectors;

struct Rig {
  explicit Rig(bool scsi) {
    sim::DriveSpec setup;
    setup.model = "BENCH DRIVE";
    setup.serial = "BENCH0001";
    setup.firmware = "1.00";
    setup.total_sectors = kSectors;
    setup.vendor_erase = true;
    if (scsi) {
      sim::BridgeSpec bridge;
      bridge.vendor = "Bench";
      bridge.product = "Bridge";
      bridge.revision = "0001";
      bridge.chip_id = "j329";
      bridge.forwarding = sim::BridgeForwarding::VendorAndStandard;
      bench.AddUsb(0, setup, bridge);
    } else {
      bench.AddSata(0, setup);
    }
    connection.Open(0);
  }
  sim::Bench bench;
  IoBuffers buffers;
  DriveConnection connection{bench, buffers};
};

void BM_SurfaceScanRun(benchmark::State& state) {
  Rig rig(state.range(0) != 0);
  int failures = 0;
  std::size_t commands = 0;
  for (auto _ : state) {
    CSFTest dlg;
    dlg.connection = &rig.connection;
    dlg.via_scsi = static_cast<std::uint8_t>(state.range(0));
    dlg.total_sectors = kSectors;
    failures += SurfaceLongWorker(&dlg);
    state.PauseTiming();
    commands += rig.bench.Log().size();
    rig.bench.ClearLog();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kRunsPerIteration));
  // A run that failed would make the figures meaningless.
  if (failures != 0) state.SkipWithError("a worker failed");
  state.counters["commands_per_run"] =
      static_cast<double>(commands) / static_cast<double>(state.iterations() * kRunsPerIteration);
}
BENCHMARK(BM_SurfaceScanRun)->Arg(0)->Arg(1)->ArgName("scsi");

void BM_EraseRun(benchmark::State& state) {
  Rig rig(state.range(0) != 0);
  int failures = 0;
  std::size_t commands = 0;
  for (auto _ : state) {
    CEraseDisk dlg(rig.connection, rig.buffers);
    dlg.via_scsi = static_cast<std::uint8_t>(state.range(0));
    dlg.total_sectors = kSectors;
    EraseTarget target;
    target.connection = &rig.connection;
    target.via_scsi = dlg.via_scsi;
    target.total_sectors = kSectors;
    EraseSession session(target);
    dlg.session = &session;
    failures += EraseDiskWorker(&dlg);
    state.PauseTiming();
    commands += rig.bench.Log().size();
    rig.bench.ClearLog();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kRunsPerIteration));
  // A run that failed would make the figures meaningless.
  if (failures != 0) state.SkipWithError("a worker failed");
  state.counters["commands_per_run"] =
      static_cast<double>(commands) / static_cast<double>(state.iterations() * kRunsPerIteration);
}
BENCHMARK(BM_EraseRun)->Arg(0)->Arg(1)->ArgName("scsi");

// A disk that takes every write at once: what is left is the program's own cost of an
// erase by the system's writes, per 4 MiB write, to set against the media's time for one
// (about 28 ms at 150 MB/s).
class InstantDisk : public DeviceIo {
 public:
  DeviceHandle Open(const std::string&) override { return 1; }
  void Close(DeviceHandle) override {}
  // Refuses the vendor commands as most drives do.
  bool AtaPassThrough(DeviceHandle, const AtaPassThroughRequest& request,
                      AtaPassThroughRequest& reply) override {
    reply = request;
    reply.CurrentTaskFile[kTfFeature] = 0x04;
    reply.CurrentTaskFile[kTfCommand] = 0x51;
    return true;
  }
  bool ScsiPassThrough(DeviceHandle, ScsiPassThroughRequest&) override { return false; }
  BlockIo WriteDisk(DeviceHandle, std::uint64_t, const std::uint8_t* data, std::uint32_t length) override {
    benchmark::DoNotOptimize(data);
    bytes += length;
    return {true, {}};
  }
  std::uint64_t bytes = 0;
};

void BM_EraseSystemWrites(benchmark::State& state) {
  constexpr std::uint64_t kDiskSectors = 1ull << 21;  // 1 GiB
  InstantDisk disk;
  IoBuffers buffers;
  DriveConnection connection(disk, buffers);
  connection.Open(0);
  for (auto _ : state) {
    EraseTarget target;
    target.connection = &connection;
    target.io = &disk;
    target.total_sectors = kDiskSectors;
    target.claim.outcome = ClaimOutcome::Claimed;
    target.claim.handle = 7;
    target.claim.size_bytes = kDiskSectors * 512;
    EraseSession session(target);
    const EraseResult result = session.Zero(0, kDiskSectors, EraseControl{});
    if (result.status != EraseStatus::Done) state.SkipWithError("the erase failed");
  }
  const double writes = static_cast<double>(disk.bytes) / (4u << 20);
  state.counters["writes"] = benchmark::Counter(writes);
  state.counters["per_write"] = benchmark::Counter(writes, benchmark::Counter::kIsRate |
                                                               benchmark::Counter::kInvert);
}
BENCHMARK(BM_EraseSystemWrites)->Unit(benchmark::kMillisecond);

}  // namespace
