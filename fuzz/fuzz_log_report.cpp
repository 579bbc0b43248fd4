// A drive's log file of any content turned into the test log report.
#include <string>

#include "fuzz/FuzzSupport.h"
#include "reports/LogReport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  plovix::fuzz::EnterScratchDirectory();
  plovix::fuzz::WriteFile("FUZZSERIAL.log", data, size);
  const std::string text =
      plovix::BuildLogReportText("FUZZSERIAL", "FUZZ MODEL", "1.0", 1u << 30,
                                 plovix::SmartVerdict::Unknown, 0, "\r\n");
  if (text.empty()) std::abort();
  return 0;
}
