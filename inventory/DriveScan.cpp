#include "inventory/DriveScan.h"

#include <algorithm>
#include <vector>

#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "drive/NvmeCommands.h"
#include "inventory/Identity.h"

namespace plovix {

namespace {

constexpr int kVolumeLetters = 26;
// Windows limits a device instance id to 200 characters with its terminator.
constexpr std::size_t kMaxInstanceIdChars = 199;

struct VolumeEntry {
  char model[41] = {};
  char serial[21] = {};
  char letter = 0;
};

// Copies C-string text into a fixed field, never past its end.
template <std::size_t N>
void CopyText(char (&out)[N], std::string_view text) {
  std::memset(out, 0, N);
  const std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
  if (n > 0) std::memcpy(out, text.data(), n);
}

// Keeps the records that pass `keep`, packed to the front in their order; clears the rest
// and lowers count by the number dropped.
template <typename Keep>
void PackTable(DriveTable& table, std::int32_t& count, Keep keep) {
  std::int32_t kept = 0;
  for (std::int32_t i = 0; i < count && i < kMaxDrives; ++i) {
    if (!keep(table.records[i])) continue;
    if (kept != i) table.records[kept] = table.records[i];
    ++kept;
  }
  for (std::int32_t i = kept; i < kMaxDrives; ++i) table.records[i] = DriveRecord{};
  count = kept;
}

// An instance id as the program reads it: text, at most 199 characters.
std::string_view InstanceIdText(const std::string& id) {
  std::string_view text(id.c_str());  // text ends at the first zero
  if (text.size() > kMaxInstanceIdChars) text = text.substr(0, kMaxInstanceIdChars);
  return text;
}

bool Contains(std::string_view haystack, const char* needle) {
  return haystack.find(needle) != std::string_view::npos;
}

// The serial part of a USB storage id: after the second backslash, up to the next '&'.
std::string_view SerialPart(std::string_view id) {
  const std::size_t first = id.find('\\');
  if (first == std::string_view::npos) return {};
  const std::size_t second = id.find('\\', first + 1);
  if (second == std::string_view::npos) return {};
  std::string_view rest = id.substr(second + 1);
  const std::size_t amp = rest.find('&');
  return amp == std::string_view::npos ? rest : rest.substr(0, amp);
}

// Identify Controller and Identify Namespace of the namespace the open connection
// reaches; the record only when both answer and the namespace has a usable format.
bool ProbeNvme(DriveConnection& connection, std::uint32_t nsid, DriveRecord& slot) {
  if (!NvmeSucceeded(NvmeIdentifyController(connection))) return false;
  NvmeControllerIdentity controller;
  DecodeIdentifyController(connection.buffers().a(), controller);
  if (!NvmeSucceeded(NvmeIdentifyNamespace(connection, nsid))) return false;
  NvmeNamespace ns;
  if (DecodeIdentifyNamespace(connection.buffers().a(), nsid, ns) != NvmeNamespaceDecode::Ok) {
    return false;
  }
  slot = DriveRecord{};
  CopyText(slot.model, controller.model);
  CopyText(slot.serial, controller.serial);
  CopyText(slot.firmware, controller.firmware);
  slot.total_sectors = ns.sectors();
  // The health log is there on every controller: SMART, in the program's terms, is
  // present and on; a self-test only where the controller offers one.
  slot.smart_supported = 1;
  slot.smart_enabled = 1;
  slot.smart_selftest_supported = controller.self_test_supported() ? 1 : 0;
  slot.smart_selftest_default = slot.smart_selftest_supported;
  slot.nvme = 1;
  slot.nvme_nsid = nsid;
  slot.nvme_block_count = ns.block_count;
  slot.nvme_block_bytes = ns.block_bytes;
  slot.nvme_metadata_bytes = ns.metadata_bytes;
  slot.nvme_mdts = controller.mdts;
  slot.nvme_self_test = controller.self_test_supported() ? 1 : 0;
  slot.nvme_verify = controller.verify_supported() ? 1 : 0;
  slot.nvme_write_zeroes = controller.write_zeroes_supported() ? 1 : 0;
  slot.nvme_warning_temp_kelvin = controller.warning_temp_kelvin;
  slot.nvme_critical_temp_kelvin = controller.critical_temp_kelvin;
  return true;
}

// The identity of the disk under a volume: IDENTIFY DEVICE, and where that fails and the
// handle reaches an NVMe namespace, its controller's model and serial. Every namespace of
// that controller then matches the volume: they share the identity, and leaving a
// sibling of the system's namespace out is better than offering the system's own.
// Data lands in buffer A.
void ProbeVolume(DeviceIo& io, DeviceHandle handle, IoBuffers& buffers, VolumeEntry& entry) {
  if (IdentifyDeviceOnHandle(io, handle, buffers)) {
    DriveRecord identity;
    DecodeIdentify(buffers.a(), identity);
    CopyText(entry.model, identity.model);
    CopyText(entry.serial, identity.serial);
    return;
  }
  if (!io.NvmeNamespaceId(handle)) return;
  NvmeRequest request = EncodeIdentifyController(buffers.a());
  if (!NvmeRequestIsWellFormed(request) || !NvmeSucceeded(io.NvmePassThrough(handle, request))) {
    return;
  }
  NvmeControllerIdentity controller;
  DecodeIdentifyController(buffers.a(), controller);
  CopyText(entry.model, controller.model);
  CopyText(entry.serial, controller.serial);
}

// A drive that opened and answered nothing the program can use, named with what its
// INQUIRY says of it where it answered that.
std::string SilentNote(DeviceIo& io, int n, const DriveRecord& inquired, const char* why) {
  std::string name = io.DriveName(n);
  std::string words;
  for (std::string_view part : {std::string_view(inquired.inquiry_vendor),
                                std::string_view(inquired.inquiry_product)}) {
    while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
    while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
    if (part.empty()) continue;
    if (!words.empty()) words += ' ';
    words += part;
  }
  if (!words.empty()) name += ", " + words;
  return name + " (" + why + ")";
}

}  // namespace

void ScanDrives(DriveConnection& connection, DriveTable& table, std::int32_t& count,
                std::string* system_undetermined, ScanNotes* notes) {
  connection.Close();
  DeviceIo& io = connection.io();
  if (notes) *notes = ScanNotes{};
  // Asked first: when the system's disks cannot be told apart, any drive may be one of
  // them, and none is probed or offered.
  const SystemDrives system = io.FindSystemDrives();
  if (system_undetermined) *system_undetermined = system.undetermined;
  if (!system.undetermined.empty()) {
    for (DriveRecord& record : table.records) record = DriveRecord{};
    count = 0;
    return;
  }
  VolumeEntry volumes[kVolumeLetters] = {};
  std::int32_t filled = 0;

  for (int n = 0; n < kMaxDrives; ++n) {
    DriveRecord& slot = table.records[filled];
    if (!connection.Open(n)) continue;
    if (IdentifyDevice(connection)) {
      slot = DriveRecord{};
      slot.via_scsi = 0;
      DecodeIdentify(connection.buffers().a(), slot);
      slot.drive_number = static_cast<std::uint8_t>(n);
      ++filled;
    } else if (const std::optional<std::uint32_t> nsid = connection.NvmeNamespaceId()) {
      // An NVMe namespace: it has no SCSI side worth asking, and no bridge.
      if (ProbeNvme(connection, *nsid, slot)) {
        slot.drive_number = static_cast<std::uint8_t>(n);
        ++filled;
      } else {
        if (notes) {
          notes->silent.push_back(
              SilentNote(io, n, DriveRecord{}, "an NVMe namespace that answered no Identify"));
        }
        slot = DriveRecord{};
      }
    } else {
      slot = DriveRecord{};
      if (Inquiry(connection)) {
        CopyInquiry(connection.inquiry_data, slot);
        RecogniseBridge(slot);
        SplitVendorWords(slot);
        SplitProductWords(slot);
        BuildVenPattern(slot);
        BuildProdPattern(slot);
        BuildRevPattern(slot);
      }
      // A recognised bridge is asked only in its own block: no second try.
      if (IdentifyDeviceScsi(connection, slot.behind_bridge)) {
        slot.via_scsi = 1;
        DecodeIdentify(connection.buffers().a(), slot);
        slot.drive_number = static_cast<std::uint8_t>(n);
        ++filled;
      } else {
        if (notes) {
          notes->silent.push_back(SilentNote(
              io, n, slot, "answered no ATA or NVMe identify"));
        }
        slot = DriveRecord{};  // the next drive may have the slot; leave nothing behind
      }
    }
    connection.Close();
  }
  count = filled;

  int entries = 0;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const DeviceHandle handle = io.Open(VolumePath(letter));
    if (handle == kInvalidHandle) continue;
    VolumeEntry& entry = volumes[entries];
    ProbeVolume(io, handle, connection.buffers(), entry);
    entry.letter = letter;
    ++entries;
    io.Close(handle);
  }

