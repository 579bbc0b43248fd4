#include "devices/sim/Bench.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <thread>
#include <variant>

#include "devices/sim/AtaDrive.h"
#include "devices/sim/BenchState.h"
#include "devices/sim/NvmeDrive.h"

namespace plovix::sim {
namespace {

constexpr std::uint8_t kScsiGood = 0x00;
constexpr std::uint8_t kScsiCheckCondition = 0x02;

constexpr std::uint8_t kOpInquiry = 0x12;
constexpr std::uint8_t kOpAtaPassThrough12 = 0xA1;
constexpr std::uint8_t kOpAtaPassThrough16 = 0x85;
constexpr std::uint8_t kOpBridgeVendor = 0xDF;

// Sense keys and codes of the fixed-format sense data the bench returns.
struct SenseCode {
  std::uint8_t key = 0;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
};
constexpr SenseCode kInvalidOpcode{0x05, 0x20, 0x00};
constexpr SenseCode kInvalidField{0x05, 0x24, 0x00};
constexpr SenseCode kAtaFailed{0x0B, 0x00, 0x00};  // aborted command

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

using bench_detail::Probe;

AtaRegisters FromTaskFiles(const AtaPassThroughRequest& request) {
  const std::uint8_t* cur = request.CurrentTaskFile;
  AtaRegisters r;
  r.feature = cur[kTfFeature];
  r.count = cur[kTfSectorCount];
  r.lba_low = cur[kTfLbaLow];
  r.lba_mid = cur[kTfLbaMid];
  r.lba_high = cur[kTfLbaHigh];
  r.device = cur[kTfDevice];
  r.command = cur[kTfCommand];
  // Without the 48-bit flag the adapter never loads the previous registers.
  if (request.AtaFlags & kAtaFlags48Bit) {
    const std::uint8_t* prev = request.PreviousTaskFile;
    r.prev_feature = prev[kTfFeature];
    r.prev_count = prev[kTfSectorCount];
    r.prev_lba_low = prev[kTfLbaLow];
    r.prev_lba_mid = prev[kTfLbaMid];
    r.prev_lba_high = prev[kTfLbaHigh];
  }
  return r;
}

// The three ways an ATA command travels in a SCSI block, unpacked.
std::optional<AtaRegisters> RegistersFromCdb(const std::uint8_t* cdb) {
  AtaRegisters r;
  switch (cdb[0]) {
    case kOpAtaPassThrough12:
      r.feature = cdb[3];
      r.count = cdb[4];
      r.lba_low = cdb[5];
      r.lba_mid = cdb[6];
      r.lba_high = cdb[7];
      r.device = cdb[8];
      r.command = cdb[9];
      return r;
    case kOpAtaPassThrough16:
      if (cdb[1] & 0x01) {  // EXTEND: the high-order bytes are meant
        r.prev_feature = cdb[3];
        r.prev_count = cdb[5];
        r.prev_lba_low = cdb[7];
        r.prev_lba_mid = cdb[9];
        r.prev_lba_high = cdb[11];
      }
      r.feature = cdb[4];
      r.count = cdb[6];
      r.lba_low = cdb[8];
      r.lba_mid = cdb[10];
      r.lba_high = cdb[12];
      r.device = cdb[13];
      r.command = cdb[14];
      return r;
    case kOpBridgeVendor:
      r.feature = cdb[5];
      r.count = cdb[6];
      r.lba_low = cdb[7];
      r.lba_mid = cdb[8];
      r.lba_high = cdb[9];
      r.device = cdb[10];
      r.command = cdb[11];
      return r;
    default:
      return std::nullopt;
  }
}

bool IsRegisterWrite(const std::uint8_t* cdb) {
  return cdb[0] == kOpBridgeVendor && cdb[1] == 0x00 && cdb[3] == 0x00 && cdb[4] == 0x04 &&
         cdb[7] == 0x75 && cdb[11] == 0xFE;
}

Probe ProbeAta(const AtaPassThroughRequest& request) {
  const AtaRegisters r = FromTaskFiles(request);
  return Probe{r.command, r.feature, std::nullopt, r.Lba48(), std::nullopt, std::nullopt};
}

Probe ProbeScsi(const ScsiPassThroughRequest& request) {
  Probe probe;
  probe.cdb_opcode = request.Cdb[0];
  if (IsRegisterWrite(request.Cdb)) return probe;
  if (auto r = RegistersFromCdb(request.Cdb)) {
    probe.ata_command = r->command;
    probe.feature = r->feature;
    probe.lba = r->Lba48();
  }
  return probe;
}

Probe ProbeNvme(const NvmeRequest& request) {
  Probe probe;
  probe.nvme_queue = request.queue;
  probe.nvme_opcode = request.opcode;
  // Every NVM command the program sends carries its starting block in CDW10 and CDW11.
  if (request.queue == NvmeQueue::Io) {
    probe.lba = request.cdw10 | static_cast<std::uint64_t>(request.cdw11) << 32;
  }
  return probe;
}

NvmeReply Reply(NvmeOutcome outcome, std::uint16_t status = 0, std::uint32_t dw0 = 0) {
  NvmeReply reply;
  reply.outcome = outcome;
  reply.status = status;
  reply.dw0 = dw0;
  return reply;
}

void SetSense(ScsiPassThroughRequest& request, SenseCode code) {
  std::uint8_t sense[18] = {};
  sense[0] = 0x70;
  sense[2] = code.key;
  sense[7] = 10;
  sense[12] = code.asc;
  sense[13] = code.ascq;
  const std::size_t room = std::min<std::size_t>(request.SenseInfoLength, sizeof request.Sense);
  std::memset(request.Sense, 0, sizeof request.Sense);
  std::memcpy(request.Sense, sense, std::min(room, sizeof sense));
}

bool CheckCondition(ScsiPassThroughRequest& request, SenseCode code) {
  request.ScsiStatus = kScsiCheckCondition;
  SetSense(request, code);
  return true;
}

// Sense data 72h with the ATA Status Return descriptor (09h), as a SAT layer answers a
// command sent with CK_COND: recovered error, "ATA pass through information available".
void ReturnRegisters(ScsiPassThroughRequest& request, const AtaRegisters& r,
                     std::uint8_t status, bool extend) {
  std::uint8_t sense[22] = {};
  sense[0] = 0x72;
  sense[1] = 0x01;
  sense[2] = 0x00;
  sense[3] = 0x1D;
  sense[7] = 14;
  std::uint8_t* d = sense + 8;
  d[0] = 0x09;
  d[1] = 0x0C;
  d[2] = extend ? 0x01 : 0x00;
  d[3] = 0;  // error
  d[4] = r.prev_count;
  d[5] = r.count;
  d[6] = r.prev_lba_low;
  d[7] = r.lba_low;
  d[8] = r.prev_lba_mid;
  d[9] = r.lba_mid;
  d[10] = r.prev_lba_high;
  d[11] = r.lba_high;
  d[12] = r.device;
  d[13] = status;
  request.ScsiStatus = kScsiCheckCondition;
  const std::size_t room = std::min<std::size_t>(request.SenseInfoLength, sizeof request.Sense);
  std::memset(request.Sense, 0, sizeof request.Sense);
  std::memcpy(request.Sense, sense, std::min(room, sizeof sense));
}

DataPhase ScsiPhase(const ScsiPassThroughRequest& request) {
  if (request.DataTransferLength == 0 || request.DataBuffer == nullptr ||
      request.DataIn == kScsiDataUnspecified) {
    return DataPhase::None;
  }
  return request.DataIn == kScsiDataIn ? DataPhase::In : DataPhase::Out;
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

bool Bench::AtaPassThrough(DeviceHandle handle, const AtaPassThroughRequest& request,
                           AtaPassThroughRequest& reply) {
  const std::uint64_t now = impl_->Now();
  std::optional<Fault> fault;
  std::uint64_t generation = 0;
  AtaExchange exchange;
  {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->handles.find(handle);
    const Impl::Handle* h = it == impl_->handles.end() ? nullptr : &it->second;
    impl_->Record(h, &request, nullptr);
    if (!h) return false;
    fault = impl_->TakeFault(h->drive.value_or(-1), ProbeAta(request));
    generation = impl_->release_generation;
  }
  if (fault) {
    switch (fault->effect) {
      case FaultEffect::CallFails:
      case FaultEffect::Timeout:
      case FaultEffect::Refused:
        return false;
      case FaultEffect::AtaError:
      case FaultEffect::CheckCondition:
      case FaultEffect::NvmeError:
        reply = request;
        reply.CurrentTaskFile[kTfFeature] = 0x04;
        reply.CurrentTaskFile[kTfCommand] = kStatusError;
        return true;
      case FaultEffect::Lost:
        reply = request;
        reply.CurrentTaskFile[kTfFeature] = 0;
        reply.CurrentTaskFile[kTfCommand] = kStatusOk;
        return true;
      case FaultEffect::Block:
        impl_->Block(generation, fault->until_ms);
        break;
      case FaultEffect::Garbage:
        break;
    }
  }

  exchange.regs = FromTaskFiles(request);
  if (request.AtaFlags & kAtaFlagsDataIn) {
    exchange.phase = DataPhase::In;
  } else if (request.AtaFlags & kAtaFlagsDataOut) {
    exchange.phase = DataPhase::Out;
  }
  exchange.length = request.DataBuffer ? request.DataTransferLength : 0;
  if (exchange.phase == DataPhase::Out && request.DataBuffer) {
    exchange.data_out.assign(request.DataBuffer, request.DataBuffer + request.DataTransferLength);
  }

  AtaResult result;
  std::uint64_t sectors_per_second = 0;
  {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->handles.find(handle);
    if (it == impl_->handles.end()) return false;
    AtaDrive* drive = impl_->FindDrive(it->second.drive);
    // A USB bridge, a silent volume, an NVMe drive or an unplugged drive answers no ATA
    // pass-through: the call fails, as it does on Windows and Linux.
    if (!drive || drive->is_usb()) return false;
    result = drive->Execute(exchange, now);
    sectors_per_second = drive->setup().sectors_per_second;
    if (fault && fault->effect == FaultEffect::Garbage) {
      result.status = kStatusOk;
      result.error = 0;
      for (auto& b : result.data_in) b = impl_->NextGarbage();
    }
  }
  if (result.protocol_error) return false;
  if (!result.data_in.empty() && request.DataBuffer) {
    std::memcpy(request.DataBuffer, result.data_in.data(),
                std::min<std::size_t>(result.data_in.size(), request.DataTransferLength));
  }
  if (sectors_per_second > 0 && result.media_sectors > 0) {
    std::this_thread::sleep_for(std::chrono::microseconds(result.media_sectors * 1000000 /
                                                          sectors_per_second));
  }
  reply = request;
  const AtaRegisters& out = result.out ? *result.out : exchange.regs;
  reply.CurrentTaskFile[kTfFeature] = result.error;
  reply.CurrentTaskFile[kTfSectorCount] = out.count;
  reply.CurrentTaskFile[kTfLbaLow] = out.lba_low;
  reply.CurrentTaskFile[kTfLbaMid] = out.lba_mid;
  reply.CurrentTaskFile[kTfLbaHigh] = out.lba_high;
  reply.CurrentTaskFile[kTfDevice] = out.device;
  reply.CurrentTaskFile[kTfCommand] = result.status;
  reply.PreviousTaskFile[kTfSectorCount] = out.prev_count;
  reply.PreviousTaskFile[kTfLbaLow] = out.prev_lba_low;
  reply.PreviousTaskFile[kTfLbaMid] = out.prev_lba_mid;
  reply.PreviousTaskFile[kTfLbaHigh] = out.prev_lba_high;
  return true;
}

bool Bench::ScsiPassThrough(DeviceHandle handle, ScsiPassThroughRequest& request) {
  const std::uint64_t now = impl_->Now();
  std::optional<Fault> fault;
  std::uint64_t generation = 0;
  {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->handles.find(handle);
    const Impl::Handle* h = it == impl_->handles.end() ? nullptr : &it->second;
    impl_->Record(h, nullptr, &request);
    if (!h) return false;
    fault = impl_->TakeFault(h->drive.value_or(-1), ProbeScsi(request));
    generation = impl_->release_generation;
  }
  request.ScsiStatus = kScsiGood;
  if (fault) {
    switch (fault->effect) {
      case FaultEffect::CallFails:
      case FaultEffect::Timeout:
      case FaultEffect::Refused:
        return false;
      case FaultEffect::AtaError:
      case FaultEffect::NvmeError:
        return CheckCondition(request, kAtaFailed);
      case FaultEffect::CheckCondition:
        return CheckCondition(request, kInvalidField);
      case FaultEffect::Lost:
        return true;
      case FaultEffect::Block:
        impl_->Block(generation, fault->until_ms);
        break;
      case FaultEffect::Garbage:
        break;
    }
  }
  const bool garbage = fault && fault->effect == FaultEffect::Garbage;
  const std::uint8_t* cdb = request.Cdb;
  const DataPhase phase = ScsiPhase(request);

  std::vector<std::uint8_t> data_in;
  std::uint64_t media_sectors = 0;
  std::uint64_t sectors_per_second = 0;
  {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->handles.find(handle);
    if (it == impl_->handles.end()) return false;
    if (it->second.volume) return false;  // volumes are reached with ATA pass-through only
    if (NvmeDrive* nvme = impl_->FindNvme(it->second.drive)) {
      // Windows' NVMe driver translates INQUIRY and refuses the ATA PASS-THROUGH blocks
      // (and every other block the bench does not model) as an unknown opcode.
      if (cdb[0] != kOpInquiry) return CheckCondition(request, kInvalidOpcode);
      if ((cdb[1] & 0x01) || phase != DataPhase::In) return CheckCondition(request, kInvalidField);
      std::vector<std::uint8_t> inquiry = nvme->InquiryData();
      const std::size_t allocation = static_cast<std::size_t>(cdb[3]) << 8 | cdb[4];
      inquiry.resize(std::min(inquiry.size(), allocation));
      if (garbage) {
        for (auto& b : inquiry) b = impl_->NextGarbage();
      }
      std::memcpy(request.DataBuffer, inquiry.data(),
                  std::min<std::size_t>(inquiry.size(), request.DataTransferLength));
      return true;
    }
    AtaDrive* drive = impl_->FindDrive(it->second.drive);
    if (!drive) return false;
    // A drive on the SATA bus rejects the SCSI pass-through blocks.
    if (!drive->is_usb()) return CheckCondition(request, kInvalidOpcode);
    const BridgeSpec& bridge = drive->bridge();
    const bool standard = bridge.forwarding == BridgeForwarding::Standard ||
                          bridge.forwarding == BridgeForwarding::VendorAndStandard;
    const bool vendor = bridge.forwarding == BridgeForwarding::Vendor ||
                        bridge.forwarding == BridgeForwarding::VendorAndStandard;

    if (cdb[0] == kOpInquiry) {
      if (!bridge.inquiry_answers) return CheckCondition(request, kInvalidOpcode);
      if ((cdb[1] & 0x01) || phase != DataPhase::In) return CheckCondition(request, kInvalidField);
      std::vector<std::uint8_t> inquiry(40, ' ');
      inquiry[0] = 0x00;  // direct-access block device
      inquiry[1] = 0x00;
      inquiry[2] = 0x06;
      inquiry[3] = 0x02;
      inquiry[4] = 40 - 5;
      inquiry[5] = inquiry[6] = inquiry[7] = 0x00;
      auto put = [&](std::size_t at, std::size_t width, const std::string& text) {
        for (std::size_t i = 0; i < width && i < text.size(); ++i) {
          inquiry[at + i] = static_cast<std::uint8_t>(text[i]);
        }
      };
      put(8, 8, bridge.vendor);
      put(16, 16, bridge.product);
      put(32, 4, bridge.revision);
      put(36, 4, bridge.chip_id);
      const std::size_t allocation = static_cast<std::size_t>(cdb[3]) << 8 | cdb[4];
      inquiry.resize(std::min(inquiry.size(), allocation));
      data_in = std::move(inquiry);
    } else if (IsRegisterWrite(cdb)) {
      if (!vendor) return CheckCondition(request, kInvalidOpcode);
      if (phase != DataPhase::Out || request.DataTransferLength != 4) {
        return CheckCondition(request, kInvalidField);
      }
    } else {
      const bool forwarded =
          ((cdb[0] == kOpAtaPassThrough12 || cdb[0] == kOpAtaPassThrough16) && standard) ||
          (cdb[0] == kOpBridgeVendor && vendor);
      if (!forwarded) return CheckCondition(request, kInvalidOpcode);

      AtaExchange exchange;
      exchange.regs = *RegistersFromCdb(cdb);
      exchange.phase = phase;
      exchange.length = phase == DataPhase::None ? 0 : request.DataTransferLength;
      if (phase == DataPhase::Out) {
        exchange.data_out.assign(request.DataBuffer, request.DataBuffer + request.DataTransferLength);
      }
      // The block's own direction has to agree with the transfer the host set up.
      if (cdb[0] == kOpBridgeVendor) {
        const bool from_device = (cdb[1] & 0x10) != 0;
        const std::size_t length = static_cast<std::size_t>(cdb[3]) << 8 | cdb[4];
        if ((phase == DataPhase::In && !from_device) || (phase == DataPhase::Out && from_device) ||
            (phase != DataPhase::None && length > request.DataTransferLength)) {
          return CheckCondition(request, kInvalidField);
        }
      } else {
        const int protocol = (cdb[1] >> 1) & 0x0F;
        const bool t_dir = (cdb[2] & 0x08) != 0;
        const bool fits = (phase == DataPhase::In && protocol == 4 && t_dir) ||
                          (phase == DataPhase::Out && protocol == 5 && !t_dir) ||
                          (phase == DataPhase::None && protocol == 3);
        if (!fits) return CheckCondition(request, kInvalidField);
      }
      AtaResult result = drive->Execute(exchange, now);
      if (garbage) result.status = kStatusOk;
      if (result.status != kStatusOk) return CheckCondition(request, kAtaFailed);
      if (cdb[0] != kOpBridgeVendor && (cdb[2] & 0x20) != 0) {
        // CK_COND: the translator returns the registers in descriptor-format sense data.
        ReturnRegisters(request, result.out ? *result.out : exchange.regs, result.status,
                        cdb[0] == kOpAtaPassThrough16 && (cdb[1] & 0x01) != 0);
        return true;
      }
      data_in = std::move(result.data_in);
      media_sectors = result.media_sectors;
      sectors_per_second = drive->setup().sectors_per_second;
    }
    if (garbage) {
      for (auto& b : data_in) b = impl_->NextGarbage();
    }
  }
  if (!data_in.empty() && request.DataBuffer) {
    std::memcpy(request.DataBuffer, data_in.data(),
                std::min<std::size_t>(data_in.size(), request.DataTransferLength));
  }
  if (sectors_per_second > 0 && media_sectors > 0) {
    std::this_thread::sleep_for(
        std::chrono::microseconds(media_sectors * 1000000 / sectors_per_second));
  }
  return true;
}

NvmeReply Bench::NvmePassThrough(DeviceHandle handle, const NvmeRequest& request) {
  std::uint64_t now = impl_->Now();
  std::optional<Fault> fault;
  std::uint64_t generation = 0;
  {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->handles.find(handle);
    const Impl::Handle* h = it == impl_->handles.end() ? nullptr : &it->second;
    impl_->RecordNvme(h, request);
    if (!h) return Reply(NvmeOutcome::CallFailed);
    fault = impl_->TakeFault(h->drive.value_or(-1), ProbeNvme(request));
    generation = impl_->release_generation;
  }
  if (fault) {
    switch (fault->effect) {
      case FaultEffect::CallFails:
      case FaultEffect::Timeout:
        return Reply(NvmeOutcome::CallFailed);
      case FaultEffect::Refused:
        return Reply(NvmeOutcome::Refused);
      case FaultEffect::AtaError:
      case FaultEffect::CheckCondition:
      case FaultEffect::NvmeError:
        return Reply(NvmeOutcome::Completed, fault->nvme_status);
      case FaultEffect::Lost:
        return Reply(NvmeOutcome::Completed);
      case FaultEffect::Block:
        impl_->Block(generation, fault->until_ms);
        now = impl_->Now();  // the command reaches the drive only now
        break;
      case FaultEffect::Garbage:
        break;
    }
  }

  NvmeExchange exchange;
  exchange.request = request;
  exchange.request.data = nullptr;
  if (request.direction == NvmeData::ToDevice && request.data) {
    exchange.data_out.assign(request.data, request.data + request.data_length);
  }
  NvmeResult result;
  std::uint64_t blocks_per_second = 0;
  {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->handles.find(handle);
    if (it == impl_->handles.end()) return Reply(NvmeOutcome::CallFailed);
    NvmeDrive* drive = impl_->FindNvme(it->second.drive);
    // An ATA drive, a USB bridge or a silent volume: the system finds no NVMe device there.
    if (!drive) return Reply(NvmeOutcome::NoNvme);
    if (drive->OsRefuses(request)) return Reply(NvmeOutcome::Refused);
    result = drive->Execute(exchange, now);
    blocks_per_second = drive->setup().blocks_per_second;
    if (fault && fault->effect == FaultEffect::Garbage) {
      result.status = 0;
      for (auto& b : result.data_in) b = impl_->NextGarbage();
    }
  }
  if (result.transfer_error) return Reply(NvmeOutcome::CallFailed);
  if (!result.data_in.empty() && request.direction == NvmeData::FromDevice && request.data) {
    std::memcpy(request.data, result.data_in.data(),
                std::min<std::size_t>(result.data_in.size(), request.data_length));
  }
  if (blocks_per_second > 0 && result.media_blocks > 0) {
    std::this_thread::sleep_for(
        std::chrono::microseconds(result.media_blocks * 1000000 / blocks_per_second));
  }
  return Reply(NvmeOutcome::Completed, result.status, result.dw0);
}

std::optional<std::uint32_t> Bench::NvmeNamespaceId(DeviceHandle handle) {
  std::lock_guard lock(impl_->mutex);
  auto it = impl_->handles.find(handle);
  if (it == impl_->handles.end()) return std::nullopt;
  NvmeDrive* drive = impl_->FindNvme(it->second.drive);
  if (!drive) return std::nullopt;
  return drive->setup().nsid;
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
