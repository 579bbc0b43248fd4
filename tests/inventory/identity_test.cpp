// Decoding IDENTIFY DEVICE and INQUIRY answers into a drive record.
#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>

#include "inventory/DriveRecord.h"
#include "inventory/Identity.h"

namespace plovix {
namespace {

using Sector = std::array<std::uint8_t, 512>;

void PutWord(Sector& s, int word, std::uint16_t value) {
  s[2 * word] = static_cast<std::uint8_t>(value & 0xFF);
  s[2 * word + 1] = static_cast<std::uint8_t>(value >> 8);
}

// Raw field bytes as a drive stores them: first character of each pair in the high byte.
void PutText(Sector& s, int first_word, int words, const std::string& raw) {
  std::string padded = raw;
  padded.resize(static_cast<std::size_t>(words) * 2, ' ');
  for (int w = 0; w < words; ++w) {
    PutWord(s, first_word + w,
            static_cast<std::uint16_t>((static_cast<std::uint8_t>(padded[2 * w]) << 8) |
                                       static_cast<std::uint8_t>(padded[2 * w + 1])));
  }
}

struct TextCase {
  const char* name;
  std::string model_raw;  // 40 bytes after swapping (padded with blanks)
  std::string serial_raw;
  std::string firmware_raw;
  const char* model;
  const char* serial;
  const char* firmware;
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class IdentifyTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(IdentifyTextTest, FieldsLoseLeadingAndTrailingBlanks) {
  const TextCase& c = GetParam();
  Sector s{};
  PutText(s, 27, 20, c.model_raw);
  PutText(s, 10, 10, c.serial_raw);
  PutText(s, 23, 4, c.firmware_raw);
  DriveRecord r;
  DecodeIdentify(s.data(), r);
  EXPECT_STREQ(r.model, c.model);
  EXPECT_STREQ(r.serial, c.serial);
  EXPECT_STREQ(r.firmware, c.firmware);
  EXPECT_EQ(r.model[40], '\0');
  EXPECT_EQ(r.serial[20], '\0');
  EXPECT_EQ(r.firmware[8], '\0');
}

const std::string k40Chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd";

INSTANTIATE_TEST_SUITE_P(
    Texts, IdentifyTextTest,
    ::testing::Values(
        TextCase{"LeadingAndTrailingBlanks", "  XK 2000", "   S3RIAL  ", " 1.02 ", "XK 2000",
                 "S3RIAL", "1.02"},
        TextCase{"AllBlanks", "", "", "", "", "", ""},
        TextCase{"AllZeroBytes", std::string(40, '\0'), std::string(20, '\0'),
                 std::string(8, '\0'), "", "", ""},
        TextCase{"TrailingZerosAndBlanksMixed", std::string("WD BLUE") + '\0' + " " + '\0',
                 std::string("AB12") + '\0' + '\0', "FW", "WD BLUE", "AB12", "FW"},
        TextCase{"FullWidth", k40Chars, "01234567890123456789", "ABCDEFGH", k40Chars.c_str(),
                 "01234567890123456789", "ABCDEFGH"},
        TextCase{"OddLengthNames", "ST4000DM004-2CV104", "ZFN0ABC", "0001", "ST4000DM004-2CV104",
                 "ZFN0ABC", "0001"},
        TextCase{"LeadingZeroIsNotSkipped", std::string(1, '\0') + "X", "  ", "        ", "", "",
                 ""},
        TextCase{"TextEndsAtAnInnerZero", std::string("AB ") + '\0' + "CD", std::string("S ") + '\0',
                 std::string("F") + '\0' + "G", "AB", "S", "F"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(IdentifyTextTest, BytesAreSwappedWithinEachWord) {
  Sector s{};
  // Stored little-endian, word 27 = 0x4142 means "AB" on the wire order of ATA text.
  PutWord(s, 27, 0x4142);
  PutWord(s, 28, 0x4320);
  DriveRecord r;
  DecodeIdentify(s.data(), r);
  EXPECT_STREQ(r.model, "ABC");
}

struct SizeCase {
  const char* name;
  std::uint32_t words_60_61;
  std::uint64_t words_100_103;
  std::uint16_t word_83;
  std::uint64_t total;
};

void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.name; }

class IdentifySizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(IdentifySizeTest, Only0FFFFFFFSelectsThe48BitCount) {
  const SizeCase& c = GetParam();
  Sector s{};
  PutWord(s, 60, static_cast<std::uint16_t>(c.words_60_61));
  PutWord(s, 61, static_cast<std::uint16_t>(c.words_60_61 >> 16));
  for (int w = 0; w < 4; ++w)
    PutWord(s, 100 + w, static_cast<std::uint16_t>(c.words_100_103 >> (16 * w)));
  PutWord(s, 83, c.word_83);
  DriveRecord r;
  DecodeIdentify(s.data(), r);
  EXPECT_EQ(r.total_sectors, c.total);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, IdentifySizeTest,
    ::testing::Values(SizeCase{"Marker4Tb", 0x0FFFFFFF, 7814037168ULL, 0x0400, 7814037168ULL},
                      SizeCase{"MarkerWithout48BitBit", 0x0FFFFFFF, 0x123456789ABCULL, 0,
                               0x123456789ABCULL},
                      SizeCase{"MarkerWithZero48BitCount", 0x0FFFFFFF, 0, 0x0400, 0},
                      SizeCase{"MarkerWithAll64Bits", 0x0FFFFFFF, 0xFEDCBA9876543210ULL, 0x0400,
                               0xFEDCBA9876543210ULL},
                      SizeCase{"JustBelowMarker", 0x0FFFFFFE, 0xFFFFFFFFFFULL, 0x0400, 0x0FFFFFFE},
                      SizeCase{"Small28Bit", 0x00989680, 7814037168ULL, 0x0400, 0x00989680},
                      SizeCase{"High28BitWordUsed", 0x12340000, 5, 0x0400, 0x12340000}),
    [](const auto& p) { return std::string(p.param.name); });

struct SmartBitsCase {
  const char* name;
  std::uint16_t w82, w84, w85, w87;
  std::uint8_t supported, selftest_supported, enabled, selftest_default;
};

void PrintTo(const SmartBitsCase& c, std::ostream* os) { *os << c.name; }

class IdentifySmartBitsTest : public ::testing::TestWithParam<SmartBitsCase> {};

TEST_P(IdentifySmartBitsTest, EachFlagComesFromItsOwnBit) {
  const SmartBitsCase& c = GetParam();
  Sector s{};
  PutWord(s, 82, c.w82);
  PutWord(s, 84, c.w84);
  PutWord(s, 85, c.w85);
  PutWord(s, 87, c.w87);
  DriveRecord r;
  DecodeIdentify(s.data(), r);
  EXPECT_EQ(r.smart_supported, c.supported);
  EXPECT_EQ(r.smart_selftest_supported, c.selftest_supported);
  EXPECT_EQ(r.smart_enabled, c.enabled);
  EXPECT_EQ(r.smart_selftest_default, c.selftest_default);
  EXPECT_EQ(IsSmartUsable(r), c.supported && c.selftest_supported && c.enabled &&
                                  c.selftest_default);
}

INSTANTIATE_TEST_SUITE_P(
    Bits, IdentifySmartBitsTest,
    ::testing::Values(SmartBitsCase{"AllSet", 0x0001, 0x0002, 0x0001, 0x0002, 1, 1, 1, 1},
                      SmartBitsCase{"SupportedButOff", 0x0001, 0x0002, 0x0000, 0x0002, 1, 1, 0, 1},
                      SmartBitsCase{"NeighbourBitsOnly", 0xFFFE, 0xFFFD, 0xFFFE, 0xFFFD, 0, 0, 0, 0},
                      SmartBitsCase{"TypicalWords", 0x746B, 0x6163, 0x7469, 0x6163, 1, 1, 1, 1},
                      SmartBitsCase{"NoSelfTest", 0x0001, 0x0000, 0x0001, 0x0000, 1, 0, 1, 0}),
    [](const auto& p) { return std::string(p.param.name); });

// INQUIRY: 40 bytes, vendor at 8, product at 16, revision at 32, bridge chip at 36.
std::array<std::uint8_t, 40> InquiryData(const std::string& vendor, const std::string& product,
                                         const std::string& revision, const std::string& chip) {
  std::array<std::uint8_t, 40> d{};
  d[0] = 0x00;
  d[4] = 0x1F;
  std::memcpy(d.data() + 8, vendor.data(), std::min<std::size_t>(vendor.size(), 8));
  std::memcpy(d.data() + 16, product.data(), std::min<std::size_t>(product.size(), 16));
  std::memcpy(d.data() + 32, revision.data(), std::min<std::size_t>(revision.size(), 4));
  std::memcpy(d.data() + 36, chip.data(), std::min<std::size_t>(chip.size(), 4));
  return d;
}

struct InquiryCase {
  const char* name;
  std::string vendor, product, revision, chip;
  std::uint8_t vendor_words;
  std::uint8_t product_words;
  const char* ven_pattern;
  const char* prod_pattern;
  const char* rev_pattern;
  std::uint8_t bridge_chip;
};

void PrintTo(const InquiryCase& c, std::ostream* os) { *os << c.name; }

class InquiryDecodeTest : public ::testing::TestWithParam<InquiryCase> {};

TEST_P(InquiryDecodeTest, BridgeWordsAndPatterns) {
  const InquiryCase& c = GetParam();
  const auto data = InquiryData(c.vendor, c.product, c.revision, c.chip);
  DriveRecord r;
  CopyInquiry(data.data(), r);
  RecogniseBridge(r);
  SplitVendorWords(r);
  SplitProductWords(r);
  BuildVenPattern(r);
  BuildProdPattern(r);
  BuildRevPattern(r);
  EXPECT_EQ(std::string(r.inquiry_vendor), c.vendor.substr(0, 8));
  EXPECT_EQ(r.vendor_word_count, c.vendor_words);
  EXPECT_EQ(r.product_word_count, c.product_words);
  EXPECT_STREQ(r.ven_pattern, c.ven_pattern);
  EXPECT_STREQ(r.prod_pattern, c.prod_pattern);
  EXPECT_STREQ(r.rev_pattern, c.rev_pattern);
  EXPECT_EQ(r.bridge_chip, c.bridge_chip);
  EXPECT_EQ(r.behind_bridge, c.bridge_chip != 0 ? 1 : 0);
  EXPECT_EQ(r.ven_pattern[sizeof r.ven_pattern - 1], '\0');
  EXPECT_EQ(r.prod_pattern[sizeof r.prod_pattern - 1], '\0');
  EXPECT_EQ(r.rev_pattern[sizeof r.rev_pattern - 1], '\0');
}

INSTANTIATE_TEST_SUITE_P(
    Answers, InquiryDecodeTest,
    ::testing::Values(
        InquiryCase{"TypicalEnclosure", "Ab Cd   ", "Ext HDD 1021    ", "0a1", "j509", 2, 3,
                    "VEN_AB_CD", "PROD_EXT_HDD_1021", "REV_0A1\\", 1},
        InquiryCase{"Chip519", "ACME    ", "Box             ", "1.0 ", "j519", 1, 1, "VEN_ACME",
                    "PROD_BOX", "REV_1.0 \\", 2},
        InquiryCase{"Chip329", "ACME    ", "Box             ", "1.0", "j329", 1, 1, "VEN_ACME",
                    "PROD_BOX", "REV_1.0\\", 3},
        InquiryCase{"UpperCaseChipIsUnknown", "ACME    ", "Box             ", "0001", "J519", 1,
                    1, "VEN_ACME", "PROD_BOX", "REV_0001\\", 0},
        InquiryCase{"ShortChipIsUnknown", "ACME    ", "Box             ", "0001", "j51", 1, 1,
                    "VEN_ACME", "PROD_BOX", "REV_0001\\", 0},
        InquiryCase{"BlankVendorAndProduct", "        ", "                ", "", "", 0, 0, "", "",
                    "REV_\\", 0},
        InquiryCase{"RunsOfBlanksSeparateOnce", "  a   b ", "   x    yy   zzz ", "abcd", "", 2,
                    3, "VEN_A_B", "PROD_X_YY_ZZZ", "REV_ABCD\\", 0},
        InquiryCase{"MostVendorWords", "a b c d ", "a b c d e f g h ", "1", "", 4, 8,
                    "VEN_A_B_C_D", "PROD_A_B_C_D_E_F_G_H", "REV_1\\", 0},
        InquiryCase{"LongestWords", "VERYLONG", "ABCDEFGHIJKLMNOP", "1", "", 1, 1, "VEN_VERYLONG",
                    "PROD_ABCDEFGHIJKLMNOP", "REV_1\\", 0},
        InquiryCase{"LongestPatterns", "a bc d e", "a b c d e f g hi", "1", "", 4, 8,
                    "VEN_A_BC_D_E", "PROD_A_B_C_D_E_F_G_HI", "REV_1\\", 0},
        InquiryCase{"ControlCharactersInRevision", "V       ", "P               ",
                    std::string("1\t0") + char(127), "", 1, 1, "VEN_V", "PROD_P",
                    "REV_1_0_\\", 0},
        InquiryCase{"EightBitCharactersKept", "V       ", "P               ",
                    std::string("\xE9z"), "", 1, 1, "VEN_V", "PROD_P", "REV_\xE9Z\\", 0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(InquiryCopyTest, FieldsTakeTheirBytesAndNoMore) {
  std::array<std::uint8_t, 40> d;
  for (int i = 0; i < 40; ++i) d[i] = static_cast<std::uint8_t>('A' + (i % 26));
  DriveRecord r;
  CopyInquiry(d.data(), r);
  EXPECT_STREQ(r.inquiry_vendor, "IJKLMNOP");
  EXPECT_STREQ(r.inquiry_product, "QRSTUVWXYZABCDEF");
  EXPECT_STREQ(r.inquiry_revision, "GHIJ");
  EXPECT_STREQ(r.bridge_id, "KLMN");
}

// Whatever a device answers, every text lands terminated inside its own field.
TEST(DeviceBytesTest, ArbitraryAnswersStayInsideTheirFields) {
  std::mt19937 random(20261209);
  std::uniform_int_distribution<int> byte(0, 255);
  // Bias towards blanks and zeros so that word splitting and trimming get exercised.
  auto next = [&] {
    const int r = byte(random);
    return static_cast<std::uint8_t>(r < 64 ? ' ' : r < 96 ? 0 : byte(random));
  };
  for (int round = 0; round < 2000; ++round) {
    Sector identify;
    for (auto& b : identify) b = next();
    std::array<std::uint8_t, 40> inquiry;
    for (auto& b : inquiry) b = next();
    // Surround the record with canaries to catch any write past it.
    struct Guarded {
      std::uint64_t before = 0x5A5A5A5A5A5A5A5AULL;
      DriveRecord record;
      std::uint64_t after = 0xA5A5A5A5A5A5A5A5ULL;
    } g;
    DriveRecord& r = g.record;
    DecodeIdentify(identify.data(), r);
    CopyInquiry(inquiry.data(), r);
    RecogniseBridge(r);
    SplitVendorWords(r);
    SplitProductWords(r);
    BuildVenPattern(r);
    BuildProdPattern(r);
    BuildRevPattern(r);
    ASSERT_EQ(g.before, 0x5A5A5A5A5A5A5A5AULL);
    ASSERT_EQ(g.after, 0xA5A5A5A5A5A5A5A5ULL);
    ASSERT_LT(std::strlen(r.model), sizeof r.model);
    ASSERT_LT(std::strlen(r.serial), sizeof r.serial);
    ASSERT_LT(std::strlen(r.firmware), sizeof r.firmware);
    ASSERT_LT(std::strlen(r.ven_pattern), sizeof r.ven_pattern);
    ASSERT_LT(std::strlen(r.prod_pattern), sizeof r.prod_pattern);
    ASSERT_LT(std::strlen(r.rev_pattern), sizeof r.rev_pattern);
    ASSERT_LE(r.vendor_word_count, 4);
    ASSERT_LE(r.product_word_count, 8);
    for (const auto& w : r.vendor_words) ASSERT_EQ(w[8], '\0');
    for (const auto& w : r.product_words) ASSERT_EQ(w[16], '\0');
    if (r.model[0] != '\0') {
      ASSERT_NE(r.model[0], ' ');
      ASSERT_NE(r.model[std::strlen(r.model) - 1], ' ');
    }
    ASSERT_EQ(r.behind_bridge, r.bridge_chip != 0 ? 1 : 0);
  }
}

}  // namespace
}  // namespace plovix
