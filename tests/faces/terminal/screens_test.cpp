// Every dialog of the program, reached through its real flow on a bench and drawn by the
// terminal back end at 160x50, 120x40 and 80x24, read as a person reads the screen:
// labels beside their values, nothing drawn over anything else, no text that fits cut,
// and one focused control.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "diagnostics/CTestResult.h"
#include "diagnostics/Surface.h"
#include "diagnostics/WorkerDialog.h"
#include "faces/scripted/ScriptedBackend.h"
#include "faces/terminal/Canvas.h"
#include "faces/terminal/Layout.h"
#include "faces/terminal/Render.h"
#include "faces/terminal/Text.h"
#include "devices/sim/Bench.h"
#include "devices/sim/DemoBench.h"
#include "resources/ResourceIds.h"
#include "tests/support/main_window_rig.h"
#include "tests/support/utils_rig.h"

namespace {

using namespace ui::terminal;
namespace fs = std::filesystem;
namespace ids = plovix::ids;

struct Size {
  int cols;
  int rows;
};
constexpr Size kSizes[] = {{160, 50}, {120, 40}, {80, 24}};

std::string Trimmed(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  std::replace(text.begin(), text.end(), '\n', ' ');
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string Squeezed(const std::string& text) {
  std::istringstream in(text);
  std::string word;
  std::string out;
  while (in >> word) out += (out.empty() ? "" : " ") + word;
  return out;
}

struct Hit {
  int x;
  int y;
};

// The screen's rows as text, with the byte where each cell starts, so that searching
// is a string search.
struct ScreenText {
  std::vector<std::string> rows;
  std::vector<std::vector<std::size_t>> starts;  // by row, by cell
  explicit ScreenText(const Canvas& canvas) {
    for (int y = 0; y < canvas.height(); ++y) {
      std::string row;
      std::vector<std::size_t> at;
      for (int x = 0; x < canvas.width(); ++x) {
        at.push_back(row.size());
        row += canvas.At(x, y).glyph;
      }
      rows.push_back(std::move(row));
      starts.push_back(std::move(at));
    }
  }
};

// Every place text starts on the screen, in cell columns.
std::vector<Hit> FindAll(const ScreenText& screen, const std::string& text) {
  std::vector<Hit> hits;
  if (text.empty()) return hits;
  for (std::size_t y = 0; y < screen.rows.size(); ++y) {
    const auto& starts = screen.starts[y];
    for (std::size_t at = screen.rows[y].find(text); at != std::string::npos; at = screen.rows[y].find(text, at + 1)) {
      const auto cell = std::lower_bound(starts.begin(), starts.end(), at);
      if (cell != starts.end() && *cell == at) hits.push_back({static_cast<int>(cell - starts.begin()), static_cast<int>(y)});
    }
  }
  return hits;
}

// The row's text between two columns.
std::string Cut(const Canvas& canvas, int y, int x0, int x1) {
  std::string out;
  for (int x = x0; x < x1; ++x) out += canvas.At(x, y).glyph;
  return out;
}

// A text shown whole, or cut with the ellipsis after a prefix of it.
bool ShownWholeOrMarked(const ScreenText& canvas, const std::string& text, bool& whole) {
  whole = !FindAll(canvas, text).empty();
  if (whole) return true;
  const std::string ellipsis = CurrentGlyphs().ellipsis;
  for (std::size_t n = text.size(); n-- > 1;) {
    if ((static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) continue;
    std::string prefix = text.substr(0, n);
    while (!prefix.empty() && prefix.back() == ' ') prefix.pop_back();
    if (!FindAll(canvas, prefix + ellipsis).empty()) return true;
  }
  return false;
}

struct Screen {
  Canvas canvas;
  DialogView view;
};

Screen Draw(ui::Dialog& d, Size size, int focus) {
  Screen s{Canvas(size.cols, size.rows), DialogView{}};
  s.view.focus = focus;
  DrawDialog(s.canvas, d, s.view, true);
  return s;
}

std::string Dump(const Canvas& canvas) {
  std::string out;
  for (int y = 0; y < canvas.height(); ++y) out += canvas.Row(y) + "\n";
  return out;
}

// The controls drawn as focused inside the window (its caption row left out): reversed
// cells, the focus marks, the double frame.
std::set<int> FocusedOwners(const Screen& s) {
  const Glyphs& g = CurrentGlyphs();
  const std::set<std::string> marks = {g.focus_in, g.focus_out, g.fh, g.fv, g.ftl, g.ftr, g.fbl, g.fbr};
  std::set<int> owners;
  const Cells client = s.view.placement.client;
  for (int y = client.y; y < client.y + client.h; ++y) {
    for (int x = client.x; x < client.x + client.w; ++x) {
      const Cell& cell = s.canvas.At(x, y);
      if (cell.attr.reverse || marks.count(cell.glyph) != 0) owners.insert(cell.owner);
    }
  }
  return owners;
}

// A window that widens for its caption keeps every control where the template's own
// caption has it (up to one column, the halves of an odd widening), so the template's
// client sits in the middle of the wider one.
void ExpectPlacesKeptUnderTheCaption(ui::Dialog& d, Size size, const Screen& named) {
  const std::string caption = d.caption();
  d.SetCaption(d.dialog_template()->caption);
  const Screen plain = Draw(d, size, InitialFocus(d));
  d.SetCaption(caption);
  const Cells wide = named.view.placement.client;
  const Cells narrow = plain.view.placement.client;
  int dx = 0;
  bool first = true;
  for (std::size_t i = 0; i < plain.view.layout.cells.size(); ++i) {
    const Cells a = plain.view.layout.cells[i];
    const Cells b = named.view.layout.cells[i];
    if (a.w == 0) continue;
    if (first) dx = b.x - a.x;
    first = false;
    EXPECT_TRUE((Cells{b.x - dx, b.y, b.w, b.h}) == a)
        << "control " << i << " moved apart from the others: " << a.x << "," << a.y << " " << a.w << "x" << a.h
        << " became " << b.x << "," << b.y << " " << b.w << "x" << b.h;
  }
  EXPECT_LE(std::abs(dx), 1);
  const int left = narrow.x + dx - wide.x;
  const int right = wide.x + wide.w - (narrow.x + dx + narrow.w);
  EXPECT_GE(left, 0);
  EXPECT_GE(right, 0);
  EXPECT_LE(std::abs(left - right), 1) << "template client not centred: " << left << " | " << right;
}

// Lists whose columns must always be readable whole (the main window's model, serial,
// capacity and status), by control id.
struct Demands {
  std::vector<int> whole_columns;
};

void ExpectReadable(ui::Dialog& d, const Demands& demands = {}) {
  const auto& controls = d.controls();
  for (const Size size : kSizes) {
    const std::string where =
        "dialog " + std::to_string(d.template_id()) + " at " + std::to_string(size.cols) + "x" +
        std::to_string(size.rows);
    const Screen s = Draw(d, size, InitialFocus(d));
    const ScreenText text_of(s.canvas);
    const std::string screen = Dump(s.canvas);
    SCOPED_TRACE(where + "\n" + screen);

    // It fits the screen by the back end's own measure, so no "too small" is shown.
    EXPECT_TRUE(DialogFits(d, s.view, {size.cols, size.rows}));
    const ScreenSize need = SmallestFit(d, s.view, {size.cols, size.rows});
    EXPECT_GT(need.cols, 0);
    EXPECT_LE(need.cols, size.cols);
    EXPECT_LE(need.rows, size.rows);
    // Nothing drawn over anything else.
    for (const Overdraw& o : s.canvas.overdraws()) {
      ADD_FAILURE() << "control " << o.second << " draws over control " << o.first << " at " << o.x << ","
                    << o.y;
    }
    // The window stays above the hint row.
    EXPECT_LE(s.view.placement.frame.y + s.view.placement.frame.h, size.rows - kHintRows);

    const Cells client = s.view.placement.client;
    const ui::DialogTemplate& t = *d.dialog_template();
    for (std::size_t i = 0; i < controls.size(); ++i) {
      const ui::Control& c = *controls[i];
      const std::string text = Trimmed(ShownText(c));
      // In the template's own width at this size, or in the window at all.
      const int template_cells = std::max(1, ColumnOf(c.rect().w, s.view.placement.scale));
      if (c.kind() == ui::Kind::Button || (c.kind() == ui::Kind::Static && IsLineStatic(c))) {
        if (text.empty()) continue;
        if (DisplayWidth(text) + 2 <= client.w) {
          EXPECT_FALSE(FindAll(text_of, text).empty()) << "cut: \"" << text << "\"";
        }
      } else if (c.kind() == ui::Kind::Static) {
        if (text.empty()) continue;
        // A paragraph reads in order over the rows its control has.
        const Cells cells = s.view.layout.cells[i];
        std::string shown;
        for (int y = cells.y; y < cells.y + cells.h; ++y) {
          shown += " ";
          for (int x = cells.x; x < cells.x + cells.w; ++x) {
            const Cell& cell = s.canvas.At(x, y);
            shown += cell.owner == static_cast<int>(i) ? cell.glyph : " ";
          }
        }
        EXPECT_EQ(Squeezed(shown), Squeezed(text));
      } else if (c.kind() == ui::Kind::Edit && (c.style() & ui::style::kMultiline) == 0) {
        bool whole = false;
        EXPECT_TRUE(ShownWholeOrMarked(text_of, text, whole)) << "edit " << c.id() << ": \"" << text << "\"";
        if (DisplayWidth(text) <= template_cells) {
          EXPECT_TRUE(whole) << "cut: \"" << text << "\"";
        }
      } else if (c.kind() == ui::Kind::ListView) {
        const auto& list = static_cast<const ui::ListCtrl&>(c);
        const bool roomy = size.cols >= 120;
        const int shown_lines = ListLayout(s.view.layout.cells[i]).body_rows;
        for (int item = list.top_index; item < list.GetItemCount() && item < list.top_index + shown_lines; ++item) {
          for (std::size_t col = 0; col < list.columns().size(); ++col) {
            const std::string cell = list.GetItemText(item, list.columns()[col].subitem);
            if (cell.empty()) continue;
            bool whole = false;
            EXPECT_TRUE(ShownWholeOrMarked(text_of, cell, whole)) << "list line " << item << ": \"" << cell << "\"";
            const bool demanded = std::find(demands.whole_columns.begin(), demands.whole_columns.end(),
                                            static_cast<int>(col)) != demands.whole_columns.end();
            if (roomy || demanded) {
              EXPECT_TRUE(whole) << "cut: \"" << cell << "\"";
            }
          }
        }
      }
    }

    // Labels beside their values, as the template places them: on one row, in order,
    // with a blank between.
    for (std::size_t li = 0; li < t.controls.size(); ++li) {
      const ui::Control& label = *controls[li];
      if (label.kind() != ui::Kind::Static || !IsLineStatic(label) || Trimmed(label.text()).empty()) continue;
      for (std::size_t vi = 0; vi < t.controls.size(); ++vi) {
        const ui::Control& value = *controls[vi];
        if (vi == li || value.kind() == ui::Kind::Button || value.kind() == ui::Kind::ListView) continue;
        const ui::Rect a = label.rect();
        const ui::Rect b = value.rect();
        const int overlap = std::min(a.y + a.h, b.y + b.h) - std::max(a.y, b.y);
        if (overlap * 2 < std::min(a.h, b.h) || b.x < a.x + a.w - 4 || b.x > a.x + a.w + 40) continue;
        const std::string lt = Trimmed(label.text());
        const std::string vt = Trimmed(ShownText(value));
        if (vt.empty()) continue;
        bool beside = false;
        for (const Hit& l : FindAll(text_of, lt)) {
          const int after = l.x + DisplayWidth(lt);
          for (int x = after + 1; x < s.canvas.width() && !beside; ++x) {
            const std::string rest = Cut(s.canvas, l.y, x, s.canvas.width());
            beside = rest.compare(0, std::min<std::size_t>(vt.size(), 3), vt.substr(0, 3)) == 0 &&
                     Cut(s.canvas, l.y, after, x).find_first_not_of(' ') == std::string::npos;
          }
        }
        EXPECT_TRUE(beside) << "\"" << lt << "\" is not beside \"" << vt << "\"";
      }
    }

    // The caption: whole wherever the screen has room for it, else cut with the ellipsis.
    // A frame with the system menu spends 12 columns on "┌[-]─ ", " ─[x]┐".
    bool whole = false;
    EXPECT_TRUE(ShownWholeOrMarked(text_of, d.caption(), whole)) << d.caption();
    const int chrome = (t.style & ui::dstyle::kSysMenu) != 0 ? 12 : 6;
    if (size.cols >= 120 || DisplayWidth(d.caption()) + chrome <= size.cols) {
      EXPECT_TRUE(whole) << "cut: \"" << d.caption() << "\"";
    }
    const Cells frame = s.view.placement.frame;
    EXPECT_GE(frame.x, 0);
    EXPECT_LE(frame.x + frame.w, size.cols);
    ExpectPlacesKeptUnderTheCaption(d, size, s);

    // One focused control, drawn unlike everything else, for each control that takes it.
    for (std::size_t i = 0; i < controls.size(); ++i) {
      if (!IsFocusable(*controls[i])) continue;
      const Screen f = Draw(d, size, static_cast<int>(i));
      EXPECT_EQ(FocusedOwners(f), (std::set<int>{static_cast<int>(i)})) << "focus on control " << i;
    }
  }
}

// A bench like the demo's: a system disk left out, drives with real-looking names, one
// with a failing attribute, one with SMART switched off.
std::vector<plovix::sim::SmartAttr> Attributes(std::uint64_t hours) {
  return {{1, 0x002F, 200, 200, 0, 51},     {3, 0x0027, 176, 172, 4183, 21},
          {4, 0x0032, 99, 99, 1155, 0},     {5, 0x0033, 118, 118, 731, 140},
          {9, 0x0032, 88, 88, hours, 0},    {12, 0x0032, 99, 99, 1043, 0},
          {190, 0x0022, 66, 57, 34, 45},    {194, 0x0022, 113, 104, 34 | 19ull << 16 | 43ull << 32, 0},
          {197, 0x0032, 200, 200, 0, 0},    {198, 0x0030, 100, 253, 0, 0},
          {199, 0x0032, 200, 200, 0, 0}};
}

plovix::sim::DriveSpec Disk(std::string model, std::string serial, std::string firmware, std::uint64_t sectors) {
  plovix::sim::DriveSpec d;
  d.model = std::move(model);
  d.serial = std::move(serial);
  d.firmware = std::move(firmware);
  d.total_sectors = sectors;
  d.attributes = Attributes(10523);
  d.short_test = {0x00, 12000};
  return d;
}

class TerminalScreens : public ::testing::Test, protected plovix::testing_support::MainWindowRig {
 protected:
  TerminalScreens() {
    bench.AddSata(0, Disk("Orvane OD500-SY", "ORV5S1029384", "SY01A2", 976773168));
    bench.AddVolume('C', 0);
    // Small enough that a whole erase or scan takes a moment.
    bench.AddSata(1, Disk("Orvane OD1000-HX", "ORV1H4477120", "HX02B1", 1u << 22));
    bench.AddSata(2, Disk("Kestrel KD2000-LP", "KST2W0093311", "LP7.03", 3907029168));
    plovix::sim::DriveSpec off = Disk("Tessel TS-500A", "TSL0500K7781", "TA10", 976773168);
    off.smart_enabled = false;
    bench.AddSata(3, std::move(off));
    std::error_code error;
    fs::copy_file(fs::path(PLOVIX_SOURCE_DIR) / "HELP.TXT", cwd.path() / "HELP.TXT", error);
  }

  static void WaitForWorker(ui::Dialog& d) {
    auto& worker = dynamic_cast<plovix::WorkerDialog&>(d);
    ASSERT_TRUE(plovix::testing_utils::WaitUntil([&] { return worker.finished.load() != 0; }));
  }

  plovix::testing_utils::TempCwd cwd;
};

const Demands kMainList{{1, 2, 4, 5}};

TEST_F(TerminalScreens, MainWindowHelpAboutAndSmartStatus) {
  ui.Expect(ids::kMainTemplate).Do([](ui::Dialog& d) {
    ExpectReadable(d, kMainList);
    // The longest status the program writes, on a line of its own.
    d.List(ids::main_window::kDriveList).SetItemText(1, 5, "Erase Disk Execute");
    ExpectReadable(d, kMainList);
  }).SystemCommand(ui::IDM_ABOUTBOX);
  ui.Expect(ids::kAboutTemplate).Do([](ui::Dialog& d) { ExpectReadable(d); }).Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate).Press(ids::main_window::kHelp);
  ui.Expect(ids::kHelpTemplate).Do([](ui::Dialog& d) { ExpectReadable(d); }).Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate).DoubleClick(ids::main_window::kDriveList, 0);
  ui.Expect(ids::kSmartTemplate).Do([](ui::Dialog& d) { ExpectReadable(d); }).Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate).DoubleClick(ids::main_window::kDriveList, 1);
  ui.Expect(ids::kSmartTemplate).Do([](ui::Dialog& d) { ExpectReadable(d); }).Press(ui::IDOK);
  // SMART switched off: the warning and the question.
  ui.Expect(ids::kMainTemplate).DoubleClick(ids::main_window::kDriveList, 2);
  ui.Expect(ids::kWarningTemplate).Do([](ui::Dialog& d) { ExpectReadable(d); }).Press(ui::IDOK);
  ui.Expect(ids::kSureTemplate).Do([](ui::Dialog& d) { ExpectReadable(d); }).Press(ui::IDCANCEL);
  ui.Expect(ids::kMainTemplate).Escape();
  plovix::testing_support::RunProgram(bench);
  EXPECT_EQ(ui.pending_steps(), 0u);
}

