// Run plans and progress bar positions of the surface scans and the disk erase.
#include <cstdint>
#include <numeric>
#include <vector>

#include <gtest/gtest.h>

#include "diagnostics/RunPlan.h"

namespace plovix {
namespace {

constexpr std::uint64_t kRun = 65535;
constexpr std::uint64_t k4TB = 7814037168;  // sectors of a 4 TB drive

struct PlanCase {
  const char* name;
  std::uint64_t total;
  std::vector<SectorRun> runs;
};

class WholeDiskPlan : public ::testing::TestWithParam<PlanCase> {};

// The erase and the long scan split the whole disk the same way.
TEST_P(WholeDiskPlan, EraseAndLongScanCoverTheDiskInRuns) {
  const PlanCase& c = GetParam();
  EXPECT_EQ(EraseRunList(c.total), c.runs);
  EXPECT_EQ(SurfaceRunList(kSurfaceLong, c.total), c.runs);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, WholeDiskPlan,
    ::testing::Values(
        PlanCase{"one_sector", 1, {{0, 1}}},
        PlanCase{"one_full_run", kRun, {{0, 65535}}},
        PlanCase{"one_more_than_a_run", kRun + 1, {{0, 65535}, {65535, 1}}},
        PlanCase{"three_runs_and_five",
                 3 * kRun + 5,
                 {{0, 65535}, {65535, 65535}, {2 * kRun, 65535}, {3 * kRun, 5}}},
        PlanCase{"empty", 0, {}}),
    [](const auto& p) { return std::string(p.param.name); });

// Runs are contiguous, never longer than 65535 sectors, and end on the last sector.
void ExpectTiles(const RunPlan& plan, std::uint64_t first, std::uint64_t last) {
  std::uint64_t next = first;
  for (std::uint64_t k = 0; k < plan.size(); ++k) {
    const SectorRun run = plan[k];
    ASSERT_EQ(run.lba, next) << "run " << k;
    ASSERT_GE(run.count, 1u);
    ASSERT_LE(run.count, kRun);
    if (k + 1 < plan.size()) {
      ASSERT_EQ(run.count, kRun) << "run " << k;
    }
    next = run.lba + run.count;
  }
  EXPECT_EQ(next, last + 1);
}

TEST(RunPlanLarge, FourTerabyteDriveIsTiledExactly) {
  const RunPlan plan(0, k4TB - 1);
  EXPECT_EQ(plan.size(), (k4TB + kRun - 1) / kRun);
  ExpectTiles(plan, 0, k4TB - 1);
  EXPECT_EQ(plan[plan.size() - 1], (SectorRun{(plan.size() - 1) * kRun,
                                              static_cast<std::uint32_t>(k4TB % kRun)}));
}

TEST(RunPlanLarge, FullFortyEightBitDiskNeedsNoList) {
  const std::uint64_t total = std::uint64_t{1} << 48;
  const RunPlan plan(0, total - 1);
  EXPECT_EQ(plan.size(), (total + kRun - 1) / kRun);
  const SectorRun last = plan[plan.size() - 1];
  EXPECT_EQ(last.lba + last.count, total);
}

struct ShortCase {
  const char* name;
  std::uint64_t total;
  std::vector<SectorSpan> spans;
};

class ShortScanSpans : public ::testing::TestWithParam<ShortCase> {};

TEST_P(ShortScanSpans, FirstTenthThenLastTenth) {
  const ShortCase& c = GetParam();
  EXPECT_EQ(SurfaceSpans(kSurfaceShort, c.total), c.spans);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ShortScanSpans,
    ::testing::Values(ShortCase{"one_sector_skips_phase_two", 1, {{0, 0}}},
                      ShortCase{"five_sectors_rereads_from_zero", 5, {{0, 0}, {0, 4}}},
                      ShortCase{"ten_sectors", 10, {{0, 1}, {0, 9}}},
                      ShortCase{"thousand", 1000, {{0, 100}, {900, 999}}},
                      ShortCase{"not_a_multiple_of_hundred", 1099, {{0, 109}, {900, 1098}}},
                      ShortCase{"four_terabytes",
                                k4TB,
                                {{0, k4TB / 10}, {(k4TB / 100) * 90, k4TB - 1}}},
                      ShortCase{"empty", 0, {}}),
    [](const auto& p) { return std::string(p.param.name); });

std::uint64_t Sectors(const std::vector<SectorRun>& runs) {
  return std::accumulate(runs.begin(), runs.end(), std::uint64_t{0},
                         [](std::uint64_t s, const SectorRun& r) { return s + r.count; });
}

TEST(ShortScanRuns, MultipleOfHundredReadsTwoTenthsPlusOneSector) {
  const std::uint64_t total = 2000000;
  const auto runs = SurfaceRunList(kSurfaceShort, total);
  // Phase 1: 0..200000 (200001 sectors, 4 runs); phase 2: 1800000..1999999 (4 runs).
  ASSERT_EQ(runs.size(), 8u);
  EXPECT_EQ(runs[0], (SectorRun{0, 65535}));
  EXPECT_EQ(runs[3], (SectorRun{3 * kRun, 200001 - 3 * kRun}));
  EXPECT_EQ(runs[4], (SectorRun{1800000, 65535}));
  EXPECT_EQ(runs[7], (SectorRun{1800000 + 3 * kRun, 200000 - 3 * kRun}));
  EXPECT_EQ(Sectors(runs), total / 10 + 1 + total / 10);
}

struct ProgressCase {
  int kind;
  std::uint64_t lba;
  std::uint64_t total;
  int expected;
};

class ProgressBar : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(ProgressBar, Position) {
  const ProgressCase& c = GetParam();
  EXPECT_EQ(SurfaceProgress(c.kind, c.lba, c.total), c.expected)
      << "kind " << c.kind << " lba " << c.lba << " of " << c.total;
}

INSTANTIATE_TEST_SUITE_P(
    Formula, ProgressBar,
    ::testing::Values(
        // Short scan: phase 1 fills the left half, phase 2 the right half.
        ProgressCase{kSurfaceShort, 0, 100, 0}, ProgressCase{kSurfaceShort, 2, 100, 10},
        ProgressCase{kSurfaceShort, 10, 100, 50}, ProgressCase{kSurfaceShort, 11, 100, 11},
        ProgressCase{kSurfaceShort, 89, 100, 89}, ProgressCase{kSurfaceShort, 90, 100, 50},
        ProgressCase{kSurfaceShort, 99, 100, 95},
        // Phase 2 of a disk that is no multiple of 100 starts below 90 percent.
        ProgressCase{kSurfaceShort, 900, 1099, 81},
        // Long scan: the plain percentage.
        ProgressCase{kSurfaceLong, 0, 100, 0}, ProgressCase{kSurfaceLong, 50, 100, 50},
        ProgressCase{kSurfaceLong, 99, 100, 99},
        // 48-bit addresses do not overflow the product.
        ProgressCase{kSurfaceLong, (std::uint64_t{1} << 48) - 1, std::uint64_t{1} << 48, 99},
        ProgressCase{kSurfaceShort, (std::uint64_t{1} << 48) - 1, std::uint64_t{1} << 48, 95},
        ProgressCase{kSurfaceLong, 0, 0, 0}));

TEST(EraseProgressBar, PercentOfDisk) {
  EXPECT_EQ(EraseProgress(0, k4TB), 0);
  EXPECT_EQ(EraseProgress(k4TB / 2, k4TB), 50);
  EXPECT_EQ(EraseProgress(k4TB - 1, k4TB), 99);
  EXPECT_EQ(EraseProgress(5, 0), 0);
}

}  // namespace
}  // namespace plovix
