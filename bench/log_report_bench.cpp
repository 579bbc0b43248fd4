// Time and peak heap of building the report of a drive log with 100,000 records.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

#include "bench/BenchLogDir.h"
#include "reports/DriveLog.h"
#include "reports/LogReport.h"

// A counting allocator for this binary: live bytes and their high-water mark.
namespace {
std::atomic<std::int64_t> g_live{0};
std::atomic<std::int64_t> g_peak{0};

void* CountedAlloc(std::size_t n) {
  // The size sits in front of the block so delete can subtract it.
  void* raw = std::malloc(n + 16);
  if (raw == nullptr) throw std::bad_alloc();
  *static_cast<std::size_t*>(raw) = n;
  const std::int64_t live = g_live.fetch_add(static_cast<std::int64_t>(n)) +
                            static_cast<std::int64_t>(n);
  std::int64_t peak = g_peak.load();
  while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
  }
  return static_cast<char*>(raw) + 16;
}

void CountedFree(void* p) {
  if (p == nullptr) return;
  void* raw = static_cast<char*>(p) - 16;
  g_live.fetch_sub(static_cast<std::int64_t>(*static_cast<std::size_t*>(raw)));
  std::free(raw);
}
}  // namespace

void* operator new(std::size_t n) { return CountedAlloc(n); }
void* operator new[](std::size_t n) { return CountedAlloc(n); }
void operator delete(void* p) noexcept { CountedFree(p); }
void operator delete[](void* p) noexcept { CountedFree(p); }
void operator delete(void* p, std::size_t) noexcept { CountedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { CountedFree(p); }

namespace {

using plovix::bench::LogDir;
constexpr int kRecords = plovix::bench::kLogRecords;

void BM_LogReport100k(benchmark::State& state) {
  LogDir dir("plovix_bench_", "BENCHLOG01");
  std::int64_t peak_delta = 0;
  std::size_t chars = 0;
  for (auto _ : state) {
    const std::int64_t before = g_live.load();
    g_peak.store(before);
    std::string report = plovix::BuildLogReportText("BENCHLOG01", "BENCH MODEL", "1.00",
                                                    std::uint64_t{1} << 30,
                                                    plovix::SmartVerdict::Healthy, 1331715907,
                                                    "\r\n");
    peak_delta = g_peak.load() - before;
    chars = report.size();
    benchmark::DoNotOptimize(report);
  }
  state.counters["peak_heap_MiB"] = static_cast<double>(peak_delta) / (1024.0 * 1024.0);
  state.counters["report_MiB"] = static_cast<double>(chars) / (1024.0 * 1024.0);
  state.counters["records"] = kRecords;
}
BENCHMARK(BM_LogReport100k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
