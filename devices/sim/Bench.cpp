// The bench's set-up, its device catalogue and its handles. The pass-through calls are
// in BenchPassThrough.cpp (ATA, NVMe) and BenchBridge.cpp (SCSI), the block path in
// BenchDisks.cpp.
#include "devices/sim/Bench.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "devices/sim/AtaDrive.h"
#include "devices/sim/BenchState.h"
#include "devices/sim/NvmeDrive.h"

namespace plovix::sim {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

// How Windows writes an INQUIRY text into a USB storage instance id: trailing blanks
// cut, other blanks and characters it does not allow in ids as underscores, upper case.
std::string IdText(std::string_view text) {
  std::string out(text);
  while (!out.empty() && (out.back() == ' ' || out.back() == '\0')) out.pop_back();
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F || c == ',') {
      c = '_';
    } else {
      c = static_cast<char>(std::toupper(u));
    }
  }
  return out;
}

std::string Hex4(std::uint16_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", v);
  return text;
}

}  // namespace

Bench::Bench() : impl_(std::make_unique<Impl>()) {}
Bench::~Bench() = default;

void Bench::SetClock(std::function<std::uint64_t()> now_ms) {
  std::lock_guard lock(impl_->mutex);
  impl_->clock = std::move(now_ms);
}

VirtualDrive& Bench::AddSata(int drive_number, DriveSpec setup) {
  std::lock_guard lock(impl_->mutex);
  auto drive = std::make_unique<AtaDrive>(std::move(setup), std::nullopt, impl_->mutex,
                                          [impl = impl_.get()] { return impl->Now(); });
  impl_->nvme_drives.erase(drive_number);
  auto& slot = impl_->drives[drive_number];
  slot = std::move(drive);
  return *slot;
}

VirtualDrive& Bench::AddUsb(int drive_number, DriveSpec setup, BridgeSpec bridge) {
  std::lock_guard lock(impl_->mutex);
  if (bridge.listed_as_usbstor) {
    std::string id = "USBSTOR\\DISK&VEN_" + IdText(bridge.vendor) + "&PROD_" +
                     IdText(bridge.product) + "&REV_" + IdText(bridge.revision) + "\\" +
                     bridge.usb_serial + "&0";
    impl_->catalog.push_back(Impl::CatalogEntry{std::string(kDiskDriveClassGuid), "USBSTOR",
                                                std::move(id), drive_number});
  }
  if (bridge.listed_as_usb_device) {
    std::string id = "USB\\VID_" + Hex4(bridge.vid) + "&PID_" + Hex4(bridge.pid) + "\\" +
                     bridge.usb_serial;
    impl_->catalog.push_back(
        Impl::CatalogEntry{std::string(kUsbClassGuid), "USB", std::move(id), drive_number});
  }
  auto drive = std::make_unique<AtaDrive>(std::move(setup), std::move(bridge), impl_->mutex,
                                          [impl = impl_.get()] { return impl->Now(); });
  impl_->nvme_drives.erase(drive_number);
  auto& slot = impl_->drives[drive_number];
  slot = std::move(drive);
  return *slot;
}

VirtualNvme& Bench::AddNvme(int drive_number, NvmeSpec setup) {
  std::lock_guard lock(impl_->mutex);
  auto drive = std::make_unique<NvmeDrive>(std::move(setup), impl_->mutex,
                                           [impl = impl_.get()] { return impl->Now(); });
  impl_->drives.erase(drive_number);
  auto& slot = impl_->nvme_drives[drive_number];
  slot = std::move(drive);
  return *slot;
}

void Bench::AddVolume(char letter, int drive_number) {
  std::lock_guard lock(impl_->mutex);
  impl_->volumes[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))] =
      drive_number;
}

void Bench::AddSilentVolume(char letter) {
  std::lock_guard lock(impl_->mutex);
  impl_->volumes[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))] =
      std::nullopt;
}

void Bench::AddCatalogEntry(std::string_view class_guid, std::string_view enumerator,
                            std::optional<std::string> instance_id) {
  std::lock_guard lock(impl_->mutex);
  impl_->catalog.push_back(Impl::CatalogEntry{std::string(class_guid), std::string(enumerator),
                                              std::move(instance_id), -1});
}

void Bench::FailCatalog(std::string_view class_guid, std::string_view enumerator) {
  std::lock_guard lock(impl_->mutex);
  impl_->failed_catalogs.emplace_back(class_guid, enumerator);
}

VirtualDrive& Bench::Drive(int drive_number) {
  std::lock_guard lock(impl_->mutex);
  return *impl_->drives.at(drive_number);
}

VirtualNvme& Bench::Nvme(int drive_number) {
  std::lock_guard lock(impl_->mutex);
  return *impl_->nvme_drives.at(drive_number);
}

VirtualMedia& Bench::Media(int drive_number) {
  std::lock_guard lock(impl_->mutex);
  if (AtaDrive* ata = impl_->FindDrive(drive_number)) return *ata;
  return *impl_->nvme_drives.at(drive_number);
}

