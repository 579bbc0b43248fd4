// The dialog templates as the back ends receive them.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "resources/ResourceIds.h"
#include "ui/Template.h"

namespace {

namespace ids = plovix::ids;

struct TemplateCase {
  int id;
  const char* caption;
  int width;
  int height;
  std::size_t controls;
};

const TemplateCase kTemplates[] = {
    {ids::kAboutTemplate, "バージョン情報 Plovix", 170, 62, 4},
    {ids::kMainTemplate, "ZUL for Windows", 558, 287, 14},
    {ids::kSmartTemplate, "ZUL for Windows", 415, 294, 13},
    {ids::kSelfTestProgressTemplate, "SMART Test", 353, 199, 5},
    {ids::kAbortQuestionTemplate, "Confirmation", 202, 81, 3},
    {ids::kHelpTemplate, "ZUL for Windows", 316, 180, 2},
    {ids::kSelfTestResultTemplate, "SMART Test Result", 357, 180, 8},
    {ids::kUtilitiesTemplate, "Utilities", 164, 182, 5},
    {ids::kWarningTemplate, "WARNING", 333, 115, 3},
    {ids::kSureTemplate, "Confirmation", 209, 75, 3},
    {ids::kEraseDiskTemplate, "Erase Disk", 348, 198, 4},
    {ids::kEraseMbrDoneTemplate, "Erase MBR Result", 190, 68, 2},
    {ids::kEraseDiskDoneTemplate, "Erase Disk Result", 195, 68, 2},
    {ids::kLogViewTemplate, "Dialog", 412, 247, 4},
    {ids::kLogSavedTemplate, "Dialog", 192, 89, 2},
    {ids::kSurfaceTemplate, "Surface Test", 350, 199, 5},
    {ids::kSurfaceResultTemplate, "Surface Test Result", 356, 202, 10},
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
    {ids::kAboutTemplate, 1, ui::IDC_STATIC, ui::Kind::Static, "Plovix, Version 0.92"},
    {ids::kMainTemplate, 0, ids::main_window::kBanner, ui::Kind::Static, "Velmira For Windows"},
    {ids::kMainTemplate, 10, ui::IDC_STATIC, ui::Kind::Static,
     "please double click the target line of HDD to show SMART/Test log"},
    {ids::kSmartTemplate, 5, ui::IDC_STATIC, ui::Kind::Static, "FW revison"},
    {ids::kSelfTestProgressTemplate, 2, ui::IDC_STATIC, ui::Kind::Static,
     "Please Push \"Abort\" if you want to abort test"},
    {ids::kAbortQuestionTemplate, 1, ui::IDCANCEL, ui::Kind::Button, "cancel"},
    {ids::kAbortQuestionTemplate, 2, ui::IDC_STATIC, ui::Kind::Static, "Are you sure to abort ?"},
    {ids::kSelfTestResultTemplate, 5, ui::IDC_STATIC, ui::Kind::Static,
     "Please push \"EXIT\" to retrun"},
    {ids::kUtilitiesTemplate, 3, ids::utilities::kLongTest, ui::Kind::Button, "LongTest"},
    {ids::kUtilitiesTemplate, 4, ids::utilities::kLogView, ui::Kind::Button, "Log View"},
    {ids::kSureTemplate, 2, ids::sure::kText, ui::Kind::Static, "Are you really sure?"},
    {ids::kEraseMbrDoneTemplate, 1, ui::IDC_STATIC, ui::Kind::Static,
     "ERASE MBR HAS BEEN COMPLETED SUCCESSFULLY"},
    {ids::kEraseDiskDoneTemplate, 1, ui::IDC_STATIC, ui::Kind::Static,
     "ERASE DISK HAS BEEN COMPLETED SUCCESSFULLY"},
    {ids::kLogSavedTemplate, 0, ui::IDC_STATIC, ui::Kind::Static, "Create ZUL_TEST.LOG"},
    {ids::kSurfaceTemplate, 3, ui::IDC_STATIC, ui::Kind::Static,
     "Please Push \"Abort\" if you want to abort test"},
    {ids::kSurfaceResultTemplate, 5, ui::IDC_STATIC, ui::Kind::Static,
     "Please push \"EXIT\" to retrun"},
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
    {ids::kMainTemplate, ids::main_window::kBanner, st::kCenter | st::kVCenter, 0},
    {ids::kMainTemplate, ids::main_window::kScan, st::kClientEdge, st::kDefButton},
    {ids::kMainTemplate, ids::main_window::kDriveList,
     st::kReport | st::kShowSelAlways | st::kBorder | st::kTabStop, 0},
    {ids::kMainTemplate, ids::main_window::kIdeUsbLabel, st::kRight, 0},
    {ids::kMainTemplate, ids::main_window::kFooter, st::kRight | st::kVCenter, 0},
    // The help text wraps, the log report scrolls sideways.
    {ids::kHelpTemplate, ids::help::kText,
     st::kMultiline | st::kReadOnly | st::kVScroll | st::kWantReturn, st::kAutoHScroll},
    {ids::kLogViewTemplate, ids::log_view::kText,
     st::kMultiline | st::kReadOnly | st::kVScroll | st::kAutoHScroll, 0},
    {ids::kSmartTemplate, ids::smart::kModel, st::kReadOnly | st::kAutoHScroll | st::kBorder,
     st::kMultiline},
    {ids::kSelfTestProgressTemplate, ids::selftest_progress::kAbort, st::kTabStop, st::kDefButton},
    {ids::kWarningTemplate, ui::IDOK, st::kDefButton, 0},
    {ids::kWarningTemplate, ui::IDCANCEL, 0, st::kDefButton},
    {ids::kSureTemplate, ids::sure::kText, st::kCenter | st::kVCenter, 0},
    {ids::kEraseDiskTemplate, ids::erase_disk::kAbort, 0, st::kDefButton},
    {ids::kSurfaceTemplate, ids::surface::kAbort, st::kDefButton, 0},
    {ids::kUtilitiesTemplate, ids::utilities::kEraseMbr, 0, st::kDefButton},
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
  const ui::DialogTemplate* main = ui::FindTemplate(ids::kMainTemplate);
  ASSERT_NE(main, nullptr);
  EXPECT_TRUE(main->style & ui::dstyle::kThickFrame);
  EXPECT_TRUE(main->style & ui::dstyle::kMinMaxBox);
  EXPECT_FALSE(main->style & ui::dstyle::kModalFrame);
  std::vector<int> bitmaps;
  for (const auto& ctl : main->controls) {
    if (ctl.kind == ui::Kind::Bitmap) bitmaps.push_back(ctl.image_id);
  }
  EXPECT_EQ(bitmaps, (std::vector<int>{ids::kLogoBitmap, ids::kDriveBitmap}));

  const ui::DialogTemplate* about = ui::FindTemplate(ids::kAboutTemplate);
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(about->controls[0].kind, ui::Kind::Icon);
  EXPECT_EQ(about->controls[0].image_id, ids::kAppIcon);
  EXPECT_EQ(about->style, ui::dstyle::kStandard);
}

TEST(ProgramResources, AboutMenuString) {
  EXPECT_EQ(ui::LoadString(ids::kAboutMenuString), "バージョン情報 Plovix(&A)...");
  EXPECT_EQ(ui::LoadString(102), "");
}

}  // namespace
