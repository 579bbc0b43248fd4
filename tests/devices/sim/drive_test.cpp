// The virtual drive's ATA answers: SMART sectors, self-tests on the bench clock, READ
// VERIFY over bad sectors, and the sector store behind WRITE BUFFER and the erase opcode.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "devices/sim/Bench.h"
#include "devices/sim/SectorStore.h"
#include "tests/devices/sim/requests.h"

namespace plovix::sim {
namespace {

using namespace plovix::sim::testing;

std::uint8_t Status(const AtaPassThroughRequest& reply) { return reply.CurrentTaskFile[kTfCommand]; }

DriveSpec Worn() {
  DriveSpec setup;
  setup.model = "Kestrel KD-2000";
  setup.serial = "KW-77";
  setup.firmware = "1.0";
  setup.total_sectors = 2000000;
  setup.attributes = {
      {1, 0x000F, 117, 99, 0x0000000BB8A1ULL, 6},
      {5, 0x0033, 100, 100, 0, 36},
      {197, 0x0012, 100, 100, 0x0102030405ULL << 8, 0},
      {9, 0x0032, 88, 88, 10523, 0},
  };
  setup.selftest_status = 0x25;
  setup.short_test = {0x73, 10000};
  setup.extended_test = {0x00, 90 * 60000};
  return setup;
}

struct Rig {
  Bench bench;
  std::atomic<std::uint64_t> now{1000};
  DeviceHandle h = kInvalidHandle;

