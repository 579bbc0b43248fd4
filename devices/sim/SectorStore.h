// Written sectors of a virtual drive, kept as runs of one repeated 512-byte pattern so
// that erasing a whole multi-terabyte drive costs a few map entries.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>

namespace plovix::sim {

using Sector = std::array<std::uint8_t, 512>;

// What a sector that was never written holds: a text made from its LBA, and the boot
// record signature on sector 0.
Sector PatternSector(std::uint64_t lba);

class SectorStore {
 public:
  // Every sector of [first, first + count) now holds data.
  void Fill(std::uint64_t first, std::uint64_t count, const Sector& data);
  // count sectors of data (count * 512 bytes) from first; runs of equal sectors are
  // kept as one, so writes of zeros stay cheap.
  void Write(std::uint64_t first, const std::uint8_t* data, std::uint64_t count);
  // The written content of lba, or nullptr when it was never written.
  const Sector* Find(std::uint64_t lba) const;
  // What a read of lba returns: the written content, or the sector's pattern.
  Sector Read(std::uint64_t lba) const;
  // Whether every sector of the range was written with all-zero data.
  bool IsZeroed(std::uint64_t first, std::uint64_t count) const;
  std::size_t run_count() const { return runs_.size(); }

 private:
  struct Run {
    std::uint64_t end = 0;  // one past the last sector
    std::shared_ptr<const Sector> data;
  };
  std::map<std::uint64_t, Run> runs_;  // keyed by first sector; runs never overlap
};

}  // namespace plovix::sim
