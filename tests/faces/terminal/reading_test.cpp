// Reading in the terminal: long texts page with the keys a reader expects whatever has
// the focus, keep their lines between keys, cut texts say so, the system menu's letter
// works, and the bottom row names the keys of the focused control.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "faces/scripted/ScriptedBackend.h"
#include "faces/terminal/Canvas.h"
#include "faces/terminal/Input.h"
#include "faces/terminal/Layout.h"
#include "faces/terminal/Render.h"
#include "faces/terminal/Text.h"
#include "reports/DriveLog.h"
#include "reports/Help.h"
#include "reports/LogReport.h"
#include "devices/sim/Bench.h"
#include "tests/support/main_window_rig.h"
#include "tests/support/utils_rig.h"
#include "resources/ResourceIds.h"
#include "ui/TextFit.h"

namespace {

using namespace ui::terminal;
namespace fs = std::filesystem;
namespace ids = plovix::ids;

// The probe windows' own controls, beside their OK button (ui::IDOK).
constexpr int kProbeText = 1030;
constexpr int kProbeEdit = 1031;
constexpr int kProbeBar = 1034;

int IndexOfId(const ui::Dialog& d, int id) {
  const auto& controls = d.controls();
  for (std::size_t i = 0; i < controls.size(); ++i) {
    if (controls[i]->id() == id) return static_cast<int>(i);
  }
  return -1;
}

// The rows of text an edit shows, blanks at their ends dropped.
std::vector<std::string> TextRows(const Canvas& canvas, const DialogView& view, const ui::Control& edit) {
  const Cells area = EditTextArea(ControlArea(view, edit), true);
  std::vector<std::string> rows;
  for (int y = area.y; y < area.y + area.h; ++y) {
    std::string row;
    for (int x = area.x; x < area.x + area.w; ++x) row += canvas.At(x, y).glyph;
    while (!row.empty() && row.back() == ' ') row.pop_back();
    rows.push_back(row);
  }
  return rows;
}

std::string Hint(const std::vector<KeyHelp>& hint) {
  std::string out;
  for (const auto& h : hint) out += h.keys + " " + h.action + "; ";
  return out;
}

struct Term {
  Canvas canvas;
  DialogView view;
  Term(ui::Dialog& d, int cols, int rows) : canvas(cols, rows) {
    view.focus = InitialFocus(d);
    DrawDialog(canvas, d, view, true);
  }
  void Key(ui::Dialog& d, KeyEvent key) {
    HandleDialogKey(d, view, key);
    canvas.Clear();
    DrawDialog(canvas, d, view, true);
  }
};

// --- The Log View on a long drive log ------------------------------------------------------

class LongLog : public ::testing::Test {
 protected:
  static constexpr int kRecords = 2000;
  LongLog() {
    std::FILE* f = std::fopen(plovix::LogFileName("LONGLOG01").c_str(), "wb");
    for (int i = 0; i < kRecords; ++i) {
      std::fprintf(f, "SMART QT\r\nDone\r\nPass\r\n03/14/2012 %02d:%02d:%02d\r\n", i / 3600, i / 60 % 60, i % 60);
    }
    std::fclose(f);
    dlg.serial = "LONGLOG01";
    dlg.model = "Orvane OD1000-HX";
    dlg.firmware = "HX02B1";
    dlg.total_sectors = 1953525168;
  }
  plovix::testing_utils::TempCwd cwd;
  ui::scripted::ScriptedBackend ui;
  plovix::CDispLog dlg;
};

TEST_F(LongLog, PagesWithTheFocusOnCloseAndKeepsItsLines) {
  ui.Expect(ids::kLogViewTemplate).Do([](ui::Dialog& d) {
    Term t(d, 80, 24);
    // The dialog opens with the focus on "Close", as its template has it.
    ASSERT_EQ(d.controls()[static_cast<std::size_t>(t.view.focus)]->id(), ui::IDOK);
    const int edit = IndexOfId(d, ids::log_view::kText);
    const ui::Control& report = *d.controls()[static_cast<std::size_t>(edit)];
    const std::size_t rows = TextRows(t.canvas, t.view, report).size();
    EXPECT_EQ(TextRows(t.canvas, t.view, report)[0], std::string(61, '-'));
    const TextLines& lines = t.view.text_lines[edit];
    const auto* kept = lines.lines.data();
    const std::size_t count = lines.lines.size();
    ASSERT_GT(count, static_cast<std::size_t>(5 * kRecords));

    const struct {
      Key key;
      int top;  // first line shown, -1: the last page
    } steps[] = {
        {Key::PageDown, static_cast<int>(rows) - 1},
        {Key::PageDown, 2 * (static_cast<int>(rows) - 1)},
        {Key::PageUp, static_cast<int>(rows) - 1},
        {Key::End, -1},
        {Key::PageDown, -1},
        {Key::Home, 0},
    };
    for (const auto& step : steps) {
      t.Key(d, KeyEvent{step.key});
      const int top = step.top < 0 ? static_cast<int>(count - rows) : step.top;
      EXPECT_EQ(t.view.edit_top[edit], top);
      const std::string first = SpanText(report.text(), lines.lines[static_cast<std::size_t>(top)]);
      EXPECT_EQ(TextRows(t.canvas, t.view, report)[0], first.substr(0, first.find_last_not_of(' ') + 1));
      // Still "Close" that has the focus, and the same lines: nothing was split again.
      EXPECT_EQ(d.controls()[static_cast<std::size_t>(t.view.focus)]->id(), ui::IDOK);
      EXPECT_EQ(t.view.text_lines[edit].lines.data(), kept);
    }
    // The last page ends with the last record's date, marked as the end.
    t.Key(d, KeyEvent{Key::End});
    const auto last = TextRows(t.canvas, t.view, report);
    bool dated = false;
    for (const auto& row : last) dated = dated || row.find("03/14/2012 00:33:19") != std::string::npos;
    EXPECT_TRUE(dated);
    EXPECT_GE(t.canvas.Find(" 100% ").first, 0);
    // Arrows on the button move the focus, not the text.
    t.Key(d, KeyEvent{Key::Down});
    EXPECT_EQ(t.view.edit_top[edit], static_cast<int>(count - rows));
    EXPECT_NE(d.controls()[static_cast<std::size_t>(t.view.focus)]->id(), ui::IDOK);
    // A text the program replaces is split anew.
    d.SetDlgItemText(ids::log_view::kText, "one\r\ntwo\r\n");
    t.Key(d, KeyEvent{Key::Home});
    EXPECT_EQ(t.view.text_lines[edit].lines.size(), 2u);
    EXPECT_EQ(TextRows(t.canvas, t.view, report)[1], "two");
  }).Press(ui::IDOK);
  dlg.DoModal();
}

TEST_F(LongLog, HintNamesThePagingKeysOnTheButtons) {
  ui.Expect(ids::kLogViewTemplate).Do([](ui::Dialog& d) {
    Term t(d, 80, 24);
    const std::string hint = Hint(DialogKeyHint(d, t.view, false));
    EXPECT_NE(hint.find("Enter press Close"), std::string::npos) << hint;
    EXPECT_NE(hint.find("PgUp PgDn Home End scroll the text"), std::string::npos) << hint;
    DrawKeyHint(t.canvas, DialogKeyHint(d, t.view, false));
    EXPECT_TRUE(t.canvas.RowContains(23, "Enter press Close"));
    // The hint row lies below the dialog.
    EXPECT_LE(t.view.placement.frame.y + t.view.placement.frame.h, 23);
  }).Press(ui::IDOK);
  dlg.DoModal();
}

// --- The help text wraps once per width ------------------------------------------------

TEST(TerminalHelp, WrapsAtTheWidthShownAndPagesFromTheButton) {
  plovix::testing_utils::TempCwd cwd;
  std::string long_line;
  for (int i = 0; i < 40; ++i) long_line += "word" + std::to_string(i) + " ";
  {
    std::FILE* f = std::fopen("HELP.TXT", "wb");
    for (int i = 0; i < 200; ++i) std::fprintf(f, "%s\n", long_line.c_str());
    std::fclose(f);
  }
  ui::scripted::ScriptedBackend ui;
  ui.Expect(ids::kHelpTemplate).Do([](ui::Dialog& d) {
    const int edit = IndexOfId(d, ids::help::kText);
    const ui::Control& help = *d.controls()[static_cast<std::size_t>(edit)];
    Term wide(d, 160, 50);
    Term narrow(d, 60, 24);
    const int wide_w = EditTextArea(ControlArea(wide.view, help), true).w;
    const int narrow_w = EditTextArea(ControlArea(narrow.view, help), true).w;
    ASSERT_LT(narrow_w, wide_w);
    for (const Term* t : {&wide, &narrow}) {
      const TextLines& lines = t->view.text_lines.at(edit);
      const int w = t == &wide ? wide_w : narrow_w;
      EXPECT_EQ(lines.width, w);
      for (const Span& span : lines.lines) EXPECT_LE(DisplayWidth(SpanText(help.text(), span)), w);
    }
    EXPECT_GT(narrow.view.text_lines.at(edit).lines.size(), wide.view.text_lines.at(edit).lines.size());
    // Focus on "OK": PgDn pages the text all the same.
    ASSERT_EQ(d.controls()[static_cast<std::size_t>(narrow.view.focus)]->id(), ui::IDOK);
    narrow.Key(d, KeyEvent{Key::PageDown});
    EXPECT_GT(narrow.view.edit_top[edit], 0);
    narrow.Key(d, KeyEvent{Key::Home});
    EXPECT_EQ(narrow.view.edit_top[edit], 0);
  }).Press(ui::IDOK);
  plovix::CDispHelp help;
  help.DoModal();
}

// --- The program's windows on a bench ---------------------------------------------------

class TerminalProgram : public ::testing::Test, protected plovix::testing_support::MainWindowRig {
 protected:
  TerminalProgram() {
    bench.AddSata(0, Drive("SYSTEM DISK", "SYS0001", "1.0"));
    bench.AddVolume('C', 0);
  }
  static plovix::sim::DriveSpec Drive(std::string model, std::string serial, std::string firmware) {
    plovix::sim::DriveSpec d;
    d.model = std::move(model);
    d.serial = std::move(serial);
    d.firmware = std::move(firmware);
    d.total_sectors = 3907029168;
    d.attributes = {{1, 0x002F, 200, 200, 0, 51}, {198, 0x0030, 100, 253, 0, 0}};
    return d;
  }
  // The program through the script, which must be used up.
  void Run() {
    plovix::testing_support::RunProgram(bench);
    EXPECT_EQ(ui.pending_steps(), 0u);
  }
  plovix::testing_utils::TempCwd cwd;
};

// Names as long as ATA allows: what must be read stays whole, what is cut says so.
constexpr const char* kLongModel = "WDC WD40EFRX-68N32N0 NAS Hard Drive 4 TB";  // 40 characters
constexpr const char* kLongSerial = "WD-WCC7K0HX123456789";                        // 20 characters

TEST_F(TerminalProgram, LongNamesAt80ColumnsKeepCapacityAndStatusWhole) {
  bench.AddSata(1, Drive(kLongModel, kLongSerial, "82.00A82"));
  ui.Expect(ids::kMainTemplate).Do([](ui::Dialog& d) {
    d.List(ids::main_window::kDriveList).SetItemText(0, 5, "Erase Disk Execute");
    Term t(d, 80, 24);
    EXPECT_TRUE(t.canvas.overdraws().empty());
    const auto row = t.canvas.Find("1863GB");
    ASSERT_GE(row.second, 0);
    const std::string line = t.canvas.Row(row.second);
    EXPECT_NE(line.find("Erase Disk Execute"), std::string::npos) << line;
    // The long model gives up room first: the serial stays whole, the model is cut and
    // marked.
    EXPECT_NE(line.find(kLongSerial), std::string::npos) << line;
    EXPECT_NE(line.find("WDC WD40"), std::string::npos) << line;
    EXPECT_NE(line.find("\xE2\x80\xA6"), std::string::npos) << line;
    // Wide enough, nothing is cut.
    Term wide(d, 160, 50);
    EXPECT_GE(wide.canvas.Find(kLongModel).first, 0);
    EXPECT_GE(wide.canvas.Find(kLongSerial).first, 0);
  }).DoubleClick(ids::main_window::kDriveList, 0);
  ui.Expect(ids::kSmartTemplate).Do([](ui::Dialog& d) {
    Term t(d, 80, 24);
    const int model = IndexOfId(d, ids::smart::kModel);
    const Cells field = ControlArea(t.view, *d.controls()[static_cast<std::size_t>(model)]);
    auto shown = [&] {
      std::string s;
      for (int x = field.x; x < field.x + field.w; ++x) s += t.canvas.At(x, field.y).glyph;
      return s;
    };
    // Cut in its field and marked; focused, it scrolls sideways to its end and back.
    EXPECT_EQ(shown().substr(0, 12), "WDC WD40EFRX");
    EXPECT_NE(shown().find("\xE2\x80\xA6"), std::string::npos);
    t.view.focus = model;
    t.Key(d, KeyEvent{Key::End});
    EXPECT_EQ(shown().substr(0, 3), "\xE2\x80\xA6");
    EXPECT_NE(shown().find("Drive 4 TB"), std::string::npos) << shown();
    t.Key(d, KeyEvent{Key::Left});
    EXPECT_EQ(shown().find("Drive 4 TB"), std::string::npos) << shown();
    t.Key(d, KeyEvent{Key::Home});
    EXPECT_EQ(shown().substr(0, 12), "WDC WD40EFRX");
    EXPECT_EQ(Hint(DialogKeyHint(d, t.view, false)).find("Home End scroll") != std::string::npos, true);
    // The caption names the drive, cut with the mark at 80 columns, whole at 160.
    EXPECT_GE(t.canvas.Find("\xE2\x80\xA6 ").first, 0);
    Term wide(d, 160, 50);
    EXPECT_GE(wide.canvas.Find(d.caption()).first, 0) << d.caption();
  }).Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate).Escape();
  Run();
}