TEST_F(TerminalScreens, SelfTestDialogs) {
  ui.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kQuickTest);
  ui.Expect(ids::kSelfTestProgressTemplate)
      .Advance(5000)
      .Do([](ui::Dialog& d) { ExpectReadable(d); })
      .Press(ids::selftest_progress::kAbort);
  ui.Expect(ids::kAbortQuestionTemplate)
      .Do([](ui::Dialog& d) { ExpectReadable(d); })
      .Press(ui::IDCANCEL);
  ui.Expect(ids::kSelfTestProgressTemplate).AdvanceUntilClosed(60000);
  ui.Expect(ids::kSelfTestResultTemplate)
      .Do([](ui::Dialog& d) { ExpectReadable(d); })
      .Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate).Do([](ui::Dialog& d) { ExpectReadable(d, kMainList); }).Escape();
  plovix::testing_support::RunProgram(bench);
  EXPECT_EQ(ui.pending_steps(), 0u);
}

TEST_F(TerminalScreens, UtilityDialogs) {
  ui.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 0)
      .Press(ids::main_window::kUtilities);
  ui.Expect(ids::kUtilitiesTemplate)
      .Do([](ui::Dialog& d) { ExpectReadable(d); })
      .Press(ids::utilities::kShortTest);
  ui.Expect(ids::kSurfaceTemplate)
      .Do([](ui::Dialog& d) { ExpectReadable(d); })
      .Do(WaitForWorker)
      .AdvanceUntilClosed(10000);
  ui.Expect(ids::kSurfaceResultTemplate)
      .Do([](ui::Dialog& d) { ExpectReadable(d); })
      .Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate).Press(ids::main_window::kUtilities);
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kLogView);
  ui.Expect(ids::kLogViewTemplate)
      .Do([](ui::Dialog& d) { ExpectReadable(d); })
      .Press(ids::log_view::kSaveToFile);
  ui.Expect(ids::kLogSavedTemplate).Do([](ui::Dialog& d) { ExpectReadable(d); }).Press(ui::IDOK);
  ui.Expect(ids::kLogViewTemplate).Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate).Press(ids::main_window::kUtilities);
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kEraseMbr);
  ui.Expect(ids::kWarningTemplate).Do([](ui::Dialog& d) { ExpectReadable(d); }).Press(ui::IDOK);
  ui.Expect(ids::kSureTemplate).Do([](ui::Dialog& d) { ExpectReadable(d); }).Press(ui::IDOK);
  ui.Expect(ids::kEraseMbrDoneTemplate)
      .Do([](ui::Dialog& d) { ExpectReadable(d); })
      .Press(ui::IDOK);
  ui.ExpectMessageBox("The MBR was erased by operating-system writes.").Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate).Press(ids::main_window::kUtilities);
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kEraseDisk);
  ui.Expect(ids::kWarningTemplate).Press(ui::IDOK);
  ui.Expect(ids::kSureTemplate).Press(ui::IDOK);
  ui.Expect(ids::kEraseDiskTemplate)
      .Do([](ui::Dialog& d) { ExpectReadable(d); })
      .Do(WaitForWorker)
      .AdvanceUntilClosed(10000);
  ui.Expect(ids::kEraseDiskDoneTemplate)
      .Do([](ui::Dialog& d) { ExpectReadable(d); })
      .Press(ui::IDOK);
  ui.ExpectMessageBoxStarting("Erased by operating-system writes.").Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate).Escape();
  plovix::testing_support::RunProgram(bench);
  EXPECT_EQ(ui.pending_steps(), 0u);
}

