// The command line's speed: a process that lists the demo bench as JSON, and one that
// prints a drive's metrics, from start to exit; and a 100,000-record report as JSON
// against the same report as text.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "bench/BenchLogDir.h"
#include "faces/command/CommandLine.h"
#include "devices/sim/Bench.h"
#include "ui/Backend.h"

extern char** environ;

namespace {

// Runs the demo program with these arguments, its output thrown away; false when it
// could not be started or exited with a status that says it failed to run.
bool RunDemo(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::string program = PLOVIX_DEMO_PATH;
  argv.push_back(program.data());
  std::vector<std::string> copies = args;
  for (auto& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && (WEXITSTATUS(status) & 1) == 0;
}

void BM_ProcessListJson(benchmark::State& state) {
  for (auto _ : state) {
    if (!RunDemo({"--list", "--json"})) state.SkipWithError("Plovix-demo --list --json failed");
  }
}
BENCHMARK(BM_ProcessListJson)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ProcessSmartPrometheus(benchmark::State& state) {
  for (auto _ : state) {
    if (!RunDemo({"--smart", "2", "--prometheus"})) state.SkipWithError("Plovix-demo --smart failed");
  }
}
BENCHMARK(BM_ProcessSmartPrometheus)->Unit(benchmark::kMillisecond)->UseRealTime();

// Counts what is written and keeps nothing, as a pipe to a reader would.
class CountingBuffer : public std::streambuf {
 public:
  std::size_t count = 0;

 protected:
  int_type overflow(int_type c) override {
    ++count;
    return c;
  }
  std::streamsize xsputn(const char*, std::streamsize n) override {
    count += static_cast<std::size_t>(n);
    return n;
  }
};

void Report(benchmark::State& state, bool json) {
  plovix::bench::LogDir dir("plovix_bench_cli_", "BENCHLOG01");
  plovix::sim::Bench bench;
  plovix::sim::DriveSpec drive;
  drive.model = "BENCH MODEL";
  drive.serial = "BENCHLOG01";
  drive.firmware = "1.00";
  drive.total_sectors = std::uint64_t{1} << 30;
  bench.AddSata(1, drive);
  std::vector<const char*> argv = {"Plovix-demo", "--report", "1"};
  if (json) argv.push_back("--json");
  std::size_t bytes = 0;
  for (auto _ : state) {
    CountingBuffer sink;
    std::ostream out(&sink);
    std::ostream err(&sink);
    plovix::command::Setup setup;
    setup.io = &bench;
    setup.catalog = &bench;
    setup.real_time = false;
    setup.out = &out;
    setup.err = &err;
    plovix::command::RunCommandLine(static_cast<int>(argv.size()), argv.data(), setup);
    bytes = sink.count;
  }
  state.counters["output_MiB"] = static_cast<double>(bytes) / (1024.0 * 1024.0);
}

void BM_Report100kText(benchmark::State& state) { Report(state, false); }
void BM_Report100kJson(benchmark::State& state) { Report(state, true); }
BENCHMARK(BM_Report100kText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Report100kJson)->Unit(benchmark::kMillisecond);

}  // namespace