  explicit Rig(DriveSpec setup) {
    bench.SetClock([this] { return now.load(); });
    bench.AddSata(0, std::move(setup));
    h = bench.Open("\\\\.\\PhysicalDrive0");
  }
  std::uint8_t Send(const AtaPassThroughRequest& request) {
    AtaPassThroughRequest reply;
    if (!bench.AtaPassThrough(h, request, reply)) return 0;
    return Status(reply);
  }
  std::vector<std::uint8_t> Read(std::uint8_t feature) {
    std::vector<std::uint8_t> d(512, 0xCC);
    EXPECT_EQ(Send(AtaSmart(feature, 0, d.data())), 0x50);
    return d;
  }
  std::uint8_t SelfTestByte() { return Read(0xD0)[363]; }
};

TEST(SimSmart, DataAndThresholdSectors) {
  Rig rig(Worn());
  const auto d = rig.Read(0xD0);
  const std::uint8_t entry1[12] = {1, 0x0F, 0x00, 117, 99, 0xA1, 0xB8, 0x0B, 0, 0, 0, 0};
  EXPECT_TRUE(std::equal(entry1, entry1 + 12, d.begin() + 2));
  const std::uint8_t entry197[12] = {197, 0x12, 0x00, 100, 100, 0x00, 0x05, 0x04, 0x03, 0x02, 0x01, 0};
  EXPECT_TRUE(std::equal(entry197, entry197 + 12, d.begin() + 2 + 24));
  EXPECT_EQ(d[2 + 36], 9);
  EXPECT_EQ(d[2 + 36 + 5] | d[2 + 36 + 6] << 8, 10523);
  EXPECT_TRUE(std::all_of(d.begin() + 2 + 48, d.begin() + 362, [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(d[363], 0x25);  // status before any test
  EXPECT_EQ(d[372], 1);     // short test: one minute
  EXPECT_EQ(d[373], 90);
  std::uint8_t sum = 0;
  for (std::uint8_t b : d) sum = static_cast<std::uint8_t>(sum + b);
  EXPECT_EQ(sum, 0);

  const auto t = rig.Read(0xD1);
  EXPECT_EQ(t[2], 1);
  EXPECT_EQ(t[3], 6);
  EXPECT_EQ(t[14], 5);
  EXPECT_EQ(t[15], 36);
  EXPECT_EQ(t[26], 197);
  EXPECT_EQ(t[38], 9);
  EXPECT_EQ(t[50], 0);
  sum = 0;
  for (std::uint8_t b : t) sum = static_cast<std::uint8_t>(sum + b);
  EXPECT_EQ(sum, 0);
}

TEST(SimSmart, SwitchedOffSmartAnswersOnlyEnable) {
  DriveSpec setup = Worn();
  setup.smart_enabled = false;
  Rig rig(setup);
  std::vector<std::uint8_t> d(512);
  struct Case {
    std::uint8_t feature;
    std::uint8_t lba_low;
    bool data;
  };
  for (const Case& c : {Case{0xD0, 0, true}, Case{0xD1, 0, true}, Case{0xD4, 1, false},
                        Case{0xDA, 0, false}}) {
    EXPECT_EQ(rig.Send(AtaSmart(c.feature, c.lba_low, c.data ? d.data() : nullptr)), 0x51)
        << int(c.feature);
  }
  EXPECT_FALSE(rig.bench.Drive(0).smart_enabled());
  EXPECT_EQ(rig.Send(AtaSmart(0xD8)), 0x50);
  EXPECT_TRUE(rig.bench.Drive(0).smart_enabled());
  ASSERT_EQ(rig.Send(AtaIdentify(d.data())), 0x50);
  EXPECT_EQ(Word(d.data(), 85) & 1, 1);
  EXPECT_EQ(rig.Read(0xD0)[2], 1);
  // SMART registers other than 4F/C2 are refused; so is SMART on a drive without it.
  EXPECT_EQ(rig.Send(Ata({0xD0, 0, 0, 0x00, 0x00, 0xE0, 0xB0}, kAtaFlagsDataIn, d.data())), 0x51);
  DriveSpec none = Worn();
  none.smart_supported = false;
  Rig bare(none);
  EXPECT_EQ(bare.Send(AtaSmart(0xD8)), 0x51);
}

TEST(SimSmart, ReturnStatusReportsAnExceededThreshold) {
  DriveSpec setup = Worn();
  Rig ok(setup);
  AtaPassThroughRequest reply;
  ASSERT_TRUE(ok.bench.AtaPassThrough(ok.h, AtaSmart(0xDA), reply));
  EXPECT_EQ(reply.CurrentTaskFile[kTfLbaMid], 0x4F);
  EXPECT_EQ(reply.CurrentTaskFile[kTfLbaHigh], 0xC2);
  setup.attributes[1].current = 30;  // reallocated sectors below 36
  Rig failing(setup);
  ASSERT_TRUE(failing.bench.AtaPassThrough(failing.h, AtaSmart(0xDA), reply));
  EXPECT_EQ(reply.CurrentTaskFile[kTfLbaMid], 0xF4);
  EXPECT_EQ(reply.CurrentTaskFile[kTfLbaHigh], 0x2C);
}

TEST(SimSelfTest, StatusFollowsTheClock) {
  struct Step {
    std::uint64_t at;  // ms after the start
    std::uint8_t status;
  };
  struct Case {
    std::uint8_t subcommand;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {1, {{0, 0xF9}, {1110, 0xF9}, {1112, 0xF8}, {5000, 0xF5}, {8889, 0xF1}, {9999, 0xF1},
           {10000, 0x73}, {999999, 0x73}}},
      {2, {{0, 0xF9}, {45 * 60000, 0xF5}, {90 * 60000 - 1, 0xF1}, {90 * 60000, 0x00}}},
  };
  for (const Case& c : cases) {
    Rig rig(Worn());
    ASSERT_EQ(rig.Send(AtaSmart(0xD4, c.subcommand)), 0x50);
    for (const Step& s : c.steps) {
      rig.now = 1000 + s.at;
      EXPECT_EQ(rig.SelfTestByte(), s.status) << int(c.subcommand) << " at " << s.at;
      EXPECT_EQ(rig.bench.Drive(0).SelfTestStatus(), s.status);
    }
  }
}

TEST(SimSelfTest, AbortAndRestart) {
  Rig rig(Worn());
  EXPECT_EQ(rig.Send(AtaSmart(0xD4, 0x7F)), 0x50);  // nothing runs: nothing changes
  EXPECT_EQ(rig.SelfTestByte(), 0x25);
  ASSERT_EQ(rig.Send(AtaSmart(0xD4, 2)), 0x50);
  rig.now += 60000;
  EXPECT_EQ(rig.SelfTestByte(), 0xF9);
  EXPECT_EQ(rig.Send(AtaSmart(0xD4, 0x7F)), 0x50);
  EXPECT_EQ(rig.SelfTestByte(), 0x10);
  rig.now += 100 * 60000;
  EXPECT_EQ(rig.SelfTestByte(), 0x10);
  ASSERT_EQ(rig.Send(AtaSmart(0xD4, 1)), 0x50);
  EXPECT_EQ(rig.SelfTestByte(), 0xF9);
  rig.now += 10000;
  EXPECT_EQ(rig.SelfTestByte(), 0x73);
  // Captive and unknown subcommands are refused; so is a self-test the drive lacks.
  EXPECT_EQ(rig.Send(AtaSmart(0xD4, 0x81)), 0x51);
  DriveSpec setup = Worn();
  setup.selftest_supported = false;
  Rig plain(setup);
  EXPECT_EQ(plain.Send(AtaSmart(0xD4, 1)), 0x51);
}

TEST(SimSelfTest, ThroughBothScsiForms) {
  Bench bench;
  BridgeSpec bridge;
  bridge.chip_id = "j329";
  bridge.forwarding = BridgeForwarding::VendorAndStandard;
  bench.AddUsb(0, Worn(), bridge);
  const DeviceHandle h = bench.Open("\\\\.\\PhysicalDrive0");
  ScsiPassThroughRequest start = Scsi({0xDF, 0x10, 0x00, 0x02, 0x00, 0xD4, 0x00, 0x02, 0x4F,
                                       0xC2, 0xE0, 0xB0},
                                      kScsiDataUnspecified);
  ASSERT_TRUE(bench.ScsiPassThrough(h, start));
  EXPECT_EQ(start.ScsiStatus, 0);
  std::vector<std::uint8_t> d(512);
  ScsiPassThroughRequest vendor = ScsiVendorSmart(0xD0, d.data());
  ASSERT_TRUE(bench.ScsiPassThrough(h, vendor));
  EXPECT_EQ(d[363], 0xF9);
  ScsiPassThroughRequest abort =
      Scsi({0xA1, 0x06, 0x00, 0xD4, 0x00, 0x7F, 0x4F, 0xC2, 0xE0, 0xB0, 0x00, 0x00},
           kScsiDataUnspecified);
  ASSERT_TRUE(bench.ScsiPassThrough(h, abort));
  ScsiPassThroughRequest standard = Scsi12Smart(0xD0, d.data());
  ASSERT_TRUE(bench.ScsiPassThrough(h, standard));
  EXPECT_EQ(d[363], 0x10);
}

TEST(SimVerify, FailsOverBadSectorsAndPastTheEnd) {
  DriveSpec setup = Worn();
  setup.total_sectors = 200000;
  setup.bad_lbas = {70000, 180000};
  struct Case {
    std::uint64_t lba;
    std::uint16_t count;  // 0 means 65536
    bool ok;
  };
  const Case cases[] = {
      {0, 65535, true},         {4465, 65535, true},   {4466, 65535, false},
      {70000, 1, false},        {70001, 65535, true},  {69999, 1, true},
      {100000, 0, true},        {114465, 0, false},    {199999, 1, true},
      {199999, 2, false},       {200000, 1, false},    {1ULL << 40, 1, false},
  };
  Rig rig(setup);
  for (const Case& c : cases) {
    EXPECT_EQ(rig.Send(AtaReadVerify(c.lba, c.count)), c.ok ? 0x50 : 0x51)
        << c.lba << "+" << c.count;
  }
  // The reply names the first bad sector.
  AtaPassThroughRequest reply;
  ASSERT_TRUE(rig.bench.AtaPassThrough(rig.h, AtaReadVerify(65535, 65535), reply));
  EXPECT_EQ(reply.CurrentTaskFile[kTfLbaLow] | reply.CurrentTaskFile[kTfLbaMid] << 8 |
                reply.CurrentTaskFile[kTfLbaHigh] << 16,
            70000);
  // Without the 48-bit flag the high-order registers never reach the drive.
  AtaPassThroughRequest no48 = AtaReadVerify(0x0100000000ULL, 1);
  no48.AtaFlags = 0;
  EXPECT_EQ(rig.Send(no48), 0x50);

  Bench bench;
  BridgeSpec bridge;
  bench.AddUsb(0, setup, bridge);
  const DeviceHandle u = bench.Open("\\\\.\\PhysicalDrive0");
  for (const Case& c : cases) {
    ScsiPassThroughRequest r = Scsi16ReadVerify(c.lba, c.count);
    ASSERT_TRUE(bench.ScsiPassThrough(u, r));
    EXPECT_EQ(r.ScsiStatus, c.ok ? 0 : 2) << c.lba << "+" << c.count;
  }
}

TEST(SimErase, WritesTheLoadedBufferOverTheRun) {
  DriveSpec setup = Worn();
  setup.total_sectors = 1000000;
  setup.vendor_erase = true;  // the maker's own drive
  Rig rig(setup);
  std::vector<std::uint8_t> pattern(512);
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<std::uint8_t>(0xA0 ^ i);
  ASSERT_EQ(rig.Send(Ata({0, 0, 0, 0, 0, 0, 0xE8}, kAtaFlagsDataOut, pattern.data())), 0x50);
  // n = 0x00010203: count 03, feature 02, previous count 01, previous feature 00.
  ASSERT_EQ(rig.Send(Ata48(0x82, 5000, 0x00010203)), 0x50);
  const VirtualDrive& drive = rig.bench.Drive(0);
  const std::uint64_t last = 5000 + 0x00010203 - 1;
  for (std::uint64_t lba : {std::uint64_t{5000}, std::uint64_t{40000}, last}) {
    const auto s = drive.ReadSector(lba);
    EXPECT_TRUE(std::equal(s.begin(), s.end(), pattern.begin())) << lba;
  }
  EXPECT_EQ(drive.ReadSector(4999), PatternSector(4999));
  EXPECT_EQ(drive.ReadSector(last + 1), PatternSector(last + 1));
  EXPECT_FALSE(drive.IsZeroed(5000, 1));

  std::vector<std::uint8_t> zeros(512, 0);
  ASSERT_EQ(rig.Send(Ata({0, 0, 0, 0, 0, 0, 0xE8}, kAtaFlagsDataOut, zeros.data())), 0x50);
  ASSERT_EQ(rig.Send(Ata48(0x82, 0, 1)), 0x50);
  EXPECT_TRUE(drive.IsZeroed(0, 1));
  EXPECT_FALSE(drive.IsZeroed(0, 2));
  EXPECT_NE(drive.ReadSector(1), drive.ReadSector(0));

  // Past the end, or no sectors at all: refused, nothing written.
  EXPECT_EQ(rig.Send(Ata48(0x82, 999999, 2)), 0x51);
  EXPECT_EQ(rig.Send(Ata48(0x82, 10, 0)), 0x51);
  EXPECT_EQ(drive.ReadSector(999999), PatternSector(999999));
  EXPECT_EQ(drive.ReadSector(10), PatternSector(10));
  EXPECT_EQ(PatternSector(0)[510], 0x55);
  EXPECT_EQ(PatternSector(0)[511], 0xAA);
}

TEST(SimErase, WholeLargeDriveOverScsi) {
  DriveSpec setup = Worn();
  setup.total_sectors = 7814037168ULL;  // 4 TB
  setup.vendor_erase = true;  // the maker's own drive
  Bench bench;
  BridgeSpec bridge;
  bench.AddUsb(0, setup, bridge);
  const DeviceHandle h = bench.Open("\\\\.\\PhysicalDrive0");
  std::vector<std::uint8_t> zeros(512, 0);
  ScsiPassThroughRequest load = Scsi12WriteBuffer(zeros.data());
  ASSERT_TRUE(bench.ScsiPassThrough(h, load));
  ASSERT_EQ(load.ScsiStatus, 0);
  // The first chunks as the erase loop sends them, then the rest in a few big runs.
  std::uint64_t lba = 0;
  for (int i = 0; i < 100; ++i, lba += 65535) {
    ScsiPassThroughRequest erase = Scsi16Erase(lba, 65535);
    ASSERT_TRUE(bench.ScsiPassThrough(h, erase));
    ASSERT_EQ(erase.ScsiStatus, 0) << lba;
  }
  EXPECT_FALSE(bench.Drive(0).IsZeroed(0, setup.total_sectors));
  while (lba < setup.total_sectors) {
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(0xFFFFFFFF, setup.total_sectors - lba));
    ScsiPassThroughRequest erase = Scsi16Erase(lba, n);
    ASSERT_TRUE(bench.ScsiPassThrough(h, erase));
    ASSERT_EQ(erase.ScsiStatus, 0) << lba;
    lba += n;
  }
  EXPECT_TRUE(bench.Drive(0).IsZeroed(0, setup.total_sectors));
  ScsiPassThroughRequest past = Scsi16Erase(setup.total_sectors - 1, 2);
  ASSERT_TRUE(bench.ScsiPassThrough(h, past));
  EXPECT_EQ(past.ScsiStatus, 2);
}

struct StoreCase {
  const char* name;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> fills;  // first, count; data = index+1
  std::vector<std::pair<std::uint64_t, int>> expect;           // lba, data index+1 or 0
  std::size_t runs;
};

class SimSectorStore : public ::testing::TestWithParam<StoreCase> {};

TEST_P(SimSectorStore, RunsSplitAndJoin) {
  const StoreCase& c = GetParam();
  SectorStore store;
  for (std::size_t i = 0; i < c.fills.size(); ++i) {
    Sector data{};
    data.fill(static_cast<std::uint8_t>(i + 1));
    store.Fill(c.fills[i].first, c.fills[i].second, data);
  }
  for (const auto& [lba, which] : c.expect) {
    const Sector* found = store.Find(lba);
    if (which == 0) {
      EXPECT_EQ(found, nullptr) << lba;
    } else {
      ASSERT_NE(found, nullptr) << lba;
      EXPECT_EQ((*found)[100], which) << lba;
    }
  }
  EXPECT_EQ(store.run_count(), c.runs);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimSectorStore,
    ::testing::Values(
        StoreCase{"single", {{10, 5}}, {{9, 0}, {10, 1}, {14, 1}, {15, 0}}, 1},
        StoreCase{"middle", {{10, 10}, {13, 2}}, {{12, 1}, {13, 2}, {14, 2}, {15, 1}, {19, 1}}, 3},
        StoreCase{"covers", {{10, 2}, {20, 2}, {5, 30}}, {{4, 0}, {5, 3}, {21, 3}, {34, 3}, {35, 0}}, 1},
        StoreCase{"tails", {{10, 10}, {20, 10}, {15, 10}}, {{14, 1}, {15, 3}, {24, 3}, {25, 2}}, 3}),
    [](const ::testing::TestParamInfo<StoreCase>& param_info) {
      return std::string(param_info.param.name);
    });

TEST(SimSectorStoreJoin, TouchingRunsOfEqualDataBecomeOne) {
  SectorStore store;
  Sector zero{};
  for (std::uint64_t lba = 0; lba < 10 * 65535; lba += 65535) store.Fill(lba, 65535, zero);
  EXPECT_EQ(store.run_count(), 1u);
  EXPECT_TRUE(store.IsZeroed(0, 10 * 65535));
  EXPECT_FALSE(store.IsZeroed(0, 10 * 65535 + 1));
  Sector ones{};
  ones.fill(1);
  store.Fill(65535 * 3, 1, ones);
  EXPECT_EQ(store.run_count(), 3u);
  EXPECT_FALSE(store.IsZeroed(0, 10 * 65535));
  EXPECT_TRUE(store.IsZeroed(65535 * 3 + 1, 100));
}

}  // namespace
}  // namespace plovix::sim
