// A fresh working directory holding one drive log of many records, as the program writes
// them; the benchmarks that open big logs share it.
#pragma once

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "reports/DriveLog.h"

namespace plovix::bench {

constexpr int kLogRecords = 100000;

class LogDir {
 public:
  LogDir(const std::string& prefix, const std::string& serial) {
    static const char* const kTags[] = {"ReadErrStat", "SMART QT",   "SMART ET",  "Erase MBR",
                                        "Erase Disk",  "SURFACE QT", "SURFACE ET"};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    dir_ = std::filesystem::temp_directory_path() / (prefix + std::to_string(stamp));
    std::filesystem::create_directories(dir_);
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    std::FILE* f = std::fopen(LogFileName(serial).c_str(), "wb");
    for (int i = 0; i < kLogRecords; ++i) {
      std::fprintf(f, "%s\r\nDone\r\nPass\r\n03/14/2012 09:05:07\r\n", kTags[i % 7]);
    }
    std::fclose(f);
  }
  ~LogDir() {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  LogDir(const LogDir&) = delete;
  LogDir& operator=(const LogDir&) = delete;

 private:
  std::filesystem::path dir_;
  std::filesystem::path old_;
};

}  // namespace plovix::bench