// A failed scan names its failing run as part of the result, above "Please push ..."
// and the button, at every size down to the smallest that fits.
TEST_F(TerminalScreens, FailedSurfaceScanNamesItsRunAboveTheHintAndButton) {
  plovix::sim::DriveSpec bad = Disk("Brannock BR1000-E", "BRN1E0320456", "E0.4", 1u << 22);
  bad.bad_lbas = {100000};
  bench.AddSata(5, std::move(bad));
  ui.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 3)
      .Press(ids::main_window::kUtilities);
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kShortTest);
  ui.Expect(ids::kSurfaceTemplate).Do(WaitForWorker).AdvanceUntilClosed(10000);
  ui.Expect(ids::kSurfaceResultTemplate).Do([](ui::Dialog& d) {
    ASSERT_EQ(d.GetDlgItemText(ids::surface_result::kFailedRun).rfind("Failing run: LBA ", 0), 0u);
    ExpectReadable(d);
    for (const Size size : {kSizes[0], kSizes[1], kSizes[2], Size{60, 20}}) {
      const Screen s = Draw(d, size, InitialFocus(d));
      SCOPED_TRACE(Dump(s.canvas));
      const int run = s.canvas.Find("Failing run: LBA ").second;
      const int hint = s.canvas.Find("Please push \"EXIT\" to retrun").second;
      const int exit = s.canvas.Find("Exit").second;
      const int surface = s.canvas.Find("SurfaceTest").second;
      EXPECT_LT(surface, run);
      EXPECT_LT(run, hint);
      EXPECT_LT(hint, exit);
      EXPECT_TRUE(s.canvas.overdraws().empty());
    }
  }).Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate).Escape();
  plovix::testing_support::RunProgram(bench);
  EXPECT_EQ(ui.pending_steps(), 0u);
}

