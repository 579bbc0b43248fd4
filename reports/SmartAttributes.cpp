#include "reports/SmartAttributes.h"

#include <cstdio>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace plovix {

const SmartCatalogEntry SmartAttributeCatalog[kSmartCatalogSize] = {
    {1, "Raw Read Error Rate"},
    {2, "Throughput Performance"},
    {3, "Spin Up Time"},
    {4, "Start/Stop Count"},
    {5, "Reallocated Sector Count"},
    {7, "Seek Error Rate"},
    {8, "Seek Time Perfomance"},
    {9, "Power-On Hours Count"},
    {10, "Spin Retry Count"},
    {12, "Device Power Cycle Count"},
    {160, "Free-fall Sensor Self Test Result"},
    {191, "G Sensor error rate"},
    {192, "Power Off Retract Count"},
    {193, "Load Cycle Count"},
    {194, "Device Temperature"},
    {196, "Reallocation Event Count"},
    {197, "Current Pending Sector Count"},
    {198, "Off-Line Scan Uncorrectable Secter Count"},
    {199, "Ultra DMA CRC Error Count"},
    {223, "Load Retry Count"},
    {254, "Free-fall Sensor Work Count"},
};

namespace {

// Both sectors: a two-byte revision, then 30 entries of 12 bytes.
constexpr int kEntryCount = kSmartEntryCount;
constexpr int kEntrySize = 12;
constexpr int kFirstEntry = 2;

// First entry whose id byte is the catalogue id, or nullptr.
const std::uint8_t* FindEntry(const std::uint8_t* sector, std::int32_t id) {
  for (int e = 0; e < kEntryCount; ++e) {
    const std::uint8_t* entry = sector + kFirstEntry + e * kEntrySize;
    if (static_cast<std::int32_t>(entry[0]) == id) return entry;
  }
  return nullptr;
}

// The six raw bytes 5..10 of a data entry, little-endian.
std::uint64_t Raw48(const std::uint8_t* entry) {
  std::uint64_t raw48 = 0;
  for (int b = 10; b >= 5; --b) raw48 = raw48 << 8 | entry[b];
  return raw48;
}

bool InCatalogue(std::uint8_t id) {
  return std::any_of(std::begin(SmartAttributeCatalog), std::end(SmartAttributeCatalog),
                     [id](const SmartCatalogEntry& cat) { return cat.id == id; });
}

struct OtherName {
  std::uint8_t id;
  const char* name;
};

// Attributes many drives report beyond the catalogue, where vendors agree on the meaning.
constexpr OtherName kOtherNames[] = {
    {6, "Read Channel Margin"},
    {11, "Recalibration Retry Count"},
    {13, "Soft Read Error Rate"},
    {22, "Helium Level"},
    {170, "Available Reserved Space"},
    {171, "Program Fail Count"},
    {172, "Erase Fail Count"},
    {173, "Wear Leveling Count"},
    {174, "Unexpected Power Loss Count"},
    {177, "Wear Range Delta"},
    {180, "Unused Reserved Block Count"},
    {183, "SATA Downshift Error Count"},
    {184, "End-to-End Error Count"},
    {187, "Reported Uncorrectable Error Count"},
    {188, "Command Time-out Count"},
    {189, "High Fly Write Count"},
    {190, "Airflow Temperature"},
    {195, "ECC Recovered Error Count"},
    {200, "Write Error Rate"},
    {202, "Data Address Mark Error Count"},
    {220, "Disk Shift"},
    {222, "Loaded Hours"},
    {224, "Load Friction"},
    {225, "Load/Unload Cycle Count"},
    {226, "Load-in Time"},
    {240, "Head Flying Hours"},
    {241, "Total LBAs Written"},
    {242, "Total LBAs Read"},
    {250, "Read Error Retry Rate"},
};

}  // namespace

int DecodeSmartValues(const std::uint8_t* data_sector, SmartAttributeTable& table) {
  int r = 0;
  for (const auto& cat : SmartAttributeCatalog) {
    const std::uint8_t* entry = FindEntry(data_sector, cat.id);
    if (entry == nullptr) continue;
    SmartAttributeRow& row = table.rows[r];
    row.id = static_cast<std::uint8_t>(cat.id);
    // The whole 40-byte field: name and zero fill, never the terminator.
    std::memcpy(row.name, cat.name, sizeof row.name);
    row.current = entry[3];
    row.worst = entry[4];
    // The two top bytes of the raw value, byte 9 high; small counts read as 0 here,
    // which is what the read-error check relies on.
    row.raw = static_cast<std::uint16_t>(entry[9] << 8 | entry[10]);
    row.raw48 = Raw48(entry);
    ++r;
  }
  return r;
}