TEST_F(TerminalProgram, SystemMenuLetterRunsItsItem) {
  bench.AddSata(1, Drive("Orvane OD1000-HX", "ORV1H4477120", "HX02B1"));
  const struct {
    char32_t letter;
    bool about;
  } cases[] = {{U'a', true}, {U'A', true}, {U'x', false}};
  for (const auto& c : cases) {
    ui.Expect(ids::kMainTemplate).Do([&](ui::Dialog& d) {
      Term t(d, 120, 40);
      t.Key(d, KeyEvent{Key::Menu});
      // The menu underlines the letter and the hint names it.
      const auto at = t.canvas.Find("(A)");
      ASSERT_GE(at.first, 0);
      EXPECT_TRUE(t.canvas.At(at.first + 1, at.second).attr.underline);
      EXPECT_NE(Hint(DialogKeyHint(d, t.view, true)).find("A "), std::string::npos);
      HandleDialogKey(d, t.view, KeyEvent{Key::Char, c.letter});
      EXPECT_EQ(t.view.menu_open, !c.about);
      t.view.menu_open = false;
    });
    if (c.about) ui.Expect(ids::kAboutTemplate).Press(ui::IDOK);
  }
  ui.Expect(ids::kMainTemplate).Escape();
  Run();
  int abouts = 0;
  for (int id : ui.opened_dialogs()) abouts += id == ids::kAboutTemplate;
  EXPECT_EQ(abouts, 2);
}

