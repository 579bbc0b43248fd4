// Decoding of the SMART data and threshold sectors into the attribute table.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "reports/SmartAttributes.h"

namespace plovix {
namespace {

struct DataEntry {
  std::uint8_t id;
  std::uint8_t current;
  std::uint8_t worst;
  std::array<std::uint8_t, 6> raw;  // bytes 5..10 of the entry, as stored
};

struct ThresholdEntry {
  std::uint8_t id;
  std::uint8_t threshold;
};

using Sector = std::array<std::uint8_t, 512>;

Sector DataSector(const std::vector<DataEntry>& entries) {
  Sector s{};
  s[0] = 0x10;  // revision
  for (std::size_t e = 0; e < entries.size(); ++e) {
    std::uint8_t* p = s.data() + 2 + e * 12;
    p[0] = entries[e].id;
    p[1] = 0x0F;
    p[2] = 0x00;
    p[3] = entries[e].current;
    p[4] = entries[e].worst;
    std::memcpy(p + 5, entries[e].raw.data(), 6);
    p[11] = 0xEE;  // reserved byte: must not leak into anything
  }
  return s;
}

Sector ThresholdSector(const std::vector<ThresholdEntry>& entries) {
  Sector s{};
  s[0] = 0x10;
  for (std::size_t e = 0; e < entries.size(); ++e) {
    std::uint8_t* p = s.data() + 2 + e * 12;
    p[0] = entries[e].id;
    p[1] = entries[e].threshold;
    std::memset(p + 2, 0xAA, 10);  // reserved
  }
  return s;
}

struct ExpectedRow {
  std::uint8_t id;
  std::string name;
  std::uint8_t current;
  std::uint8_t worst;
  std::uint8_t threshold;
  std::uint16_t raw;
  std::uint64_t raw48;
};

struct DecodeCase {
  const char* label;
  std::vector<DataEntry> data;
  std::vector<ThresholdEntry> thresholds;
  std::vector<ExpectedRow> rows;
};

constexpr std::array<std::uint8_t, 6> kZero{};

const DecodeCase kDecodeCases[] = {
    {"catalogue order, not drive order",
     {{9, 98, 97, kZero}, {1, 100, 99, kZero}, {194, 40, 30, kZero}},
     {{9, 0}, {1, 6}, {194, 0}},
     {{1, "Raw Read Error Rate", 100, 99, 6, 0, 0},
      {9, "Power-On Hours Count", 98, 97, 0, 0, 0},
      {194, "Device Temperature", 40, 30, 0, 0, 0}}},
    {"attributes outside the catalogue make no row",
     {{11, 1, 1, kZero}, {187, 2, 2, kZero}, {5, 100, 100, kZero}, {188, 3, 3, kZero},
      {190, 4, 4, kZero}},
     {{5, 36}},
     {{5, "Reallocated Sector Count", 100, 100, 36, 0, 0}}},
    {"a repeated attribute is taken from its first entry",
     {{5, 100, 90, {1, 0, 0, 0, 0, 0}}, {5, 50, 40, {2, 0, 0, 0, 0, 0}}},
     {{5, 36}, {5, 99}},
     {{5, "Reallocated Sector Count", 100, 90, 36, 0, 1}}},
    {"three pending sectors give a raw word of 0",
     {{197, 100, 100, {0x03, 0, 0, 0, 0, 0}}},
     {{197, 0}},
     {{197, "Current Pending Sector Count", 100, 100, 0, 0x0000, 3}}},
    {"the raw word is bytes 9 (high) and 10 (low)",
     {{197, 100, 100, {0, 0, 0, 0, 0x01, 0x02}}},
     {{197, 0}},
     {{197, "Current Pending Sector Count", 100, 100, 0, 0x0102, 0x020100000000ull}}},
    {"a 48-bit raw value",
     {{9, 80, 80, {0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12}}},
     {{9, 0}},
     {{9, "Power-On Hours Count", 80, 80, 0, 0x3412, 0x123456789ABCull}}},
    {"thresholds go by position, not by id",
     {{1, 100, 100, kZero}, {5, 100, 100, kZero}, {9, 100, 100, kZero}},
     {{1, 51}, {9, 7}},
     {{1, "Raw Read Error Rate", 100, 100, 51, 0, 0},
      {5, "Reallocated Sector Count", 100, 100, 7, 0, 0},
      {9, "Power-On Hours Count", 100, 100, 0, 0, 0}}},
    {"the longest name fills its field",
     {{198, 100, 100, kZero}},
     {{198, 0}},
     {{198, "Off-Line Scan Uncorrectable Secter Count", 100, 100, 0, 0, 0}}},
    {"ids 254 and 223 at the end of the catalogue",
     {{254, 1, 2, kZero}, {223, 3, 4, kZero}, {160, 5, 6, kZero}},
     {{160, 9}, {223, 8}, {254, 7}},
     {{160, "Free-fall Sensor Self Test Result", 5, 6, 9, 0, 0},
      {223, "Load Retry Count", 3, 4, 8, 0, 0},
      {254, "Free-fall Sensor Work Count", 1, 2, 7, 0, 0}}},
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.label; }

class SmartDecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(SmartDecodeTest, FillsRowsAndLeavesTheRestAlone) {
  const DecodeCase& c = GetParam();
  SmartAttributeTable table;
  // Rows past the decoded ones keep what they held; thresholds start cleared.
  for (auto& row : table.rows) {
    row.id = 0x77;
    std::memset(row.name, '#', sizeof row.name);
    row.current = row.worst = 0x66;
  }
  const Sector data = DataSector(c.data);
  const Sector thresholds = ThresholdSector(c.thresholds);
  EXPECT_EQ(DecodeSmartValues(data.data(), table), static_cast<int>(c.rows.size()));
  ApplySmartThresholds(thresholds.data(), table);

