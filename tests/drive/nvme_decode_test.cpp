// NVMe decoders on well-formed, odd and hostile data, and the sector/block conversion.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "drive/NvmeDecode.h"

namespace plovix {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put(Bytes& d, std::size_t at, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) d[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void PutRaw(Bytes& d, std::size_t at, const std::string& raw) {
  std::memcpy(d.data() + at, raw.data(), raw.size());
}

// --- Identify Controller --------------------------------------------------------------

struct TextCase {
  const char* name;
  std::string raw;  // exactly the field's bytes, or shorter and blank padded
  const char* want;
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class NvmeControllerText : public ::testing::TestWithParam<TextCase> {};

TEST_P(NvmeControllerText, ModelIsTrimmedAndMadePrintable) {
  const TextCase& c = GetParam();
  Bytes d(4096, 0);
  std::string field = c.raw;
  if (field.size() < 40) field.resize(40, ' ');
  PutRaw(d, 24, field);
  NvmeControllerIdentity id;
  DecodeIdentifyController(d.data(), id);
  EXPECT_STREQ(id.model, c.want);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NvmeControllerText,
    ::testing::Values(TextCase{"Plain", "Orvane NV-1", "Orvane NV-1"},
                      TextCase{"LeadingBlanks", "   Orvane NV-1", "Orvane NV-1"},
                      TextCase{"AllBlanks", "", ""},
                      TextCase{"AllZeros", std::string(40, '\0'), ""},
                      TextCase{"ZeroPadded", std::string("Orvane") + std::string(34, '\0'), "Orvane"},
                      TextCase{"EmbeddedZero", std::string("AB\0CD", 5), "AB?CD"},
                      TextCase{"TerminalEscape", "AB\x1b[2J", "AB?[2J"},
                      TextCase{"NonAscii", "Caf\xC3\xA9", "Caf??"},
                      TextCase{"FullWidth", std::string(40, 'M'), "MMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMM"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(NvmeIdentifyController, FieldsComeFromTheirOffsets) {
  Bytes d(4096, 0xEE);  // everything not named is noise
  Put(d, 0, 0x1D5A, 2);
  PutRaw(d, 4, "SN-0042             ");
  PutRaw(d, 24, "Orvane NV-1 1TB                         ");
  PutRaw(d, 64, "3B2QGXA7");
  d[77] = 5;
  Put(d, 78, 0x0041, 2);
  Put(d, 80, 0x00010400, 4);
  Put(d, 256, 0x0017, 2);
  d[261] = 0x0A;
  Put(d, 266, 343, 2);
  Put(d, 268, 358, 2);
  Put(d, 316, 45, 2);
  d[318] = 0x01;
  Put(d, 516, 0x00000102, 4);
  Put(d, 520, 0x005F, 2);
  NvmeControllerIdentity id;
  DecodeIdentifyController(d.data(), id);
  EXPECT_EQ(id.pci_vendor, 0x1D5A);
  EXPECT_STREQ(id.serial, "SN-0042");
  EXPECT_STREQ(id.model, "Orvane NV-1 1TB");
  EXPECT_STREQ(id.firmware, "3B2QGXA7");
  EXPECT_EQ(id.mdts, 5);
  EXPECT_EQ(id.controller_id, 0x41);
  EXPECT_EQ(id.version, 0x00010400u);
  EXPECT_EQ(id.log_page_attributes, 0x0A);
  EXPECT_EQ(id.warning_temp_kelvin, 343);
  EXPECT_EQ(id.critical_temp_kelvin, 358);
  EXPECT_EQ(id.extended_self_test_minutes, 45);
  EXPECT_EQ(id.self_test_options, 1);
  EXPECT_EQ(id.namespace_count, 0x102u);
  EXPECT_TRUE(id.self_test_supported());
  EXPECT_TRUE(id.write_zeroes_supported());
  EXPECT_FALSE(id.verify_supported());
}

TEST(NvmeIdentifyController, SupportBitsAreExactlyTheirOwn) {
  const struct {
    std::uint16_t oacs, oncs;
    bool self_test, write_zeroes, verify;
  } cases[] = {
      {0x0010, 0x0088, true, true, true},   {0xFFEF, 0xFF77, false, false, false},
      {0x0000, 0x0008, false, true, false}, {0x0010, 0x0080, true, false, true},
  };
  for (const auto& c : cases) {
    Bytes d(4096, 0);
    Put(d, 256, c.oacs, 2);
    Put(d, 520, c.oncs, 2);
    NvmeControllerIdentity id;
    DecodeIdentifyController(d.data(), id);
    EXPECT_EQ(id.self_test_supported(), c.self_test) << c.oacs;
    EXPECT_EQ(id.write_zeroes_supported(), c.write_zeroes) << c.oncs;
    EXPECT_EQ(id.verify_supported(), c.verify) << c.oncs;
  }
}

// --- Identify Namespace ---------------------------------------------------------------

struct NamespaceCase {
  const char* name;
  std::uint64_t nsze;
  std::uint8_t nlbaf;
  std::uint8_t flbas;
  std::vector<std::uint8_t> lbads;  // per format index
  NvmeNamespaceDecode want;
  std::uint32_t block_bytes;
  std::uint8_t index;
  std::uint64_t sectors;
};

void PrintTo(const NamespaceCase& c, std::ostream* os) { *os << c.name; }

class NvmeNamespaceTest : public ::testing::TestWithParam<NamespaceCase> {};

TEST_P(NvmeNamespaceTest, CurrentFormatAndSize) {
  const NamespaceCase& c = GetParam();
  Bytes d(4096, 0);
  Put(d, 0, c.nsze, 8);
  d[25] = c.nlbaf;
  d[26] = c.flbas;
  for (std::size_t i = 0; i < c.lbads.size(); ++i) d[128 + 4 * i + 2] = c.lbads[i];
  NvmeNamespace ns;
  ns.nsid = 99;
  ASSERT_EQ(DecodeIdentifyNamespace(d.data(), 3, ns), c.want);
  if (c.want != NvmeNamespaceDecode::Ok) {
    EXPECT_EQ(ns.nsid, 99u);  // a refused answer leaves the namespace as it was
    return;
  }
  EXPECT_EQ(ns.nsid, 3u);
  EXPECT_EQ(ns.block_count, c.nsze);
  EXPECT_EQ(ns.block_bytes, c.block_bytes);
  EXPECT_EQ(ns.format_index, c.index);
  EXPECT_EQ(ns.sectors(), c.sectors);
}

constexpr auto kOk = NvmeNamespaceDecode::Ok;
std::vector<std::uint8_t> Formats20() {
  std::vector<std::uint8_t> f(21, 9);
  f[18] = 12;
  return f;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, NvmeNamespaceTest,
    ::testing::Values(
        NamespaceCase{"Plain512", 1000, 0, 0x00, {9}, kOk, 512, 0, 1000},
        NamespaceCase{"Second4096", 1000, 1, 0x01, {9, 12}, kOk, 4096, 1, 8000},
        NamespaceCase{"Odd8192", 10, 2, 0x02, {9, 12, 13}, kOk, 8192, 2, 160},
        NamespaceCase{"Largest64K", 10, 0, 0x00, {16}, kOk, 65536, 0, 1280},
        NamespaceCase{"Inactive", 0, 1, 0x01, {9, 12}, NvmeNamespaceDecode::Inactive, 0, 0, 0},
        NamespaceCase{"IndexPastFormats", 1000, 1, 0x02, {9, 12, 12},
                      NvmeNamespaceDecode::BadFormatIndex, 0, 0, 0},
        NamespaceCase{"NoBlockSize", 1000, 0, 0x00, {0}, NvmeNamespaceDecode::BadBlockSize, 0, 0, 0},
        NamespaceCase{"BelowSector", 1000, 0, 0x00, {8}, NvmeNamespaceDecode::BadBlockSize, 0, 0, 0},
        NamespaceCase{"Absurd128K", 1000, 0, 0x00, {17}, NvmeNamespaceDecode::BadBlockSize, 0, 0, 0},
        NamespaceCase{"Absurd2G", 1000, 0, 0x00, {31}, NvmeNamespaceDecode::BadBlockSize, 0, 0, 0},
        NamespaceCase{"SectorsOverflow", 1ULL << 61, 1, 0x01, {9, 12},
                      NvmeNamespaceDecode::TooLarge, 0, 0, 0},
        NamespaceCase{"LargestThatFits", (1ULL << 61) - 1, 1, 0x01, {9, 12}, kOk, 4096, 1,
                      UINT64_MAX - 7},
        NamespaceCase{"Top512", UINT64_MAX, 0, 0x00, {9}, kOk, 512, 0, UINT64_MAX},
        // Bits 6:5 were reserved while 16 formats were the most; they count only beyond.
        NamespaceCase{"ReservedHighBitsIgnored", 1000, 1, 0x61, {9, 12}, kOk, 4096, 1, 8000},
        NamespaceCase{"HighBitsExtendTheIndex", 1000, 20, 0x22, Formats20(), kOk, 4096, 18, 8000},
        NamespaceCase{"MetadataBitIsNoIndex", 1000, 1, 0x11, {9, 12}, kOk, 4096, 1, 8000}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(NvmeIdentifyNamespace, MetadataAndProtectionAreReported) {
  Bytes d(4096, 0);
  Put(d, 0, 100, 8);
  d[25] = 1;
  d[26] = 0x11;  // format 1, metadata at the end of each block
  d[29] = 0x09;  // protection type 1, information first (bit 3)
  Put(d, 128 + 4, 8, 2);
  d[128 + 4 + 2] = 12;
  NvmeNamespace ns;
  ASSERT_EQ(DecodeIdentifyNamespace(d.data(), 1, ns), kOk);
  EXPECT_EQ(ns.metadata_bytes, 8);
  EXPECT_TRUE(ns.metadata_extended);
  EXPECT_EQ(ns.protection_type, 1);
}

// --- Health log -----------------------------------------------------------------------

TEST(NvmeHealthLog, EveryFieldFromItsOffset) {
  Bytes d(512, 0);
  d[0] = kNvmeWarnSpare | kNvmeWarnReadOnly;
  Put(d, 1, 318, 2);
  d[3] = 7;
  d[4] = 10;
  d[5] = 130;  // worn past its rated endurance
  const std::size_t counters[] = {32, 48, 64, 80, 96, 112, 128, 144, 160, 176};
  for (std::size_t i = 0; i < 10; ++i) {
    Put(d, counters[i], 0x0102030405060708ULL + i, 8);
    Put(d, counters[i] + 8, i == 0 ? 1 : 0, 8);
  }
  Put(d, 192, 77, 4);
  Put(d, 196, 5, 4);
  NvmeHealth h;
  DecodeHealthLog(d.data(), h);
  EXPECT_EQ(h.critical_warning, 0x09);
  EXPECT_EQ(h.temperature_kelvin, 318);
  EXPECT_EQ(h.available_spare, 7);
  EXPECT_EQ(h.available_spare_threshold, 10);
  EXPECT_EQ(h.percentage_used, 130);
  const NvmeU128* fields[] = {&h.data_units_read,  &h.data_units_written, &h.host_read_commands,
                              &h.host_write_commands, &h.controller_busy_minutes,
                              &h.power_cycles,     &h.power_on_hours,     &h.unsafe_shutdowns,
                              &h.media_errors,     &h.error_log_entries};
  for (std::size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(fields[i]->low, 0x0102030405060708ULL + i) << i;
    EXPECT_EQ(fields[i]->high, i == 0 ? 1u : 0u) << i;
  }
  EXPECT_EQ(h.data_units_read.Shown(), UINT64_MAX);  // past 64 bits: held, not wrapped
  EXPECT_EQ(h.media_errors.Shown(), 0x0102030405060710ULL);
  EXPECT_EQ(h.warning_temp_minutes, 77u);
  EXPECT_EQ(h.critical_temp_minutes, 5u);
}

TEST(NvmeHealthLog, UnitsAndTemperatures) {
  const struct {
    NvmeU128 units;
    std::uint64_t bytes;
  } units[] = {
      {{0, 0}, 0},
      {{1, 0}, 512000},
      {{UINT64_MAX / 512000, 0}, (UINT64_MAX / 512000) * 512000},
      {{UINT64_MAX / 512000 + 1, 0}, UINT64_MAX},
      {{0, 1}, UINT64_MAX},
  };
  for (const auto& u : units) EXPECT_EQ(DataUnitsToBytes(u.units), u.bytes) << u.units.low;

  const struct {
    std::uint16_t kelvin;
    std::optional<int> celsius;
  } temperatures[] = {{0, std::nullopt}, {273, 0}, {310, 37}, {200, -73}, {65535, 65262}};
  for (const auto& t : temperatures) EXPECT_EQ(KelvinToCelsius(t.kelvin), t.celsius) << t.kelvin;
}

// --- Self-test log --------------------------------------------------------------------

struct SelfTestCase {
  const char* name;
  std::uint8_t op, percent;
  Bytes entry;  // the 28 bytes of entry 0
  std::uint8_t want_op, want_percent;
  std::optional<NvmeSelfTestResult> want;
};

void PrintTo(const SelfTestCase& c, std::ostream* os) { *os << c.name; }

Bytes Entry(std::uint8_t status_and_code, std::uint8_t segment, std::uint8_t valid,
            std::uint64_t hours, std::uint32_t nsid, std::uint64_t lba, std::uint8_t sct,
            std::uint8_t sc) {
  Bytes e(28, 0);
  e[0] = status_and_code;
  e[1] = segment;
  e[2] = valid;
  Put(e, 4, hours, 8);
  Put(e, 12, nsid, 4);
  Put(e, 16, lba, 8);
  e[24] = sct;
  e[25] = sc;
  return e;
}

NvmeSelfTestResult Result(std::uint8_t status, std::uint8_t code, std::uint8_t segment,
                          std::uint64_t hours) {
  NvmeSelfTestResult r;
  r.status = status;
  r.code = code;
  r.segment = segment;
  r.power_on_hours = hours;
  return r;
}

NvmeSelfTestResult WithDiagnostics(NvmeSelfTestResult r) {
  r.nsid = 1;
  r.failing_lba = 0x123456789ULL;
  r.status_code_type = 2;
  r.status_code = 0x81;
  return r;
}

class NvmeSelfTestLogTest : public ::testing::TestWithParam<SelfTestCase> {};

TEST_P(NvmeSelfTestLogTest, RunningOperationAndNewestResult) {
  const SelfTestCase& c = GetParam();
  Bytes d(564, 0);
  d[0] = c.op;
  d[1] = c.percent;
  std::copy(c.entry.begin(), c.entry.end(), d.begin() + 4);
  // An older entry behind it must not be taken for the newest.
  d[4 + 28] = 0x17;
  NvmeSelfTestLog log;
  DecodeSelfTestLog(d.data(), log);
  EXPECT_EQ(log.current_operation, c.want_op);
  EXPECT_EQ(log.running(), c.want_op != 0);
  EXPECT_EQ(log.completion_percent, c.want_percent);
  EXPECT_EQ(log.newest, c.want);
}

INSTANTIATE_TEST_SUITE_P(
    Logs, NvmeSelfTestLogTest,
    ::testing::Values(
        SelfTestCase{"NothingEverRan", 0, 0, Entry(0x0F, 0, 0, 0, 0, 0, 0, 0), 0, 0,
                     std::nullopt},
        SelfTestCase{"UnusedEntryWithCode", 0, 0, Entry(0x2F, 3, 0x0F, 9, 1, 5, 2, 0x81), 0, 0,
                     std::nullopt},
        SelfTestCase{"ShortRunning", 0x01, 42, Entry(0x0F, 0, 0, 0, 0, 0, 0, 0), 1, 42,
                     std::nullopt},
        SelfTestCase{"ReservedBitsOfOperation", 0xF2, 0x80 | 10, Entry(0x10, 0, 0, 77, 0, 0, 0, 0),
                     2, 10, Result(0x0, 1, 0, 77)},
        SelfTestCase{"PercentPastHundredHeld", 0x02, 0x7F, Entry(0x0F, 0, 0, 0, 0, 0, 0, 0), 2,
                     100, std::nullopt},
        SelfTestCase{"PassedShort", 0, 0, Entry(0x10, 0, 0, 1234, 0, 0, 0, 0), 0, 0,
                     Result(0x0, 1, 0, 1234)},
        SelfTestCase{"AbortedExtended", 0, 0, Entry(0x21, 0, 0, 5, 0, 0, 0, 0), 0, 0,
                     Result(0x1, 2, 0, 5)},
        SelfTestCase{"FailedSegmentWithDiagnostics", 0, 0,
                     Entry(0x27, 6, 0x0F, 300, 1, 0x123456789ULL, 0x02, 0x81), 0, 0,
                     WithDiagnostics(Result(0x7, 2, 6, 300))},
        SelfTestCase{"DiagnosticsWithoutValidBitsAreNotTrusted", 0, 0,
                     Entry(0x26, 0, 0x00, 300, 1, 0x123456789ULL, 0x02, 0x81), 0, 0,
                     Result(0x6, 2, 0, 300)},
        SelfTestCase{"VendorTestFatal", 0, 0, Entry(0xE5, 0, 0x02, 1, 0, 42, 0, 0), 0, 0,
                     [] {
                       NvmeSelfTestResult r = Result(0x5, 0xE, 0, 1);
                       r.failing_lba = 42;
                       return r;
                     }()}),
    [](const auto& p) { return std::string(p.param.name); });

// --- Sectors and blocks ---------------------------------------------------------------

NvmeNamespace Ns(std::uint32_t block_bytes, std::uint64_t blocks) {
  NvmeNamespace ns;
  ns.nsid = 1;
  ns.block_bytes = block_bytes;
  ns.block_count = blocks;
  return ns;
}

struct RangeCase {
  const char* name;
  NvmeNamespace ns;
  std::uint64_t first, count;
  SectorRounding rounding;
  std::optional<NvmeBlockRange> want;
};

void PrintTo(const RangeCase& c, std::ostream* os) { *os << c.name; }

class SectorsToBlocksTest : public ::testing::TestWithParam<RangeCase> {};

TEST_P(SectorsToBlocksTest, Converts) {
  const RangeCase& c = GetParam();
  EXPECT_EQ(SectorsToBlocks(c.ns, c.first, c.count, c.rounding), c.want);
}

constexpr auto kOut = SectorRounding::Outward;
constexpr auto kExact = SectorRounding::ExactOnly;
const NvmeNamespace k512 = Ns(512, 1000);
const NvmeNamespace k4k = Ns(4096, 1000);  // 8000 sectors
const NvmeNamespace kBig4k = Ns(4096, 1ULL << 40);

INSTANTIATE_TEST_SUITE_P(
    Ranges, SectorsToBlocksTest,
    ::testing::Values(
        RangeCase{"Same512", k512, 10, 5, kOut, NvmeBlockRange{10, 5}},
        RangeCase{"Last512", k512, 999, 1, kOut, NvmeBlockRange{999, 1}},
        RangeCase{"PastEnd512", k512, 999, 2, kOut, std::nullopt},
        RangeCase{"StartPastEnd512", k512, 1000, 1, kOut, std::nullopt},
        RangeCase{"Empty", k512, 0, 0, kOut, std::nullopt},
        RangeCase{"Exact512IsAnyRun", k512, 3, 7, kExact, NvmeBlockRange{3, 7}},
        RangeCase{"OneSectorOf4k", k4k, 0, 1, kOut, NvmeBlockRange{0, 1}},
        RangeCase{"StraddlingABoundary", k4k, 7, 2, kOut, NvmeBlockRange{0, 2}},
        RangeCase{"WholeBlock", k4k, 8, 8, kOut, NvmeBlockRange{1, 1}},
        RangeCase{"ScanChunkNotAligned", kBig4k, 65535, 65535, kOut, NvmeBlockRange{8191, 8193}},
        RangeCase{"LastSectorOf4k", k4k, 7999, 1, kOut, NvmeBlockRange{999, 1}},
        RangeCase{"WholeNamespace4k", k4k, 0, 8000, kOut, NvmeBlockRange{0, 1000}},
        RangeCase{"PastEnd4k", k4k, 7999, 2, kOut, std::nullopt},
        RangeCase{"TopOf64Bits", kBig4k, UINT64_MAX, 1, kOut, std::nullopt},
        RangeCase{"WrapsAround", kBig4k, UINT64_MAX - 2, 5, kOut, std::nullopt},
        RangeCase{"ExactBlock", k4k, 0, 8, kExact, NvmeBlockRange{0, 1}},
        RangeCase{"ExactTwoBlocks", k4k, 8, 16, kExact, NvmeBlockRange{1, 2}},
        RangeCase{"ExactLastBlock", k4k, 7992, 8, kExact, NvmeBlockRange{999, 1}},
        RangeCase{"MbrAloneOn4kIsRefused", k4k, 0, 1, kExact, std::nullopt},
        RangeCase{"ExactMisalignedStart", k4k, 4, 8, kExact, std::nullopt},
        RangeCase{"ExactMisalignedEnd", k4k, 8, 12, kExact, std::nullopt},
        RangeCase{"ExactPastEnd", k4k, 8000, 8, kExact, std::nullopt},
        RangeCase{"BlockSizeNotOfSectors", Ns(1000, 100), 0, 8, kOut, std::nullopt},
        RangeCase{"BlockSizeBelowSector", Ns(256, 100), 0, 1, kOut, std::nullopt}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SectorsToBlocks, OutwardRunsCoverExactlyTheBlocksTouched) {
  for (std::uint64_t first = 0; first < 40; ++first) {
    for (std::uint64_t count = 1; count < 40; ++count) {
      const auto range = SectorsToBlocks(k4k, first, count, kOut);
      ASSERT_TRUE(range.has_value());
      const std::uint64_t start = *BlockToSector(k4k, range->first);
      const std::uint64_t end = start + range->count * 8;
      EXPECT_LE(start, first);
      EXPECT_GE(end, first + count);
      EXPECT_LT(first - start, 8u);          // not a block too many at the front
      EXPECT_LT(end - (first + count), 8u);  // nor at the back
    }
  }
}

TEST(BlockToSector, FirstSectorOfABlock) {
  EXPECT_EQ(BlockToSector(k4k, 0), 0u);
  EXPECT_EQ(BlockToSector(k4k, 999), 7992u);
  EXPECT_EQ(BlockToSector(k4k, 1000), std::nullopt);
  EXPECT_EQ(BlockToSector(k512, 5), 5u);
  EXPECT_EQ(BlockToSector(Ns(4096, UINT64_MAX), 1ULL << 61), std::nullopt);
  EXPECT_EQ(BlockToSector(Ns(1000, 10), 1), std::nullopt);
}

}  // namespace
}  // namespace plovix