TEST_F(TerminalProgram, HintNamesTheKeysOfTheFocusedControl) {
  bench.AddSata(1, Drive("Orvane OD1000-HX", "ORV1H4477120", "HX02B1"));
  ui.Expect(ids::kMainTemplate).Do([](ui::Dialog& d) {
    Term t(d, 120, 40);
    const struct {
      int id;
      std::vector<std::string> names;
    } cases[] = {
        {ids::main_window::kScan, {"Enter press Scan", "Tab next", "Esc quit", "F10 menu"}},
        {ids::main_window::kDriveList,
         {"Space check", "Enter SMART status", "PgUp PgDn page", "Esc quit"}},
    };
    for (const auto& c : cases) {
      t.view.focus = IndexOfId(d, c.id);
      const std::string hint = Hint(DialogKeyHint(d, t.view, true));
      for (const auto& name : c.names) EXPECT_NE(hint.find(name), std::string::npos) << hint;
    }
    // Short of room, whole entries are left off from the end; none is cut.
    Canvas narrow(30, 5);
    DrawKeyHint(narrow, DialogKeyHint(d, t.view, true));
    const std::string row = narrow.Row(4);
    EXPECT_NE(row.find("move"), std::string::npos) << row;
    EXPECT_EQ(row.find("Esc"), std::string::npos) << row;
    EXPECT_EQ(row.find("\xE2\x80\xA6"), std::string::npos) << row;
  }).Escape();
  Run();
  // A message box names its answers.
  EXPECT_NE(Hint(BoxKeyHint(BoxState{"text", "Plovix", ui::MB_OKCANCEL, 1})).find("Enter Cancel"),
            std::string::npos);
}

