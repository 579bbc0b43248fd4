// The bench's NVMe drive, driven through the connection with the program's own catalogue:
// identity in both block sizes, logs, self-tests on the bench clock, Verify and Read over
// bad blocks, writes read back, optional commands, faults, and how the drive answers the
// ATA and SCSI paths.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "drive/NvmeCommands.h"
#include "devices/sim/Bench.h"
#include "tests/devices/sim/requests.h"

namespace plovix::sim {
namespace {

using namespace plovix::sim::testing;

NvmeSpec NvmeSetup(std::uint32_t block_bytes = 512, std::uint64_t blocks = 100000) {
  NvmeSpec setup;
  setup.model = "Orvane NV-1 1TB";
  setup.serial = "ONV1-0042";
  setup.firmware = "3B2QGXA7";
  setup.block_bytes = block_bytes;
  setup.block_count = blocks;
  return setup;
}

struct Rig {
  Bench bench;
  std::atomic<std::uint64_t> now{1000};
  IoBuffers buffers;
  DriveConnection connection{bench, buffers};

  explicit Rig(NvmeSpec setup, int drive_number = 3) {
    bench.SetClock([this] { return now.load(); });
    bench.AddNvme(drive_number, std::move(setup));
    EXPECT_TRUE(connection.Open(drive_number));
  }

  NvmeNamespace Namespace() {
    NvmeNamespace ns;
    const auto nsid = connection.NvmeNamespaceId();
    EXPECT_TRUE(nsid.has_value());
    EXPECT_TRUE(NvmeSucceeded(NvmeIdentifyNamespace(connection, nsid.value_or(0))));
    EXPECT_EQ(DecodeIdentifyNamespace(buffers.a(), nsid.value_or(0), ns), NvmeNamespaceDecode::Ok);
    return ns;
  }
  NvmeSelfTestLog SelfTestLog() {
    NvmeSelfTestLog log;
    EXPECT_TRUE(NvmeSucceeded(NvmeReadSelfTestLog(connection)));
    DecodeSelfTestLog(buffers.a(), log);
    return log;
  }
  NvmeHealth Health() {
    NvmeHealth health;
    EXPECT_TRUE(NvmeSucceeded(NvmeReadHealthLog(connection)));
    DecodeHealthLog(buffers.a(), health);
    return health;
  }
  NvmeReply Raw(const std::optional<NvmeRequest>& request) {
    NvmeReply reply;
    EXPECT_TRUE(request.has_value());
    if (request) connection.SendNvme(*request, reply);
    return reply;
  }
};

constexpr std::uint16_t kInvalidOpcode = 0x4001;
constexpr std::uint16_t kInvalidField = 0x4002;
constexpr std::uint16_t kInvalidNamespace = 0x400B;
constexpr std::uint16_t kLbaOutOfRange = 0x4080;
constexpr std::uint16_t kInvalidLogPage = 0x4109;
constexpr std::uint16_t kUnrecoveredRead = 0x4281;

std::uint16_t StatusOf(const NvmeReply& reply) {
  EXPECT_EQ(reply.outcome, NvmeOutcome::Completed);
  return reply.status;
}

// --- Identity -------------------------------------------------------------------------

struct IdentityCase {
  const char* name;
  std::uint32_t block_bytes;
  std::uint64_t blocks;
  std::uint32_t nsid;
  bool self_test, verify, write_zeroes;
};

void PrintTo(const IdentityCase& c, std::ostream* os) { *os << c.name; }

class SimNvmeIdentity : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(SimNvmeIdentity, CatalogueDecodesWhatTheDriveSays) {
  const IdentityCase& c = GetParam();
  NvmeSpec setup = NvmeSetup(c.block_bytes, c.blocks);
  setup.nsid = c.nsid;
  setup.namespace_count = c.nsid;
  setup.self_test_supported = c.self_test;
  setup.verify_supported = c.verify;
  setup.write_zeroes_supported = c.write_zeroes;
  setup.extended_test.duration_ms = 45 * 60000;
  Rig rig(setup);

  ASSERT_TRUE(NvmeSucceeded(NvmeIdentifyController(rig.connection)));
  NvmeControllerIdentity id;
  DecodeIdentifyController(rig.buffers.a(), id);
  EXPECT_STREQ(id.model, "Orvane NV-1 1TB");
  EXPECT_STREQ(id.serial, "ONV1-0042");
  EXPECT_STREQ(id.firmware, "3B2QGXA7");
  EXPECT_EQ(id.namespace_count, c.nsid);
  EXPECT_EQ(id.self_test_supported(), c.self_test);
  EXPECT_EQ(id.verify_supported(), c.verify);
  EXPECT_EQ(id.write_zeroes_supported(), c.write_zeroes);
  EXPECT_EQ(id.extended_self_test_minutes, 45);
  EXPECT_EQ(id.mdts, 5);

