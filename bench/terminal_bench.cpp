// The terminal back end's own costs, in the dev build the demo runs: opening the Log View
// on a drive log of 100,000 records, one PgDn in it, and a full redraw of the main window.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/CPlovixApp.h"
#include "bench/BenchLogDir.h"
#include "faces/scripted/ScriptedBackend.h"
#include "faces/terminal/Canvas.h"
#include "faces/terminal/Input.h"
#include "faces/terminal/Render.h"
#include "reports/DriveLog.h"
#include "reports/LogReport.h"
#include "resources/ResourceIds.h"
#include "devices/sim/Bench.h"
#include "devices/sim/DemoBench.h"

namespace {

using namespace ui::terminal;

using plovix::bench::LogDir;
constexpr int kRecords = plovix::bench::kLogRecords;

void SetUp(plovix::CDispLog& dlg) {
  dlg.serial = "BENCHLOG02";
  dlg.model = "Orvane OD1000-HX";
  dlg.firmware = "HX02B1";
  dlg.total_sectors = 1953525168;
  dlg.smart_verdict = plovix::SmartVerdict::Healthy;
}

// From DoModal to the first frame on a 160 x 50 screen: the report is built, handed to
// the edit and its lines split, and what is seen is drawn.
void BM_LogViewOpen100k(benchmark::State& state) {
  LogDir dir("plovix_term_bench_", "BENCHLOG02");
  for (auto _ : state) {
    ui::scripted::ScriptedBackend ui;
    std::chrono::steady_clock::time_point start;
    double seconds = 0;
    ui.Expect(plovix::ids::kLogViewTemplate).Do([&](ui::Dialog& d) {
      Canvas canvas(160, 50);
      DialogView view;
      view.focus = InitialFocus(d);
      DrawDialog(canvas, d, view, true);
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      benchmark::DoNotOptimize(canvas.Row(25));
    }).Press(ui::IDOK);
    plovix::CDispLog dlg;
    SetUp(dlg);
    start = std::chrono::steady_clock::now();
    dlg.DoModal();
    state.SetIterationTime(seconds);
  }
  state.counters["records"] = kRecords;
}
BENCHMARK(BM_LogViewOpen100k)->UseManualTime()->Unit(benchmark::kMillisecond);

// One PgDn in that report, focus on "Close" as the dialog opens, and the redraw it asks for.
void BM_LogViewPageDown100k(benchmark::State& state) {
  LogDir dir("plovix_term_bench_", "BENCHLOG02");
  ui::scripted::ScriptedBackend ui;
  int lines = 0;
  ui.Expect(plovix::ids::kLogViewTemplate).Do([&](ui::Dialog& d) {
    Canvas canvas(160, 50);
    DialogView view;
    view.focus = InitialFocus(d);
    DrawDialog(canvas, d, view, true);
    int last_top = -1;
    for (auto _ : state) {
      HandleDialogKey(d, view, KeyEvent{Key::PageDown});
      canvas.Clear();
      DrawDialog(canvas, d, view, true);
      // At the end of the report, back to its start.
      const int top = view.edit_top.begin()->second;
      if (top == last_top) HandleDialogKey(d, view, KeyEvent{Key::Home});
      last_top = top;
    }
    lines = static_cast<int>(view.text_lines.begin()->second.lines.size());
  }).Press(ui::IDOK);
  plovix::CDispLog dlg;
  SetUp(dlg);
  dlg.DoModal();
  state.counters["lines"] = lines;
}
BENCHMARK(BM_LogViewPageDown100k)->Unit(benchmark::kMillisecond);

// The main window of the demo bench drawn whole on a 160 x 50 screen.
void BM_MainWindowRedraw160x50(benchmark::State& state) {
  plovix::sim::Bench bench;
  plovix::sim::BuildDemoBench(bench);
  ui::scripted::ScriptedBackend ui;
  bench.SetClock([&ui] { return ui.now_ms(); });
  ui.Expect(plovix::ids::kMainTemplate).Do([&](ui::Dialog& d) {
    Canvas canvas(160, 50);
    DialogView view;
    view.focus = InitialFocus(d);
    for (auto _ : state) {
      canvas.Clear();
      DrawDialog(canvas, d, view, true);
      DrawKeyHint(canvas, DialogKeyHint(d, view, true));
      benchmark::DoNotOptimize(canvas.At(80, 25));
    }
  }).Escape();
  plovix::CPlovixApp(bench, bench).InitInstance();
}
BENCHMARK(BM_MainWindowRedraw160x50)->Unit(benchmark::kMillisecond);

}  // namespace
