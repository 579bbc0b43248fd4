// NVMe answers from a controller: identify controller and namespace, the health and
// self-test logs, and sector runs converted against whatever namespace they describe.
#include <cstdlib>
#include <string>

#include "diagnostics/NvmeSupport.h"
#include "drive/NvmeDecode.h"
#include "fuzz/FuzzSupport.h"
#include "inventory/DriveRecord.h"
#include "reports/NvmeHealthRows.h"

namespace {

std::uint64_t Le64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

// (high, low) := (high, low) * 10 + digit, in 32-bit steps.
void MulTenAdd(std::uint64_t& high, std::uint64_t& low, unsigned digit) {
  const std::uint64_t low_low = (low & 0xFFFFFFFF) * 10 + digit;
  const std::uint64_t low_high = (low >> 32) * 10 + (low_low >> 32);
  low = low_high << 32 | (low_low & 0xFFFFFFFF);
  high = high * 10 + (low_high >> 32);
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
  // The status dialog's lines: every field, and every counter in full decimal.
  plovix::DriveRecord record;
  record.nvme = 1;
  record.nvme_warning_temp_kelvin = static_cast<std::uint16_t>(answer[300] | answer[301] << 8);
  const auto rows = plovix::NvmeHealthRows(health, record);
  if (rows.size() != 17) std::abort();
  for (const auto& row : rows) {
    if (row.current.empty() && row.offset != 1) std::abort();
    if (row.image < plovix::kHealthNoImage || row.image > plovix::kHealthBad) std::abort();
  }
  // Read back, the decimal text is the counter it came from.
  const std::string digits = plovix::U128Decimal(health.unsafe_shutdowns);
  if (digits.empty() || digits.size() > 39) std::abort();
  std::uint64_t high = 0;
  std::uint64_t low = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') std::abort();
    MulTenAdd(high, low, static_cast<unsigned>(c - '0'));
  }
  if (high != health.unsafe_shutdowns.high || low != health.unsafe_shutdowns.low) std::abort();

  plovix::NvmeSelfTestLog log;
  plovix::DecodeSelfTestLog(answer, log);
  if (log.completion_percent > 100) std::abort();
  if (log.newest && log.newest->status > 0x0F) std::abort();
  // A finished test never reads as one still running, and its progress status always does.
  if (log.newest && (plovix::NvmeResultStatus(*log.newest) & 0x0F) != 0) std::abort();
  if (log.newest && (plovix::NvmeResultStatus(*log.newest) & 0xF0) == 0xF0) std::abort();
  const std::uint8_t running = plovix::NvmeRunningStatus(log.completion_percent);
  if ((running & 0xF0) != 0xF0 || (running & 0x0F) == 0) std::abort();

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
