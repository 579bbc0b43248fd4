// The test program's entry. Every scripted user interface reports a script that does
// not fit what the program shows as a failure of the running test.
#include <gtest/gtest.h>

#include "faces/scripted/ScriptedBackend.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ui::scripted::ScriptedBackend::SetDefaultFailureHandler(
      [](const std::string& message) { ADD_FAILURE() << "scripted ui: " << message; });
  return RUN_ALL_TESTS();
}
