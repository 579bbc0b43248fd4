// Where a control goes when its text needs more room than its template gives it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/TextFit.h"

namespace {

using ui::FitTextBoxes;
using ui::Rect;
using ui::TextAnchor;
using ui::TextBox;

struct Want {
  Rect rect;
  int shift_x, shift_y, width, height;
};

struct FitCase {
  const char* name;
  TextBox box;
  int width, height;
  Want want;
};

void PrintTo(const FitCase& c, std::ostream* os) { *os << c.name; }

class TextFitTest : public testing::TestWithParam<FitCase> {};

TEST_P(TextFitTest, GrowsAboutItsAlignment) {
  const FitCase& c = GetParam();
  const ui::FittedLayout got = FitTextBoxes({c.box}, c.width, c.height, 7);
  ASSERT_EQ(got.rects.size(), 1u);
  const Rect& r = got.rects[0];
  EXPECT_EQ((std::vector<int>{r.x, r.y, r.w, r.h}),
            (std::vector<int>{c.want.rect.x, c.want.rect.y, c.want.rect.w, c.want.rect.h}));
  EXPECT_EQ((std::vector<int>{got.shift_x, got.shift_y, got.width, got.height}),
            (std::vector<int>{c.want.shift_x, c.want.shift_y, c.want.width, c.want.height}));
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, TextFitTest,
    testing::Values(
        // Fits already: nothing moves.
        FitCase{"Fits", {{20, 10, 50, 8}, TextAnchor::kLeft, false, 40, 8}, 200, 100,
                {{20, 10, 50, 8}, 0, 0, 200, 100}},
        // Left-aligned keeps its left edge; room enough inside the dialog.
        FitCase{"LeftGrowsRight", {{53, 28, 74, 8}, TextAnchor::kLeft, false, 90, 8}, 192, 89,
                {{53, 28, 90, 8}, 0, 0, 192, 89}},
        // ...and past the right edge the dialog grows, keeping the clearance.
        FitCase{"LeftPastTheEdge", {{100, 10, 80, 8}, TextAnchor::kLeft, false, 120, 8}, 200, 50,
                {{100, 10, 120, 8}, 0, 0, 227, 50}},
        // Right-aligned keeps its right edge.
        FitCase{"RightGrowsLeft", {{100, 44, 60, 10}, TextAnchor::kRight, false, 70, 10}, 300, 100,
                {{90, 44, 70, 10}, 0, 0, 300, 100}},
        // Centred keeps its centre; past both edges the dialog grows on both sides and
        // everything moves right by what it grew on the left.
        FitCase{"CentredPastBothEdges", {{7, 18, 176, 8}, TextAnchor::kCentre, false, 196, 8}, 190, 68,
                {{7, 18, 196, 8}, 10, 0, 210, 68}},
        FitCase{"CentredInside", {{50, 18, 80, 8}, TextAnchor::kCentre, false, 100, 8}, 190, 68,
                {{40, 18, 100, 8}, 0, 0, 190, 68}},
        // A box the template put nearer the edge than the margin keeps only that.
        FitCase{"TightTemplateGap", {{2, 5, 100, 8}, TextAnchor::kCentre, false, 110, 8}, 104, 20,
                {{2, 5, 110, 8}, 5, 0, 114, 20}},
        // Taller: top edge kept, or the middle for vertically centred texts.
        FitCase{"TallerGrowsDown", {{10, 80, 60, 10}, TextAnchor::kLeft, false, 60, 16}, 100, 95,
                {{10, 80, 60, 16}, 0, 0, 100, 101}},
        FitCase{"VCentredGrowsBothWays", {{10, 2, 60, 10}, TextAnchor::kLeft, true, 60, 20}, 100, 90,
                {{10, 2, 60, 20}, 0, 5, 100, 95}}),
    [](const testing::TestParamInfo<FitCase>& p) { return std::string(p.param.name); });

TEST(TextFit, EveryBoxMovesByTheSameShiftAsTheDialogGrows) {
  // Two boxes: the centred one needs the dialog to grow on the left, so the other one
  // (which fits) moves right with it; the dialog keeps the larger of both needs.
  const std::vector<TextBox> boxes = {
      {{7, 18, 176, 8}, TextAnchor::kCentre, false, 200, 8},
      {{69, 38, 50, 14}, TextAnchor::kCentre, true, 20, 10},
  };
  const ui::FittedLayout got = FitTextBoxes(boxes, 190, 68, 7);
  ASSERT_EQ(got.rects.size(), 2u);
  EXPECT_EQ(got.shift_x, 12);
  EXPECT_EQ(got.rects[1].x, 69 + 12);
  EXPECT_EQ(got.rects[0].x, 7);
  EXPECT_EQ(got.width, 7 + 200 + 7);
  // The centred box and the button keep their centres as far apart as in the template.
  EXPECT_EQ((got.rects[0].x + got.rects[0].w / 2) - (got.rects[1].x + got.rects[1].w / 2),
            (7 + 176 / 2) - (69 + 50 / 2));
}

TEST(TextFit, ABandKeepsItsClearancesWhenTheDialogGrowsForAnotherBox) {
  // The title band spans the dialog; a list below it needs the dialog wider.
  const std::vector<TextBox> boxes = {
      {{10, 10, 602, 48}, TextAnchor::kLeft, false, 120, 20, true},
      {{26, 175, 571, 220}, TextAnchor::kLeft, false, 682, 0},
  };
  const ui::FittedLayout got = FitTextBoxes(boxes, 622, 430, 11);
  ASSERT_EQ(got.rects.size(), 2u);
  EXPECT_EQ(got.width, 26 + 682 + 11);
  EXPECT_EQ(got.rects[0].x, 10);
  EXPECT_EQ(got.rects[0].x + got.rects[0].w, got.width - 10);
  EXPECT_EQ(got.rects[0].h, 48);
}

TEST(TextFit, ACaptionsWidthGoesToBothSidesAndBandsFollow) {
  const std::vector<TextBox> boxes = {
      {{7, 7, 176, 30}, TextAnchor::kLeft, false, 40, 10, true},
      {{69, 40, 50, 14}, TextAnchor::kCentre, true, 30, 10},
  };
  const ui::FittedLayout got = FitTextBoxes(boxes, 190, 60, 7, 250);
  ASSERT_EQ(got.rects.size(), 2u);
  EXPECT_EQ(got.width, 250);
  EXPECT_EQ(got.shift_x, 30);
  EXPECT_EQ(got.rects[1].x, 69 + 30);
  EXPECT_EQ((std::vector<int>{got.rects[0].x, got.rects[0].w}), (std::vector<int>{7, 250 - 7 - 7}));
  // A caption narrower than the boxes' needs changes nothing.
  EXPECT_EQ(FitTextBoxes(boxes, 190, 60, 7, 100).width, 190);
}

struct ListCase {
  const char* name;
  int columns, chrome, limit;
  int want;
};

void PrintTo(const ListCase& c, std::ostream* os) { *os << c.name; }

class ListWidthTest : public testing::TestWithParam<ListCase> {};

// A list 571 wide at x 26 in a dialog 622 wide (25 to spare on the right, of which the
// 11 of the margin are kept).
TEST_P(ListWidthTest, WidensForItsColumnsAsFarAsTheScreenAllows) {
  const ListCase& c = GetParam();
  EXPECT_EQ(ui::ListWidthNeed({26, 175, 571, 220}, c.columns, c.chrome, 622, c.limit, 11), c.want);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, ListWidthTest,
    testing::Values(
        ListCase{"Fits", 540, 21, 1900, 571},
        ListCase{"FitsExactly", 550, 21, 1900, 571},
        ListCase{"OnePixelShort", 551, 21, 1900, 572},
        ListCase{"ColumnsAndScrollBar", 658, 21, 1900, 679},
        // The screen allows the dialog 700: the list reaches 700 less its clearance.
        ListCase{"ScreenTooNarrow", 658, 21, 700, 700 - 11 - 26},
        // Never narrower than the template makes it, however small the screen.
        ListCase{"ScreenSmallerThanTheTemplate", 658, 21, 500, 571}),
    [](const testing::TestParamInfo<ListCase>& p) { return std::string(p.param.name); });

}  // namespace