// Under LANG=C the Japanese About item and caption read in ASCII, never as garbage.
TEST(TerminalText, PlainLocalesGetAsciiStandIns) {
  const struct {
    const char* text;
    const char* plain;
  } cases[] = {
      {"\xE3\x83\x90\xE3\x83\xBC\xE3\x82\xB8\xE3\x83\xA7\xE3\x83\xB3\xE6\x83\x85\xE5\xA0\xB1 Plovix(&A)...",
       "About Plovix(&A)..."},
      {"\xE3\x83\x90\xE3\x83\xBC\xE3\x82\xB8\xE3\x83\xA7\xE3\x83\xB3\xE6\x83\x85\xE5\xA0\xB1 Plovix", "About Plovix"},
      {"M\xC3\xBCller 4\xC2\xA0TB", "M?ller 4?TB"},       // one "?" a character
      {"\xE3\x83\x90X", "?X"},                              // a wide one too
      {"e\xCC\x81", "e"},                                    // a combining mark adds nothing
      {"Ready", "Ready"},
  };
  for (const auto& c : cases) {
    UseUtf8Glyphs(false);
    const std::string plain = Showable(c.text);
    UseUtf8Glyphs(true);
    EXPECT_EQ(plain, c.plain) << c.text;
    EXPECT_EQ(Showable(c.text), c.text);  // a UTF-8 terminal shows it as it is
  }
}

