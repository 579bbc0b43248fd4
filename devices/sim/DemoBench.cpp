#include "devices/sim/DemoBench.h"

#include <utility>

namespace plovix::sim {
namespace {

// About 90 s for a full pass over a 1 TB drive.
constexpr std::uint64_t kDemoSectorsPerSecond = 22'000'000;

constexpr std::uint64_t k500GB = 976'773'168;
constexpr std::uint64_t k1TB = 1'953'525'168;
constexpr std::uint64_t k2TB = 3'907'029'168;
constexpr std::uint64_t k4TB = 7'814'037'168;

// Temperature raw values carry the lowest and highest temperature seen in their upper
// bytes, as many drives report them.
constexpr std::uint64_t Temperature(std::uint64_t now, std::uint64_t low, std::uint64_t high) {
  return now | low << 16 | high << 32;
}

std::vector<SmartAttr> HealthyAttributes(std::uint64_t power_on_hours, std::uint64_t cycles) {
  return {
      {1, 0x002F, 200, 200, 0, 51},
      {3, 0x0027, 176, 172, 4183, 21},
      {4, 0x0032, 99, 99, cycles + 112, 0},
      {5, 0x0033, 200, 200, 0, 140},
      {7, 0x002E, 200, 200, 0, 0},
      {9, 0x0032, 88, 88, power_on_hours, 0},
      {10, 0x0032, 100, 100, 0, 0},
      {12, 0x0032, 99, 99, cycles, 0},
      {187, 0x0032, 100, 100, 0, 0},
      {188, 0x0032, 100, 100, 0, 0},
      {190, 0x0022, 66, 57, 34, 45},
      {193, 0x0032, 198, 198, 6904, 0},
      {194, 0x0022, 113, 104, Temperature(34, 19, 43), 0},
      {196, 0x0032, 200, 200, 0, 0},
      {197, 0x0032, 200, 200, 0, 0},
      {198, 0x0030, 100, 253, 0, 0},
      {199, 0x0032, 200, 200, 0, 0},
  };
}

std::vector<SmartAttr> WornAttributes() {
  return {
      {1, 0x002F, 171, 158, 2314, 51},
      {3, 0x0027, 178, 175, 6083, 21},
      {4, 0x0032, 95, 95, 5121, 0},
      {5, 0x0033, 118, 118, 731, 140},  // below its threshold
      {7, 0x002E, 100, 253, 0, 0},
      {9, 0x0032, 41, 41, 43387, 0},
      {10, 0x0032, 100, 100, 0, 0},
      {12, 0x0032, 97, 97, 3042, 0},
      {187, 0x0032, 61, 61, 39, 0},
      {188, 0x0032, 100, 99, 3, 0},
      {190, 0x0022, 58, 47, 42, 45},
      {193, 0x0032, 142, 142, 175622, 0},
      {194, 0x0022, 105, 93, Temperature(42, 21, 53), 0},
      {196, 0x0032, 147, 147, 53, 0},
      {197, 0x0032, 200, 200, 8, 0},
      {198, 0x0030, 100, 253, 6, 0},
      {199, 0x003E, 200, 200, 0, 0},
      // Beyond the program's catalogue: shown after it, one by a common name, one not.
      {233, 0x0032, 100, 100, 0, 0},
      {241, 0x0032, 200, 200, 61'431'377'920, 0},
  };
}

DriveSpec Drive(std::string model, std::string serial, std::string firmware,
                std::uint64_t total, std::vector<SmartAttr> attributes) {
  DriveSpec setup;
  setup.model = std::move(model);
  setup.serial = std::move(serial);
  setup.firmware = std::move(firmware);
  setup.total_sectors = total;
  setup.attributes = std::move(attributes);
  setup.short_test = {0x00, 15000};
  setup.extended_test = {0x00, 60000};
  setup.sectors_per_second = kDemoSectorsPerSecond;
  return setup;
}

BridgeSpec Bridge(std::string vendor, std::string product, std::string revision,
                  std::string chip, BridgeForwarding forwarding, std::string usb_serial,
                  std::uint16_t vid, std::uint16_t pid) {
  BridgeSpec bridge;
  bridge.vendor = std::move(vendor);
  bridge.product = std::move(product);
  bridge.revision = std::move(revision);
  bridge.chip_id = std::move(chip);
  bridge.forwarding = forwarding;
  bridge.usb_serial = std::move(usb_serial);
  bridge.vid = vid;
  bridge.pid = pid;
  return bridge;
}

}  // namespace

void BuildDemoBench(Bench& bench) {
  // 0: the system disk; the program leaves it out because it holds C:.
  bench.AddSata(0, Drive("Orvane OD500-SY", "ORV5S1029384", "SY01A2", k500GB,
                         HealthyAttributes(14211, 2211)));
  bench.AddVolume('C', 0);

  // 1: a healthy data disk holding D:, an ordinary drive: it refuses the vendor erase, so
  // the program erases it by the system's own writes, D: dismounted meanwhile.
  bench.AddSata(1, Drive("Orvane OD1000-HX", "ORV1H4477120", "HX02B1", k1TB,
                         HealthyAttributes(10523, 1043)));
  bench.AddVolume('D', 1);

  // 2: a worn disk: pending and reallocated sectors, attributes the catalogue does not
  // know, a failing short self-test and unreadable sectors early on the disk.
  DriveSpec worn = Drive("Kestrel KD2000-LP", "KST2W0093311", "LP7.03", k2TB, WornAttributes());
  worn.short_test = {0x73, 20000};
  worn.extended_test = {0x74, 45000};
  worn.bad_lbas = {183'746'281, 183'746'282, 183'746'290, 301'122'007,
                   301'122'008, 301'122'009, 301'122'010, 301'122'011};
  // Its first bad sector cannot be written either: an erase fails there.
  worn.write_error_lba = 183'746'281;
  bench.AddSata(2, std::move(worn));

  // 3: SMART is there but switched off.
  DriveSpec off = Drive("Tessel TS-500A", "TSL0500K7781", "TA10", k500GB,
                        HealthyAttributes(2210, 388));
  off.smart_enabled = false;
  // It fills itself with zeros when asked (SCT Write Same).
  off.sct_write_same = true;
  bench.AddSata(3, std::move(off));

  // 4: a large USB disk behind a recognised bridge chip, of the maker whose erase command
  // the program was first built for; a host protected area hides its last 1 GiB.
  DriveSpec big = Drive("Kestrel KD4000-UX", "KST4U5521007", "UX1.10", k4TB,
                        HealthyAttributes(812, 97));
  big.extended_test = {0x00, 75000};
  big.vendor_erase = true;
  big.native_sectors = k4TB + 2'097'152;
  bench.AddUsb(4, std::move(big),
               Bridge("Halcyon", "Portable Drive", "1021", "j329",
                      BridgeForwarding::VendorAndStandard, "HC4T0000A1B2", 0x2B9A, 0x1130));
  bench.AddVolume('E', 4);

  // 5: a USB disk behind a bridge that only knows the standard pass-through blocks. Its
  // write cache loses the last 2 MiB of any erase while reporting success: only the
  // read-back finds it.
  DriveSpec lossy = Drive("Brannock BR1000-E", "BRN1E0320456", "E0.4", k1TB,
                          HealthyAttributes(3307, 540));
  lossy.dropped_writes_first = k1TB - 4096;
  lossy.dropped_writes_count = 4096;
  bench.AddUsb(5, std::move(lossy),
               Bridge("Quorra", "External USB 3.0", "0104", "    ", BridgeForwarding::Standard,
                      "QR10002233", 0x1F3C, 0x0A07));

  // 6: a USB disk Windows lists under no USB storage device: named and left out.
  BridgeSpec dock = Bridge("Nimbra", "Dock SATA", "2.01", "    ", BridgeForwarding::Standard,
                           "NB0000000917", 0x3D41, 0x0202);
  dock.listed_as_usbstor = false;
  dock.listed_as_usb_device = false;
  bench.AddUsb(6, Drive("Tessel TS-2000U", "TSL2U0011542", "U2.00", k2TB,
                        HealthyAttributes(120, 14)),
               std::move(dock));

  // 7: an NVMe drive, 1 TB in 4096-byte blocks, with short and extended self-tests and a
  // working life behind it.
  NvmeSpec nvme;
  nvme.model = "Kestrel KN1000-PX NVMe";
  nvme.serial = "KSTN1A0827734";
  nvme.firmware = "PX11B3A0";
  nvme.block_bytes = 4096;
  nvme.block_count = k1TB / 8;
  nvme.short_test = {kNvmeTestPassed, 45000, 0, std::nullopt};
  nvme.extended_test = {kNvmeTestPassed, 240000, 0, std::nullopt};
  nvme.health.temperature_kelvin = 311;
  nvme.health.percentage_used = 4;
  nvme.health.data_units_read = {28'714'391, 0};
  nvme.health.data_units_written = {19'230'117, 0};
  nvme.health.host_read_commands = {391'228'114, 0};
  nvme.health.host_write_commands = {287'114'902, 0};
  nvme.health.controller_busy_minutes = {1'204, 0};
  nvme.health.power_cycles = {688, 0};
  nvme.health.power_on_hours = {4'211, 0};
  nvme.health.unsafe_shutdowns = {23, 0};
  nvme.health.error_log_entries = {12, 0};
  nvme.blocks_per_second = kDemoSectorsPerSecond / 8;
  bench.AddNvme(7, std::move(nvme));

  // A few devices of the machine that have nothing to do with the disks.
  bench.AddCatalogEntry(kUsbClassGuid, "USB", std::string("USB\\ROOT_HUB30\\4&2C5A1B4D&0&0"));
  bench.AddCatalogEntry(kUsbClassGuid, "USB", std::string("USB\\VID_0E7A&PID_3021\\6&1A2B3C&0&2"));
}

}  // namespace plovix::sim