  EXPECT_EQ(rig.connection.NvmeNamespaceId(), c.nsid);
  const NvmeNamespace ns = rig.Namespace();
  EXPECT_EQ(ns.nsid, c.nsid);
  EXPECT_EQ(ns.block_bytes, c.block_bytes);
  EXPECT_EQ(ns.block_count, c.blocks);
  EXPECT_EQ(ns.sectors(), c.blocks * (c.block_bytes / 512));
  EXPECT_EQ(ns.metadata_bytes, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Drives, SimNvmeIdentity,
    ::testing::Values(IdentityCase{"Plain512", 512, 1953525168, 1, true, true, true},
                      IdentityCase{"Native4096", 4096, 244190646, 1, true, true, true},
                      IdentityCase{"SecondNamespace", 4096, 1000, 2, false, true, false},
                      IdentityCase{"Odd8192", 8192, 1000, 1, true, false, true},
                      IdentityCase{"NothingOptional", 512, 1000, 1, false, false, false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SimNvme, IdentifyRefusesWhatNoControllerAnswers) {
  NvmeSpec setup = NvmeSetup();
  setup.namespace_count = 4;
  Rig rig(setup);
  // A namespace id in range with nothing behind it reads as all zeros.
  ASSERT_TRUE(NvmeSucceeded(NvmeIdentifyNamespace(rig.connection, 2)));
  NvmeNamespace ns;
  EXPECT_EQ(DecodeIdentifyNamespace(rig.buffers.a(), 2, ns), NvmeNamespaceDecode::Inactive);
  EXPECT_EQ(StatusOf(NvmeIdentifyNamespace(rig.connection, 5)), kInvalidNamespace);
  EXPECT_EQ(StatusOf(NvmeIdentifyNamespace(rig.connection, 0)), kInvalidNamespace);
  EXPECT_EQ(StatusOf(NvmeIdentifyNamespace(rig.connection, kNvmeAllNamespaces)), kInvalidNamespace);
  NvmeRequest controller = EncodeIdentifyController(rig.buffers.a());
  controller.nsid = 1;
  EXPECT_EQ(StatusOf(rig.Raw(controller)), kInvalidField);
  NvmeRequest active_list = EncodeIdentifyController(rig.buffers.a());
  active_list.cdw10 = 0x02;
  EXPECT_EQ(StatusOf(rig.Raw(active_list)), kInvalidField);
  // Identify moves 4096 bytes; a shorter buffer is refused before the drive.
  NvmeRequest short_buffer = EncodeIdentifyController(rig.buffers.a());
  short_buffer.data_length = 512;
  EXPECT_EQ(rig.Raw(short_buffer).outcome, NvmeOutcome::CallFailed);
}

// --- Health log -----------------------------------------------------------------------

TEST(SimNvme, HealthLogCarriesTheDrivesFigures) {
  NvmeSpec setup = NvmeSetup();
  setup.health.critical_warning = kNvmeWarnSpare;
  setup.health.temperature_kelvin = 330;
  setup.health.available_spare = 4;
  setup.health.available_spare_threshold = 5;
  setup.health.percentage_used = 104;
  setup.health.data_units_read = {0xFFFFFFFFFFFFFFFFULL, 2};
  setup.health.data_units_written = {123456789, 0};
  setup.health.power_cycles = {1500, 0};
  setup.health.power_on_hours = {20000, 0};
  setup.health.unsafe_shutdowns = {12, 0};
  setup.health.media_errors = {3, 0};
  setup.health.error_log_entries = {40, 0};
  Rig rig(setup);
  const NvmeHealth h = rig.Health();
  EXPECT_EQ(h.critical_warning, kNvmeWarnSpare);
  EXPECT_EQ(KelvinToCelsius(h.temperature_kelvin), 57);
  EXPECT_EQ(h.available_spare, 4);
  EXPECT_EQ(h.available_spare_threshold, 5);
  EXPECT_EQ(h.percentage_used, 104);
  EXPECT_EQ(h.data_units_read, (NvmeU128{0xFFFFFFFFFFFFFFFFULL, 2}));
  EXPECT_EQ(h.data_units_written.low, 123456789u);
  EXPECT_EQ(h.power_cycles.low, 1500u);
  EXPECT_EQ(h.power_on_hours.low, 20000u);
  EXPECT_EQ(h.unsafe_shutdowns.low, 12u);
  EXPECT_EQ(h.media_errors.low, 3u);
  EXPECT_EQ(h.error_log_entries.low, 40u);

  // There is one health log for the whole controller.
  auto per_namespace = EncodeGetLogPage(kNvmeLogHealth, 1, rig.buffers.a(), 512);
  EXPECT_EQ(StatusOf(rig.Raw(per_namespace)), kInvalidField);
  auto unknown_log = EncodeGetLogPage(0x7F, kNvmeAllNamespaces, rig.buffers.a(), 512);
  EXPECT_EQ(StatusOf(rig.Raw(unknown_log)), kInvalidLogPage);
}

TEST(SimNvme, LogPagesHonourLengthAndOffset) {
  Rig rig(NvmeSetup());
  std::vector<std::uint8_t> d(1024, 0xCC);
  // Past the end of a log the host reads zeros.
  ASSERT_TRUE(NvmeSucceeded(rig.Raw(EncodeGetLogPage(kNvmeLogHealth, 0, d.data(), 1024))));
  EXPECT_EQ(d[3], 100);  // spare
  EXPECT_TRUE(std::all_of(d.begin() + 512, d.end(), [](std::uint8_t b) { return b == 0; }));
  // From an offset: the log shifted.
  auto from_4 = EncodeGetLogPage(kNvmeLogHealth, 0, d.data(), 8);
  from_4->cdw12 = 4;
  std::fill(d.begin(), d.end(), 0xCC);
  ASSERT_TRUE(NvmeSucceeded(rig.Raw(from_4)));
  EXPECT_EQ(d[0], 10);  // spare threshold, byte 4 of the log
  EXPECT_EQ(d[8], 0xCC);
  auto unaligned = from_4;
  unaligned->cdw12 = 2;
  EXPECT_EQ(StatusOf(rig.Raw(unaligned)), kInvalidField);
  auto beyond = from_4;
  beyond->cdw12 = 512;
  EXPECT_EQ(StatusOf(rig.Raw(beyond)), kInvalidField);
}

// --- Self-tests -----------------------------------------------------------------------

TEST(SimNvmeSelfTest, ShortTestAdvancesWithTheBenchClock) {
  NvmeSpec setup = NvmeSetup();
  setup.short_test = {kNvmeTestPassed, 120000, 0, std::nullopt};
  setup.health.power_on_hours = {777, 0};
  Rig rig(setup);
  EXPECT_FALSE(rig.SelfTestLog().running());
  EXPECT_FALSE(rig.SelfTestLog().newest.has_value());

  ASSERT_TRUE(NvmeSucceeded(NvmeStartSelfTest(rig.connection, NvmeSelfTestCode::Short)));
  const struct {
    std::uint64_t at_ms;
    std::uint8_t op;
    std::uint8_t percent;
  } steps[] = {{0, 1, 0}, {30000, 1, 25}, {60000, 1, 50}, {119999, 1, 99}, {120000, 0, 0}};
  for (const auto& s : steps) {
    rig.now = 1000 + s.at_ms;
    const NvmeSelfTestLog log = rig.SelfTestLog();
    EXPECT_EQ(log.current_operation, s.op) << s.at_ms;
    EXPECT_EQ(log.completion_percent, s.percent) << s.at_ms;
    EXPECT_EQ(log.newest.has_value(), s.op == 0) << s.at_ms;
  }
  const NvmeSelfTestLog done = rig.SelfTestLog();
  ASSERT_TRUE(done.newest.has_value());
  EXPECT_EQ(done.newest->status, kNvmeTestPassed);
  EXPECT_EQ(done.newest->code, 1);
  EXPECT_EQ(done.newest->power_on_hours, 777u);
  EXPECT_FALSE(done.newest->failing_lba.has_value());
  // The bench's own view says the same.
  NvmeSelfTestLog direct;
  DecodeSelfTestLog(rig.bench.Nvme(3).SelfTestLog().data(), direct);
  EXPECT_EQ(direct.newest, done.newest);
}

TEST(SimNvmeSelfTest, ExtendedTestEndsInTheChosenFailure) {
  NvmeSpec setup = NvmeSetup(4096, 5000);
  setup.extended_test = {kNvmeTestFailedSegment, 600000, 7, 4321};
  Rig rig(setup);
  ASSERT_TRUE(NvmeSucceeded(NvmeStartSelfTest(rig.connection, NvmeSelfTestCode::Extended)));
  rig.now = 1000 + 300000;
  EXPECT_EQ(rig.SelfTestLog().current_operation, 2);
  EXPECT_EQ(rig.SelfTestLog().completion_percent, 50);
  rig.now = 1000 + 600000;
  const NvmeSelfTestLog log = rig.SelfTestLog();
  EXPECT_FALSE(log.running());
  ASSERT_TRUE(log.newest.has_value());
  EXPECT_EQ(log.newest->status, kNvmeTestFailedSegment);
  EXPECT_EQ(log.newest->code, 2);
  EXPECT_EQ(log.newest->segment, 7);
  EXPECT_EQ(log.newest->failing_lba, 4321u);
  EXPECT_EQ(log.newest->nsid, 1u);
  EXPECT_EQ(log.newest->status_code_type, kNvmeSctMediaError);
  EXPECT_EQ(log.newest->status_code, kNvmeScUnrecoveredReadError);
}

TEST(SimNvmeSelfTest, AbortEndsTheRunningTestOnly) {
  Rig rig(NvmeSetup());
  // Nothing runs: abort is no error and leaves no entry.
  EXPECT_TRUE(NvmeSucceeded(NvmeAbortSelfTest(rig.connection)));
  EXPECT_FALSE(rig.SelfTestLog().newest.has_value());

  ASSERT_TRUE(NvmeSucceeded(NvmeStartSelfTest(rig.connection, NvmeSelfTestCode::Extended)));
  rig.now = 1000 + 60000;
  // One test at a time: a second start is refused while the first runs.
  EXPECT_EQ(StatusOf(NvmeStartSelfTest(rig.connection, NvmeSelfTestCode::Short)), 0x411D);
  ASSERT_TRUE(NvmeSucceeded(NvmeAbortSelfTest(rig.connection)));
  NvmeSelfTestLog log = rig.SelfTestLog();
  EXPECT_FALSE(log.running());
  ASSERT_TRUE(log.newest.has_value());
  EXPECT_EQ(log.newest->status, kNvmeTestAbortedByCommand);
  EXPECT_EQ(log.newest->code, 2);

  // The aborted test never completes later, and a new one can start.
  rig.now = 1000 + 6000000;
  EXPECT_EQ(rig.SelfTestLog().newest->status, kNvmeTestAbortedByCommand);
  ASSERT_TRUE(NvmeSucceeded(NvmeStartSelfTest(rig.connection, NvmeSelfTestCode::Short)));
  rig.now += 120000;
  log = rig.SelfTestLog();
  EXPECT_EQ(log.newest->status, kNvmeTestPassed);
  EXPECT_EQ(log.newest->code, 1);
}

TEST(SimNvmeSelfTest, TwentyResultsAreKeptNewestFirst) {
  NvmeSpec setup = NvmeSetup();
  setup.short_test.duration_ms = 1000;
  Rig rig(setup);
  for (int i = 0; i < 22; ++i) {
    ASSERT_TRUE(NvmeSucceeded(NvmeStartSelfTest(rig.connection, NvmeSelfTestCode::Short)));
    if (i % 2 == 0) {
      ASSERT_TRUE(NvmeSucceeded(NvmeAbortSelfTest(rig.connection)));
    } else {
      rig.now += 1000;
    }
  }
  const auto raw = rig.bench.Nvme(3).SelfTestLog();
  ASSERT_EQ(raw.size(), 564u);
  for (int i = 0; i < 20; ++i) {
    // The last test passed; going back, they alternate.
    EXPECT_EQ(raw[4 + 28 * i] & 0x0F, i % 2 == 0 ? kNvmeTestPassed : kNvmeTestAbortedByCommand)
        << i;
  }
}

TEST(SimNvmeSelfTest, DriveWithoutSelfTestRefusesItHonestly) {
  NvmeSpec setup = NvmeSetup();
  setup.self_test_supported = false;
  Rig rig(setup);
  EXPECT_EQ(StatusOf(NvmeStartSelfTest(rig.connection, NvmeSelfTestCode::Short)), kInvalidOpcode);
  EXPECT_EQ(StatusOf(NvmeAbortSelfTest(rig.connection)), kInvalidOpcode);
  EXPECT_EQ(StatusOf(NvmeReadSelfTestLog(rig.connection)), kInvalidLogPage);
  EXPECT_TRUE(NvmeSucceeded(NvmeReadHealthLog(rig.connection)));
}

// --- Verify and Read ------------------------------------------------------------------

class SimNvmeMedia : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(SimNvmeMedia, VerifyAndReadFailOnTheBadBlocksOnly) {
  const std::uint32_t block_bytes = GetParam();
  NvmeSpec setup = NvmeSetup(block_bytes, 1000);
  setup.bad_blocks = {500, 999};
  Rig rig(setup);
  const NvmeNamespace ns = rig.Namespace();
  const struct {
    std::uint64_t slba;
    std::uint32_t count;
    bool ok;
  } runs[] = {{0, 500, true}, {400, 101, false}, {500, 1, false}, {501, 498, true},
              {999, 1, false}, {998, 1, true}};
  int failures = 0;
  for (const auto& r : runs) {
    const NvmeReply verify = NvmeVerify(rig.connection, ns, r.slba, r.count);
    EXPECT_EQ(NvmeSucceeded(verify), r.ok) << r.slba;
    if (!r.ok) {
      EXPECT_EQ(StatusOf(verify), kUnrecoveredRead) << r.slba;
      ++failures;
    }
    const std::uint32_t read_count = std::min(r.count, NvmeMaxDataBlocks(ns, 5));
    const std::uint64_t read_from = r.ok ? r.slba : r.slba + r.count - read_count;
    const NvmeReply read = NvmeRead(rig.connection, ns, read_from, read_count);
    EXPECT_EQ(NvmeSucceeded(read), r.ok) << r.slba;
    if (!r.ok) {
      EXPECT_EQ(StatusOf(read), kUnrecoveredRead) << r.slba;
      ++failures;
    }
  }
  // The drive counts every unrecovered read in its health log, as real ones do.
  const NvmeHealth h = rig.Health();
  EXPECT_EQ(h.media_errors.low, static_cast<std::uint64_t>(failures));
  EXPECT_EQ(h.error_log_entries.low, static_cast<std::uint64_t>(failures));

  // Past the namespace's end the drive says so (the catalogue would not even send it).
  EXPECT_EQ(StatusOf(rig.Raw(EncodeVerify(1, 999, 2))), kLbaOutOfRange);
  EXPECT_EQ(StatusOf(rig.Raw(EncodeVerify(1, 1000, 1))), kLbaOutOfRange);
  EXPECT_EQ(StatusOf(rig.Raw(EncodeVerify(2, 0, 1))), kInvalidNamespace);
}

TEST_P(SimNvmeMedia, ReadReturnsTheSectorsOfItsBlocks) {
  const std::uint32_t block_bytes = GetParam();
  const std::uint32_t per = block_bytes / 512;
  Rig rig(NvmeSetup(block_bytes, 1000));
  const NvmeNamespace ns = rig.Namespace();
  ASSERT_TRUE(NvmeSucceeded(NvmeRead(rig.connection, ns, 3, 2)));
  for (std::uint32_t s = 0; s < 2 * per; ++s) {
    const auto want = PatternSector(3 * per + s);
    EXPECT_EQ(std::memcmp(rig.buffers.a() + s * 512, want.data(), 512), 0) << s;
  }
  EXPECT_EQ(rig.bench.Nvme(3).ReadBlock(4),
            std::vector<std::uint8_t>(rig.buffers.a() + block_bytes,
                                      rig.buffers.a() + 2 * block_bytes));
}

// --- Writes ---------------------------------------------------------------------------

TEST_P(SimNvmeMedia, WriteZeroesAndZeroWritesReadBackAsZeros) {
  const std::uint32_t block_bytes = GetParam();
  const std::uint64_t per = block_bytes / 512;
  Rig rig(NvmeSetup(block_bytes, 100000));
  const NvmeNamespace ns = rig.Namespace();
  VirtualMedia& media = rig.bench.Media(3);

  ASSERT_TRUE(NvmeSucceeded(NvmeWriteZeroes(rig.connection, ns, 10, 5)));
  EXPECT_TRUE(media.IsZeroed(10 * per, 5 * per));
  EXPECT_FALSE(media.IsZeroed(10 * per - 1, 1));  // the sector before is untouched
  EXPECT_EQ(media.ReadSector(10 * per - 1), PatternSector(10 * per - 1));
  EXPECT_EQ(media.ReadSector(15 * per), PatternSector(15 * per));

  // The whole namespace in chunks, as an erase would send them.
  for (std::uint64_t b = 0; b < ns.block_count; b += kNvmeMaxBlocksPerCommand) {
    const auto n = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(kNvmeMaxBlocksPerCommand, ns.block_count - b));
    ASSERT_TRUE(NvmeSucceeded(NvmeWriteZeroes(rig.connection, ns, b, n))) << b;
  }
  EXPECT_TRUE(media.IsZeroed(0, ns.sectors()));

  Rig other(NvmeSetup(block_bytes, 1000));
  const NvmeNamespace ns2 = other.Namespace();
  const std::uint32_t chunk = NvmeMaxDataBlocks(ns2, 5);
  ASSERT_TRUE(NvmeSucceeded(NvmeWriteZeroBuffer(other.connection, ns2, 0, chunk)));
  EXPECT_TRUE(other.bench.Media(3).IsZeroed(0, chunk * per));
  EXPECT_EQ(other.bench.Media(3).ReadSector(chunk * per), PatternSector(chunk * per));
  ASSERT_TRUE(NvmeSucceeded(NvmeRead(other.connection, ns2, 0, 1)));
  EXPECT_TRUE(std::all_of(other.buffers.a(), other.buffers.a() + block_bytes,
                          [](std::uint8_t b) { return b == 0; }));
}

TEST_P(SimNvmeMedia, WrittenDataIsKeptSectorBySector) {
  const std::uint32_t block_bytes = GetParam();
  Rig rig(NvmeSetup(block_bytes, 1000));
  std::vector<std::uint8_t> data(2 * block_bytes);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i / 512 + 1);
  ASSERT_TRUE(NvmeSucceeded(rig.Raw(EncodeWrite(1, 7, 2, block_bytes, data.data()))));
  const std::vector<std::uint8_t> first = rig.bench.Nvme(3).ReadBlock(7);
  const std::vector<std::uint8_t> second = rig.bench.Nvme(3).ReadBlock(8);
  EXPECT_EQ(first, std::vector<std::uint8_t>(data.begin(), data.begin() + block_bytes));
  EXPECT_EQ(second, std::vector<std::uint8_t>(data.begin() + block_bytes, data.end()));
  const auto log = rig.bench.LogFor(3);
  ASSERT_FALSE(log.empty());
  EXPECT_TRUE(log.back().nvme);
  EXPECT_EQ(log.back().nvme_request.opcode, kNvmeIoWrite);
  EXPECT_EQ(log.back().data_out, data);
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, SimNvmeMedia, ::testing::Values(512u, 4096u),
                         [](const auto& p) { return "Block" + std::to_string(p.param); });

TEST(SimNvme, OptionalCommandsAreRefusedByADriveWithoutThem) {
  NvmeSpec setup = NvmeSetup(4096, 1000);
  setup.verify_supported = false;
  setup.write_zeroes_supported = false;
  Rig rig(setup);
  const NvmeNamespace ns = rig.Namespace();
  EXPECT_EQ(StatusOf(NvmeVerify(rig.connection, ns, 0, 1)), kInvalidOpcode);
  EXPECT_EQ(StatusOf(NvmeWriteZeroes(rig.connection, ns, 0, 1)), kInvalidOpcode);
  EXPECT_FALSE(rig.bench.Media(3).IsZeroed(0, 8));
  // Reads and writes are mandatory and carry on.
  EXPECT_TRUE(NvmeSucceeded(NvmeRead(rig.connection, ns, 0, 1)));
  EXPECT_TRUE(NvmeSucceeded(NvmeWriteZeroBuffer(rig.connection, ns, 0, 1)));
  EXPECT_TRUE(rig.bench.Media(3).IsZeroed(0, 8));
}

TEST(SimNvme, DataCommandsLargerThanTheControllerTakesAreRefused) {
  NvmeSpec setup = NvmeSetup(4096, 1000);
  setup.mdts = 1;  // 8 KiB
  Rig rig(setup);
  const NvmeNamespace ns = rig.Namespace();
  EXPECT_TRUE(NvmeSucceeded(NvmeRead(rig.connection, ns, 0, 2)));
  EXPECT_EQ(StatusOf(NvmeRead(rig.connection, ns, 0, 3)), kInvalidField);
  EXPECT_EQ(StatusOf(NvmeWriteZeroBuffer(rig.connection, ns, 0, 3)), kInvalidField);
  EXPECT_FALSE(rig.bench.Media(3).IsZeroed(0, 8));
  EXPECT_EQ(NvmeMaxDataBlocks(ns, 1), 2u);
  // Non-data commands have no transfer to limit.
  EXPECT_TRUE(NvmeSucceeded(NvmeVerify(rig.connection, ns, 0, 1000)));
}

// --- The operating system and faults --------------------------------------------------

TEST(SimNvme, TheSystemCanRefuseSomeCommands) {
  NvmeSpec setup = NvmeSetup(512, 1000);
  setup.os_refused_io = {kNvmeIoVerify, kNvmeIoWriteZeroes};
  setup.os_refused_admin = {kNvmeAdminDeviceSelfTest};
  Rig rig(setup);
  const NvmeNamespace ns = rig.Namespace();
  const NvmeReply verify = NvmeVerify(rig.connection, ns, 0, 1);
  EXPECT_FALSE(NvmeSucceeded(verify));
  EXPECT_EQ(verify.outcome, NvmeOutcome::Refused);
  EXPECT_EQ(NvmeWriteZeroes(rig.connection, ns, 0, 1).outcome, NvmeOutcome::Refused);
  EXPECT_FALSE(rig.bench.Media(3).IsZeroed(0, 1));
  EXPECT_EQ(NvmeStartSelfTest(rig.connection, NvmeSelfTestCode::Short).outcome,
            NvmeOutcome::Refused);
  EXPECT_FALSE(rig.SelfTestLog().running());
  // What it lets through still works; the refusal is per command, not per drive.
  EXPECT_TRUE(NvmeSucceeded(NvmeRead(rig.connection, ns, 0, 1)));
  EXPECT_TRUE(NvmeSucceeded(NvmeReadHealthLog(rig.connection)));
}

struct FaultCase {
  const char* name;
  FaultEffect effect;
  std::uint16_t nvme_status;
  NvmeOutcome outcome;
  std::uint16_t status;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class SimNvmeFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(SimNvmeFault, HitsTheMatchingCommandOnly) {
  const FaultCase& c = GetParam();
  Rig rig(NvmeSetup());
  Fault fault;
  fault.match.nvme_queue = NvmeQueue::Admin;
  fault.match.nvme_opcode = kNvmeAdminIdentify;
  fault.effect = c.effect;
  if (c.nvme_status != 0) fault.nvme_status = c.nvme_status;
  rig.bench.AddFault(fault);

  std::memset(rig.buffers.a(), 0, 4096);
  const NvmeReply reply = NvmeIdentifyController(rig.connection);
  EXPECT_EQ(reply.outcome, c.outcome);
  EXPECT_EQ(reply.status, c.status);
  NvmeControllerIdentity id;
  DecodeIdentifyController(rig.buffers.a(), id);
  if (c.effect == FaultEffect::Garbage) {
    EXPECT_TRUE(NvmeSucceeded(reply));
    EXPECT_STRNE(id.model, "Orvane NV-1 1TB");
  } else {
    EXPECT_STREQ(id.model, "");  // nothing arrived
  }
  // Get Log Page has opcode 02h like Read; neither is an Identify.
  EXPECT_TRUE(NvmeSucceeded(NvmeReadHealthLog(rig.connection)));
  NvmeNamespace ns;
  ns.nsid = 1;
  ns.block_bytes = 512;
  ns.block_count = 100000;
  EXPECT_TRUE(NvmeSucceeded(NvmeRead(rig.connection, ns, 0, 1)));
}

INSTANTIATE_TEST_SUITE_P(
    Effects, SimNvmeFault,
    ::testing::Values(
        FaultCase{"CallFails", FaultEffect::CallFails, 0, NvmeOutcome::CallFailed, 0},
        FaultCase{"Timeout", FaultEffect::Timeout, 0, NvmeOutcome::CallFailed, 0},
        FaultCase{"Refused", FaultEffect::Refused, 0, NvmeOutcome::Refused, 0},
        FaultCase{"ChosenStatus", FaultEffect::NvmeError, 0x4281, NvmeOutcome::Completed, 0x4281},
        FaultCase{"DefaultStatus", FaultEffect::NvmeError, 0, NvmeOutcome::Completed, 0x0006},
        FaultCase{"AtaErrorIsAnErrorStatus", FaultEffect::AtaError, 0, NvmeOutcome::Completed,
                  0x0006},
        FaultCase{"Garbage", FaultEffect::Garbage, 0, NvmeOutcome::Completed, 0},
        FaultCase{"Lost", FaultEffect::Lost, 0, NvmeOutcome::Completed, 0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SimNvmeFaults, LbaAndQueueNarrowTheHit) {
  Rig rig(NvmeSetup(512, 1000));
  Fault fault;
  fault.match.nvme_queue = NvmeQueue::Io;
  fault.match.lba = 64;
  fault.effect = FaultEffect::NvmeError;
  fault.nvme_status = kUnrecoveredRead;
  fault.match.times = 1;
  rig.bench.AddFault(fault);
  NvmeNamespace ns = rig.Namespace();
  EXPECT_TRUE(NvmeSucceeded(NvmeVerify(rig.connection, ns, 0, 64)));
  EXPECT_EQ(StatusOf(NvmeVerify(rig.connection, ns, 64, 64)), kUnrecoveredRead);
  EXPECT_TRUE(NvmeSucceeded(NvmeVerify(rig.connection, ns, 64, 64)));  // only once

  // Faults for ATA commands never hit an NVMe command, and the other way round.
  Fault ata;
  ata.match.ata_command = 0xEC;
  rig.bench.AddFault(ata);
  EXPECT_TRUE(NvmeSucceeded(NvmeIdentifyController(rig.connection)));
}

TEST(SimNvmeFaults, BlockedCommandWaitsForTheClock) {
  Rig rig(NvmeSetup());
  Fault fault;
  fault.match.nvme_opcode = kNvmeAdminDeviceSelfTest;
  fault.effect = FaultEffect::Block;
  fault.until_ms = 5000;
  rig.bench.AddFault(fault);
  std::atomic<bool> done{false};
  NvmeReply reply;
  std::thread worker([&] {
    reply = NvmeStartSelfTest(rig.connection, NvmeSelfTestCode::Short);
    done = true;
  });
  while (rig.bench.Log().empty()) std::this_thread::yield();
  rig.now = 4999;
  std::this_thread::sleep_for(std::chrono::milliseconds(3));
  EXPECT_FALSE(done.load());
  rig.now = 5000;
  worker.join();
  EXPECT_TRUE(NvmeSucceeded(reply));
  // The test started when the command finally reached the drive.
  rig.now = 5000 + 60000;
  EXPECT_EQ(rig.SelfTestLog().completion_percent, 50);
}

// --- The other paths ------------------------------------------------------------------

TEST(SimNvme, AtaAndScsiPathsAnswerAsOnWindows) {
  Rig rig(NvmeSetup());
  // ATA pass-through: the call fails.
  EXPECT_FALSE(IdentifyDevice(rig.connection));
  // INQUIRY: translated by the NVMe driver, 36 bytes, no bridge id behind them.
  ASSERT_TRUE(Inquiry(rig.connection));
  const std::uint8_t* q = rig.connection.inquiry_data;
  EXPECT_EQ(std::string(q + 8, q + 16), "NVMe    ");
  EXPECT_EQ(std::string(q + 16, q + 32), "Orvane NV-1 1TB ");
  EXPECT_EQ(std::string(q + 32, q + 36), "3B2Q");
  EXPECT_EQ(std::string(q + 36, q + 40), std::string(4, '\0'));
  // ATA PASS-THROUGH blocks: CHECK CONDITION, illegal request, invalid opcode.
  EXPECT_FALSE(IdentifyDeviceScsi(rig.connection, 0));
  EXPECT_FALSE(IdentifyDeviceScsi(rig.connection, 1));
  const DeviceHandle h = rig.bench.Open("\\\\.\\PhysicalDrive3");
  std::vector<std::uint8_t> d(512);
  ScsiPassThroughRequest r = ScsiIdentifyStandard(d.data());
  ASSERT_TRUE(rig.bench.ScsiPassThrough(h, r));
  EXPECT_EQ(r.ScsiStatus, 2);
  EXPECT_EQ(r.Sense[2], 0x05);
  EXPECT_EQ(r.Sense[12], 0x20);
  rig.bench.Close(h);
}

TEST(SimNvme, OnlyNvmeDrivesAndTheirVolumesCarryNvme) {
  Bench bench;
  DriveSpec sata;
  sata.model = "Orvane S";
  sata.serial = "S0";
  sata.firmware = "1";
  sata.total_sectors = 1000;
  bench.AddSata(0, sata);
  bench.AddNvme(1, NvmeSetup());
  bench.AddVolume('C', 1);
  bench.AddVolume('D', 0);
  bench.AddSilentVolume('E');
  std::uint8_t d[4096];
  const struct {
    const char* path;
    NvmeOutcome outcome;
    std::optional<std::uint32_t> nsid;
  } cases[] = {
      {"\\\\.\\PhysicalDrive0", NvmeOutcome::NoNvme, std::nullopt},
      {"\\\\.\\PhysicalDrive1", NvmeOutcome::Completed, 1},
      {"\\\\.\\C:", NvmeOutcome::Completed, 1},  // the volume reaches its NVMe disk
      {"\\\\.\\D:", NvmeOutcome::NoNvme, std::nullopt},
      {"\\\\.\\E:", NvmeOutcome::NoNvme, std::nullopt},
  };
  for (const auto& c : cases) {
    const DeviceHandle h = bench.Open(c.path);
    ASSERT_NE(h, kInvalidHandle) << c.path;
    EXPECT_EQ(bench.NvmePassThrough(h, EncodeIdentifyController(d)).outcome, c.outcome) << c.path;
    EXPECT_EQ(bench.NvmeNamespaceId(h), c.nsid) << c.path;
    bench.Close(h);
  }
  EXPECT_EQ(bench.NvmePassThrough(kInvalidHandle, EncodeIdentifyController(d)).outcome,
            NvmeOutcome::CallFailed);
  EXPECT_EQ(bench.NvmeNamespaceId(kInvalidHandle), std::nullopt);
}

TEST(SimNvme, ADriveNumberHoldsOneDriveOfEitherKind) {
  Bench bench;
  DriveSpec sata;
  sata.total_sectors = 1000;
  bench.AddSata(4, sata);
  bench.AddNvme(4, NvmeSetup(4096, 10));
  EXPECT_TRUE(bench.HasDrive(4));
  EXPECT_THROW(bench.Drive(4), std::out_of_range);
  EXPECT_EQ(bench.Nvme(4).setup().block_bytes, 4096u);
  EXPECT_EQ(bench.Media(4).ReadSector(79), PatternSector(79));
  bench.AddSata(4, sata);
  EXPECT_THROW(bench.Nvme(4), std::out_of_range);
  EXPECT_EQ(bench.Drive(4).setup().total_sectors, 1000u);
  bench.AddNvme(5, NvmeSetup());
  bench.RemoveDrive(5);
  EXPECT_FALSE(bench.HasDrive(5));
  EXPECT_EQ(bench.Open("\\\\.\\PhysicalDrive5"), kInvalidHandle);
}

TEST(SimNvme, RequestsAreRecordedAsSent) {
  Rig rig(NvmeSetup());
  rig.bench.ClearLog();
  ASSERT_TRUE(NvmeSucceeded(NvmeReadSelfTestLog(rig.connection)));
  ASSERT_TRUE(NvmeSucceeded(NvmeStartSelfTest(rig.connection, NvmeSelfTestCode::Extended)));
  const auto log = rig.bench.LogFor(3);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(log[0].nvme);
  EXPECT_FALSE(log[0].scsi);
  EXPECT_EQ(log[0].path, "\\\\.\\PhysicalDrive3");
  EXPECT_EQ(log[0].nvme_request.opcode, kNvmeAdminGetLogPage);
  EXPECT_EQ(log[0].nvme_request.cdw10, 0x008C0006u);
  EXPECT_EQ(log[0].nvme_request.data, rig.buffers.a());
  EXPECT_TRUE(log[0].data_out.empty());
  EXPECT_EQ(log[1].nvme_request.opcode, kNvmeAdminDeviceSelfTest);
  EXPECT_EQ(log[1].nvme_request.nsid, kNvmeAllNamespaces);
  EXPECT_EQ(log[1].nvme_request.cdw10, 2u);
}

}  // namespace
}  // namespace plovix::sim