TEST_F(TerminalProgram, PlainLocaleMenuAndAboutBoxReadInAscii) {
  bench.AddSata(1, Drive("Orvane OD1000-HX", "ORV1H4477120", "HX02B1"));
  auto ascii_only = [](const Canvas& canvas) {
    for (int y = 0; y < canvas.height(); ++y) {
      for (char ch : canvas.Row(y)) EXPECT_EQ(static_cast<unsigned char>(ch) & 0x80, 0) << canvas.Row(y);
    }
  };
  ui.Expect(ids::kMainTemplate).Do([&](ui::Dialog& d) {
    UseUtf8Glyphs(false);
    Term t(d, 100, 30);
    t.Key(d, KeyEvent{Key::Menu});
    UseUtf8Glyphs(true);
    const auto at = t.canvas.Find("About Plovix(A)...");
    ASSERT_GE(at.first, 0) << t.canvas.Row(4);
    EXPECT_TRUE(t.canvas.At(at.first + 13, at.second).attr.underline);  // the "A" that runs it
    ascii_only(t.canvas);
  }).SystemCommand(ui::IDM_ABOUTBOX);
  ui.Expect(ids::kAboutTemplate).Do([&](ui::Dialog& d) {
    UseUtf8Glyphs(false);
    Term t(d, 100, 30);
    UseUtf8Glyphs(true);
    EXPECT_GE(t.canvas.Find(" About Plovix ").first, 0);
    ascii_only(t.canvas);
  }).Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate).Escape();
  Run();
}

// --- Too small a terminal -----------------------------------------------------------