  for (std::int32_t i = 0; i < count; ++i) {
    DriveRecord& record = table.records[i];
    for (int v = 0; v < entries && record.drive_letter == 0; ++v) {
      if (std::strcmp(record.model, volumes[v].model) == 0 &&
          std::strcmp(record.serial, volumes[v].serial) == 0) {
        record.drive_letter = volumes[v].letter;
      }
    }
  }

  // The disk behind C: is the system; an adapter that knows of more system disks (a
  // root spread over a RAID set or a volume group) names them too, and they go as well.
  const std::vector<int>& system_drives = system.numbers;
  PackTable(table, count, [&](const DriveRecord& r) {
    const bool system_disk = r.drive_letter == 'C' ||
                             std::find(system_drives.begin(), system_drives.end(),
                                       r.drive_number) != system_drives.end();
    if (system_disk && notes) {
      notes->system.push_back(io.DriveName(r.drive_number) + " (holds the running system)");
    }
    return !system_disk;
  });
}

bool IsStillListedDrive(DriveConnection& connection, const DriveRecord& record) {
  DriveRecord now;
  if (record.nvme == 1) {
    const std::optional<std::uint32_t> nsid = connection.NvmeNamespaceId();
    if (!nsid || *nsid != record.nvme_nsid || !ProbeNvme(connection, *nsid, now)) return false;
  } else {
    const bool answered = record.via_scsi == 1
                              ? IdentifyDeviceScsi(connection, record.behind_bridge)
                              : IdentifyDevice(connection);
    if (!answered) return false;
    DecodeIdentify(connection.buffers().a(), now);
  }
  return std::strncmp(now.model, record.model, sizeof now.model) == 0 &&
         std::strncmp(now.serial, record.serial, sizeof now.serial) == 0 &&
         now.total_sectors == record.total_sectors;
}

