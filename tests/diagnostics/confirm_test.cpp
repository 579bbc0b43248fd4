// The two-step confirmation and the small notices, answered every way a user can.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/app_flow.h"
#include "diagnostics/Confirm.h"
#include "resources/ResourceIds.h"

namespace plovix {
namespace {

using app_test::ScriptedUser;

const char* const kMbrText =
    "ERASING THE MBR OF YOUR HARD DISK DRIVE WILL PROCEED WHEN YOU PRESS THE START BUTTON. THIS "
    "UTILITY WILL ERASE THE MASTER BOOT RECORD BY OVERWRITING THE ORIGINAL INFORMATION WITH "
    "ZEROS. A RE-INSTALLATION OF YOUR OPERATING SYSTEM AND DATA WILL BE REQUIRED.";
const char* const kDiskText =
    "ERASURE OF YOUR HARD DISK DRIVE WILL PROCEED WHEN YOU PRESS THE START BUTTON. THIS UTILITY "
    "WILL ERASE THE MASTER BOOT RECORD BY OVERWRITING THE ORIGINAL INFORMATION WITH ZEROS. A "
    "RE-INSTALLATION OF YOUR OPERATING SYSTEM AND DATA WILL BE REQUIRED.";
const char* const kSmartText =
    "THE SMART FUNCTION OF THIS DRIVE IS DISABLED NOW. FOR TESTING THIS DRIVE, YOU NEED TO ENABLE "
    "SMART FUNCTION. WHEN YOU PRESS 'OK' BUTTON, THE SMART FUNCTION OF THIS DRIVE WILL CHANGE "
    "FROM DISABLEMENT TO ENABLEMENT.";

TEST(WarningTexts, LengthsAsPrinted) {
  EXPECT_EQ(std::string(kMbrText).size(), 254u);
  EXPECT_EQ(std::string(kDiskText).size(), 246u);
  EXPECT_EQ(std::string(kSmartText).size(), 213u);
}

enum class Answer { Ok, Cancel, Escape, CloseBox, None };

void Give(ui::scripted::Step& step, Answer answer) {
  switch (answer) {
    case Answer::Ok: step.Press(ui::IDOK); break;
    case Answer::Cancel: step.Press(ui::IDCANCEL); break;
    case Answer::Escape: step.Escape(); break;
    case Answer::CloseBox: step.CloseBox(); break;
    case Answer::None: break;
  }
}

struct ConfirmCase {
  const char* name;
  std::uint8_t kind;
  const char* warning;  // the WARNING dialog's text
  Answer first;
  Answer second;        // None: the second dialog must not appear
  bool answer;
};

const ConfirmCase kConfirmCases[] = {
    {"MbrYesYes", 1, kMbrText, Answer::Ok, Answer::Ok, true},
    {"DiskYesYes", 2, kDiskText, Answer::Ok, Answer::Ok, true},
    {"SmartYesYes", 3, kSmartText, Answer::Ok, Answer::Ok, true},
    {"MbrCancel", 1, kMbrText, Answer::Cancel, Answer::None, false},
    {"DiskEscape", 2, kDiskText, Answer::Escape, Answer::None, false},
    {"SmartCloseBox", 3, kSmartText, Answer::CloseBox, Answer::None, false},
    {"MbrYesNo", 1, kMbrText, Answer::Ok, Answer::Cancel, false},
    {"DiskYesEscape", 2, kDiskText, Answer::Ok, Answer::Escape, false},
    {"SmartYesCloseBox", 3, kSmartText, Answer::Ok, Answer::CloseBox, false},
    {"KindZeroEmptyYesYes", 0, "", Answer::Ok, Answer::Ok, true},
    {"KindFourEmptyYesNo", 4, "", Answer::Ok, Answer::Cancel, false},
    {"Kind255EmptyCancel", 255, "", Answer::Cancel, Answer::None, false},
};

class ConfirmWithWarningFlow : public testing::TestWithParam<ConfirmCase> {};

TEST_P(ConfirmWithWarningFlow, AnswersAndDialogs) {
  const ConfirmCase& c = GetParam();
  ScriptedUser user;

  auto& warning = user.Expect(ids::kWarningTemplate).Do([&](ui::Dialog& dlg) {
    EXPECT_EQ(dlg.caption(), "WARNING");
    EXPECT_EQ(dlg.GetDlgItemText(ids::warning::kText), c.warning);
    EXPECT_EQ(dlg.OnCtlColor(ids::warning::kText).text_color, ui::RGB(255, 0, 0));
    EXPECT_EQ(dlg.OnCtlColor(ui::IDOK).text_color, dlg.ui::Dialog::OnCtlColor(ui::IDOK).text_color);
  });
  Give(warning, c.first);
  if (c.second != Answer::None) {
    auto& sure = user.Expect(ids::kSureTemplate).Do([](ui::Dialog& dlg) {
      EXPECT_EQ(dlg.caption(), "Confirmation");
      EXPECT_EQ(dlg.GetDlgItemText(ids::sure::kText), "Are you really sure?");
      EXPECT_EQ(dlg.GetDlgItem(ids::sure::kText)->font(), (ui::Font{"Arial", 120}));
      EXPECT_EQ(dlg.OnCtlColor(ids::sure::kText).text_color, ui::RGB(255, 0, 0));
      EXPECT_EQ(dlg.OnCtlColor(ui::IDCANCEL).text_color,
                dlg.ui::Dialog::OnCtlColor(ui::IDCANCEL).text_color);
    });
    Give(sure, c.second);
  }

  EXPECT_EQ(ConfirmWithWarning(static_cast<WarningKind>(c.kind)), c.answer);
  EXPECT_FALSE(user.failed());
  EXPECT_EQ(user.pending_steps(), 0u);
  const std::vector<int> shown =
      c.second == Answer::None ? std::vector<int>{ids::kWarningTemplate}
                                 : std::vector<int>{ids::kWarningTemplate, ids::kSureTemplate};
  EXPECT_EQ(user.opened_dialogs(), shown);
  EXPECT_TRUE(user.open_dialogs().empty());
}

INSTANTIATE_TEST_SUITE_P(Steps, ConfirmWithWarningFlow, testing::ValuesIn(kConfirmCases),
                         [](const testing::TestParamInfo<ConfirmCase>& param_info) {
                           return std::string(param_info.param.name);
                         });

// A fresh warning for every confirmation: nothing carries over from the last one.
TEST(ConfirmWithWarningFlow, EachConfirmationStartsAfresh) {
  ScriptedUser user;
  user.Expect(ids::kWarningTemplate).Press(ui::IDOK);
  user.Expect(ids::kSureTemplate).Press(ui::IDOK);
  user.Expect(ids::kWarningTemplate)
      .Do([](ui::Dialog& dlg) { EXPECT_EQ(dlg.GetDlgItemText(ids::warning::kText), kSmartText); })
      .Escape();
  EXPECT_TRUE(ConfirmWithWarning(WarningKind::EraseDisk));
  EXPECT_FALSE(ConfirmWithWarning(WarningKind::SmartDisabled));
  EXPECT_FALSE(user.failed());
  EXPECT_EQ(user.pending_steps(), 0u);
}

struct NoticeCase {
  const char* name;
  int template_id;
  std::function<int()> show;
  Answer answer;
  int code;
  const char* caption;
  const char* text;  // the template's one fixed static
};

int ShowCompErase1() { CCompErase1 dlg; return dlg.DoModal(); }
int ShowCompErase2() { CCompErase2 dlg; return dlg.DoModal(); }
int ShowAbortTest() { CAbortTest dlg; return dlg.DoModal(); }

const char* const kMbrDone = "ERASE MBR HAS BEEN COMPLETED SUCCESSFULLY";
const char* const kDiskDone = "ERASE DISK HAS BEEN COMPLETED SUCCESSFULLY";
const char* const kAbortQ = "Are you sure to abort ?";

class NoticeDialogs : public testing::TestWithParam<NoticeCase> {};

TEST_P(NoticeDialogs, ClosingCodes) {
  const NoticeCase& c = GetParam();
  ScriptedUser user;
  auto& step = user.Expect(c.template_id).Do([&](ui::Dialog& dlg) {
    EXPECT_EQ(dlg.caption(), c.caption);
    bool found = false;
    for (const auto& control : dlg.controls()) {
      if (control->kind() == ui::Kind::Static) found = found || control->text() == c.text;
    }
    EXPECT_TRUE(found) << c.text;
  });
  Give(step, c.answer);
  EXPECT_EQ(c.show(), c.code);
  EXPECT_FALSE(user.failed());
  EXPECT_EQ(user.pending_steps(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, NoticeDialogs,
    testing::Values(NoticeCase{"MbrDoneOk", ids::kEraseMbrDoneTemplate, ShowCompErase1, Answer::Ok,
                               ui::IDOK, "Erase MBR Result", kMbrDone},
                    NoticeCase{"MbrDoneEscape", ids::kEraseMbrDoneTemplate, ShowCompErase1,
                               Answer::Escape, ui::IDCANCEL, "Erase MBR Result", kMbrDone},
                    NoticeCase{"DiskDoneOk", ids::kEraseDiskDoneTemplate, ShowCompErase2,
                               Answer::Ok, ui::IDOK, "Erase Disk Result", kDiskDone},
                    NoticeCase{"DiskDoneCloseBox", ids::kEraseDiskDoneTemplate, ShowCompErase2,
                               Answer::CloseBox, ui::IDCANCEL, "Erase Disk Result", kDiskDone},
                    NoticeCase{"AbortOk", ids::kAbortQuestionTemplate, ShowAbortTest, Answer::Ok,
                               ui::IDOK, "Confirmation", kAbortQ},
                    NoticeCase{"AbortCancel", ids::kAbortQuestionTemplate, ShowAbortTest,
                               Answer::Cancel, ui::IDCANCEL, "Confirmation", kAbortQ},
                    NoticeCase{"AbortEscape", ids::kAbortQuestionTemplate, ShowAbortTest,
                               Answer::Escape, ui::IDCANCEL, "Confirmation", kAbortQ}),
    [](const testing::TestParamInfo<NoticeCase>& param_info) {
      return std::string(param_info.param.name);
    });

}  // namespace
}  // namespace plovix
