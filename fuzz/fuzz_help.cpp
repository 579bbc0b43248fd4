// The help file of any content read for the help viewer.
#include <string>

#include "fuzz/FuzzSupport.h"
#include "reports/Help.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  plovix::fuzz::EnterScratchDirectory();
  plovix::fuzz::WriteFile("HELP.TXT", data, size);
  const std::string text = plovix::ReadHelpText("HELP.TXT");
  // Every line the viewer shows ends in CR LF.
  if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0) std::abort();
  return 0;
}
