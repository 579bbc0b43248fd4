// What the bench keeps behind its interface, shared by the files that implement it:
// the set-up and handles (Bench.cpp), the pass-through calls (BenchPassThrough.cpp,
// BenchBridge.cpp) and the block path with its claims (BenchDisks.cpp).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "devices/sim/AtaDrive.h"
#include "devices/sim/Bench.h"
#include "devices/sim/NvmeDrive.h"

namespace plovix::sim {

namespace bench_detail {

// What a request carries, for fault matching.
struct Probe {
  std::optional<std::uint8_t> ata_command;
  std::optional<std::uint8_t> feature;
  std::optional<std::uint8_t> cdb_opcode;
  std::optional<std::uint64_t> lba;
  std::optional<NvmeQueue> nvme_queue;
  std::optional<std::uint8_t> nvme_opcode;
};

}  // namespace bench_detail

struct Bench::Impl {
  mutable std::mutex mutex;
  std::condition_variable released;
  std::function<std::uint64_t()> clock;

  std::map<int, std::unique_ptr<AtaDrive>> drives;
  std::map<int, std::unique_ptr<NvmeDrive>> nvme_drives;  // no number is in both maps
  std::map<char, std::optional<int>> volumes;  // no drive: a silent volume

  struct Handle {
    std::string path;
    std::optional<int> drive;  // physical drive, or the drive a volume lives on
    bool volume = false;
  };
  std::map<DeviceHandle, Handle> handles;
  DeviceHandle next_handle = 0x100;
  std::vector<int> system_drives;
  std::string system_undetermined;  // set: the system cannot be traced
  std::vector<std::string> other_disks;

  struct CatalogEntry {
    std::string class_guid;
    std::string enumerator;
    std::optional<std::string> instance_id;
    int owner = -1;  // drive whose unplugging removes the entry
  };
  std::vector<CatalogEntry> catalog;
  std::vector<std::pair<std::string, std::string>> failed_catalogs;

  std::set<int> fail_open;
  struct ActiveFault {
    Fault fault;
    int seen = 0;
    int hits = 0;
  };
  std::vector<ActiveFault> faults;
  std::uint64_t release_generation = 0;
  std::uint64_t garbage_state = 0x9E3779B97F4A7C15ULL;

  std::vector<Received> log;
  std::vector<std::string> opened;

  // The system's block path.
  struct DiskState {
    std::vector<std::string> users;
    std::string claim_failure;
    std::string release_failure;
    int releases = 0;
    std::uint64_t bytes_written = 0;
  };
  std::map<int, DiskState> disks;
  std::map<DeviceHandle, int> claims;  // claim handle -> drive number

  std::uint64_t Now() const {
    std::function<std::uint64_t()> f;
    {
      std::lock_guard lock(mutex);
      f = clock;
    }
    return f ? f() : 0;
  }

  std::uint8_t NextGarbage() {
    garbage_state ^= garbage_state << 13;
    garbage_state ^= garbage_state >> 7;
    garbage_state ^= garbage_state << 17;
    return static_cast<std::uint8_t>(garbage_state >> 24);
  }

  AtaDrive* FindDrive(std::optional<int> n) {
    if (!n) return nullptr;
    auto it = drives.find(*n);
    return it == drives.end() ? nullptr : it->second.get();
  }

  NvmeDrive* FindNvme(std::optional<int> n) {
    if (!n) return nullptr;
    auto it = nvme_drives.find(*n);
    return it == nvme_drives.end() ? nullptr : it->second.get();
  }

  bool Present(int n) const { return drives.count(n) != 0 || nvme_drives.count(n) != 0; }

  // The first fault that hits this request, counted as used. Caller holds the lock.
  std::optional<Fault> TakeFault(int drive_number, const bench_detail::Probe& probe) {
    for (ActiveFault& active : faults) {
      const FaultMatch& m = active.fault.match;
      if (m.drive_number && *m.drive_number != drive_number) continue;
      if (m.ata_command && m.ata_command != probe.ata_command) continue;
      if (m.smart_feature && m.smart_feature != probe.feature) continue;
      if (m.cdb_opcode && m.cdb_opcode != probe.cdb_opcode) continue;
      if (m.lba && m.lba != probe.lba) continue;
      if (m.nvme_queue && m.nvme_queue != probe.nvme_queue) continue;
      if (m.nvme_opcode && m.nvme_opcode != probe.nvme_opcode) continue;
      ++active.seen;
      if (active.seen <= m.skip) continue;
      if (m.times >= 0 && active.hits >= m.times) continue;
      ++active.hits;
      return active.fault;
    }
    return std::nullopt;
  }

  // Waits, without the lock, until the test releases blocked commands or the bench
  // clock reaches until_ms.
  void Block(std::uint64_t generation, std::uint64_t until_ms) {
    std::unique_lock lock(mutex);
    while (release_generation == generation) {
      if (until_ms != 0) {
        auto f = clock;
        lock.unlock();
        const std::uint64_t now = f ? f() : 0;
        lock.lock();
        if (now >= until_ms) break;
        if (release_generation != generation) break;
      }
      released.wait_for(lock, std::chrono::milliseconds(1));
    }
  }

  void Record(const Handle* handle, const AtaPassThroughRequest* ata,
              const ScsiPassThroughRequest* scsi) {
    Received r;
    if (handle) {
      r.path = handle->path;
      r.drive_number = handle->drive.value_or(-1);
    }
    if (ata) {
      r.ata = *ata;
      if ((ata->AtaFlags & kAtaFlagsDataOut) && ata->DataBuffer) {
        r.data_out.assign(ata->DataBuffer, ata->DataBuffer + ata->DataTransferLength);
      }
    }
    if (scsi) {
      r.scsi = true;
      r.scsi_request = *scsi;
      if (scsi->DataIn == kScsiDataOut && scsi->DataBuffer) {
        r.data_out.assign(scsi->DataBuffer, scsi->DataBuffer + scsi->DataTransferLength);
      }
    }
    log.push_back(std::move(r));
  }

  void RecordNvme(const Handle* handle, const NvmeRequest& request) {
    Received r;
    if (handle) {
      r.path = handle->path;
      r.drive_number = handle->drive.value_or(-1);
    }
    r.nvme = true;
    r.nvme_request = request;
    if (request.direction == NvmeData::ToDevice && request.data) {
      r.data_out.assign(request.data, request.data + request.data_length);
    }
    log.push_back(std::move(r));
  }
};

}  // namespace plovix::sim