// Below the smallest size at which the main window reads whole, one line says how big
// the terminal must be, instead of labels written over each other.
TEST_F(TerminalProgram, TooSmallTerminalSaysHowBigItMustBe) {
  bench.AddSata(1, Drive("Orvane OD1000-HX", "ORV1H4477120", "HX02B1"));
  ui.Expect(ids::kMainTemplate).Do([](ui::Dialog& d) {
    DialogView view;
    view.focus = InitialFocus(d);
    auto screen = [&](int cols, int rows, bool& drawn) {
      Canvas canvas(cols, rows);
      drawn = DrawScreen(canvas, {ScreenLayer{&d, &view, nullptr}});
      std::vector<std::string> shown;
      for (int y = 0; y < rows; ++y) {
        if (canvas.Row(y).find_first_not_of(' ') != std::string::npos) shown.push_back(canvas.Row(y));
      }
      return shown;
    };
    bool drawn = false;
    EXPECT_GT(screen(80, 24, drawn).size(), 10u);
    EXPECT_TRUE(drawn);
    const ScreenSize need = SmallestFit(d, view, {50, 15});
    // The smallest indeed: one column or one row less does not do.
    EXPECT_TRUE(DialogFits(d, view, need));
    EXPECT_FALSE(DialogFits(d, view, {need.cols - 1, need.rows}));
    EXPECT_FALSE(DialogFits(d, view, {need.cols, need.rows - 1}));
    EXPECT_LE(need.cols, 80);
    EXPECT_LE(need.rows, 24);
    screen(need.cols, need.rows, drawn);
    EXPECT_TRUE(drawn);
    const struct {
      int cols, rows;
    } small[] = {{50, 15}, {need.cols - 1, 24}, {80, need.rows - 1}, {30, 6}};
    for (const auto& c : small) {
      SCOPED_TRACE(std::to_string(c.cols) + "x" + std::to_string(c.rows));
      const auto shown = screen(c.cols, c.rows, drawn);
      EXPECT_FALSE(drawn);
      ASSERT_EQ(shown.size(), 1u);
      EXPECT_NE(shown[0].find("small"), std::string::npos) << shown[0];
      // How big: at least the smallest, as wide as the screen already is where that is more.
      const ScreenSize asked = SmallestFit(d, view, {c.cols, c.rows});
      EXPECT_TRUE(DialogFits(d, view, asked));
      EXPECT_NE(shown[0].find(std::to_string(asked.cols) + " x " + std::to_string(asked.rows)), std::string::npos)
          << shown[0];
    }
    // Wide enough, the whole sentence, with the size it is now.
    const auto wide = screen(80, need.rows - 1, drawn);
    ASSERT_EQ(wide.size(), 1u);
    EXPECT_NE(wide[0].find("The terminal is too small: it must be at least "), std::string::npos) << wide[0];
    EXPECT_NE(wide[0].find("(it is 80 x " + std::to_string(need.rows - 1) + ")."), std::string::npos) << wide[0];
  }).Escape();
  Run();
}

TEST(TerminalFit, TooSmallLineFitsItsRow) {
  const struct {
    int width;
    const char* text;
  } cases[] = {
      {80, "The terminal is too small: it must be at least 67 x 11 (it is 50 x 9)."},
      {60, "The terminal is too small: at least 67 x 11."},
      {30, "Too small: at least 67 x 11"},
      {20, "Need 67 x 11"},
      {8, "Need 67\xE2\x80\xA6"},
  };
  for (const auto& c : cases) EXPECT_EQ(TooSmallText({67, 11}, {50, 9}, c.width), c.text) << c.width;
}

// A window whose template is a little over a whole number of rows tall never reaches
// into the hint row: on a screen of exactly its rows it is drawn one row shorter.
TEST(TerminalFit, WindowsStayAboveTheHintRowAtEveryHeight) {
  constexpr int kProbe = 9303;
  for (const int height : {40, 41, 44, 81, 87, 95}) {
    ui::DialogTemplate t;
    t.id = kProbe;
    t.caption = "Tall";
    t.width = 120;
    t.height = height;
    t.controls = {
        {kProbeText, ui::Kind::Static, "A line", {10, 8, 100, 8}, ui::style::kCenter, 0},
        {ui::IDOK, ui::Kind::Button, "OK", {35, height - 20, 50, 14}, ui::style::kTabStop, 0}};
    ui::AddTemplate(t);
    ui::scripted::ScriptedBackend ui;
    ui.Expect(kProbe).Do([&](ui::Dialog& d) {
      for (int rows = 6; rows <= 20; ++rows) {
        Term term(d, 60, rows);
        const Cells frame = term.view.placement.frame;
        EXPECT_LE(frame.y + frame.h, rows - kHintRows) << height << " units on " << rows << " rows";
      }
    }).Escape();
    ui::Dialog dlg(kProbe);
    dlg.DoModal();
  }
}

// --- Cuts and marks ------------------------------------------------------------------

