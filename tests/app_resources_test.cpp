// The dialog templates as the back ends receive them.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "ui/Template.h"

namespace {

struct TemplateCase {
  int id;
  const char* caption;
  int width;
  int height;
  std::size_t controls;
};

const TemplateCase kTemplates[] = {
    {100, "バージョン情報 Plovix", 170, 62, 4},
    {102, "ZUL for Windows", 558, 287, 14},
    {129, "ZUL for Windows", 415, 294, 13},
    {130, "SMART Test", 353, 199, 5},
    {131, "Confirmation", 202, 81, 3},
    {132, "ZUL for Windows", 316, 180, 2},
    {146, "SMART Test Result", 357, 180, 8},
    {147, "Utilities", 164, 182, 5},
    {148, "WARNING", 333, 115, 3},
    {149, "Confirmation", 209, 75, 3},
    {150, "Erase Disk", 348, 198, 4},
    {151, "Erase MBR Result", 190, 68, 2},
    {152, "Erase Disk Result", 195, 68, 2},
    {153, "Dialog", 412, 247, 4},
    {154, "Dialog", 192, 89, 2},
    {163, "Surface Test", 350, 199, 5},
    {164, "Surface Test Result", 356, 202, 10},
};

class TemplateShape : public testing::TestWithParam<TemplateCase> {};

TEST_P(TemplateShape, CaptionSizeAndControlsFit) {
  const TemplateCase& c = GetParam();
  const ui::DialogTemplate* t = ui::FindTemplate(c.id);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->caption, c.caption);
  EXPECT_EQ(t->width, c.width);
  EXPECT_EQ(t->height, c.height);
  EXPECT_EQ(t->font_face, "Arial");
  EXPECT_EQ(t->font_points, 8);
  ASSERT_EQ(t->controls.size(), c.controls);

  std::set<int> ids;
  int defaults = 0;
  for (const auto& ctl : t->controls) {
    if (ctl.id != ui::IDC_STATIC) {
      EXPECT_TRUE(ids.insert(ctl.id).second) << "duplicate id " << ctl.id;
    }
    EXPECT_GE(ctl.rect.x, 0) << ctl.id << " " << ctl.text;
    EXPECT_GE(ctl.rect.y, 0) << ctl.id << " " << ctl.text;
    EXPECT_GT(ctl.rect.w, 0) << ctl.id << " " << ctl.text;
    EXPECT_GT(ctl.rect.h, 0) << ctl.id << " " << ctl.text;
    EXPECT_LE(ctl.rect.x + ctl.rect.w, t->width) << ctl.id << " " << ctl.text;
    EXPECT_LE(ctl.rect.y + ctl.rect.h, t->height) << ctl.id << " " << ctl.text;
    if (ctl.style & ui::style::kDefButton) {
      EXPECT_EQ(ctl.kind, ui::Kind::Button);
      ++defaults;
    }
  }
  EXPECT_LE(defaults, 1);
}

INSTANTIATE_TEST_SUITE_P(AllDialogs, TemplateShape, testing::ValuesIn(kTemplates),
                         [](const testing::TestParamInfo<TemplateCase>& param_info) {
                           return "T" + std::to_string(param_info.param.id);
                         });

// Texts with odd spellings and inner quotes, found by template and position.
struct TextCase {
  int template_id;
  std::size_t index;
  int id;
  ui::Kind kind;
  const char* text;
};

const TextCase kTexts[] = {
    {100, 1, ui::IDC_STATIC, ui::Kind::Static, "Plovix, Version 0.92"},
    {102, 0, 1000, ui::Kind::Static, "Velmira For Windows"},
    {102, 10, ui::IDC_STATIC, ui::Kind::Static,
     "please double click the target line of HDD to show SMART/Test log"},
    {129, 5, ui::IDC_STATIC, ui::Kind::Static, "FW revison"},
    {130, 2, ui::IDC_STATIC, ui::Kind::Static, "Please Push \"Abort\" if you want to abort test"},
    {131, 1, 2, ui::Kind::Button, "cancel"},
    {131, 2, ui::IDC_STATIC, ui::Kind::Static, "Are you sure to abort ?"},
    {146, 5, ui::IDC_STATIC, ui::Kind::Static, "Please push \"EXIT\" to retrun"},
    {147, 3, 1005, ui::Kind::Button, "LongTest"},
    {147, 4, 1003, ui::Kind::Button, "Log View"},
    {149, 2, 1027, ui::Kind::Static, "Are you really sure?"},
    {151, 1, ui::IDC_STATIC, ui::Kind::Static, "ERASE MBR HAS BEEN COMPLETED SUCCESSFULLY"},
    {152, 1, ui::IDC_STATIC, ui::Kind::Static, "ERASE DISK HAS BEEN COMPLETED SUCCESSFULLY"},
    {154, 0, ui::IDC_STATIC, ui::Kind::Static, "Create ZUL_TEST.LOG"},
    {163, 3, ui::IDC_STATIC, ui::Kind::Static, "Please Push \"Abort\" if you want to abort test"},
    {164, 5, ui::IDC_STATIC, ui::Kind::Static, "Please push \"EXIT\" to retrun"},
};

