// SMART attribute catalogue and decoding of the data and threshold sectors.
#pragma once

#include <cstdint>
#include <string>

namespace plovix {

inline constexpr int kSmartCatalogSize = 21;

struct SmartCatalogEntry {
  std::int32_t id;
  char name[41];
};

extern const SmartCatalogEntry SmartAttributeCatalog[kSmartCatalogSize];

struct SmartAttributeRow {
  std::uint8_t id = 0;          // 0 marks an empty row
  char name[40] = {};           // a 40-character name has no terminator
  std::uint8_t current = 0;
  std::uint8_t worst = 0;
  std::uint8_t threshold = 0;
  std::uint16_t raw = 0;        // raw bytes 9 (high) and 10 (low) of the entry
  std::uint64_t raw48 = 0;      // the whole six-byte raw value
};

struct SmartAttributeTable {
  SmartAttributeRow rows[kSmartCatalogSize] = {};
};

// Writes rows from row 0 for each catalogue attribute present in the data sector;
// returns how many rows it wrote. Thresholds are left alone.
int DecodeSmartValues(const std::uint8_t* data_sector /* 512 bytes */, SmartAttributeTable& table);
// Gives rows 0, 1, 2, ... the thresholds of the catalogue attributes found, in order.
void ApplySmartThresholds(const std::uint8_t* threshold_sector, SmartAttributeTable& table);
// Threshold set and current below it.
bool IsAttributeFailing(const SmartAttributeRow& row);

// The attributes a drive reports that the catalogue does not name. Only the SMART status
// dialog shows them; the table above, which the tests search, stays as it is.
inline constexpr int kSmartEntryCount = 30;

struct SmartOtherAttribute {
  std::uint8_t id = 0;
  std::uint8_t current = 0;
  std::uint8_t worst = 0;
  std::uint8_t threshold = 0;
  std::uint64_t raw48 = 0;
};

struct SmartOtherAttributes {
  SmartOtherAttribute rows[kSmartEntryCount] = {};
  int count = 0;
};

// Every id of the data sector outside the catalogue, once (from its first entry), in id
// order. Thresholds start at 0.
void DecodeOtherAttributes(const std::uint8_t* data_sector, SmartOtherAttributes& others);
// Gives each row the threshold of its own id, when the threshold sector has one.
void ApplyOtherThresholds(const std::uint8_t* threshold_sector, SmartOtherAttributes& others);
bool IsAttributeFailing(const SmartOtherAttribute& row);
// The raw value as a person reads it, by the attribute's well-known packing:
// temperatures (190, 194) as "42 (min 21, max 53)" where the drive keeps its extremes in
// the higher words, power-on hours (9) from the low 32 bits, the command time-outs (188)
// from their low word, the error rates (1, 7, 195) from their high word where the drive
// counts operations below it; with the whole 48-bit value in hex beside it where the
// decoded text leaves part of it out. Every other attribute: the 48-bit value in decimal.
std::string RawValueText(std::uint8_t id, std::uint64_t raw48);

// A common name for an attribute outside the catalogue, or "Unknown Attribute".
const char* OtherAttributeName(std::uint8_t id);

}  // namespace plovix
