#include "inventory/Identity.h"

#include <cstddef>
#include <cstring>

namespace plovix {

namespace {

std::uint16_t Word(const std::uint8_t* data, int index) {
  return static_cast<std::uint16_t>(data[2 * index] | (data[2 * index + 1] << 8));
}

// An ATA text field: `words` words from `first`, first character of each pair in the
// high byte. Leading blanks are skipped, trailing blanks and zeros cut; the result never
// exceeds the field's width, whatever the drive sent.
void DecodeAtaText(const std::uint8_t* data, int first, int words, char* out,
                   std::size_t out_size) {
  const std::size_t width = static_cast<std::size_t>(words) * 2;
  if (out_size < width + 1) return;  // every caller passes a field of width + 1
  char raw[80];
  for (int w = 0; w < words; ++w) {
    const std::uint16_t value = Word(data, first + w);
    raw[2 * w] = static_cast<char>(value >> 8);
    raw[2 * w + 1] = static_cast<char>(value & 0xFF);
  }
  std::size_t start = 0;
  while (start < width && raw[start] == ' ') ++start;
  std::memset(out, ' ', width);
  std::memcpy(out, raw + start, width - start);
  out[width] = '\0';
  // The text ends at its first zero, if the drive put one inside the field; blanks
  // before the end are cut, so no text keeps a trailing blank.
  std::size_t end = std::strlen(out);
  while (end > 0 && out[end - 1] == ' ') --end;
  std::memset(out + end, 0, out_size - end);
}

// Copies a fixed-width INQUIRY field; the record's field is one longer for the terminator.
void CopyField(const std::uint8_t* src, std::size_t length, char* out, std::size_t out_size) {
  std::memset(out, 0, out_size);
  if (length > out_size - 1) length = out_size - 1;
  std::memcpy(out, src, length);
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Splits a blank-padded name into words. A blank ends a word that has a character;
// runs of blanks and leading blanks separate nothing.
template <std::size_t Slots, std::size_t SlotSize>
std::uint8_t SplitWords(const char* text, std::size_t length, char (&words)[Slots][SlotSize]) {
  std::memset(words, 0, sizeof words);
  std::size_t index = 0, len = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (c == ' ') {
      if (len > 0) {
        ++index;
        len = 0;
      }
      continue;
    }
    if (index >= Slots) break;
    if (len + 1 < SlotSize) words[index][len++] = c;
  }
  if (len > 0) ++index;
  return static_cast<std::uint8_t>(index);
}

// "<prefix>_WORD_WORD...", upper-cased, bounded by the pattern field.
template <std::size_t Slots, std::size_t SlotSize, std::size_t OutSize>
void BuildWordPattern(const char* prefix, const char (&words)[Slots][SlotSize], std::uint8_t count,
                      char (&out)[OutSize]) {
  std::memset(out, 0, OutSize);
  if (count == 0) return;
  std::size_t pos = 0;
  auto put = [&](char c) {
    if (pos + 1 < OutSize) out[pos++] = c;
  };
  for (const char* p = prefix; *p; ++p) put(*p);
  for (std::size_t w = 0; w < count && w < Slots; ++w) {
    put('_');
    for (std::size_t i = 0; i < SlotSize && words[w][i] != '\0'; ++i) put(Upper(words[w][i]));
  }
}

struct BridgeChip {
  std::uint8_t number;
  const char* id;
};
constexpr BridgeChip kBridgeChips[] = {{1, "j509"}, {2, "j519"}, {3, "j329"}};

}  // namespace

void DecodeIdentify(const std::uint8_t* data, DriveRecord& record) {
  DecodeAtaText(data, 27, 20, record.model, sizeof record.model);
  DecodeAtaText(data, 10, 10, record.serial, sizeof record.serial);
  DecodeAtaText(data, 23, 4, record.firmware, sizeof record.firmware);

  const std::uint32_t lba28 = static_cast<std::uint32_t>(Word(data, 60)) |
                              (static_cast<std::uint32_t>(Word(data, 61)) << 16);
  if (lba28 == 0x0FFFFFFF) {
    std::uint64_t lba48 = 0;
    for (int w = 3; w >= 0; --w) lba48 = (lba48 << 16) | Word(data, 100 + w);
    record.total_sectors = lba48;
  } else {
    record.total_sectors = lba28;
  }

  if (Word(data, 87) & 0x0002) record.smart_selftest_default = 1;
  if (Word(data, 84) & 0x0002) record.smart_selftest_supported = 1;
  if (Word(data, 85) & 0x0001) record.smart_enabled = 1;
  if (Word(data, 82) & 0x0001) record.smart_supported = 1;
}

void CopyInquiry(const std::uint8_t* inquiry_data, DriveRecord& record) {
  CopyField(inquiry_data + 8, 8, record.inquiry_vendor, sizeof record.inquiry_vendor);
  CopyField(inquiry_data + 16, 16, record.inquiry_product, sizeof record.inquiry_product);
  CopyField(inquiry_data + 32, 4, record.inquiry_revision, sizeof record.inquiry_revision);
  CopyField(inquiry_data + 36, 4, record.bridge_id, sizeof record.bridge_id);
}

void RecogniseBridge(DriveRecord& record) {
  for (const BridgeChip& chip : kBridgeChips) {
    if (std::strncmp(record.bridge_id, chip.id, 4) == 0) {
      record.behind_bridge = 1;
      record.bridge_chip = chip.number;
    }
  }
}

void SplitVendorWords(DriveRecord& record) {
  record.vendor_word_count = SplitWords(record.inquiry_vendor, 8, record.vendor_words);
}

void SplitProductWords(DriveRecord& record) {
  record.product_word_count = SplitWords(record.inquiry_product, 16, record.product_words);
}

void BuildVenPattern(DriveRecord& record) {
  BuildWordPattern("VEN", record.vendor_words, record.vendor_word_count, record.ven_pattern);
}

void BuildProdPattern(DriveRecord& record) {
  BuildWordPattern("PROD", record.product_words, record.product_word_count, record.prod_pattern);
}

void BuildRevPattern(DriveRecord& record) {
  char* out = record.rev_pattern;
  std::memset(out, 0, sizeof record.rev_pattern);
  std::size_t pos = 0;
  for (const char* p = "REV_"; *p; ++p) out[pos++] = *p;
  for (std::size_t i = 0; i < 4 && record.inquiry_revision[i] != '\0'; ++i) {
    const auto c = static_cast<unsigned char>(record.inquiry_revision[i]);
    out[pos++] = (c < 32 || c == 127) ? '_' : Upper(static_cast<char>(c));
  }
  out[pos] = '\\';
}

}  // namespace plovix
