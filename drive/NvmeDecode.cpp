#include "drive/NvmeDecode.h"

#include <algorithm>
#include <cstring>

namespace plovix {

namespace {

std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t Le64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(Le32(p)) | static_cast<std::uint64_t>(Le32(p + 4)) << 32;
}

NvmeU128 Le128(const std::uint8_t* p) { return NvmeU128{Le64(p), Le64(p + 8)}; }

// NVMe text: ASCII, blank padded, first character first. Blanks (and the zeros some
// controllers pad with) are cut at both ends; what is left of non-printable bytes
// becomes '?'.
template <std::size_t N>
void CopyText(char (&out)[N], const std::uint8_t* field, std::size_t width) {
  std::memset(out, 0, N);
  std::size_t begin = 0;
  std::size_t end = std::min(width, N - 1);
  const auto padding = [](std::uint8_t c) { return c == ' ' || c == 0; };
  while (begin < end && padding(field[begin])) ++begin;
  while (end > begin && padding(field[end - 1])) --end;
  for (std::size_t i = begin; i < end; ++i) {
    const std::uint8_t c = field[i];
    out[i - begin] = (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
  }
}

constexpr std::uint8_t kMinLbads = 9;   // 512 bytes
constexpr std::uint8_t kMaxLbads = 16;  // 64 KiB: larger blocks exist on no real drive

}  // namespace

void DecodeIdentifyController(const std::uint8_t* d, NvmeControllerIdentity& out) {
  out = NvmeControllerIdentity{};
  out.pci_vendor = Le16(d + 0);
  CopyText(out.serial, d + 4, 20);
  CopyText(out.model, d + 24, 40);
  CopyText(out.firmware, d + 64, 8);
  out.mdts = d[77];
  out.controller_id = Le16(d + 78);
  out.version = Le32(d + 80);
  out.oacs = Le16(d + 256);
  out.log_page_attributes = d[261];
  out.warning_temp_kelvin = Le16(d + 266);
  out.critical_temp_kelvin = Le16(d + 268);
  out.extended_self_test_minutes = Le16(d + 316);
  out.self_test_options = d[318];
  out.namespace_count = Le32(d + 516);
  out.oncs = Le16(d + 520);
}

NvmeNamespaceDecode DecodeIdentifyNamespace(const std::uint8_t* d, std::uint32_t nsid,
                                            NvmeNamespace& out) {
  const std::uint64_t nsze = Le64(d + 0);
  if (nsze == 0) return NvmeNamespaceDecode::Inactive;
  const std::uint8_t nlbaf = d[25];  // number of formats, zero-based
  const std::uint8_t flbas = d[26];
  // Bits 6:5 extend the index only where more than 16 formats exist; before that they
  // were reserved and are not trusted.
  std::uint8_t index = flbas & 0x0F;
  if (nlbaf >= 16) index = static_cast<std::uint8_t>(index | ((flbas >> 5) & 0x03) << 4);
  if (index > nlbaf || index > 63) return NvmeNamespaceDecode::BadFormatIndex;
  const std::uint8_t* format = d + 128 + static_cast<std::size_t>(index) * 4;
  const std::uint8_t lbads = format[2];
  if (lbads < kMinLbads || lbads > kMaxLbads) return NvmeNamespaceDecode::BadBlockSize;
  const std::uint32_t block_bytes = 1u << lbads;
  const std::uint64_t per_block = block_bytes / 512;
  if (nsze > UINT64_MAX / per_block) return NvmeNamespaceDecode::TooLarge;

  out = NvmeNamespace{};
  out.nsid = nsid;
  out.block_count = nsze;
  out.block_bytes = block_bytes;
  out.format_index = index;
  out.metadata_bytes = Le16(format);
  out.metadata_extended = (flbas & 0x10) != 0;
  out.protection_type = d[29] & 0x07;
  return NvmeNamespaceDecode::Ok;
}

void DecodeHealthLog(const std::uint8_t* d, NvmeHealth& out) {
  out = NvmeHealth{};
  out.critical_warning = d[0];
  out.temperature_kelvin = Le16(d + 1);
  out.available_spare = d[3];
  out.available_spare_threshold = d[4];
  out.percentage_used = d[5];
  out.data_units_read = Le128(d + 32);
  out.data_units_written = Le128(d + 48);
  out.host_read_commands = Le128(d + 64);
  out.host_write_commands = Le128(d + 80);
  out.controller_busy_minutes = Le128(d + 96);
  out.power_cycles = Le128(d + 112);
  out.power_on_hours = Le128(d + 128);
  out.unsafe_shutdowns = Le128(d + 144);
  out.media_errors = Le128(d + 160);
  out.error_log_entries = Le128(d + 176);
  out.warning_temp_minutes = Le32(d + 192);
  out.critical_temp_minutes = Le32(d + 196);
}

std::optional<int> KelvinToCelsius(std::uint16_t kelvin) {
  if (kelvin == 0) return std::nullopt;
  return static_cast<int>(kelvin) - 273;
}

std::uint64_t DataUnitsToBytes(const NvmeU128& units) {
  constexpr std::uint64_t kUnitBytes = 512000;
  if (units.high != 0 || units.low > UINT64_MAX / kUnitBytes) return UINT64_MAX;
  return units.low * kUnitBytes;
}

void DecodeSelfTestLog(const std::uint8_t* d, NvmeSelfTestLog& out) {
  out = NvmeSelfTestLog{};
  out.current_operation = d[0] & 0x0F;
  // Bits 6:0 can say up to 127; a controller that does is held to 100.
  out.completion_percent = static_cast<std::uint8_t>(std::min(d[1] & 0x7F, 100));
  const std::uint8_t* e = d + 4;  // entry 0 is the newest
  const std::uint8_t status = e[0] & 0x0F;
  if (status == kNvmeTestEntryUnused) return;
  NvmeSelfTestResult r;
  r.status = status;
  r.code = static_cast<std::uint8_t>(e[0] >> 4);
  r.segment = e[1];
  const std::uint8_t valid = e[2];
  r.power_on_hours = Le64(e + 4);
  if (valid & 0x01) r.nsid = Le32(e + 12);
  if (valid & 0x02) r.failing_lba = Le64(e + 16);
  if (valid & 0x04) r.status_code_type = static_cast<std::uint8_t>(e[24] & 0x07);
  if (valid & 0x08) r.status_code = e[25];
  out.newest = r;
}

std::optional<NvmeBlockRange> SectorsToBlocks(const NvmeNamespace& ns, std::uint64_t first_sector,
                                              std::uint64_t sector_count,
                                              SectorRounding rounding) {
  if (ns.block_bytes < 512 || ns.block_bytes % 512 != 0) return std::nullopt;
  if (sector_count == 0 || first_sector > UINT64_MAX - sector_count) return std::nullopt;
  const std::uint64_t per_block = ns.block_bytes / 512;
  const std::uint64_t end_sector = first_sector + sector_count;
  if (rounding == SectorRounding::ExactOnly &&
      (first_sector % per_block != 0 || end_sector % per_block != 0)) {
    return std::nullopt;
  }
  const std::uint64_t first = first_sector / per_block;
  // Rounded up without overflowing: end_sector may be near the top of 64 bits.
  const std::uint64_t end = end_sector / per_block + (end_sector % per_block != 0 ? 1 : 0);
  if (end > ns.block_count) return std::nullopt;
  return NvmeBlockRange{first, end - first};
}

std::optional<std::uint64_t> BlockToSector(const NvmeNamespace& ns, std::uint64_t block) {
  if (ns.block_bytes < 512 || ns.block_bytes % 512 != 0) return std::nullopt;
  if (block >= ns.block_count) return std::nullopt;
  const std::uint64_t per_block = ns.block_bytes / 512;
  if (block > UINT64_MAX / per_block) return std::nullopt;
  return block * per_block;
}

}  // namespace plovix
