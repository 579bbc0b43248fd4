// Result dialog of the quick and extended test: the read-error check and the self-test.
#pragma once

#include <cstdint>
#include <string>

#include "ui/Dialog.h"

namespace plovix {

// Read-error codes handed to CTestResult.
inline constexpr int kReadErrorPass = 0;
inline constexpr int kReadErrorFail = 1;
inline constexpr int kReadErrorComErr = 255;

// Sentence for a self-test execution status byte (its high nibble decides).
const char* SelfTestSentence(std::uint8_t status);
// Sentence for a self-test the drive never started: no status byte of it exists.
inline constexpr const char* kSelfTestNotStartedSentence = "Fail - Drive did not start the test";
// The line under the title: what became of the test of this kind (1 short, 2 extended);
// "have been completed" only for a test that ran to its end. Empty for any other kind.
std::string SelfTestSubtitle(int kind, std::uint8_t status, bool not_started);
// Word for a read-error code, or nullptr for a code that has none.
const char* ReadErrorWord(int read_error_code);

class CTestResult : public ui::Dialog {
 public:
  CTestResult();
  ~CTestResult() override;

  void DoDataExchange(ui::DataExchange& dx) override;
  bool OnInitDialog() override;
  ui::CtlColor OnCtlColor(int id) override;

  ui::Font title_font;
  ui::Font text_font;
  ui::Brush white_brush;
  const std::uint8_t* status_in = nullptr;
  int read_error_code = 0;
  int kind = 0;
  std::string title_text;
  std::string subtitle_text;
  std::string selftest_text;
  std::string read_error_text;
  std::string drive_caption;  // set per drive with read_error_code
  // Set per drive: the start was refused or failed, so the status byte says nothing of
  // this test.
  bool not_started = false;
};

}  // namespace plovix
