// The drive table queries.
#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <vector>

#include "inventory/DriveRecord.h"

namespace plovix {
namespace {

struct FindCase {
  const char* name;
  std::vector<int> numbers;
  std::int32_t count_override;  // -100: use the real count
  int wanted;
  int slot;
};

void PrintTo(const FindCase& c, std::ostream* os) { *os << c.name; }

class FindTest : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindTest, FindsOnlyValidRecords) {
  const FindCase& c = GetParam();
  DriveTable t;
  for (int n : c.numbers) t.records[t.count++].drive_number = static_cast<std::uint8_t>(n);
  if (c.count_override != -100) t.count = c.count_override;
  EXPECT_EQ(FindSlotByDriveNumber(t, c.wanted), c.slot);
  const DriveRecord* r = FindByDriveNumber(t, c.wanted);
  if (c.slot < 0) {
    EXPECT_EQ(r, nullptr);
  } else {
    EXPECT_EQ(r, &t.records[c.slot]);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tables, FindTest,
    ::testing::Values(FindCase{"EmptyTableHasNoDriveZero", {}, -100, 0, -1},
                      FindCase{"DriveZeroPresent", {0, 2, 5}, -100, 0, 0},
                      FindCase{"Middle", {0, 2, 5}, -100, 2, 1},
                      FindCase{"Last", {1, 2, 31}, -100, 31, 2},
                      FindCase{"Absent", {1, 2, 5}, -100, 3, -1},
                      FindCase{"ZeroInEmptySlotAfterCount", {4, 6}, -100, 0, -1},
                      FindCase{"RecordBeyondCountIgnored", {4, 6, 9}, 2, 9, -1},
                      FindCase{"NegativeCount", {4}, -3, 4, -1},
                      FindCase{"FirstOfDuplicates", {3, 3}, -100, 3, 0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(FindTest, FullTableOfThirtyTwo) {
  DriveTable t;
  for (int i = 0; i < kMaxDrives; ++i) t.records[t.count++].drive_number = static_cast<std::uint8_t>(i);
  EXPECT_EQ(FindSlotByDriveNumber(t, 31), 31);
  t.count = 1000;  // a damaged count never reads past the table
  EXPECT_EQ(FindSlotByDriveNumber(t, 32), -1);
}

TEST(CapacityTest, WholeGigabytesOf512ByteSectors) {
  const struct {
    std::uint64_t sectors;
    std::uint32_t gb;
  } cases[] = {{0, 0},
               {(1ULL << 21) - 1, 0},
               {1ULL << 21, 1},
               {7814037168ULL, 3726},
               {976773168ULL, 465},
               {(0xFFFFFFFFULL << 21) | 0x1FFFFF, 0xFFFFFFFFu},
               {1ULL << 53, 0}};  // held as 32 bits
  for (const auto& c : cases) {
    EXPECT_EQ(CapacityGb(c.sectors), c.gb) << c.sectors;
    DriveRecord r;
    r.total_sectors = c.sectors;
    EXPECT_EQ(CapacityGb(r), c.gb) << c.sectors;
  }
}

TEST(SmartUsableTest, NeedsAllFourFlags) {
  for (int mask = 0; mask < 16; ++mask) {
    DriveRecord r;
    r.smart_selftest_default = mask & 1;
    r.smart_selftest_supported = (mask >> 1) & 1;
    r.smart_enabled = (mask >> 2) & 1;
    r.smart_supported = (mask >> 3) & 1;
    EXPECT_EQ(IsSmartUsable(r), mask == 15) << mask;
  }
}

}  // namespace
}  // namespace plovix
