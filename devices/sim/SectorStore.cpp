#include "devices/sim/SectorStore.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace plovix::sim {

Sector PatternSector(std::uint64_t lba) {
  Sector sector{};
  char line[40];
  const int n = std::snprintf(line, sizeof line, "Plovix bench sector %llu\n",
                              static_cast<unsigned long long>(lba));
  for (std::size_t i = 0; i < sector.size(); ++i) {
    sector[i] = static_cast<std::uint8_t>(line[i % static_cast<std::size_t>(n)]);
  }
  if (lba == 0) {  // looks like a boot record
    sector[510] = 0x55;
    sector[511] = 0xAA;
  }
  return sector;
}

Sector SectorStore::Read(std::uint64_t lba) const {
  const Sector* written = Find(lba);
  return written ? *written : PatternSector(lba);
}

void SectorStore::Fill(std::uint64_t first, std::uint64_t count, const Sector& data) {
  if (count == 0) return;
  const std::uint64_t last_end = first + count;

  // Cut every run that overlaps [first, last_end) down to the parts outside it.
  auto it = runs_.upper_bound(first);
  if (it != runs_.begin()) --it;
  while (it != runs_.end() && it->first < last_end) {
    const std::uint64_t start = it->first;
    const Run run = it->second;
    if (run.end <= first) {
      ++it;
      continue;
    }
    it = runs_.erase(it);
    if (start < first) runs_.emplace(start, Run{first, run.data});
    if (run.end > last_end) {
      runs_.emplace(last_end, Run{run.end, run.data});
      break;
    }
  }

  auto shared = std::make_shared<const Sector>(data);
  std::uint64_t start = first;
  std::uint64_t end = last_end;
  // Join touching neighbours of equal content, so a chunked erase stays one run.
  auto next = runs_.find(end);
  if (next != runs_.end() && *next->second.data == data) {
    end = next->second.end;
    runs_.erase(next);
  }
  auto prev = runs_.lower_bound(start);
  if (prev != runs_.begin()) {
    --prev;
    if (prev->second.end == start && *prev->second.data == data) {
      start = prev->first;
      shared = prev->second.data;
      runs_.erase(prev);
    }
  }
  runs_.emplace(start, Run{end, std::move(shared)});
}

void SectorStore::Write(std::uint64_t first, const std::uint8_t* data, std::uint64_t count) {
  std::uint64_t i = 0;
  while (i < count) {
    const std::uint8_t* at = data + i * 512;
    std::uint64_t j = i + 1;
    while (j < count && std::memcmp(at, data + j * 512, 512) == 0) ++j;
    Sector sector;
    std::copy_n(at, sector.size(), sector.begin());
    Fill(first + i, j - i, sector);
    i = j;
  }
}

const Sector* SectorStore::Find(std::uint64_t lba) const {
  auto it = runs_.upper_bound(lba);
  if (it == runs_.begin()) return nullptr;
  --it;
  return lba < it->second.end ? it->second.data.get() : nullptr;
}

bool SectorStore::IsZeroed(std::uint64_t first, std::uint64_t count) const {
  std::uint64_t at = first;
  const std::uint64_t end = first + count;
  while (at < end) {
    auto it = runs_.upper_bound(at);
    if (it == runs_.begin()) return false;
    --it;
    if (at >= it->second.end) return false;
    const Sector& data = *it->second.data;
    if (!std::all_of(data.begin(), data.end(), [](std::uint8_t b) { return b == 0; })) {
      return false;
    }
    at = it->second.end;
  }
  return true;
}

}  // namespace plovix::sim