// The result texts of a test that did not start, of one still running, and the longest
// note a surface scan can give on reads it made instead of Verify, beside a failing run.
TEST_F(TerminalScreens, ResultTextsOfTestsNotStartedRunningOrReadInstead) {
  plovix::sim::Fault refused_start;
  refused_start.match.drive_number = 1;
  refused_start.match.smart_feature = 0xD4;
  refused_start.effect = plovix::sim::FaultEffect::AtaError;
  bench.AddFault(refused_start);
  ui.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 0)
      .Check(ids::main_window::kDriveList, 1)
      .Press(ids::main_window::kQuickTest);
  ui.Expect(ids::kSelfTestResultTemplate)
      .Do([](ui::Dialog& d) {
        ASSERT_EQ(d.GetDlgItemText(ids::selftest_result::kSelfTest),
                  plovix::kSelfTestNotStartedSentence);
        ExpectReadable(d);
      })
      .Press(ui::IDOK);
  ui.Expect(ids::kSelfTestProgressTemplate).Advance(5000).Escape();
  ui.Expect(ids::kSelfTestResultTemplate).Do([](ui::Dialog& d) {
    ASSERT_EQ(d.GetDlgItemText(ids::selftest_result::kSelfTest), "Test still running in the drive");
    ExpectReadable(d);
  }).Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 1, false)
      .Press(ids::main_window::kUtilities);
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kShortTest);
  ui.Expect(ids::kSurfaceTemplate).Do(WaitForWorker).AdvanceUntilClosed(10000);
  ui.Expect(ids::kSurfaceResultTemplate)
      .Do([](ui::Dialog& d) {
        d.SetDlgItemText(ids::surface_result::kReadsNote,
                         plovix::ReadsInsteadText(plovix::ReadsInstead::SystemRefused,
                                                  (std::uint64_t{1} << 48) - 1));
        d.SetDlgItemText(ids::surface_result::kFailedRun,
                         plovix::FailedRunText({(std::uint64_t{1} << 48) - 65535, 65535}));
        ExpectReadable(d);
      })
      .Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate).Escape();
  plovix::testing_support::RunProgram(bench);
  EXPECT_EQ(ui.pending_steps(), 0u);
}

