// The demo bench offers what the demo is meant to show: drives the scan keeps and
// drops, a worn disk that fails its checks, and scans of a sensible length.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "reports/SmartAttributes.h"
#include "devices/sim/Bench.h"
#include "devices/sim/DemoBench.h"
#include "tests/devices/sim/requests.h"

namespace plovix::sim {
namespace {

using namespace plovix::sim::testing;

std::string ModelOf(const std::vector<std::uint8_t>& d) {
  std::string model;
  for (int w = 27; w < 47; ++w) {
    model += static_cast<char>(Word(d.data(), w) >> 8);
    model += static_cast<char>(Word(d.data(), w) & 0xFF);
  }
  model.erase(model.find_last_not_of(' ') + 1);
  return model;
}

TEST(SimDemoBench, DrivesAnswerOnTheirTransports) {
  Bench bench;
  BuildDemoBench(bench);
  struct Case {
    int drive;
    bool ata;       // answers IDENTIFY over ATA pass-through
    bool standard;  // over the ATA PASS-THROUGH(12) block
    bool vendor;    // over the bridge block
  };
  const Case cases[] = {{0, true, false, false}, {1, true, false, false},
                        {2, true, false, false}, {3, true, false, false},
                        {4, false, true, true},  {5, false, true, false},
                        {6, false, true, false}};
  std::vector<std::string> models;
  for (const Case& c : cases) {
    const DeviceHandle h = bench.Open("\\\\.\\PhysicalDrive" + std::to_string(c.drive));
    ASSERT_NE(h, kInvalidHandle);
    std::vector<std::uint8_t> d(512);
    AtaPassThroughRequest reply;
    EXPECT_EQ(bench.AtaPassThrough(h, AtaIdentify(d.data()), reply), c.ata) << c.drive;
    ScsiPassThroughRequest standard = ScsiIdentifyStandard(d.data());
    ASSERT_TRUE(bench.ScsiPassThrough(h, standard));
    EXPECT_EQ(standard.ScsiStatus == 0, c.standard) << c.drive;
    ScsiPassThroughRequest vendor = ScsiIdentifyVendor(d.data());
    ASSERT_TRUE(bench.ScsiPassThrough(h, vendor));
    EXPECT_EQ(vendor.ScsiStatus == 0, c.vendor) << c.drive;
    models.push_back(ModelOf(d));
    bench.Close(h);
  }
  EXPECT_EQ(bench.OpenHandleCount(), 0);
  std::sort(models.begin(), models.end());
  EXPECT_EQ(std::unique(models.begin(), models.end()), models.end());  // all told apart

  // C: lives on the system disk, D: on the healthy one.
  for (auto [path, drive] : {std::pair{"\\\\.\\C:", 0}, std::pair{"\\\\.\\D:", 1}}) {
    const DeviceHandle v = bench.Open(path);
    std::vector<std::uint8_t> d(512);
    AtaPassThroughRequest reply;
    ASSERT_TRUE(bench.AtaPassThrough(v, AtaIdentify(d.data()), reply)) << path;
    EXPECT_EQ(ModelOf(d), bench.Drive(drive).setup().model);
  }
}

TEST(SimDemoBench, CatalogueKnowsTwoOfTheThreeUsbDisks) {
  Bench bench;
  BuildDemoBench(bench);
  const auto storage = bench.PresentDevices(kDiskDriveClassGuid, "USBSTOR");
  ASSERT_TRUE(storage.has_value());
  ASSERT_EQ(storage->size(), 2u);
  EXPECT_EQ(*(*storage)[0], "USBSTOR\\DISK&VEN_HALCYON&PROD_PORTABLE_DRIVE&REV_1021\\HC4T0000A1B2&0");
  EXPECT_EQ(*(*storage)[1], "USBSTOR\\DISK&VEN_QUORRA&PROD_EXTERNAL_USB_3.0&REV_0104\\QR10002233&0");
  const auto usb = bench.PresentDevices(kUsbClassGuid, "USB");
  ASSERT_TRUE(usb.has_value());
  const auto has = [&](const std::string& part) {
    return std::any_of(usb->begin(), usb->end(), [&](const auto& id) {
      return id && id->find(part) != std::string::npos;
    });
  };
  EXPECT_TRUE(has("HC4T0000A1B2"));
  EXPECT_TRUE(has("QR10002233"));
  EXPECT_FALSE(has(bench.Drive(6).setup().serial));
  EXPECT_FALSE(has("NB0000000917"));
}

TEST(SimDemoBench, WornDiskShowsItsWear) {
  Bench bench;
  BuildDemoBench(bench);
  const DriveSpec& worn = bench.Drive(2).setup();
  const auto pending = std::find_if(worn.attributes.begin(), worn.attributes.end(),
                                    [](const SmartAttr& a) { return a.id == 197; });
  ASSERT_NE(pending, worn.attributes.end());
  EXPECT_EQ(pending->raw, 8u);
  const auto reallocated = std::find_if(worn.attributes.begin(), worn.attributes.end(),
                                        [](const SmartAttr& a) { return a.id == 5; });
  ASSERT_NE(reallocated, worn.attributes.end());
  EXPECT_GT(reallocated->raw, 0u);
  // The status dialog lists these after the catalogue: a named one and an unknown one.
  std::vector<std::string> others;
  for (const SmartAttr& a : worn.attributes) {
    const bool in_catalogue =
        std::any_of(std::begin(SmartAttributeCatalog), std::end(SmartAttributeCatalog),
                    [&](const SmartCatalogEntry& c) { return c.id == a.id; });
    if (!in_catalogue) others.push_back(OtherAttributeName(a.id));
  }
  EXPECT_NE(std::find(others.begin(), others.end(), "Unknown Attribute"), others.end());
  EXPECT_GE(std::count_if(others.begin(), others.end(),
                          [](const std::string& n) { return n != "Unknown Attribute"; }),
            2);
  EXPECT_EQ(std::count_if(worn.attributes.begin(), worn.attributes.end(),
                          [](const SmartAttr& a) { return a.current < a.threshold; }),
            1);
  EXPECT_EQ(worn.short_test.final_status & 0xF0, 0x70);
  ASSERT_FALSE(worn.bad_lbas.empty());
  EXPECT_LT(*worn.bad_lbas.rbegin(), worn.total_sectors / 10);
  EXPECT_FALSE(bench.Drive(3).smart_enabled());
  EXPECT_TRUE(bench.Drive(3).setup().smart_supported);

  // A full pass over the 1 TB disk takes a minute or two at the demo's media speed.
  const DriveSpec& healthy = bench.Drive(1).setup();
  const double seconds = static_cast<double>(healthy.total_sectors) /
                         static_cast<double>(healthy.sectors_per_second);
  EXPECT_GT(seconds, 60.0);
  EXPECT_LT(seconds, 120.0);
}

}  // namespace
}  // namespace plovix::sim
