#include "tests/support/utils_rig.h"

#include <algorithm>
#include <chrono>
#include <ostream>
#include <thread>

#include "resources/ResourceIds.h"

namespace plovix::testing_utils {

std::ostream& operator<<(std::ostream& os, const Cmd& c) {
  return os << "{op " << std::hex << int(c.opcode) << std::dec << " lba " << c.lba << " n "
            << c.count << (c.scsi ? " scsi" : " ata") << "}";
}

Cmd Decode(const sim::Received& r) {
  Cmd c;
  c.scsi = r.scsi;
  if (!r.scsi) {
    const auto* cur = r.ata.CurrentTaskFile;
    const auto* prev = r.ata.PreviousTaskFile;
    c.opcode = cur[kTfCommand];
    if ((r.ata.AtaFlags & kAtaFlags48Bit) != 0) {
      c.lba = std::uint64_t{cur[kTfLbaLow]} | std::uint64_t{cur[kTfLbaMid]} << 8 |
              std::uint64_t{cur[kTfLbaHigh]} << 16 | std::uint64_t{prev[kTfLbaLow]} << 24 |
              std::uint64_t{prev[kTfLbaMid]} << 32 | std::uint64_t{prev[kTfLbaHigh]} << 40;
      if (c.opcode == kReadVerify) {
        c.count = std::uint32_t{cur[kTfSectorCount]} | std::uint32_t{prev[kTfSectorCount]} << 8;
      } else {  // the erase run length, spread over count and feature
        c.count = std::uint32_t{cur[kTfSectorCount]} | std::uint32_t{cur[kTfFeature]} << 8 |
                  std::uint32_t{prev[kTfSectorCount]} << 16 |
                  std::uint32_t{prev[kTfFeature]} << 24;
      }
    }
    return c;
  }
  const auto* cdb = r.scsi_request.Cdb;
  c.cdb0 = cdb[0];
  switch (cdb[0]) {
    case 0x85:
      c.opcode = cdb[14];
      c.lba = std::uint64_t{cdb[8]} | std::uint64_t{cdb[10]} << 8 | std::uint64_t{cdb[12]} << 16 |
              std::uint64_t{cdb[7]} << 24 | std::uint64_t{cdb[9]} << 32 |
              std::uint64_t{cdb[11]} << 40;
      if (c.opcode == kReadVerify) {
        c.count = std::uint32_t{cdb[6]} | std::uint32_t{cdb[5]} << 8;
      } else {  // count low, feature low, count high, feature high
        c.count = std::uint32_t{cdb[6]} | std::uint32_t{cdb[4]} << 8 |
                  std::uint32_t{cdb[5]} << 16 | std::uint32_t{cdb[3]} << 24;
      }
      break;
    case 0xA1:
      c.opcode = cdb[9];
      break;
    case 0xDF:
      c.opcode = cdb[11];
      break;
    default:
      c.opcode = 0;
      break;
  }
  return c;
}

std::ostream& operator<<(std::ostream& os, const NvmeCmd& c) {
  return os << "{nvme " << (c.queue == NvmeQueue::Admin ? "admin " : "io ") << std::hex
            << int(c.opcode) << " cdw10 " << c.cdw10 << std::dec << " slba " << c.slba << " n "
            << c.blocks << " ns " << c.nsid << "}";
}

NvmeCmd DecodeNvme(const sim::Received& r) {
  NvmeCmd c;
  const NvmeRequest& q = r.nvme_request;
  c.queue = q.queue;
  c.opcode = q.opcode;
  c.nsid = q.nsid;
  c.cdw10 = q.cdw10;
  if (q.queue == NvmeQueue::Io && q.opcode != kNvmeFlush) {
    c.slba = q.cdw10 | std::uint64_t{q.cdw11} << 32;
    c.blocks = (q.cdw12 & 0xFFFF) + 1;
  }
  return c;
}

bool IsAdmin(const NvmeCmd& c, std::uint8_t opcode) {
  return c.queue == NvmeQueue::Admin && c.opcode == opcode;
}
bool IsIo(const NvmeCmd& c, std::uint8_t opcode) {
  return c.queue == NvmeQueue::Io && c.opcode == opcode;
}
bool IsLogRead(const NvmeCmd& c, std::uint8_t log_id) {
  return IsAdmin(c, kNvmeLogPage) && (c.cdw10 & 0xFF) == log_id;
}

sim::Fault FaultOn(int drive_number, std::uint8_t opcode, sim::FaultEffect effect,
                   std::optional<std::uint64_t> lba, std::uint64_t until_ms) {
  sim::Fault fault;
  fault.match.drive_number = drive_number;
  fault.match.ata_command = opcode;
  fault.match.lba = lba;
  fault.effect = effect;
  fault.until_ms = until_ms;
  return fault;
}

UtilsRig::UtilsRig() {
  bench.AddSata(0, DriveSetup("SYSDISK0001", 976773168));
  bench.AddVolume('C', 0);
}

UtilsRig::~UtilsRig() = default;

sim::DriveSpec BenchDriveSpec(const std::string& serial, std::uint64_t total_sectors) {
  sim::DriveSpec setup;
  setup.model = "PLOVIX BENCH " + serial;
  setup.serial = serial;
  setup.firmware = "FW01";
  setup.total_sectors = total_sectors;
  // The maker's own drive, which takes the vendor erase; the erase-method tests turn it off.
  setup.vendor_erase = true;
  setup.attributes = {sim::SmartAttr{.id = 1, .raw = 0, .threshold = 6},
                     sim::SmartAttr{.id = 5, .raw = 0, .threshold = 36},
                     sim::SmartAttr{.id = 197, .raw = 0, .threshold = 0}};
  return setup;
}

sim::BridgeSpec BenchBridgeSpec(const std::string& serial) {
  sim::BridgeSpec bridge;
  bridge.vendor = "Plovix";
  bridge.product = "USB Dock";
  bridge.revision = "0100";
  bridge.chip_id = "j329";
  bridge.forwarding = sim::BridgeForwarding::VendorAndStandard;
  bridge.usb_serial = "USB" + serial;
  return bridge;
}

sim::NvmeSpec BenchNvmeSpec(const std::string& serial, std::uint64_t blocks,
                            std::uint32_t block_bytes) {
  sim::NvmeSpec setup;
  setup.model = "PLOVIX NVME " + serial;
  setup.serial = serial;
  setup.firmware = "NV01";
  setup.block_count = blocks;
  setup.block_bytes = block_bytes;
  setup.short_test.duration_ms = 20000;
  setup.extended_test.duration_ms = 60000;
  return setup;
}

sim::DriveSpec UtilsRig::DriveSetup(const std::string& serial, std::uint64_t total_sectors) {
  return BenchDriveSpec(serial, total_sectors);
}

sim::VirtualDrive& UtilsRig::AddSata(int drive_number, std::uint64_t total_sectors,
                                     const std::string& serial) {
  drive_numbers.push_back(drive_number);
  std::sort(drive_numbers.begin(), drive_numbers.end());
  return bench.AddSata(drive_number, DriveSetup(serial, total_sectors));
}

sim::VirtualDrive& UtilsRig::AddUsb(int drive_number, std::uint64_t total_sectors,
                                    const std::string& serial) {
  drive_numbers.push_back(drive_number);
  std::sort(drive_numbers.begin(), drive_numbers.end());
  return bench.AddUsb(drive_number, DriveSetup(serial, total_sectors), BenchBridgeSpec(serial));
}

sim::NvmeSpec UtilsRig::NvmeDriveSetup(const std::string& serial, std::uint64_t blocks,
                                       std::uint32_t block_bytes) {
  return BenchNvmeSpec(serial, blocks, block_bytes);
}

sim::VirtualNvme& UtilsRig::AddNvme(int drive_number, sim::NvmeSpec setup) {
  drive_numbers.push_back(drive_number);
  std::sort(drive_numbers.begin(), drive_numbers.end());
  return bench.AddNvme(drive_number, std::move(setup));
}

ui::scripted::Step& UtilsRig::Begin(const std::vector<int>& lines, int button) {
  ui::scripted::Step& step = ui.Expect(ids::kMainTemplate).Do([this](ui::Dialog& d) {
    main_window = dynamic_cast<CPlovixDlg*>(&d);
    ASSERT_NE(main_window, nullptr);
    ASSERT_EQ(main_window->drive_list().GetItemCount(), static_cast<int>(drive_numbers.size()));
    initial_status = testing_support::DriveListColumn(d, kStatusColumn);
    bench.ClearLog();
  });
  for (int line : lines) step.Check(ids::main_window::kDriveList, line);
  return step.Press(button);
}

void UtilsRig::End() {
  ui.Expect(ids::kMainTemplate)
      .Do([this](ui::Dialog& d) { status = testing_support::DriveListColumn(d, kStatusColumn); })
      .Escape();
}

std::vector<Cmd> UtilsRig::Commands(int drive_number, const std::vector<std::uint8_t>& opcodes) {
  std::vector<Cmd> out;
  for (const sim::Received& r : bench.LogFor(drive_number)) {
    const Cmd c = Decode(r);
    if (opcodes.empty() ||
        std::find(opcodes.begin(), opcodes.end(), c.opcode) != opcodes.end()) {
      out.push_back(c);
    }
  }
  return out;
}

std::vector<NvmeCmd> UtilsRig::NvmeCommands(int drive_number) {
  std::vector<NvmeCmd> out;
  for (const sim::Received& r : bench.LogFor(drive_number)) {
    if (r.nvme) out.push_back(DecodeNvme(r));
  }
  return out;
}

bool UtilsRig::AnyAtaOrScsi(int drive_number) {
  for (const sim::Received& r : bench.LogFor(drive_number)) {
    if (!r.nvme) return true;
  }
  return false;
}

std::vector<sim::Received> UtilsRig::RequestsToOthers(const std::vector<int>& chosen) {
  std::vector<sim::Received> out;
  for (const sim::Received& r : bench.Log()) {
    if (std::find(chosen.begin(), chosen.end(), r.drive_number) == chosen.end()) {
      out.push_back(r);
    }
  }
  return out;
}

std::string UtilsRig::LogBytes(const std::string& serial) const {
  return testing_support::LogFileBytes(serial);
}

std::vector<std::string> UtilsRig::LogLines(const std::string& serial) const {
  return testing_support::LogFileLines(serial);
}

bool WaitUntil(const std::function<bool()>& pred) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    // Short naps rather than a busy loop: the worker shares a small machine with us.
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

bool UtilsRig::WaitForCommand(int drive_number, std::uint8_t opcode, std::uint64_t lba) {
  return WaitUntil([&] {
    for (const sim::Received& r : bench.LogFor(drive_number)) {
      const Cmd c = Decode(r);
      if (c.opcode == opcode && c.lba == lba) return true;
    }
    return false;
  });
}

}  // namespace plovix::testing_utils