// The demo's drive list as statuses change under a running test or erase: the frame and
// every column stay where they were, and each status shows whole.
TEST(TerminalDemoList, StandsStillAsStatusesChange) {
  plovix::testing_utils::TempCwd cwd;
  plovix::sim::Bench bench;
  ui::scripted::ScriptedBackend ui;
  bench.SetClock([&ui] { return ui.now_ms(); });
  plovix::sim::BuildDemoBench(bench);
  ui.Expect(ids::kMainTemplate).Do([](ui::Dialog& d) {
    auto& list = d.List(ids::main_window::kDriveList);
    ASSERT_GE(list.GetItemCount(), 3);
    const int list_index = [&] {
      for (std::size_t i = 0; i < d.controls().size(); ++i) {
        if (d.controls()[i]->id() == ids::main_window::kDriveList) return static_cast<int>(i);
      }
      return -1;
    }();
    for (const Size size : kSizes) {
      for (int line = 0; line < list.GetItemCount(); ++line) list.SetItemText(line, 5, "Ready");
      const Screen ready = Draw(d, size, -1);
      const Cells frame = ready.view.layout.cells[static_cast<std::size_t>(list_index)];
      const int header = ListLayout(frame).header_y;
      for (const char* status : {"Now Test Execute", "Erase Disk Execute", "Erase MBR Execute", "Completed",
                                 "Not Supported", "Failure"}) {
        list.SetItemText(1, 5, status);
        const Screen s = Draw(d, size, -1);
        SCOPED_TRACE(std::string(status) + " at " + std::to_string(size.cols) + "\n" + Dump(s.canvas));
        EXPECT_EQ(s.view.layout.cells[static_cast<std::size_t>(list_index)], frame) << "the list's frame moved";
        EXPECT_EQ(s.canvas.Row(header), ready.canvas.Row(header)) << "the columns moved";
        EXPECT_TRUE(s.canvas.RowContains(ListLayout(frame).body_y + 1, status)) << "cut";
      }
    }
  }).Escape();
  plovix::testing_support::RunProgram(bench);
}

