// The terminal back end's pure parts: text measuring, dialog-unit layout, drawing into
// an in-memory canvas, and what keys and clicks do to a dialog.
#include <gtest/gtest.h>

#include "faces/scripted/ScriptedBackend.h"
#include "faces/terminal/Canvas.h"
#include "faces/terminal/Input.h"
#include "faces/terminal/Layout.h"
#include "faces/terminal/Render.h"
#include "faces/terminal/Text.h"
#include "resources/ResourceIds.h"

namespace {

using namespace ui::terminal;

TEST(TerminalText, WidthsAndTruncation) {
  const struct {
    const char* text;
    int width;
    const char* truncated;  // to 5 columns
  } cases[] = {
      {"Abort", 5, "Abort"},
      {"SMART Test", 10, "SMART"},
      {"\xE3\x83\x90\xE3\x83\xBC\xE3\x82\xB8\xE3\x83\xA7\xE3\x83\xB3", 10, "\xE3\x83\x90\xE3\x83\xBC"},
      {"a\xE2\x97\x8F" "b", 3, "a\xE2\x97\x8F" "b"},
      {"e\xCC\x81tude", 5, "e\xCC\x81tude"},
      {"", 0, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DisplayWidth(c.text), c.width) << c.text;
    EXPECT_EQ(TruncateToWidth(c.text, 5), c.truncated) << c.text;
  }
  // A broken sequence counts as one replacement character, never reads past the end.
  EXPECT_EQ(DisplayWidth("ab\xE3\x83"), 4);
}

TEST(TerminalText, WrapBreaksAtBlanksAndHonoursNewlines) {
  const struct {
    const char* text;
    int width;
    std::vector<std::string> lines;
  } cases[] = {
      {"SMART short test in progress", 12, {"SMART short", "test in", "progress"}},
      {"one\r\ntwo", 10, {"one", "two"}},
      {"abcdefghij", 4, {"abcd", "efgh", "ij"}},
      {"a\n\nb", 5, {"a", "", "b"}},
      {"", 5, {""}},
      {"fits exactly", 12, {"fits exactly"}},
  };
  for (const auto& c : cases) EXPECT_EQ(WrapText(c.text, c.width), c.lines) << c.text;
}

TEST(TerminalText, MnemonicsAndAlignment) {
  EXPECT_EQ(StripMnemonic("&Abort"), "Abort");
  EXPECT_EQ(StripMnemonic("Plovix(&A)..."), "Plovix(A)...");
  EXPECT_EQ(StripMnemonic("R&&D"), "R&D");
  EXPECT_EQ(AlignText("ab", 6, Align::Left), "ab    ");
  EXPECT_EQ(AlignText("ab", 6, Align::Center), "  ab  ");
  EXPECT_EQ(AlignText("ab", 6, Align::Right), "    ab");
  EXPECT_EQ(AlignText("abcdef", 4, Align::Right), "abcd");
}

TEST(TerminalLayout, ListsScroll) {
  const struct {
    int top, focus, rows, count, expected;
  } cases[] = {{0, 0, 5, 30, 0}, {0, 5, 5, 30, 1}, {10, 3, 5, 30, 3},
               {25, 29, 5, 30, 25}, {20, 2, 5, 3, 0}, {0, 0, 0, 3, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(ScrollToShow(c.top, c.focus, c.rows, c.count), c.expected) << c.top << " " << c.focus;
  }
  const ListGeometry framed = ListLayout(Cells{2, 3, 20, 6});
  EXPECT_TRUE(framed.framed);
  EXPECT_EQ(framed.header_y, 4);
  EXPECT_EQ(framed.body_rows, 3);
  EXPECT_FALSE(ListLayout(Cells{0, 0, 20, 3}).framed);
}

TEST(TerminalCanvas, ColoursAndWideCharacters) {
  EXPECT_EQ(InkFromColor(ui::RGB(255, 0, 0)), Ink::Red);
  EXPECT_EQ(InkFromColor(ui::RGB(255, 255, 255)), Ink::White);
  EXPECT_EQ(InkFromColor(ui::RGB(0, 0, 0)), Ink::Black);
  EXPECT_EQ(InkFromColor(ui::RGB(0, 160, 0)), Ink::Green);
  Canvas canvas(6, 2);
  EXPECT_EQ(canvas.Put(1, 0, "\xE3\x83\x90\xE3\x83\xBC\xE3\x82\xB8", Attr{}), 4);  // third does not fit
  EXPECT_EQ(canvas.Row(0), " \xE3\x83\x90\xE3\x83\xBC ");
  EXPECT_EQ(canvas.Find("\xE3\x83\xBC"), (std::pair<int, int>{3, 0}));
  EXPECT_EQ(canvas.Put(0, 5, "x", Attr{}), 0);
}

// --- A dialog drawn and driven on the scripted back end ---

constexpr int kTermProbe = 9200;
constexpr int kTitle = 9201;
constexpr int kWarning = 9202;
constexpr int kBar = 9203;
constexpr int kGo = 9204;

class TermDialog : public ui::Dialog {
 public:
  TermDialog() : Dialog(kTermProbe) {
    ui::DialogTemplate t;
    t.id = kTermProbe;
    t.caption = "Terminal Probe";
    t.width = 160;
    t.height = 140;
    using namespace ui::style;
    t.controls = {
        {kTitle, ui::Kind::Static, "Title", {0, 0, 160, 16}, kLeft, 0},
        {kWarning, ui::Kind::Static, "WARNING", {4, 20, 80, 8}, kLeft, 0},
        {kBar, ui::Kind::Progress, "", {4, 32, 80, 8}, kBorder, 0},
        {plovix::ids::main_window::kDriveList, ui::Kind::ListView, "", {4, 44, 152, 64},
         kReport | kTabStop, 0},
        {kGo, ui::Kind::Button, "&Go", {4, 120, 40, 12}, kTabStop, 0},
        {ui::IDOK, ui::Kind::Button, "OK", {60, 120, 40, 12}, kDefButton | kTabStop, 0},
        {ui::IDCANCEL, ui::Kind::Button, "Cancel", {110, 120, 40, 12}, kTabStop, 0},
    };
    ui::AddTemplate(t);
  }
  std::vector<int> commands;
  std::vector<int> sys_commands;
  std::vector<std::pair<int, int>> notifications;

  bool OnInitDialog() override {
    Dialog::OnInitDialog();
    AppendSystemMenu(0, "");
    AppendSystemMenu(ui::IDM_ABOUTBOX, "About...");
    Progress(kBar).SetRange(0, 100);
    Progress(kBar).SetPos(50);
    auto& list = List(plovix::ids::main_window::kDriveList);
    list.SetExtendedStyle(list.GetExtendedStyle() | 0x35);
    list.SetImageList({141, 144});
    list.InsertColumn(0, "#", ui::LVCFMT_LEFT, 50);
    list.InsertColumn(1, "Model Name", ui::LVCFMT_LEFT, 100);
    for (int i = 0; i < 5; ++i) {
      list.InsertItem(i, std::to_string(i), i % 2);
      list.SetItemText(i, 1, "Disk " + std::to_string(i));
    }
    list.SetCheck(1, true);
    return true;
  }
  ui::CtlColor OnCtlColor(int id) override {
    ui::CtlColor c;
    if (id == kTitle) {
      c.text_color = ui::RGB(0, 0, 0);
      c.transparent = true;
      c.brush = ui::CreateSolidBrush(ui::RGB(255, 255, 255));
    }
    if (id == kWarning) c.text_color = ui::RGB(255, 0, 0);
    return c;
  }
  void OnCommand(int id) override {
    commands.push_back(id);
    Dialog::OnCommand(id);
  }
  void OnSysCommand(int command) override {
    sys_commands.push_back(command);
    Dialog::OnSysCommand(command);
  }
  void OnNotify(int id, int code) override { notifications.emplace_back(id, code); }
};

TEST(TerminalRender, DrawsTheDialogIntoTheCanvas) {
  ui::scripted::ScriptedBackend ui;
  TermDialog dlg;
  ui.Expect(kTermProbe)
      .Do([](ui::Dialog& d) {
        Canvas canvas(60, 24);
        DialogView view;
        view.focus = InitialFocus(d);
        DrawDialog(canvas, d, view, true);
        // Centred above the key hint row.
        EXPECT_EQ(view.placement.frame, (Cells{9, 1, 42, 20}));
        EXPECT_TRUE(canvas.RowContains(1, " Terminal Probe "));
        EXPECT_TRUE(canvas.RowContains(1, "[x]"));  // close box
        // The title is a white band with black text.
        EXPECT_EQ(canvas.Find("Title"), (std::pair<int, int>{10, 2}));
        EXPECT_EQ(canvas.At(10, 2).attr.bg, Ink::White);
        EXPECT_EQ(canvas.At(10, 2).attr.fg, Ink::Black);
        EXPECT_EQ(canvas.At(45, 2).attr.bg, Ink::White);
        const auto warning = canvas.Find("WARNING");
        ASSERT_GE(warning.first, 0);
        EXPECT_EQ(canvas.At(warning.first, warning.second).attr.fg, Ink::Red);
        // Half a bar of 20 cells, its figure in the middle on the colours beneath it.
        const auto figure = canvas.Find(" 50% ");
        ASSERT_GE(figure.first, 0);
        const int bar_x = view.placement.client.x + 1;
        EXPECT_EQ(figure.first, bar_x + (20 - 5) / 2);
        int full = 0;
        for (int x = bar_x; x < bar_x + 20; ++x) {
          const Cell& cell = canvas.At(x, figure.second);
          full += cell.glyph == "\xE2\x96\x88" || cell.attr.bg == Ink::Green;
        }
        EXPECT_EQ(full, 10);
        EXPECT_EQ(canvas.At(figure.first + 1, figure.second).attr.bg, Ink::Green);  // "5" on the done part
        EXPECT_NE(canvas.At(figure.first + 3, figure.second).attr.bg, Ink::Green);  // "%" on the rest
        // The list: header, check boxes, a green dot and a red cross.
        const auto header = canvas.Find("Model Name");
        ASSERT_GE(header.second, 0);
        EXPECT_TRUE(canvas.RowContains(header.second + 1, "[ ] \xE2\x97\x8F 0"));
        EXPECT_TRUE(canvas.RowContains(header.second + 2, "[x] \xE2\x9C\x97 1"));
        const auto dot0 = canvas.Find("\xE2\x97\x8F 0");
        const auto dot1 = canvas.Find("\xE2\x9C\x97 1");
        EXPECT_EQ(canvas.At(dot0.first, dot0.second).attr.fg, Ink::Green);
        EXPECT_EQ(canvas.At(dot1.first, dot1.second).attr.fg, Ink::Red);
        // Buttons: mnemonic gone, the default one bold.
        const auto go = canvas.Find("[ Go ]");
        const auto ok = canvas.Find("[ OK ]");
        ASSERT_GE(go.first, 0);
        ASSERT_GE(ok.first, 0);
        EXPECT_TRUE(canvas.At(ok.first, ok.second).attr.bold);
        EXPECT_FALSE(canvas.At(go.first, go.second).attr.bold);

        // Beneath another window everything is dimmed.
        DrawDialog(canvas, d, view, false);
        EXPECT_TRUE(canvas.At(ok.first, ok.second).attr.dim);
      })
      .Escape();
  dlg.DoModal();
}

// Without colour (vt100) a failing line must still read apart from a healthy one.
TEST(TerminalRender, GoodAndBadMarksDifferInShape) {
  const struct {
    bool utf8;
    const char* good;
    const char* bad;
  } cases[] = {{true, "\xE2\x97\x8F", "\xE2\x9C\x97"}, {false, "o", "X"}};
  for (const auto& c : cases) {
    ui::scripted::ScriptedBackend ui;
    TermDialog dlg;
    ui.Expect(kTermProbe)
        .Do([&](ui::Dialog& d) {
          UseUtf8Glyphs(c.utf8);
          Canvas canvas(60, 24);
          DialogView view;
          DrawDialog(canvas, d, view, true);
          UseUtf8Glyphs(true);
          const int header = canvas.Find("Model Name").second;
          ASSERT_GE(header, 0);
          // Lines 0, 2, 4 carry the good image, 1 and 3 the bad one.
          for (int line = 0; line < 5; ++line) {
            const auto at = canvas.Find(Concat({line % 2 == 0 ? c.good : c.bad, " ", std::to_string(line)}));
            EXPECT_EQ(at.second, header + 1 + line) << "line " << line << (c.utf8 ? " utf-8" : " ascii");
            if (at.second >= 0) {
              EXPECT_EQ(canvas.At(at.first, at.second).attr.bold, line % 2 == 1);
            }
          }
        })
        .Escape();
    dlg.DoModal();
  }
}

TEST(TerminalRender, TinyTerminalsClipEverything) {
  ui::scripted::ScriptedBackend ui;
  TermDialog dlg;
  ui.Expect(kTermProbe)
      .Do([](ui::Dialog& d) {
        const std::pair<int, int> sizes[] = {{0, 0}, {1, 1}, {3, 2}, {12, 5}, {30, 8}};
        for (const auto& [w, h] : sizes) {
          Canvas canvas(w, h);
          DialogView view;
          view.focus = InitialFocus(d);
          DrawDialog(canvas, d, view, true);
          DrawMessageBox(canvas, BoxState{"A long message that cannot fit", "Plovix", ui::MB_OKCANCEL, 0});
          EXPECT_EQ(canvas.width(), w);
          EXPECT_EQ(canvas.height(), h);
          for (int y = 0; y < h; ++y) EXPECT_LE(DisplayWidth(canvas.Row(y)), w);
          if (w >= 12) {
            EXPECT_EQ(canvas.At(0, 0).glyph, "\xE2\x94\x8C");
          }
        }
      })
      .Escape();
  dlg.DoModal();
}

TEST(TerminalRender, MessageBoxIsASmallCentredBox) {
  Canvas canvas(80, 24);
  BoxState box{"Are you sure to abort ?", "Plovix", ui::MB_OKCANCEL, 1};
  DrawMessageBox(canvas, box);
  const BoxLayout layout = LayoutMessageBox(box, 80, 24);
  EXPECT_EQ(layout.frame.h, 5);
  EXPECT_EQ(layout.frame.x, (80 - layout.frame.w) / 2);
  EXPECT_TRUE(canvas.RowContains(layout.frame.y, " Plovix "));
  EXPECT_TRUE(canvas.RowContains(layout.frame.y + 1, "Are you sure to abort ?"));
  // The focused answer carries the focus marks as well as reverse video.
  EXPECT_EQ(canvas.Find("\xE2\x96\xB6 Cancel \xE2\x97\x80"), (std::pair<int, int>{layout.cancel.x, layout.cancel.y}));
  EXPECT_TRUE(canvas.RowContains(layout.ok.y, "[ OK ]"));
  EXPECT_TRUE(canvas.At(layout.cancel.x, layout.cancel.y).attr.reverse);
  EXPECT_EQ(HandleBoxClick(box, 80, 24, layout.cancel.x + 2, layout.cancel.y), ui::IDCANCEL);
  EXPECT_EQ(HandleBoxClick(box, 80, 24, layout.ok.x, layout.ok.y), ui::IDOK);
  EXPECT_EQ(HandleBoxClick(box, 80, 24, 0, 0), 0);
}

TEST(TerminalInput, MessageBoxKeys) {
  const struct {
    unsigned type;
    std::vector<Key> keys;
    int answer;
  } cases[] = {
      {ui::MB_OK, {Key::Enter}, ui::IDOK},
      {ui::MB_OK, {Key::Escape}, ui::IDOK},
      {ui::MB_OK, {Key::Tab, Key::Space}, ui::IDOK},
      {ui::MB_OKCANCEL, {Key::Escape}, ui::IDCANCEL},
      {ui::MB_OKCANCEL, {Key::Tab, Key::Enter}, ui::IDCANCEL},
      {ui::MB_OKCANCEL, {Key::Right, Key::Left, Key::Enter}, ui::IDOK},
  };
  for (const auto& c : cases) {
    BoxState box{"text", "Plovix", c.type, 0};
    int answer = 0;
    for (Key key : c.keys) answer = HandleBoxKey(box, KeyEvent{key});
    EXPECT_EQ(answer, c.answer);
  }
}

struct KeyCase {
  const char* name;
  std::vector<KeyEvent> keys;
  std::vector<int> commands;
  std::vector<int> sys_commands;
  std::vector<std::pair<int, int>> notifications;
  std::vector<bool> checks;  // lines 0..4 after the keys
  int selected;              // first selected line after the keys
  int code;                  // closing code, 0 still open
};

class TerminalKeys : public ::testing::TestWithParam<KeyCase> {};

TEST_P(TerminalKeys, DriveTheDialog) {
  const KeyCase& c = GetParam();
  ui::scripted::ScriptedBackend ui;
  TermDialog dlg;
  ui.Expect(kTermProbe).Do([&](ui::Dialog& d) {
    Canvas canvas(60, 24);
    DialogView view;
    view.focus = InitialFocus(d);
    DrawDialog(canvas, d, view, true);
    for (const auto& key : c.keys) {
      HandleDialogKey(d, view, key);
      if (d.end_requested()) break;
      DrawDialog(canvas, d, view, true);
    }
    auto& list = d.List(plovix::ids::main_window::kDriveList);
    std::vector<bool> checks;
    for (int i = 0; i < list.GetItemCount(); ++i) checks.push_back(list.GetCheck(i));
    EXPECT_EQ(checks, c.checks);
    EXPECT_EQ(list.GetNextItem(-1, ui::LVNI_SELECTED), c.selected);
    EXPECT_EQ(d.end_requested() ? d.end_code() : 0, c.code);
    if (!d.end_requested()) d.EndDialog(0);
  });
  dlg.DoModal();
  EXPECT_EQ(dlg.commands, c.commands);
  EXPECT_EQ(dlg.sys_commands, c.sys_commands);
  EXPECT_EQ(dlg.notifications, c.notifications);
}

const std::vector<bool> kOnlyLine1 = {false, true, false, false, false};

INSTANTIATE_TEST_SUITE_P(
    Terminal, TerminalKeys,
    ::testing::Values(
        KeyCase{"SpaceChecksTheFirstLine", {{Key::Space}}, {}, {}, {}, {true, true, false, false, false}, 0, 0},
        KeyCase{"ArrowsMoveTheSelection",
                {{Key::Down}, {Key::Down}, {Key::Up}, {Key::End}, {Key::Up}}, {}, {}, {}, kOnlyLine1, 3, 0},
        KeyCase{"PagingGoesToThePageEdgeFirst", {{Key::PageDown}}, {}, {}, {}, kOnlyLine1, 4, 0},
        KeyCase{"PagingBackToTheTop", {{Key::PageDown}, {Key::Up}, {Key::PageUp}}, {}, {}, {}, kOnlyLine1, 0, 0},
        // The cursor starts on the first line: one Down reaches line 1.
        KeyCase{"SpaceUnchecksTheCurrentLine", {{Key::Down}, {Key::Space}}, {}, {}, {},
                {false, false, false, false, false}, 1, 0},
        KeyCase{"EnterOnTheDriveListIsADoubleClick",
                {{Key::Down}, {Key::Enter}}, {}, {},
                {{plovix::ids::main_window::kDriveList, ui::NM_DBLCLK}}, kOnlyLine1, 1, 0},
        // The focused list shows its cursor on the first line before any was chosen;
        // Enter acts on the line it shows.
        KeyCase{"EnterOpensTheCursorLine", {{Key::Enter}}, {}, {},
                {{plovix::ids::main_window::kDriveList, ui::NM_DBLCLK}}, kOnlyLine1, 0, 0},
        KeyCase{"TabReachesTheButtonsInOrder", {{Key::Tab}, {Key::Enter}, {Key::Tab}, {Key::Space}},
                {kGo, ui::IDOK}, {}, {}, kOnlyLine1, -1, ui::IDOK},
        KeyCase{"BackTabWrapsToCancel", {{Key::BackTab}, {Key::Enter}},
                {ui::IDCANCEL}, {}, {}, kOnlyLine1, -1, ui::IDCANCEL},
        KeyCase{"ArrowsMoveAmongButtons", {{Key::Tab}, {Key::Right}, {Key::Right}, {Key::Left}, {Key::Enter}},
                {ui::IDOK}, {}, {}, kOnlyLine1, -1, ui::IDOK},
        KeyCase{"EscapeCancels", {{Key::Escape}}, {}, {}, {}, kOnlyLine1, -1, ui::IDCANCEL},
        KeyCase{"MenuCloseItem", {{Key::Menu}, {Key::Enter}}, {}, {ui::SC_CLOSE}, {}, kOnlyLine1, -1,
                ui::IDCANCEL},
        KeyCase{"MenuSkipsTheSeparator", {{Key::Menu}, {Key::Down}, {Key::Enter}}, {}, {ui::IDM_ABOUTBOX},
                {}, kOnlyLine1, -1, 0},
        KeyCase{"MenuEscapeClosesOnlyTheMenu", {{Key::Menu}, {Key::Escape}, {Key::Down}}, {}, {}, {},
                kOnlyLine1, 1, 0}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(TerminalInput, MouseClicksActOnWhatIsUnderThePointer) {
  ui::scripted::ScriptedBackend ui;
  TermDialog dlg;
  ui.Expect(kTermProbe).Do([&](ui::Dialog& d) {
    Canvas canvas(60, 24);
    DialogView view;
    view.focus = InitialFocus(d);
    DrawDialog(canvas, d, view, true);
    auto& list = d.List(plovix::ids::main_window::kDriveList);
    const ListGeometry g = ListLayout(ControlArea(view, list));
    // On the check box of line 2: toggles it and selects the line.
    HandleDialogClick(d, view, g.inner.x + 1, g.body_y + 2, false);
    EXPECT_TRUE(list.GetCheck(2));
    EXPECT_EQ(list.GetNextItem(-1, ui::LVNI_SELECTED), 2);
    // On the text of line 3: selects only.
    HandleDialogClick(d, view, g.inner.x + 8, g.body_y + 3, false);
    EXPECT_FALSE(list.GetCheck(3));
    EXPECT_EQ(list.GetNextItem(-1, ui::LVNI_SELECTED), 3);
    // Double click on line 0.
    HandleDialogClick(d, view, g.inner.x + 8, g.body_y, true);
    EXPECT_EQ(list.GetNextItem(-1, ui::LVNI_SELECTED), 0);
    const auto go = canvas.Find("[ Go ]");
    HandleDialogClick(d, view, go.first + 1, go.second, false);
    EXPECT_FALSE(d.end_requested());
    // The caption's close box.
    const Cells frame = view.placement.frame;
    HandleDialogClick(d, view, frame.x + frame.w - 3, frame.y, false);
    EXPECT_TRUE(d.end_requested());
  });
  EXPECT_EQ(dlg.DoModal(), ui::IDCANCEL);
  EXPECT_EQ(dlg.commands, (std::vector<int>{kGo}));
  EXPECT_EQ(dlg.sys_commands, (std::vector<int>{ui::SC_CLOSE}));
  EXPECT_EQ(dlg.notifications,
            (std::vector<std::pair<int, int>>{{plovix::ids::main_window::kDriveList, ui::NM_DBLCLK}}));
}

}  // namespace

namespace {

constexpr int kTextProbe = 9210;
constexpr int kWrapEdit = 9211;
constexpr int kWideEdit = 9212;

class TextDialog : public ui::Dialog {
 public:
  TextDialog() : Dialog(kTextProbe) {
    ui::DialogTemplate t;
    t.id = kTextProbe;
    t.caption = "Text";
    t.width = 164;
    t.height = 100;
    using namespace ui::style;
    const std::uint32_t common = kMultiline | kReadOnly | kVScroll | kBorder | kTabStop | kWantReturn;
    t.controls = {
        // 20 x 5 cells each: a frame around 18 x 3 cells of text; side by side with a
        // blank between, so neither has room to widen.
        {kWrapEdit, ui::Kind::Edit, "", {0, 0, 80, 40}, common, 0},
        {kWideEdit, ui::Kind::Edit, "", {84, 0, 80, 40}, common | kAutoHScroll, 0},
    };
    ui::AddTemplate(t);
  }
};

std::vector<std::string> Shown(const Canvas& canvas, const DialogView& view, const ui::Control& edit) {
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

TEST(TerminalInput, ReadOnlyEditsScroll) {
  ui::scripted::ScriptedBackend ui;
  TextDialog dlg;
  ui.Expect(kTextProbe).Do([](ui::Dialog& d) {
    std::string text;
    for (int i = 1; i <= 8; ++i) text += "line " + std::to_string(i) + " of the help text\r\n";
    d.SetDlgItemText(kWrapEdit, "one two three four five six seven eight nine ten");
    d.SetDlgItemText(kWideEdit, text);
    Canvas canvas(80, 24);
    DialogView view;
    view.focus = InitialFocus(d);
    DrawDialog(canvas, d, view, true);
    const ui::Control& wrap = *d.GetDlgItem(kWrapEdit);
    const ui::Control& wide = *d.GetDlgItem(kWideEdit);
    EXPECT_EQ(Shown(canvas, view, wrap),
              (std::vector<std::string>{"one two three four", "five six seven", "eight nine ten"}));
    // Lines wider than the window end in the cut mark.
    EXPECT_EQ(Shown(canvas, view, wide),
              (std::vector<std::string>{"line 1 of the hel…", "line 2 of the hel…", "line 3 of the hel…"}));

    const struct {
      Key key;
      std::vector<std::string> rows;
    } steps[] = {
        {Key::Down, {"line 2 of the hel…", "line 3 of the hel…", "line 4 of the hel…"}},
        {Key::PageDown, {"line 4 of the hel…", "line 5 of the hel…", "line 6 of the hel…"}},
        {Key::End, {"line 6 of the hel…", "line 7 of the hel…", "line 8 of the hel…"}},
        {Key::Down, {"line 6 of the hel…", "line 7 of the hel…", "line 8 of the hel…"}},
        // Lines of 23 columns in an 18-column window: far enough right to show their
        // ends behind the mark on the left, and no further.
        {Key::Right, {"… of the help text", "… of the help text", "… of the help text"}},
        {Key::Right, {"… of the help text", "… of the help text", "… of the help text"}},
        {Key::Home, {"… of the help text", "… of the help text", "… of the help text"}},
        {Key::Left, {"line 1 of the hel…", "line 2 of the hel…", "line 3 of the hel…"}},
    };
    HandleDialogKey(d, view, KeyEvent{Key::Tab});  // to the wide edit
    for (const auto& step : steps) {
      HandleDialogKey(d, view, KeyEvent{step.key});
      canvas.Clear();
      DrawDialog(canvas, d, view, true);
      EXPECT_EQ(Shown(canvas, view, wide), step.rows);
    }
    d.EndDialog(1);
  });
  dlg.DoModal();
}

TEST(TerminalText, SliceColumns) {
  EXPECT_EQ(SliceColumns("line 1 of the help text", 7, 18), "of the help text");
  EXPECT_EQ(SliceColumns("abcdef", 0, 3), "abc");
  EXPECT_EQ(SliceColumns("abcdef", 10, 3), "");
  // A wide character cut by the left edge is left out.
  EXPECT_EQ(SliceColumns("\xE3\x83\x90\xE3\x83\xBCx", 1, 4), "\xE3\x83\xBCx");
}

}  // namespace

namespace {

TEST(TerminalRender, LabelsKeepTheirTextAndPushWhatIsBeside) {
  ui::DialogTemplate t;
  t.id = 9220;
  t.caption = "Labels";
  t.width = 120;
  t.height = 40;
  using namespace ui::style;
  t.controls = {
      {9221, ui::Kind::Static, "X", {24, 16, 8, 8}, kLeft, 0},
      {9222, ui::Kind::Static, "Capacity", {40, 0, 16, 8}, kRight, 0},    // 4 cells
      {9223, ui::Kind::Static, "Serial number", {0, 16, 16, 8}, kLeft, 0},  // 4 cells, X at 6
      {9224, ui::Kind::Static, "Centre", {60, 24, 8, 8}, kCenter, 0},       // 2 cells
  };
  ui::AddTemplate(t);
  ui::scripted::ScriptedBackend ui;
  ui::Dialog dlg(9220);
  ui.Expect(9220).Do([](ui::Dialog& d) {
    Canvas canvas(40, 10);
    DialogView view;
    DrawDialog(canvas, d, view, true);
    const Cells client = view.placement.client;
    auto row = [&](int y) {
      std::string r;
      for (int x = client.x; x < client.x + client.w; ++x) r += canvas.At(x, client.y + y).glyph;
      return r;
    };
    // "Capacity" ends where its box ends (cell 14) and takes blank cells to its left.
    EXPECT_EQ(row(0).substr(6, 8), "Capacity");
    // "Serial number" keeps its text; the "X" beside it moves right, a blank between.
    EXPECT_EQ(row(2).substr(0, 15), "Serial number X");
    EXPECT_TRUE(canvas.overdraws().empty());
    EXPECT_EQ(row(3).substr(13, 6), "Centre");
  });
  ui.Expect(9220).Escape();
  dlg.DoModal();
}

}  // namespace
