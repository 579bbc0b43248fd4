// Host cost of the surface scan and the disk erase per command run, measured through the
// real workers on a bench drive that answers at once.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "diagnostics/Erase.h"
#include "diagnostics/RunPlan.h"
#include "diagnostics/Surface.h"
#include "drive/DriveConnection.h"
#include "drive/IoBuffers.h"
#include "sim/Bench.h"

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

}  // namespace
