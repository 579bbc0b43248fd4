// NVMe answers from a controller: identify controller and namespace, the health and
// self-test logs, and sector runs converted against whatever namespace they describe.
#include <cstdlib>

#include "drive/NvmeDecode.h"
#include "fuzz/FuzzSupport.h"

namespace {

std::uint64_t Le64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // 4096 bytes of answer, then 16 bytes of a sector run to convert.
  const auto block = plovix::fuzz::Block<plovix::kNvmeIdentifyBytes + 16>(data, size);
  const std::uint8_t* answer = block.data();

  plovix::NvmeControllerIdentity controller;
  plovix::DecodeIdentifyController(answer, controller);
  plovix::fuzz::RequireTerminated(controller.model);
  plovix::fuzz::RequireTerminated(controller.serial);
  plovix::fuzz::RequireTerminated(controller.firmware);
  for (const char* text : {controller.model, controller.serial, controller.firmware}) {
    for (const char* c = text; *c != '\0'; ++c) {
      if (*c < 0x20 || *c > 0x7E) std::abort();  // nothing unprintable reaches a screen
    }
  }

  plovix::NvmeHealth health;
  plovix::DecodeHealthLog(answer, health);
  (void)plovix::DataUnitsToBytes(health.data_units_written);
  (void)plovix::KelvinToCelsius(health.temperature_kelvin);

  plovix::NvmeSelfTestLog log;
  plovix::DecodeSelfTestLog(answer, log);
  if (log.completion_percent > 100) std::abort();
  if (log.newest && log.newest->status > 0x0F) std::abort();

  plovix::NvmeNamespace ns;
  if (plovix::DecodeIdentifyNamespace(answer, 1, ns) != plovix::NvmeNamespaceDecode::Ok) return 0;
  if (ns.block_bytes < 512 || ns.block_bytes > 65536 || (ns.block_bytes & (ns.block_bytes - 1)))
    std::abort();
  if (ns.block_count == 0 || ns.block_count > UINT64_MAX / ns.sectors_per_block()) std::abort();

  const std::uint64_t first = Le64(answer + plovix::kNvmeIdentifyBytes);
  const std::uint64_t count = Le64(answer + plovix::kNvmeIdentifyBytes + 8);
  for (auto rounding : {plovix::SectorRounding::Outward, plovix::SectorRounding::ExactOnly}) {
    const auto range = plovix::SectorsToBlocks(ns, first, count, rounding);
    if (!range) continue;
    if (range->count == 0 || range->first >= ns.block_count ||
        range->count > ns.block_count - range->first) {
      std::abort();
    }
    // The blocks cover the run: no sector asked for is left out.
    const auto start = plovix::BlockToSector(ns, range->first);
    if (!start || *start > first) std::abort();
    const std::uint64_t covered = range->count * ns.sectors_per_block();
    if (covered < count || first - *start > covered - count) std::abort();
  }
  return 0;
}