void ApplySmartThresholds(const std::uint8_t* threshold_sector, SmartAttributeTable& table) {
  // By position: the n-th catalogue attribute found gives its threshold to row n.
  int r = 0;
  for (const auto& cat : SmartAttributeCatalog) {
    const std::uint8_t* entry = FindEntry(threshold_sector, cat.id);
    if (entry == nullptr) continue;
    table.rows[r].threshold = entry[1];
    ++r;
  }
}

bool IsAttributeFailing(const SmartAttributeRow& row) {
  return row.threshold != 0 && row.current < row.threshold;
}

void DecodeOtherAttributes(const std::uint8_t* data_sector, SmartOtherAttributes& others) {
  others = SmartOtherAttributes{};
  for (int e = 0; e < kEntryCount; ++e) {
    const std::uint8_t* entry = data_sector + kFirstEntry + e * kEntrySize;
    const std::uint8_t id = entry[0];
    if (id == 0 || InCatalogue(id)) continue;
    SmartOtherAttribute* const end = others.rows + others.count;
    if (std::any_of(others.rows, end, [id](const SmartOtherAttribute& r) { return r.id == id; })) {
      continue;  // a repeated id: its first entry stands, as for the catalogue
    }
    SmartOtherAttribute& row = others.rows[others.count++];
    row.id = id;
    row.current = entry[3];
    row.worst = entry[4];
    row.raw48 = Raw48(entry);
  }
  std::stable_sort(others.rows, others.rows + others.count,
                   [](const SmartOtherAttribute& a, const SmartOtherAttribute& b) {
                     return a.id < b.id;
                   });
}

void ApplyOtherThresholds(const std::uint8_t* threshold_sector, SmartOtherAttributes& others) {
  // By id: these rows have no catalogue position that could pair them up.
  for (int r = 0; r < others.count && r < kEntryCount; ++r) {
    if (const std::uint8_t* entry = FindEntry(threshold_sector, others.rows[r].id)) {
      others.rows[r].threshold = entry[1];
    }
  }
}

bool IsAttributeFailing(const SmartOtherAttribute& row) {
  return row.threshold != 0 && row.current < row.threshold;
}

std::string RawValueText(std::uint8_t id, std::uint64_t raw48) {
  raw48 &= 0xFFFFFFFFFFFFull;
  std::string decoded;
  switch (id) {
    case 190:
    case 194: {
      const unsigned now = raw48 & 0xFF;
      const unsigned low = (raw48 >> 16) & 0xFF;
      const unsigned high = (raw48 >> 32) & 0xFF;
      decoded = std::to_string(now);
      // Only where the higher words hold a plausible range around the reading.
      if (low != 0 && high != 0 && low <= now && now <= high && high < 128) {
        decoded += " (min " + std::to_string(low) + ", max " + std::to_string(high) + ")";
        // The three readings are the whole value: nothing left for the hex to tell.
        if ((raw48 & 0xFF00FF00FF00ull) == 0) return decoded;
      }
      break;
    }
    case 9:
      decoded = std::to_string(raw48 & 0xFFFFFFFFull);
      break;
    case 188:
      decoded = std::to_string(raw48 & 0xFFFF);
      break;
    case 1:
    case 7:
    case 195:
      // A drive that counts operations in the low 32 bits keeps its errors above them.
      decoded = std::to_string(raw48 > 0xFFFFFFFFull ? raw48 >> 32 : raw48);
      break;
    default:
      return std::to_string(raw48);
  }
  if (decoded == std::to_string(raw48)) return decoded;
  char hex[24];
  std::snprintf(hex, sizeof hex, " 0x%llX", static_cast<unsigned long long>(raw48));
  return decoded + hex;
}

const char* OtherAttributeName(std::uint8_t id) {
  for (const OtherName& other : kOtherNames) {
    if (other.id == id) return other.name;
  }
  return "Unknown Attribute";
}

}  // namespace plovix