TEST(TerminalFit, CutTextsEndInTheMark) {
  auto cells = [](std::string_view s) { return DisplayWidth(s); };
  const struct {
    const char* text;
    int room;
    const char* mark;
    const char* shown;
    bool cut;
  } cases[] = {
      {"Threshold", 9, "\xE2\x80\xA6", "Threshold", false},
      {"Threshold", 6, "\xE2\x80\xA6", "Thres\xE2\x80\xA6", true},
      {"Model name", 7, "~", "Model~", true},  // no blank before the mark
      {"\xE3\x83\x90\xE3\x83\xBC\xE3\x82\xB8", 5, "~", "\xE3\x83\x90\xE3\x83\xBC~", true},  // whole characters
      {"\xE3\x83\x90\xE3\x83\xBC\xE3\x82\xB8", 4, "~", "\xE3\x83\x90~", true},
      {"abc", 1, "~", "~", true},
      {"abc", 0, "~", "", true},
  };
  for (const auto& c : cases) {
    const ui::FittedText fit = ui::FitText(c.text, c.room, cells, c.mark);
    EXPECT_EQ(fit.text, c.shown) << c.text << " in " << c.room;
    EXPECT_EQ(fit.cut, c.cut) << c.text;
    EXPECT_LE(DisplayWidth(fit.text), c.room);
  }
}

TEST(TerminalFit, ProgressFigureFollowsThePosition) {
  const struct {
    int lo, hi, pos;
    const char* figure;
  } cases[] = {{0, 99, 0, " 0% "}, {0, 99, 50, " 50% "}, {0, 99, 100, " 100% "}, {0, 99, -5, " 0% "},
               {0, 99, 99, " 100% "}, {0, 0, 7, " 0% "}};
  constexpr int kProbe = 9300;
  ui::DialogTemplate t;
  t.id = kProbe;
  t.caption = "Bar";
  t.width = 200;
  t.height = 40;
  t.controls = {{kProbeBar, ui::Kind::Progress, "", {8, 8, 160, 14}, 0, 0}};
  ui::AddTemplate(t);
  for (const auto& c : cases) {
    ui::scripted::ScriptedBackend ui;
    ui.Expect(kProbe).Do([&](ui::Dialog& d) {
      d.Progress(kProbeBar).SetRange(c.lo, c.hi);
      d.Progress(kProbeBar).SetPos(c.pos);
      Term term(d, 80, 24);
      const auto at = term.canvas.Find(c.figure);
      ASSERT_GE(at.first, 0) << c.figure;
      // In the bar's middle.
      const Cells bar = ControlArea(term.view, *d.GetDlgItem(kProbeBar));
      const int width = DisplayWidth(c.figure);
      EXPECT_EQ(at.first, bar.x + (bar.w - width) / 2);
    }).Escape();
    ui::Dialog dlg(kProbe);
    dlg.DoModal();
  }
}

TEST(TerminalFit, PlainTerminalsGetPlainMarks) {
  constexpr int kProbe = 9301;
  ui::DialogTemplate t;
  t.id = kProbe;
  t.caption = "A caption far too long for the little window it belongs to";
  t.width = 120;
  t.height = 60;
  t.controls = {{ui::IDOK, ui::Kind::Button, "OK", {10, 40, 40, 14}, ui::style::kTabStop, 0},
                {kProbeEdit, ui::Kind::Edit, "", {60, 4, 56, 40},
                 ui::style::kMultiline | ui::style::kReadOnly | ui::style::kBorder, 0}};
  ui::AddTemplate(t);
  ui::scripted::ScriptedBackend ui;
  ui.Expect(kProbe).Do([](ui::Dialog& d) {
    std::string text;
    for (int i = 0; i < 30; ++i) text += "line " + std::to_string(i) + "\r\n";
    d.SetDlgItemText(kProbeEdit, text);
    UseUtf8Glyphs(false);
    Term term(d, 40, 16);
    UseUtf8Glyphs(true);
    // Nothing but ASCII on the screen.
    for (int y = 0; y < term.canvas.height(); ++y) {
      for (char ch : term.canvas.Row(y)) EXPECT_EQ(static_cast<unsigned char>(ch) & 0x80, 0) << term.canvas.Row(y);
    }
    EXPECT_GE(term.canvas.Find("~ ").first, 0);     // the cut caption
    EXPECT_GE(term.canvas.Find("> OK <").first, 0);  // the focused button
    EXPECT_GE(term.canvas.Find("v").first, 0);       // more text below
  }).Escape();
  ui::Dialog dlg(kProbe);
  dlg.DoModal();
}

