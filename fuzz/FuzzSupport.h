// Small helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

namespace plovix::fuzz {

// A fixed-size block of the input, zero-padded when the input is shorter.
template <std::size_t N>
std::vector<std::uint8_t> Block(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> block(N, 0);
  std::memcpy(block.data(), data, size < N ? size : N);
  return block;
}

// A text field must keep a terminator inside its array.
template <std::size_t N>
void RequireTerminated(const char (&text)[N]) {
  if (std::memchr(text, '\0', N) == nullptr) std::abort();
}

// Targets that read files work in a private directory of their own.
inline void EnterScratchDirectory() {
  static bool entered = false;
  if (entered) return;
  char pattern[] = "/tmp/plovix_fuzz_XXXXXX";
  if (mkdtemp(pattern) == nullptr || chdir(pattern) != 0) std::abort();
  entered = true;
}

inline void WriteFile(const char* name, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(name, "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
}

}  // namespace plovix::fuzz
