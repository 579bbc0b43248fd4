// The key hint on the screen's bottom row: which keys do what, only those the terminal
// can send.
#include "faces/terminal/Render.h"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "resources/ResourceIds.h"

namespace ui::terminal {

namespace {

SendableKeys g_sendable;

// The paging keys the terminal has, as the hint names them; empty for none.
std::string PagingKeys() {
  const SendableKeys& keys = g_sendable;
  if (keys.paging && keys.home_end) return "PgUp PgDn Home End";
  if (keys.paging) return "PgUp PgDn";
  if (keys.home_end) return "Home End";
  return {};
}

}  // namespace

SendableKeys SendableFromDescription(const std::function<const char*(const char*)>& key_string, bool meta) {
  auto has = [&](const char* name) {
    const char* s = key_string(name);
    return s != nullptr && *s != '\0';
  };
  SendableKeys keys;
  keys.back_tab = has("kcbt");
  keys.paging = has("kpp") && has("knp");
  keys.home_end = has("khome") && has("kend");
  // A vt100 names its keypad keys F5 to F10 (ESC O t ... ESC O x): a keypad "8" is no F10.
  const char* f10 = key_string("kf10");
  const std::string_view keypad = "lmnpqrstuvwxyM";
  keys.f10 = has("kf10") && !(std::strlen(f10) == 3 && f10[0] == '\x1B' && f10[1] == 'O' &&
                              keypad.find(f10[2]) != std::string_view::npos);
  keys.alt = meta;
  return keys;
}

void UseSendableKeys(const SendableKeys& keys) { g_sendable = keys; }

const SendableKeys& CurrentSendableKeys() { return g_sendable; }

std::vector<KeyHelp> DialogKeyHint(const Dialog& dlg, const DialogView& view, bool main_window) {
  const Glyphs& g = CurrentGlyphs();
  const std::string esc = main_window ? "quit" : "cancel";
  if (view.menu_open) {
    std::vector<KeyHelp> hint{{g.up_down, "choose"}, {"Enter", "run"}};
    for (const auto& entry : SystemMenuEntries(dlg)) {
      const char32_t letter = MnemonicOf(entry.text);
      if (letter != 0 && letter < 0x80) {
        hint.push_back({std::string(1, static_cast<char>(std::toupper(static_cast<int>(letter)))),
                        MenuLabel(entry.text).first});
      }
    }
    hint.push_back({"Esc", "close menu"});
    return hint;
  }
  std::vector<KeyHelp> hint;
  const auto& controls = dlg.controls();
  const Control* focused = view.focus >= 0 && view.focus < static_cast<int>(controls.size())
                               ? controls[static_cast<std::size_t>(view.focus)].get()
                               : nullptr;
  bool text_scrolls = false;  // PgUp and PgDn reach a text whatever has the focus
  int texts = 0;
  for (const auto& c : controls) texts += c->kind() == Kind::Edit && (c->style() & style::kMultiline) != 0;
  text_scrolls = texts == 1;
  const SendableKeys& keys = g_sendable;
  const std::string paging = PagingKeys();
  if (focused != nullptr) {
    switch (focused->kind()) {
      case Kind::Button:
        hint.push_back({"Enter", Concat({"press ", ShownText(*focused)})});
        if (text_scrolls && !paging.empty()) hint.push_back({paging, "scroll the text"});
        break;
      case Kind::ListView: {
        const auto& list = static_cast<const ListCtrl&>(*focused);
        hint.push_back({g.up_down, "move"});
        if ((list.GetExtendedStyle() & LVS_EX_CHECKBOXES) != 0) hint.push_back({"Space", "check"});
        if (focused->id() == plovix::ids::main_window::kDriveList)
          hint.push_back({"Enter", "SMART status"});
        if (keys.paging) hint.push_back({"PgUp PgDn", "page"});
        break;
      }
      case Kind::Edit:
        if ((focused->style() & style::kMultiline) != 0) {
          hint.push_back({paging.empty() ? std::string(g.up_down) : Concat({g.up_down, " ", paging}), "scroll"});
          if (!EditWraps(*focused)) hint.push_back({g.left_right, "sideways"});
        } else if ((focused->style() & style::kReadOnly) != 0) {
          hint.push_back({keys.home_end ? Concat({g.left_right, " Home End"}) : std::string(g.left_right), "scroll"});
        } else {
          hint.push_back({"type", "edit"});
        }
        break;
      default:
        break;
    }
  }
  hint.push_back({"Tab", "next"});
  hint.push_back({"Esc", esc});
  // Alt+Space opens the menu too; it is named only where F10 cannot be sent.
  if (keys.f10) {
    hint.push_back({"F10", "menu"});
  } else if (keys.alt) {
    hint.push_back({"Alt+Space", "menu"});
  }
  if (keys.back_tab) hint.push_back({"Shift+Tab", "back"});
  return hint;
}

std::vector<KeyHelp> BoxKeyHint(const BoxState& box) {
  if (BoxHasCancel(box.type)) {
    return {{"Enter", box.focus == 1 ? "Cancel" : "OK"}, {"Tab", "switch"}, {"Esc", "Cancel"}};
  }
  return {{"Enter", "OK"}, {"Esc", "OK"}};
}

void DrawKeyHint(Canvas& canvas, const std::vector<KeyHelp>& hint) {
  if (canvas.height() <= 0) return;
  const int y = canvas.height() - 1;
  const int room = canvas.width() - 1;
  // As many entries as fit, in order.
  std::size_t count = 0;
  int used = 0;
  for (; count < hint.size(); ++count) {
    const int w = DisplayWidth(hint[count].keys) + 1 + DisplayWidth(hint[count].action) + (count > 0 ? 2 : 0);
    if (used + w > room) break;
    used += w;
  }
  canvas.SetOwner(-1);
  canvas.Fill(Cells{0, y, canvas.width(), 1}, Attr{});
  int x = 1;
  Attr keys;
  keys.bold = true;
  keys.reverse = true;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) x += 2;
    x += canvas.Put(x, y, hint[i].keys, keys);
    x += canvas.Put(x, y, Concat({" ", hint[i].action}), Attr{});
  }
  if (count == 0 && !hint.empty()) {
    canvas.Put(1, y, Ellipsize(Concat({hint[0].keys, " ", hint[0].action}), room - 1), Attr{});
  }
}

}  // namespace ui::terminal
