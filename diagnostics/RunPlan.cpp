#include "diagnostics/RunPlan.h"

namespace plovix {

RunPlan::RunPlan(std::uint64_t first, std::uint64_t last)
    : first_(first),
      full_runs_((last - first) / kRunSectors),
      last_count_(static_cast<std::uint32_t>((last - first) % kRunSectors + 1)) {}

SectorRun RunPlan::operator[](std::uint64_t k) const {
  const std::uint32_t count =
      k < full_runs_ ? static_cast<std::uint32_t>(kRunSectors) : last_count_;
  return SectorRun{first_ + kRunSectors * k, count};
}

std::vector<SectorRun> RunPlan::ToList() const {
  std::vector<SectorRun> runs;
  runs.reserve(size());
  for (std::uint64_t k = 0; k < size(); ++k) runs.push_back((*this)[k]);
  return runs;
}

std::vector<SectorSpan> SurfaceSpans(int kind, std::uint64_t total_sectors) {
  const std::uint64_t t = total_sectors;
  if (t == 0) return {};
  if (kind != kSurfaceShort) return {SectorSpan{0, t - 1}};
  std::vector<SectorSpan> spans{SectorSpan{0, t / 10}};
  // On disks of 2 to 10 sectors the second phase starts at 0 again; that repeat read
  // is harmless and keeps both phases the same shape on every disk.
  if (t != 1) spans.push_back(SectorSpan{(t / 100) * 90, t - 1});
  return spans;
}

std::vector<SectorRun> SurfaceRunList(int kind, std::uint64_t total_sectors) {
  std::vector<SectorRun> runs;
  for (const SectorSpan& span : SurfaceSpans(kind, total_sectors)) {
    const auto part = RunPlan(span.first, span.last).ToList();
    runs.insert(runs.end(), part.begin(), part.end());
  }
  return runs;
}

std::vector<SectorRun> EraseRunList(std::uint64_t total_sectors) {
  if (total_sectors == 0) return {};
  return RunPlan(0, total_sectors - 1).ToList();
}

namespace {
// LBAs are 48-bit, so the product cannot overflow 64 bits.
std::uint64_t Percent(std::uint64_t current_lba, std::uint64_t total_sectors) {
  return (current_lba * 100) / total_sectors;
}
}  // namespace

int SurfaceProgress(int kind, std::uint64_t current_lba, std::uint64_t total_sectors) {
  if (total_sectors == 0) return 0;
  const auto p = static_cast<int>(Percent(current_lba, total_sectors));
  if (kind != kSurfaceShort) return p;
  if (p <= 10) return 5 * p;
  if (p < 90) return p;
  return 5 * p - 400;
}

int EraseProgress(std::uint64_t current_lba, std::uint64_t total_sectors) {
  if (total_sectors == 0) return 0;
  return static_cast<int>(Percent(current_lba, total_sectors));
}

}  // namespace plovix