void MatchUsbStorage(DriveRecord& record, DeviceCatalog& catalog) {
  const auto devices = catalog.PresentDevices(kDiskDriveClassGuid, "USBSTOR");
  if (!devices) return;
  for (const auto& device : *devices) {
    if (!device) continue;
    const std::string_view id = InstanceIdText(*device);
    if (!Contains(id, "USBSTOR\\DISK") || !Contains(id, "&VEN_") || !Contains(id, "&PROD_") ||
        !Contains(id, "&REV_")) {
      continue;
    }
    if (!Contains(id, record.ven_pattern) || !Contains(id, record.prod_pattern) ||
        !Contains(id, record.rev_pattern)) {
      continue;
    }
    // Later matches overwrite earlier ones, as the last disk enumerated wins.
    CopyText(record.usb_serial, SerialPart(id));
    record.usbstor_matched = 1;
  }
}

void MatchUsbDevice(DriveRecord& record, DeviceCatalog& catalog) {
  const auto devices = catalog.PresentDevices(kUsbClassGuid, "USB");
  if (!devices) return;
  for (const auto& device : *devices) {
    if (!device) continue;
    const std::string_view id = InstanceIdText(*device);
    if (record.usbstor_matched == 1 && Contains(id, record.usb_serial)) {
      record.usb_device_matched = 1;
    }
  }
}

void RefreshDriveTable(DriveTable& table, UnsupportedUsbList& unsupported,
                       DriveConnection& connection, DeviceCatalog& catalog,
                       std::string* system_undetermined, ScanNotes* notes) {
  unsupported = UnsupportedUsbList{};
  for (DriveRecord& record : table.records) record = DriveRecord{};
  table.count = 0;

  ScanDrives(connection, table, table.count, system_undetermined, notes);

  for (std::int32_t i = 0; i < table.count; ++i) {
    DriveRecord& record = table.records[i];
    if (record.via_scsi != 1) continue;
    MatchUsbStorage(record, catalog);
    MatchUsbDevice(record, catalog);
    if (record.usb_device_matched == 1) {
      record.usb_supported_a = 1;
      record.usb_supported_b = 1;
    }
    if (record.usb_supported_a == 1 && record.usb_supported_b == 1) continue;
    // The list has room for 21 names; further unsupported drives are still dropped below.
    if (unsupported.count < kMaxUnsupportedUsb) {
      UnsupportedUsbEntry& entry = unsupported.entries[unsupported.count++];
      CopyText(entry.vendor, record.inquiry_vendor);
      CopyText(entry.product, record.inquiry_product);
    }
  }

  PackTable(table, table.count, [](const DriveRecord& r) {
    return r.via_scsi == 0 || (r.usbstor_matched == 1 && r.usb_device_matched == 1 &&
                               r.usb_supported_a == 1 && r.usb_supported_b == 1);
  });
  connection.Close();
}

}  // namespace plovix