bool Bench::HasDrive(int drive_number) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->Present(drive_number);
}

void Bench::RemoveDrive(int drive_number) {
  std::lock_guard lock(impl_->mutex);
  impl_->drives.erase(drive_number);
  impl_->nvme_drives.erase(drive_number);
  auto& catalog = impl_->catalog;
  catalog.erase(std::remove_if(catalog.begin(), catalog.end(),
                               [&](const Impl::CatalogEntry& e) { return e.owner == drive_number; }),
                catalog.end());
}

std::vector<int> Bench::SystemDriveNumbers() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->system_drives;
}

void Bench::SetSystemDrives(std::vector<int> drive_numbers) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->system_drives = std::move(drive_numbers);
}

SystemDrives Bench::FindSystemDrives() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return {impl_->system_drives, impl_->system_undetermined};
}

void Bench::SetSystemDrivesUndetermined(std::string why) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->system_undetermined = std::move(why);
}

std::vector<std::string> Bench::OtherDisks() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->other_disks;
}

void Bench::SetOtherDisks(std::vector<std::string> disks) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->other_disks = std::move(disks);
}

void Bench::FailOpen(int drive_number) {
  std::lock_guard lock(impl_->mutex);
  impl_->fail_open.insert(drive_number);
}

void Bench::AddFault(Fault fault) {
  std::lock_guard lock(impl_->mutex);
  impl_->faults.push_back(Impl::ActiveFault{fault, 0, 0});
}

void Bench::ClearFaults() {
  std::lock_guard lock(impl_->mutex);
  impl_->faults.clear();
  impl_->fail_open.clear();
}

void Bench::ReleaseBlocked() {
  {
    std::lock_guard lock(impl_->mutex);
    ++impl_->release_generation;
  }
  impl_->released.notify_all();
}

std::vector<Received> Bench::Log() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->log;
}

std::vector<Received> Bench::LogFor(int drive_number) const {
  std::lock_guard lock(impl_->mutex);
  std::vector<Received> out;
  for (const Received& r : impl_->log) {
    if (r.drive_number == drive_number) out.push_back(r);
  }
  return out;
}

void Bench::ClearLog() {
  std::lock_guard lock(impl_->mutex);
  impl_->log.clear();
}

std::vector<std::string> Bench::OpenedPaths() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->opened;
}

int Bench::OpenHandleCount() const {
  std::lock_guard lock(impl_->mutex);
  return static_cast<int>(impl_->handles.size());
}

DeviceHandle Bench::Open(const std::string& path) {
  std::lock_guard lock(impl_->mutex);
  impl_->opened.push_back(path);

  static constexpr std::string_view kDevicePrefix = "\\\\.\\";
  static constexpr std::string_view kPhysical = "PhysicalDrive";
  if (path.size() <= kDevicePrefix.size() || path.compare(0, kDevicePrefix.size(), kDevicePrefix) != 0) {
    return kInvalidHandle;
  }
  const std::string_view rest = std::string_view(path).substr(kDevicePrefix.size());

  Impl::Handle handle;
  handle.path = path;
  if (rest.size() > kPhysical.size() && EqualNoCase(rest.substr(0, kPhysical.size()), kPhysical)) {
    const std::string_view digits = rest.substr(kPhysical.size());
    if (digits.size() > 3 ||
        !std::all_of(digits.begin(), digits.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
      return kInvalidHandle;
    }
    const int n = std::stoi(std::string(digits));
    if (!impl_->Present(n) || impl_->fail_open.count(n) != 0) return kInvalidHandle;
    handle.drive = n;
  } else if (rest.size() == 2 && rest[1] == ':' &&
             std::isalpha(static_cast<unsigned char>(rest[0]))) {
    auto it = impl_->volumes.find(static_cast<char>(std::toupper(static_cast<unsigned char>(rest[0]))));
    if (it == impl_->volumes.end()) return kInvalidHandle;
    handle.volume = true;
    handle.drive = it->second;
  } else {
    return kInvalidHandle;
  }
  const DeviceHandle h = impl_->next_handle++;
  impl_->handles.emplace(h, std::move(handle));
  return h;
}

void Bench::Close(DeviceHandle handle) {
  std::lock_guard lock(impl_->mutex);
  impl_->handles.erase(handle);
}

std::optional<std::vector<std::optional<std::string>>> Bench::PresentDevices(
    std::string_view class_guid, std::string_view enumerator) {
  std::lock_guard lock(impl_->mutex);
  for (const auto& [guid, en] : impl_->failed_catalogs) {
    if (EqualNoCase(guid, class_guid) && EqualNoCase(en, enumerator)) return std::nullopt;
  }
  std::vector<std::optional<std::string>> out;
  for (const auto& entry : impl_->catalog) {
    if (EqualNoCase(entry.class_guid, class_guid) && EqualNoCase(entry.enumerator, enumerator)) {
      out.push_back(entry.instance_id);
    }
  }
  return out;
}

}  // namespace plovix::sim