// A caption longer than its frame widens the window just enough, about its middle, up to
// the screen's width; only then is it cut, and the template's centred controls stay in
// the middle.
TEST(TerminalFit, LongCaptionsWidenTheWindowAboutItsMiddle) {
  constexpr int kProbe = 9302;
  const std::string nvme = "Utilities - 7: Kestrel KN1000-PX NVMe KSTN1A0827734";  // 51 columns
  const std::string longest =
      "SMART Test Result - 9: WDC WD40EFRX-68N32N0 NAS Hard Drive 4 TB WD-WCC7K0HX123456789";  // 84
  const struct {
    std::string caption;
    bool sysmenu;
    int cols;
    int frame_w;
    bool whole;
  } cases[] = {
      {"Short", true, 80, 32, true},       // the template's own width: 120 units, 30 columns
      {nvme, true, 80, 63, true},          // "┌[-]─ " and " ─[x]┐" beside it
      {nvme + "X", true, 80, 64, true},    // an odd widening
      {nvme, false, 80, 57, true},         // "┌─ " and " ─┐"
      {longest, true, 120, 96, true},
      {longest, true, 80, 80, false},      // the whole screen, and the mark
      {nvme, true, 40, 40, false},
  };
  ui::DialogTemplate t;
  t.id = kProbe;
  t.caption = "Probe";
  t.width = 120;
  t.height = 48;
  t.controls = {
      {kProbeText, ui::Kind::Static, "In the middle", {10, 8, 100, 8}, ui::style::kCenter, 0},
      {ui::IDOK,
       ui::Kind::Button,
       "OK",
       {35, 26, 50, 14},
       ui::style::kTabStop | ui::style::kDefButton,
       0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.caption + " at " + std::to_string(c.cols));
    t.style = c.sysmenu ? ui::dstyle::kStandard : ui::dstyle::kStandard & ~ui::dstyle::kSysMenu;
    ui::AddTemplate(t);
    ui::scripted::ScriptedBackend ui;
    ui.Expect(kProbe).Do([&](ui::Dialog& d) {
      d.SetCaption(c.caption);
      Term term(d, c.cols, 24);
      const Cells frame = term.view.placement.frame;
      EXPECT_EQ(frame.w, c.frame_w);
      EXPECT_EQ(frame.x, (c.cols - c.frame_w) / 2);
      EXPECT_EQ(term.canvas.Find(c.caption).first >= 0, c.whole) << term.canvas.Row(frame.y);
      if (!c.whole) {
        // Cut where its room ends, right before the close box.
        EXPECT_NE(term.canvas.Row(frame.y).find("\xE2\x80\xA6 \xE2\x94\x80[x]"), std::string::npos);
      }
      EXPECT_TRUE(term.canvas.overdraws().empty());
      for (const int id : {kProbeText, ui::IDOK}) {
        const Cells cells = ControlArea(term.view, *d.GetDlgItem(id));
        EXPECT_LE(std::abs((2 * cells.x + cells.w) - (2 * frame.x + frame.w)), 2) << "control " << id;
      }
    }).Escape();
    ui::Dialog dlg(kProbe);
    dlg.DoModal();
  }
}

// Too few rows for the template: rows are kept in its order, packed, never drawn over.
TEST_F(TerminalProgram, TooFewRowsKeepTemplateOrder) {
  bench.AddSata(1, Drive("Orvane OD1000-HX", "ORV1H4477120", "HX02B1"));
  ui.Expect(ids::kMainTemplate).DoubleClick(ids::main_window::kDriveList, 0);
  ui.Expect(ids::kSmartTemplate).Do([](ui::Dialog& d) {
    for (const int rows : {24, 18, 14}) {
      Term t(d, 80, rows);
      SCOPED_TRACE(rows);
      EXPECT_TRUE(t.canvas.overdraws().empty());
      const int model = t.canvas.Find("Model name").second;
      const int serial = t.canvas.Find("Serial").second;
      const int firmware = t.canvas.Find("FW revison").second;
      const int header = t.canvas.Find("Atribute").second;
      const int close = t.canvas.Find("Close ]").second;
      EXPECT_LT(0, model);
      EXPECT_LT(model, serial);
      EXPECT_LT(serial, firmware);
      EXPECT_LT(firmware, header);
      EXPECT_LT(header, close);
      EXPECT_EQ(t.canvas.Find("Max LBA").second, model);
      EXPECT_EQ(t.canvas.Find("Capacity").second, serial);
      EXPECT_LT(close, rows - kHintRows);
    }
  }).Press(ui::IDOK);
  ui.Expect(ids::kMainTemplate).Escape();
  Run();
}

}  // namespace
