// A fresh working directory for tests that write files; the previous one comes back
// afterwards. Times are formatted in UTC so the expected texts hold everywhere.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace plovix::testing_support {

inline void UseUtc() {
#ifdef _WIN32
  _putenv_s("TZ", "UTC");
  _tzset();
#else
  setenv("TZ", "UTC", 1);
  tzset();
#endif
}

class ScratchDir {
 public:
  ScratchDir() : previous_(std::filesystem::current_path()) {
    static std::atomic<int> counter{0};
    const auto stamp = std::to_string(std::time(nullptr)) + "_" +
                       std::to_string(reinterpret_cast<std::uintptr_t>(this)) + "_" +
                       std::to_string(counter++);
    path_ = std::filesystem::temp_directory_path() / ("plovix_reports_" + stamp) / "work";
    std::filesystem::create_directories(path_);
    std::filesystem::current_path(path_);
    UseUtc();
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::current_path(previous_, ec);
    std::filesystem::remove_all(path_.parent_path(), ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

inline std::string ReadBinary(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBinary(const std::filesystem::path& file, const std::string& content) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << content;
}

}  // namespace plovix::testing_support
