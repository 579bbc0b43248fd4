// The Windows edge that needs no Windows: templates as DLGTEMPLATEEX bytes, style
// mapping, native ids, text conversion and class GUID text.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "inventory/DeviceCatalog.h"
#include "devices/win32/GuidText.h"
#include "resources/ResourceIds.h"
#include "ui/Template.h"
#include "faces/win32/Win32Template.h"

namespace {

using ui::ControlTemplate;
using ui::DialogTemplate;
using ui::Kind;
namespace st = ui::style;
namespace ds = ui::dstyle;
namespace ws = ui::win32::ws;

constexpr std::uint32_t kBase = ws::kChild | ws::kVisible;

// ---------------------------------------------------------------------------------
struct StyleCase {
  const char* name;
  Kind kind;
  std::uint32_t style;
  std::uint32_t want_style;
  std::uint32_t want_ex;
};

class ControlStyleTest : public testing::TestWithParam<StyleCase> {};

TEST_P(ControlStyleTest, MapsToWindowsStyles) {
  const StyleCase& c = GetParam();
  ControlTemplate t;
  t.kind = c.kind;
  t.style = c.style;
  const ui::win32::NativeStyle got = ui::win32::ControlStyle(t);
  EXPECT_EQ(got.style, c.want_style) << std::hex << got.style;
  EXPECT_EQ(got.ex_style, c.want_ex) << std::hex << got.ex_style;
}

INSTANTIATE_TEST_SUITE_P(
    Controls, ControlStyleTest,
    testing::Values(
        StyleCase{"StaticLeft", Kind::Static, st::kLeft, kBase | 0x0, 0},
        StyleCase{"StaticCentredBothWays", Kind::Static, st::kCenter | st::kVCenter, kBase | 0x1 | 0x200, 0},
        StyleCase{"StaticRightNoPrefix", Kind::Static, st::kRight | st::kNoPrefix, kBase | 0x2 | 0x80, 0},
        StyleCase{"Icon", Kind::Icon, 0, kBase | 0x3, 0},
        StyleCase{"Bitmap", Kind::Bitmap, 0, kBase | 0xE, 0},
        StyleCase{"PushButton", Kind::Button, st::kTabStop, kBase | ws::kTabStop, 0},
        StyleCase{"DefaultButton", Kind::Button, st::kTabStop | st::kDefButton, kBase | ws::kTabStop | 0x1, 0},
        StyleCase{"SunkenButton", Kind::Button, st::kTabStop | st::kClientEdge, kBase | ws::kTabStop,
                  ws::kExClientEdge},
        StyleCase{"InfoEdit", Kind::Edit, st::kReadOnly | st::kAutoHScroll | st::kBorder,
                  kBase | 0x800 | 0x80 | ws::kBorder, 0},
        StyleCase{"TextViewer", Kind::Edit,
                  st::kMultiline | st::kReadOnly | st::kVScroll | st::kWantReturn | st::kBorder | st::kTabStop,
                  kBase | 0x4 | 0x800 | 0x1000 | ws::kVScroll | ws::kBorder | ws::kTabStop, 0},
        StyleCase{"ReportList", Kind::ListView, st::kReport | st::kShowSelAlways | st::kBorder | st::kTabStop,
                  kBase | 0x1 | 0x8 | ws::kBorder | ws::kTabStop, 0},
        StyleCase{"ProgressWithBorder", Kind::Progress, st::kBorder, kBase | ws::kBorder, 0}),
    [](const testing::TestParamInfo<StyleCase>& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------------
struct DialogStyleCase {
  const char* name;
  std::uint32_t style;
  std::uint32_t want_style;
  std::uint32_t want_ex;
};

class DialogStyleTest : public testing::TestWithParam<DialogStyleCase> {};

TEST_P(DialogStyleTest, MapsToWindowsStyles) {
  DialogTemplate t;
  t.style = GetParam().style;
  const ui::win32::NativeStyle got = ui::win32::DialogStyle(t);
  EXPECT_EQ(got.style, GetParam().want_style) << std::hex << got.style;
  EXPECT_EQ(got.ex_style, GetParam().want_ex);
}

INSTANTIATE_TEST_SUITE_P(
    Dialogs, DialogStyleTest,
    testing::Values(
        DialogStyleCase{"Standard", ds::kStandard,
                        ws::kPopup | ws::kCaption | ws::kSysMenu | ws::kDsModalFrame | ws::kDsSetFont, 0},
        DialogStyleCase{"ResizableApplicationWindow",
                        ds::kPopup | ds::kVisible | ds::kCaption | ds::kSysMenu | ds::kThickFrame | ds::kMinMaxBox |
                            ds::kAppWindow,
                        ws::kPopup | ws::kVisible | ws::kCaption | ws::kSysMenu | ws::kThickFrame |
                            ws::kMinimizeBox | ws::kMaximizeBox | ws::kDsSetFont,
                        ws::kExAppWindow}),
    [](const testing::TestParamInfo<DialogStyleCase>& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------------
TEST(Win32NativeIds, KeepProgramIdsAndGiveSharedOnesTheirOwn) {
  DialogTemplate t;
  t.controls = {
      {1000, Kind::Static, "a", {}, 0, 0},   {ui::IDC_STATIC, Kind::Static, "b", {}, 0, 0},
      {1, Kind::Button, "OK", {}, 0, 0},     {ui::IDC_STATIC, Kind::Bitmap, "", {}, 0, 133},
      {1000, Kind::Static, "dup", {}, 0, 0}, {0x7000, Kind::Static, "high", {}, 0, 0},
  };
  const std::vector<int> ids = ui::win32::NativeIds(t);
  ASSERT_EQ(ids.size(), t.controls.size());
  EXPECT_EQ(ids[0], 1000);
  EXPECT_EQ(ids[2], 1);
  std::set<int> unique(ids.begin(), ids.end());
  EXPECT_EQ(unique.size(), ids.size()) << "every control must be found again by its id";
  for (std::size_t i : {1u, 3u, 4u, 5u}) {
    EXPECT_GE(ids[i], ui::win32::kFirstPrivateId) << "control " << i;
    EXPECT_LE(ids[i], 0xFFFF) << "ids travel in 16 bits of WM_COMMAND";
  }
}

// ---------------------------------------------------------------------------------
struct Utf16Case {
  const char* name;
  std::string utf8;
  std::u16string want;
};

class Utf8ToUtf16Test : public testing::TestWithParam<Utf16Case> {};

TEST_P(Utf8ToUtf16Test, Converts) { EXPECT_EQ(ui::win32::Utf8ToUtf16(GetParam().utf8), GetParam().want); }

INSTANTIATE_TEST_SUITE_P(
    Texts, Utf8ToUtf16Test,
    testing::Values(Utf16Case{"Ascii", "Scan", u"Scan"}, Utf16Case{"Empty", "", u""},
                    Utf16Case{"Japanese", "バージョン情報 Plovix(&A)...", u"バージョン情報 Plovix(&A)..."},
                    Utf16Case{"OutsideBmpBecomesPair", "\xF0\x9F\x92\xBE", u"\U0001F4BE"},
                    Utf16Case{"LoneContinuation", "a\x80z", u"a\uFFFDz"},
                    Utf16Case{"TruncatedAtEnd", "ab\xE3\x83", u"ab\uFFFD\uFFFD"},
                    Utf16Case{"Overlong", "\xC0\x80", u"\uFFFD\uFFFD"},
                    Utf16Case{"EncodedSurrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
                    Utf16Case{"Latin1ByteIsNotUtf8", "caf\xE9!", u"caf\uFFFD!"}),
    [](const testing::TestParamInfo<Utf16Case>& p) { return std::string(p.param.name); });

TEST(Win32CrLf, LoneLineFeedsBecomePairs) {
  const struct {
    const char* in;
    const char* want;
  } cases[] = {{"a\nb", "a\r\nb"}, {"a\r\nb", "a\r\nb"}, {"\n\n", "\r\n\r\n"}, {"x\r", "x\r"}, {"", ""}};
  for (const auto& c : cases) EXPECT_EQ(ui::win32::WithCrLf(c.in), c.want) << c.in;
}

// ---------------------------------------------------------------------------------
// Reads a DLGTEMPLATEEX image back the way the dialog manager walks it.
class Reader {
 public:
  explicit Reader(const std::vector<std::uint8_t>& bytes) : b_(bytes) {}
  std::uint16_t Word() {
    if (pos_ + 2 > b_.size()) {
      overrun_ = true;
      return 0;
    }
    const auto v = static_cast<std::uint16_t>(b_[pos_] | (b_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
  }
  std::uint32_t Dword() {
    const std::uint32_t lo = Word();
    return lo | (static_cast<std::uint32_t>(Word()) << 16);
  }
  std::uint8_t Byte() {
    if (pos_ >= b_.size()) {
      overrun_ = true;
      return 0;
    }
    return b_[pos_++];
  }
  std::u16string Text() {
    std::u16string s;
    for (std::uint16_t w = Word(); w != 0 && !overrun_; w = Word()) s.push_back(static_cast<char16_t>(w));
    return s;
  }
  void Align() { pos_ = (pos_ + 3) & ~std::size_t{3}; }
  std::size_t pos() const { return pos_; }
  bool overrun() const { return overrun_; }

 private:
  const std::vector<std::uint8_t>& b_;
  std::size_t pos_ = 0;
  bool overrun_ = false;
};

class ProgramTemplateBytesTest : public testing::TestWithParam<int> {};

TEST_P(ProgramTemplateBytesTest, ReadBackGivesTheTemplate) {
  const DialogTemplate* t = ui::FindTemplate(GetParam());
  ASSERT_NE(t, nullptr);
  const std::vector<std::uint8_t> bytes = ui::win32::BuildDialogTemplateEx(*t);
  const std::vector<int> ids = ui::win32::NativeIds(*t);
  Reader r(bytes);
  EXPECT_EQ(r.Word(), 1);       // version
  EXPECT_EQ(r.Word(), 0xFFFF);  // extended
  EXPECT_EQ(r.Dword(), 0u);
  const ui::win32::NativeStyle ds = ui::win32::DialogStyle(*t);
  EXPECT_EQ(r.Dword(), ds.ex_style);
  EXPECT_EQ(r.Dword(), ds.style);
  EXPECT_EQ(r.Word(), t->controls.size());
  r.Word();
  r.Word();
  EXPECT_EQ(r.Word(), t->width);
  EXPECT_EQ(r.Word(), t->height);
  EXPECT_EQ(r.Word(), 0);  // menu
  EXPECT_EQ(r.Word(), 0);  // class
  EXPECT_EQ(r.Text(), ui::win32::Utf8ToUtf16(t->caption));
  EXPECT_EQ(r.Word(), t->font_points);
  r.Word();
  r.Byte();
  r.Byte();
  EXPECT_EQ(r.Text(), ui::win32::Utf8ToUtf16(t->font_face));
  for (std::size_t i = 0; i < t->controls.size(); ++i) {
    const ControlTemplate& c = t->controls[i];
    SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(c.id));
    r.Align();
    r.Dword();
    const ui::win32::NativeStyle cs = ui::win32::ControlStyle(c);
    EXPECT_EQ(r.Dword(), cs.ex_style);
    EXPECT_EQ(r.Dword(), cs.style);
    EXPECT_EQ(static_cast<std::int16_t>(r.Word()), c.rect.x);
    EXPECT_EQ(static_cast<std::int16_t>(r.Word()), c.rect.y);
    EXPECT_EQ(static_cast<std::int16_t>(r.Word()), c.rect.w);
    EXPECT_EQ(static_cast<std::int16_t>(r.Word()), c.rect.h);
    EXPECT_EQ(r.Dword(), static_cast<std::uint32_t>(ids[i]));
    const ui::win32::ControlClass cls = ui::win32::ClassOf(c.kind);
    if (cls.atom != 0) {
      EXPECT_EQ(r.Word(), 0xFFFF);
      EXPECT_EQ(r.Word(), cls.atom);
    } else {
      EXPECT_EQ(r.Text(), ui::win32::Utf8ToUtf16(cls.name));
    }
    if (c.kind == Kind::Icon || c.kind == Kind::Bitmap) {
      EXPECT_EQ(r.Word(), 0xFFFF);
      EXPECT_EQ(r.Word(), c.image_id);
    } else {
      EXPECT_EQ(r.Text(), ui::win32::Utf8ToUtf16(c.text));
    }
    EXPECT_EQ(r.Word(), 0);  // creation data
  }
  EXPECT_FALSE(r.overrun());
  EXPECT_EQ(r.pos(), bytes.size()) << "nothing may follow the last control";
}

std::vector<int> ProgramTemplateIds() {
  std::vector<int> ids;
  for (const auto& t : ui::AllTemplates()) {
    if (t.id < 1000) ids.push_back(t.id);  // the program's own, not tests' additions
  }
  return ids;
}

INSTANTIATE_TEST_SUITE_P(EveryProgramDialog, ProgramTemplateBytesTest, testing::ValuesIn(ProgramTemplateIds()));

TEST(Win32TemplateBytes, MainWindowUsesTheCommonControlClassesByName) {
  const DialogTemplate* t = ui::FindTemplate(plovix::ids::kMainTemplate);
  ASSERT_NE(t, nullptr);
  const std::vector<std::uint8_t> bytes = ui::win32::BuildDialogTemplateEx(*t);
  // "SysListView32" in UTF-16 must appear once (the drive list).
  std::vector<std::uint8_t> needle;
  for (char ch : std::string("SysListView32")) {
    needle.push_back(static_cast<std::uint8_t>(ch));
    needle.push_back(0);
  }
  int found = 0;
  for (std::size_t i = 0; i + needle.size() <= bytes.size(); ++i) {
    if (std::equal(needle.begin(), needle.end(), bytes.begin() + static_cast<std::ptrdiff_t>(i))) ++found;
  }
  EXPECT_EQ(found, 1);
}

// ---------------------------------------------------------------------------------
TEST(Win32GuidText, ReadsTheCatalogueClasses) {
  const auto disk = plovix::win32::ParseGuidText(plovix::kDiskDriveClassGuid);
  ASSERT_TRUE(disk.has_value());
  EXPECT_EQ(disk->data1, 0x4D36E967u);
  EXPECT_EQ(disk->data2, 0xE325);
  EXPECT_EQ(disk->data3, 0x11CE);
  const std::array<std::uint8_t, 8> disk4{0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18};
  EXPECT_EQ(disk->data4, disk4);

  const auto usb = plovix::win32::ParseGuidText(plovix::kUsbClassGuid);
  ASSERT_TRUE(usb.has_value());
  EXPECT_EQ(usb->data1, 0x36FC9E60u);
  EXPECT_EQ(usb->data2, 0xC465);
  EXPECT_EQ(usb->data3, 0x11CF);
  const std::array<std::uint8_t, 8> usb4{0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00};
  EXPECT_EQ(usb->data4, usb4);
}

TEST(Win32GuidText, RejectsAnythingButTheBracedForm) {
  const char* bad[] = {
      "4D36E967-E325-11CE-BFC1-08002BE10318",     // no braces
      "{4D36E967-E325-11CE-BFC1-08002BE1031}",    // one digit short
      "{4D36E967-E325-11CE-BFC1-08002BE103188}",  // one digit long
      "{4D36E967-E325-11CE-BFC1008002BE10318}",   // dash missing
      "{4D36E967-E325-11CE-BFC1-08002BE1031G}",   // not hex
      "{4D36E967+E325-11CE-BFC1-08002BE10318}",   // wrong separator
      "",
  };
  for (const char* text : bad) EXPECT_FALSE(plovix::win32::ParseGuidText(text).has_value()) << text;
  EXPECT_TRUE(plovix::win32::ParseGuidText("{4d36e967-e325-11ce-bfc1-08002be10318}").has_value());
}

}  // namespace
