// How the surface scans and the disk erase split the disk into commands, and how far
// along the progress bars are. Pure arithmetic, shared by the workers and the tests.
#pragma once

#include <cstdint>
#include <vector>

namespace plovix {

// One command's worth of sectors.
struct SectorRun {
  std::uint64_t lba = 0;
  std::uint32_t count = 0;
  bool operator==(const SectorRun&) const = default;
};

// The inclusive span first..last, cut into runs of 65535 sectors with a shorter last
// run. Indexed rather than listed, so a 48-bit disk needs no list of millions of runs.
class RunPlan {
 public:
  static constexpr std::uint64_t kRunSectors = 65535;

  RunPlan(std::uint64_t first, std::uint64_t last);
  std::uint64_t size() const { return full_runs_ + 1; }
  SectorRun operator[](std::uint64_t k) const;
  std::vector<SectorRun> ToList() const;

 private:
  std::uint64_t first_;
  std::uint64_t full_runs_;   // Q
  std::uint32_t last_count_;  // R + 1
};

// An inclusive span of LBAs.
struct SectorSpan {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  bool operator==(const SectorSpan&) const = default;
};

inline constexpr int kSurfaceShort = 1;
inline constexpr int kSurfaceLong = 2;

// What a surface scan of the given kind reads, in order: the whole disk for the long
// scan; the first tenth and then the last tenth for the short one (the second phase
// dropped on a one-sector disk). Empty for an empty disk.
std::vector<SectorSpan> SurfaceSpans(int kind, std::uint64_t total_sectors);
// Every command of a scan that meets no bad sector and no abort, in order.
std::vector<SectorRun> SurfaceRunList(int kind, std::uint64_t total_sectors);
// Every run of a disk erase, in order.
std::vector<SectorRun> EraseRunList(std::uint64_t total_sectors);

// Progress bar position (0..99) of a surface scan whose worker is at current_lba. The
// short scan maps its first phase onto the left half of the bar and the last tenth of
// the disk onto the right half.
int SurfaceProgress(int kind, std::uint64_t current_lba, std::uint64_t total_sectors);
// Progress bar position of the disk erase.
int EraseProgress(std::uint64_t current_lba, std::uint64_t total_sectors);

}  // namespace plovix