  for (std::size_t r = 0; r < c.rows.size(); ++r) {
    SCOPED_TRACE(r);
    const SmartAttributeRow& row = table.rows[r];
    const ExpectedRow& want = c.rows[r];
    EXPECT_EQ(row.id, want.id);
    // The name field: the name, then zeros up to 40 bytes.
    char field[40] = {};
    std::memcpy(field, want.name.data(), want.name.size());
    EXPECT_EQ(std::string(row.name, 40), std::string(field, 40));
    EXPECT_EQ(row.current, want.current);
    EXPECT_EQ(row.worst, want.worst);
    EXPECT_EQ(row.threshold, want.threshold);
    EXPECT_EQ(row.raw, want.raw);
    EXPECT_EQ(row.raw48, want.raw48);
  }
  for (std::size_t r = c.rows.size(); r < kSmartCatalogSize; ++r) {
    EXPECT_EQ(table.rows[r].id, 0x77) << r;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, SmartDecodeTest, ::testing::ValuesIn(kDecodeCases),
                         [](const auto& p) { return "case" + std::to_string(p.index); });

TEST(SmartDecode, NoCatalogueAttributeLeavesTheTableUnchanged) {
  SmartAttributeTable table;
  table.rows[0].id = 5;
  table.rows[0].current = 42;
  table.rows[0].threshold = 9;
  const Sector data = DataSector({{11, 1, 1, kZero}, {187, 2, 2, kZero}});
  EXPECT_EQ(DecodeSmartValues(data.data(), table), 0);
  ApplySmartThresholds(ThresholdSector({{187, 3}}).data(), table);
  EXPECT_EQ(table.rows[0].id, 5);
  EXPECT_EQ(table.rows[0].current, 42);
  EXPECT_EQ(table.rows[0].threshold, 9);
}

TEST(SmartDecode, OnlyThirtyEntriesAreSearched) {
  std::vector<DataEntry> entries(30, DataEntry{11, 0, 0, kZero});
  entries[29] = {4, 77, 66, kZero};  // the last entry counts
  Sector data = DataSector(entries);
  data[2 + 30 * 12] = 5;             // where a 31st entry would start: not an entry
  data[2 + 30 * 12 + 3] = 99;
  SmartAttributeTable table;
  ASSERT_EQ(DecodeSmartValues(data.data(), table), 1);
  EXPECT_EQ(table.rows[0].id, 4);
  EXPECT_EQ(table.rows[0].current, 77);
  EXPECT_EQ(table.rows[1].id, 0);
}

TEST(SmartDecode, FullCatalogueInOrder) {
  // A drive reporting the catalogue backwards still yields catalogue order.
  const std::uint8_t ids[] = {1,   2,   3,   4,   5,   7,   8,   9,   10,  12, 160,
                              191, 192, 193, 194, 196, 197, 198, 199, 223, 254};
  std::vector<DataEntry> entries;
  for (int i = 20; i >= 0; --i) entries.push_back({ids[i], static_cast<std::uint8_t>(i), 0, kZero});
  SmartAttributeTable table;
  ASSERT_EQ(DecodeSmartValues(DataSector(entries).data(), table), 21);
  for (int i = 0; i < 21; ++i) {
    EXPECT_EQ(table.rows[i].id, ids[i]) << i;
    EXPECT_EQ(table.rows[i].current, i) << i;
  }
}

// Attributes outside the catalogue, for the status dialog: each id once, in id order,
// with the threshold of its own id wherever the threshold sector lists it.
TEST(SmartDecode, OtherAttributesInIdOrderWithThresholdsById) {
  const Sector data = DataSector({{241, 100, 100, {1, 2, 3, 4, 5, 6}},
                                  {5, 100, 100, kZero},
                                  {0, 9, 9, kZero},  // an empty entry
                                  {187, 90, 80, {39, 0, 0, 0, 0, 0}},
                                  {11, 40, 30, kZero},
                                  {187, 1, 1, kZero}});
  const Sector thresholds = ThresholdSector({{11, 51}, {5, 36}, {241, 0}, {187, 97}});
  SmartOtherAttributes others;
  others.rows[5].id = 0x77;  // stale rows of an earlier drive go
  others.count = 6;
  DecodeOtherAttributes(data.data(), others);
  ApplyOtherThresholds(thresholds.data(), others);

  ASSERT_EQ(others.count, 3);
  EXPECT_EQ(others.rows[0].id, 11);
  EXPECT_EQ(others.rows[0].threshold, 51);
  EXPECT_TRUE(IsAttributeFailing(others.rows[0]));
  EXPECT_EQ(others.rows[1].id, 187);
  EXPECT_EQ(others.rows[1].current, 90);
  EXPECT_EQ(others.rows[1].worst, 80);
  EXPECT_EQ(others.rows[1].raw48, 39u);
  EXPECT_EQ(others.rows[1].threshold, 97);
  EXPECT_TRUE(IsAttributeFailing(others.rows[1]));
  EXPECT_EQ(others.rows[2].id, 241);
  EXPECT_EQ(others.rows[2].raw48, 0x060504030201ull);
  EXPECT_FALSE(IsAttributeFailing(others.rows[2]));
  EXPECT_EQ(others.rows[3].id, 0);
  EXPECT_EQ(others.rows[5].id, 0);
}

TEST(SmartDecode, ThirtyOtherAttributesFitAndNamesFallBack) {
  std::vector<DataEntry> entries;
  for (int i = 0; i < 30; ++i) entries.push_back({static_cast<std::uint8_t>(255 - i), 1, 1, kZero});
  SmartOtherAttributes others;
  DecodeOtherAttributes(DataSector(entries).data(), others);
  // 254 is the catalogue's; the other 29 ids are listed.
  ASSERT_EQ(others.count, 29);
  EXPECT_EQ(others.rows[0].id, 226);
  EXPECT_EQ(others.rows[27].id, 253);
  EXPECT_EQ(others.rows[28].id, 255);
  EXPECT_STREQ(OtherAttributeName(241), "Total LBAs Written");
  EXPECT_STREQ(OtherAttributeName(255), "Unknown Attribute");
  EXPECT_STREQ(OtherAttributeName(5), "Unknown Attribute");  // the catalogue names its own
}

struct FailingCase {
  std::uint8_t current;
  std::uint8_t threshold;
  bool failing;
};

class SmartFailingRuleTest : public ::testing::TestWithParam<FailingCase> {};

TEST_P(SmartFailingRuleTest, CurrentBelowANonZeroThreshold) {
  SmartAttributeRow row;
  row.id = 5;
  row.current = GetParam().current;
  row.worst = 1;  // the worst value plays no part
  row.threshold = GetParam().threshold;
  EXPECT_EQ(IsAttributeFailing(row), GetParam().failing)
      << int(row.current) << " vs " << int(row.threshold);
}

INSTANTIATE_TEST_SUITE_P(Cases, SmartFailingRuleTest,
                         ::testing::Values(FailingCase{100, 0, false}, FailingCase{0, 0, false},
                                           FailingCase{5, 5, false}, FailingCase{4, 5, true},
                                           FailingCase{0, 1, true}, FailingCase{1, 255, true},
                                           FailingCase{255, 254, false},
                                           FailingCase{200, 100, false},
                                           FailingCase{99, 100, true}));

}  // namespace
}  // namespace plovix
