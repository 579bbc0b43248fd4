// The test suite's one temporary working directory, and whole-file reads and writes,
// portable to Windows: no POSIX call, only std::filesystem and the C runtime.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>

namespace plovix::testing_support {

// Log times are local times: tests format them in UTC so their expected texts hold on
// every machine.
inline void UseUtc() {
#ifdef _WIN32
  _putenv_s("TZ", "UTC0");
  _tzset();
#else
  setenv("TZ", "UTC", 1);
  tzset();
#endif
}

// A fresh, empty directory "work" made the current one (the program writes its logs
// there), alone inside a private parent so a test can see that nothing lands beside
// it. The previous current directory comes back and both go on destruction.
class TempWorkDir {
 public:
  TempWorkDir() : previous_(std::filesystem::current_path()) {
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100 && root_.empty(); ++attempt) {
      const auto candidate = base / ("plovix_test_" + std::to_string(random()) + "_" + std::to_string(attempt));
      std::error_code error;
      if (std::filesystem::create_directory(candidate, error)) root_ = candidate;
    }
    std::error_code error;
    if (!root_.empty() && std::filesystem::create_directory(root_ / "work", error)) path_ = root_ / "work";
    if (path_.empty()) {
      ADD_FAILURE() << "no temporary directory under " << base.string();
      return;
    }
    std::filesystem::current_path(path_);
    UseUtc();
  }
  ~TempWorkDir() {
    std::error_code error;
    std::filesystem::current_path(previous_, error);
    if (!root_.empty()) std::filesystem::remove_all(root_, error);
  }
  TempWorkDir(const TempWorkDir&) = delete;
  TempWorkDir& operator=(const TempWorkDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path root_;
  std::filesystem::path path_;
};

// Byte for byte, so CR LF line ends are seen as they are on disk.
inline std::string ReadBinary(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBinary(const std::filesystem::path& file, const std::string& content) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << content;
}

}  // namespace plovix::testing_support
