#include "reports/SmartAttributes.h"

#include <cstring>

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
constexpr int kEntryCount = 30;
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
    std::uint64_t raw48 = 0;
    for (int b = 10; b >= 5; --b) raw48 = raw48 << 8 | entry[b];
    row.raw48 = raw48;
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

}  // namespace plovix
