// Keys as terminals send them: the common sequences of Home, End and the paging keys
// whatever the terminal's description says, and a hint line that offers only the keys
// the description says the terminal has.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "faces/scripted/ScriptedBackend.h"
#include "faces/terminal/Input.h"
#include "faces/terminal/Render.h"
#include "resources/ResourceIds.h"

namespace {

using namespace ui::terminal;

struct EscapeCase {
  const char* rest;  // after the Escape
  std::optional<Key> key;
};

TEST(TerminalEscape, CommonSequencesWhateverTheDescription) {
  const EscapeCase cases[] = {
      // Home and End: the "ESC [1~" family (tmux, screen, the Linux console, rxvt)...
      {"[1~", Key::Home}, {"[4~", Key::End}, {"[7~", Key::Home}, {"[8~", Key::End},
      // ... and the "ESC [H" / "ESC OH" family (xterm in either cursor mode).
      {"[H", Key::Home}, {"[F", Key::End}, {"OH", Key::Home}, {"OF", Key::End},
      {"[5~", Key::PageUp}, {"[6~", Key::PageDown},
      {"[1;5H", Key::Home}, {"[5;5~", Key::PageUp},  // with Ctrl held
      {"[Z", Key::BackTab}, {"[21~", Key::Menu},      // Shift+Tab, F10
      {"OA", Key::Up}, {"[B", Key::Down}, {"OC", Key::Right}, {"[D", Key::Left},
      {"OM", Key::Enter}, {" ", Key::Menu},           // keypad Enter, Alt+Space
      // Unknown ones give nothing rather than stray letters.
      {"[3~", std::nullopt}, {"[2~", std::nullopt}, {"[99~", std::nullopt}, {"Ox", std::nullopt},
      {"[?1h", std::nullopt}, {"a", std::nullopt}, {"[", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto key = DecodeEscape(c.rest);
    ASSERT_EQ(key.has_value(), c.key.has_value()) << c.rest;
    if (key) {
      EXPECT_EQ(key->key, *c.key) << c.rest;
    }
  }
}

TEST(TerminalEscape, ReadsASequenceToItsEnd) {
  const struct {
    const char* rest;
    bool complete;
  } cases[] = {
      {"", false},    {"[", false},   {"[1", false}, {"[1;", false}, {"[1~", true}, {"[21~", true},
      {"[H", true},   {"[[", false},  {"O", false},  {"OH", true},   {" ", true},    {"x", true},
      {"[111111111111111", true},  // no longer than any key's
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeComplete(c.rest), c.complete) << "\"" << c.rest << "\"";
}

// Key strings of real terminal descriptions (infocmp), the ones the hint asks about.
struct DescriptionCase {
  const char* name;
  std::map<std::string, std::string> keys;
  bool meta;
  SendableKeys sendable;
};

TEST(TerminalDescription, SaysWhichKeysTheTerminalSends) {
  const DescriptionCase cases[] = {
      {"xterm",
       {{"kcbt", "\x1B[Z"}, {"kpp", "\x1B[5~"}, {"knp", "\x1B[6~"}, {"khome", "\x1BOH"}, {"kend", "\x1BOF"},
        {"kf10", "\x1B[21~"}},
       true,
       {true, true, true, true, true}},
      // A vt100 has arrows and PF1 to PF4; its "F10" is the keypad's 8.
      {"vt100", {{"kf1", "\x1BOP"}, {"kf10", "\x1BOx"}}, false, {false, false, false, false, false}},
      {"linux",
       {{"kcbt", "\x1B[Z"}, {"kpp", "\x1B[5~"}, {"knp", "\x1B[6~"}, {"khome", "\x1B[1~"}, {"kend", "\x1B[4~"},
        {"kf10", "\x1B[21~"}},
       false,
       {true, true, true, true, false}},
      // Half a pair is no pair; an empty string is no key.
      {"half", {{"kpp", "\x1B[5~"}, {"khome", "\x1B[1~"}, {"kcbt", ""}}, true, {false, false, false, false, true}},
      {"function-key F10", {{"kf10", "\x1BOY"}}, false, {false, false, false, true, false}},
  };
  for (const auto& c : cases) {
    const SendableKeys keys = SendableFromDescription(
        [&](const char* name) -> const char* {
          const auto it = c.keys.find(name);
          return it == c.keys.end() ? nullptr : it->second.c_str();
        },
        c.meta);
    EXPECT_EQ(keys.back_tab, c.sendable.back_tab) << c.name;
    EXPECT_EQ(keys.paging, c.sendable.paging) << c.name;
    EXPECT_EQ(keys.home_end, c.sendable.home_end) << c.name;
    EXPECT_EQ(keys.f10, c.sendable.f10) << c.name;
    EXPECT_EQ(keys.alt, c.sendable.alt) << c.name;
  }
}

// A dialog with one control of each kind the hint speaks of.
constexpr int kHintProbe = 9400;
constexpr int kButton = 9401;
constexpr int kField = 9402;
constexpr int kText = 9403;

class HintDialog : public ui::Dialog {
 public:
  HintDialog() : Dialog(kHintProbe) {
    ui::DialogTemplate t;
    t.id = kHintProbe;
    t.caption = "Hint";
    t.width = 200;
    t.height = 140;
    using namespace ui::style;
    t.controls = {
        {kButton, ui::Kind::Button, "Close", {4, 120, 40, 12}, kTabStop, 0},
        {plovix::ids::main_window::kDriveList, ui::Kind::ListView, "", {4, 4, 90, 60},
         kReport | kTabStop, 0},
        {kField, ui::Kind::Edit, "", {100, 4, 90, 12}, kReadOnly | kAutoHScroll | kBorder, 0},
        {kText, ui::Kind::Edit, "", {100, 20, 90, 90}, kMultiline | kReadOnly | kVScroll | kBorder, 0},
    };
    ui::AddTemplate(t);
  }
  bool OnInitDialog() override {
    Dialog::OnInitDialog();
    auto& list = List(plovix::ids::main_window::kDriveList);
    list.SetExtendedStyle(list.GetExtendedStyle() | 0x35);
    list.InsertColumn(0, "#", ui::LVCFMT_LEFT, 50);
    list.InsertItem(0, "1", 0);
    return true;
  }
};

const SendableKeys kXterm{true, true, true, true, true};
const SendableKeys kVt100{false, false, false, false, false};
const SendableKeys kLinux{true, true, true, true, false};
const SendableKeys kNoF10WithMeta{false, true, false, false, true};

struct HintCase {
  const char* name;
  SendableKeys keys;
  int focus;  // control id
  std::vector<std::string> offered;
  std::vector<std::string> not_offered;
};

class TerminalHint : public ::testing::TestWithParam<HintCase> {};

TEST_P(TerminalHint, OffersOnlyKeysTheTerminalSends) {
  const HintCase& c = GetParam();
  ui::scripted::ScriptedBackend ui;
  HintDialog dlg;
  ui.Expect(kHintProbe).Do([&](ui::Dialog& d) {
    Canvas canvas(140, 30);
    DialogView view;
    const auto& controls = d.controls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
      if (controls[i]->id() == c.focus) view.focus = static_cast<int>(i);
    }
    DrawDialog(canvas, d, view, true);
    UseSendableKeys(c.keys);
    DrawKeyHint(canvas, DialogKeyHint(d, view, true));
    UseSendableKeys(SendableKeys{});
    const std::string row = canvas.Row(canvas.height() - 1);
    for (const auto& key : c.offered) EXPECT_NE(row.find(key), std::string::npos) << key << " missing: " << row;
    for (const auto& key : c.not_offered) EXPECT_EQ(row.find(key), std::string::npos) << key << " offered: " << row;
  }).Escape();
  dlg.DoModal();
}

INSTANTIATE_TEST_SUITE_P(
    Terminals, TerminalHint,
    ::testing::Values(
        HintCase{"XtermButton", kXterm, kButton, {"PgUp PgDn Home End scroll the text", "F10 menu", "Shift+Tab back"}, {}},
        HintCase{"Vt100Button", kVt100, kButton, {"Enter press Close", "Tab next", "Esc quit"},
                 {"PgUp", "PgDn", "Home", "End", "F10", "Shift+Tab", "Alt+Space"}},
        HintCase{"XtermList", kXterm, plovix::ids::main_window::kDriveList, {"PgUp PgDn page"}, {}},
        HintCase{"Vt100List", kVt100, plovix::ids::main_window::kDriveList, {"Space check", "Enter SMART status"},
                 {"PgUp", "F10"}},
        HintCase{"XtermText", kXterm, kText, {"PgUp PgDn Home End scroll"}, {}},
        HintCase{"Vt100Text", kVt100, kText, {"scroll"}, {"PgUp", "Home"}},
        HintCase{"PagingWithoutHomeEnd", kNoF10WithMeta, kText, {"PgUp PgDn scroll", "Alt+Space menu"},
                 {"Home", "F10", "Shift+Tab"}},
        HintCase{"XtermField", kXterm, kField, {"Home End scroll"}, {}},
        HintCase{"Vt100Field", kVt100, kField, {"scroll"}, {"Home", "End"}},
        HintCase{"LinuxConsole", kLinux, kButton, {"F10 menu", "Shift+Tab back"}, {"Alt+Space"}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