class TemplateText : public testing::TestWithParam<TextCase> {};

TEST_P(TemplateText, Exact) {
  const TextCase& c = GetParam();
  const ui::DialogTemplate* t = ui::FindTemplate(c.template_id);
  ASSERT_NE(t, nullptr);
  ASSERT_LT(c.index, t->controls.size());
  const auto& ctl = t->controls[c.index];
  EXPECT_EQ(ctl.id, c.id);
  EXPECT_EQ(ctl.kind, c.kind);
  EXPECT_EQ(ctl.text, c.text);
}

INSTANTIATE_TEST_SUITE_P(OddTexts, TemplateText, testing::ValuesIn(kTexts));

// Styles that change how a back end draws or drives a control.
struct StyleCase {
  int template_id;
  int id;
  std::uint32_t must_have;
  std::uint32_t must_lack;
};

namespace st = ui::style;
const StyleCase kStyles[] = {
    {102, 1000, st::kCenter | st::kVCenter, 0},
    {102, 1001, st::kClientEdge, st::kDefButton},
    {102, 1007, st::kReport | st::kShowSelAlways | st::kBorder | st::kTabStop, 0},
    {102, 1040, st::kRight, 0},
    {102, 1043, st::kRight | st::kVCenter, 0},
    // The help text wraps, the log report scrolls sideways.
    {132, 1021, st::kMultiline | st::kReadOnly | st::kVScroll | st::kWantReturn, st::kAutoHScroll},
    {153, 1031, st::kMultiline | st::kReadOnly | st::kVScroll | st::kAutoHScroll, 0},
    {129, 1008, st::kReadOnly | st::kAutoHScroll | st::kBorder, st::kMultiline},
    {130, 1020, st::kTabStop, st::kDefButton},
    {148, 1, st::kDefButton, 0},
    {148, 2, 0, st::kDefButton},
    {149, 1027, st::kCenter | st::kVCenter, 0},
    {150, 1001, 0, st::kDefButton},
    {163, 3, st::kDefButton, 0},
    {147, 1001, 0, st::kDefButton},
};

class TemplateStyle : public testing::TestWithParam<StyleCase> {};

TEST_P(TemplateStyle, Flags) {
  const StyleCase& c = GetParam();
  const ui::DialogTemplate* t = ui::FindTemplate(c.template_id);
  ASSERT_NE(t, nullptr);
  const ui::ControlTemplate* found = nullptr;
  for (const auto& ctl : t->controls) {
    if (ctl.id == c.id) found = &ctl;
  }
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->style & c.must_have, c.must_have);
  EXPECT_EQ(found->style & c.must_lack, 0u);
}

INSTANTIATE_TEST_SUITE_P(Controls, TemplateStyle, testing::ValuesIn(kStyles));

TEST(ProgramResources, MainWindowIsResizableAndImagesAreNamed) {
  const ui::DialogTemplate* main = ui::FindTemplate(102);
  ASSERT_NE(main, nullptr);
  EXPECT_TRUE(main->style & ui::dstyle::kThickFrame);
  EXPECT_TRUE(main->style & ui::dstyle::kMinMaxBox);
  EXPECT_FALSE(main->style & ui::dstyle::kModalFrame);
  std::vector<int> bitmaps;
  for (const auto& ctl : main->controls) {
    if (ctl.kind == ui::Kind::Bitmap) bitmaps.push_back(ctl.image_id);
  }
  EXPECT_EQ(bitmaps, (std::vector<int>{133, 137}));

  const ui::DialogTemplate* about = ui::FindTemplate(100);
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(about->controls[0].kind, ui::Kind::Icon);
  EXPECT_EQ(about->controls[0].image_id, 128);
  EXPECT_EQ(about->style, ui::dstyle::kStandard);
}

TEST(ProgramResources, AboutMenuString) {
  EXPECT_EQ(ui::LoadString(101), "バージョン情報 Plovix(&A)...");
  EXPECT_EQ(ui::LoadString(102), "");
}

}  // namespace