// Every dialog about one drive, on drives whose names are long: the NVMe drive, and the
// longest names ATA allows, which 80 columns cannot show beside a caption.
struct LongNameCase {
  const char* name;
  int line;  // in the drive list
  std::string caption;  // " - <number>: <model> <serial>"
};

class TerminalDriveCaptions : public TerminalScreens, public ::testing::WithParamInterface<LongNameCase> {
 protected:
  TerminalDriveCaptions() {
    plovix::sim::NvmeSpec nvme;
    nvme.model = "Kestrel KN1000-PX NVMe";
    nvme.serial = "KSTN1A0827734";
    nvme.firmware = "PX11B3A0";
    nvme.block_count = 1u << 22;  // small, so an erase or a scan takes a moment
    nvme.short_test.duration_ms = 12000;
    bench.AddNvme(7, std::move(nvme));
    bench.AddSata(9, Disk("WDC WD40EFRX-68N32N0 NAS Hard Drive 4 TB", "WD-WCC7K0HX123456789", "82.00A82", 1u << 22));
  }
};

TEST_P(TerminalDriveCaptions, EveryDialogAboutTheDriveNamesItWholeWhereItFits) {
  const int line = GetParam().line;
  const std::string drive = GetParam().caption;
  // Each dialog is read at every size, and must carry the drive's name.
  auto readable = [drive](ui::Dialog& d) {
    EXPECT_NE(d.caption().find(drive), std::string::npos) << d.caption();
    ExpectReadable(d);
  };
  ui.Expect(ids::kMainTemplate).DoubleClick(ids::main_window::kDriveList, line);
  ui.Expect(ids::kSmartTemplate).Do(readable).Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, line)
      .Press(ids::main_window::kQuickTest);
  ui.Expect(ids::kSelfTestProgressTemplate).Advance(5000).Do(readable).AdvanceUntilClosed(60000);
  ui.Expect(ids::kSelfTestResultTemplate).Do(readable).Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate).Press(ids::main_window::kUtilities);
  ui.Expect(ids::kUtilitiesTemplate).Do(readable).Press(ids::utilities::kEraseMbr);
  ui.Expect(ids::kWarningTemplate).Do(readable).Press(ui::IDOK);
  ui.Expect(ids::kSureTemplate).Do(readable).Press(ui::IDOK);
  ui.Expect(ids::kEraseMbrDoneTemplate).Do(readable).Press(ui::IDOK);
  ui.ExpectMessageBoxStarting("The MBR was erased by ").Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate).Press(ids::main_window::kUtilities);
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kEraseDisk);
  ui.Expect(ids::kWarningTemplate).Do(readable).Press(ui::IDOK);
  ui.Expect(ids::kSureTemplate).Do(readable).Press(ui::IDOK);
  ui.Expect(ids::kEraseDiskTemplate).Do(readable).Do(WaitForWorker).AdvanceUntilClosed(10000);
  ui.Expect(ids::kEraseDiskDoneTemplate).Do(readable).Press(ui::IDOK);
  ui.ExpectMessageBoxStarting("Erased by ").Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate).Press(ids::main_window::kUtilities);
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kLongTest);
  ui.Expect(ids::kSurfaceTemplate).Do(readable).Do(WaitForWorker).AdvanceUntilClosed(10000);
  ui.Expect(ids::kSurfaceResultTemplate).Do(readable).Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate).Press(ids::main_window::kUtilities);
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kLogView);
  ui.Expect(ids::kLogViewTemplate).Do(readable).Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate).Escape();
  plovix::testing_support::RunProgram(bench);
  EXPECT_EQ(ui.pending_steps(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Drives, TerminalDriveCaptions,
    ::testing::Values(LongNameCase{"nvme", 3, " - 7: Kestrel KN1000-PX NVMe KSTN1A0827734"},
                      LongNameCase{"longest_ata_names", 4,
                                   " - 9: WDC WD40EFRX-68N32N0 NAS Hard Drive 4 TB WD-WCC7K0HX123456789"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
