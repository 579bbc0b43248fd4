#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace plovix {

// Buffer A receives every data-in transfer; buffer B is the zeroed source of WRITE BUFFER.
class IoBuffers {
 public:
  static constexpr std::size_t kSize = 1442304;
  static constexpr std::size_t kZeroedBeforeWriteBuffer = 1441792;

  IoBuffers() : a_(kSize, 0), b_(kSize, 0) {}

  std::uint8_t* a() { return a_.data(); }
  std::uint8_t* b() { return b_.data(); }
  const std::uint8_t* a() const { return a_.data(); }
  const std::uint8_t* b() const { return b_.data(); }

 private:
  std::vector<std::uint8_t> a_;
  std::vector<std::uint8_t> b_;
};

}  // namespace plovix
