// The bench's SCSI pass-through: the USB bridge model (INQUIRY, the vendor register
// write, and ATA commands forwarded in the standard or the vendor block) and the
// translation an NVMe driver makes of INQUIRY.
#include <string>

#include "devices/sim/AtaDrive.h"
#include "devices/sim/BenchPassThrough.h"
#include "devices/sim/NvmeDrive.h"

namespace plovix::sim {
namespace {

using bench_detail::MediaWork;
using bench_detail::Probe;
using Handle = Bench::Impl::Handle;

constexpr std::uint8_t kScsiGood = 0x00;
constexpr std::uint8_t kScsiCheckCondition = 0x02;
constexpr std::uint8_t kOpInquiry = 0x12;

// Sense keys and codes of the fixed-format sense data the bench returns.
struct SenseCode {
  std::uint8_t key = 0;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
};
constexpr SenseCode kInvalidOpcode{0x05, 0x20, 0x00};
constexpr SenseCode kInvalidField{0x05, 0x24, 0x00};
constexpr SenseCode kAtaFailed{0x0B, 0x00, 0x00};  // aborted command

bool IsRegisterWrite(const std::uint8_t* cdb) {
  return cdb[0] == kOpBridgeVendor && cdb[1] == 0x00 && cdb[3] == 0x00 && cdb[4] == 0x04 &&
         cdb[7] == 0x75 && cdb[11] == 0xFE;
}

AtaData ScsiPhase(const ScsiPassThroughRequest& request) {
  if (request.DataTransferLength == 0 || request.DataBuffer == nullptr ||
      request.DataIn == kScsiDataUnspecified) {
    return AtaData::None;
  }
  return request.DataIn == kScsiDataIn ? AtaData::In : AtaData::Out;
}

// The sense data as much of it as the caller made room for.
void PutSense(ScsiPassThroughRequest& request, const std::uint8_t* sense, std::size_t length) {
  const std::size_t room = std::min<std::size_t>(request.SenseInfoLength, sizeof request.Sense);
  std::memset(request.Sense, 0, sizeof request.Sense);
  std::memcpy(request.Sense, sense, std::min(room, length));
}

bool CheckCondition(ScsiPassThroughRequest& request, SenseCode code) {
  request.ScsiStatus = kScsiCheckCondition;
  std::uint8_t sense[18] = {};
  sense[0] = 0x70;
  sense[2] = code.key;
  sense[7] = 10;
  sense[12] = code.asc;
  sense[13] = code.ascq;
  PutSense(request, sense, sizeof sense);
  return true;
}

std::vector<std::uint8_t> BridgeInquiry(const BridgeSpec& bridge) {
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
  return inquiry;
}

class ScsiPort {
 public:
  using Answer = bool;
  static constexpr bool kClockAfterBlock = false;

  explicit ScsiPort(ScsiPassThroughRequest& request) : request_(request), cdb_(request.Cdb) {}

  void Record(Bench::Impl& impl, const Handle* h) { impl.Record(h, nullptr, &request_); }
  Probe Match() const {
    Probe probe;
    probe.cdb_opcode = cdb_[0];
    if (IsRegisterWrite(cdb_)) return probe;
    if (auto r = TaskFileOfCdb(cdb_)) {
      probe.ata_command = r->command;
      probe.feature = r->feature;
      probe.lba = r->Lba48();
    }
    return probe;
  }
  void Begin() { request_.ScsiStatus = kScsiGood; }
  bool CallFailed() { return false; }
  bool Refused() { return false; }
  bool Failed(const Fault& fault) {
    return CheckCondition(request_, fault.effect == FaultEffect::CheckCondition ? kInvalidField
                                                                                : kAtaFailed);
  }
  bool Lost() { return true; }
  void Prepare() { phase_ = ScsiPhase(request_); }

  std::optional<bool> Run(Bench::Impl& impl, const Handle& h, std::uint64_t now, bool garbage,
                          MediaWork& work) {
    if (h.volume) return false;  // volumes are reached with ATA pass-through only
    work.buffer = request_.DataBuffer;
    work.room = request_.DataTransferLength;
    if (NvmeDrive* nvme = impl.FindNvme(h.drive)) {
      // Windows' NVMe driver translates INQUIRY and refuses the ATA PASS-THROUGH blocks
      // (and every other block the bench does not model) as an unknown opcode.
      if (cdb_[0] != kOpInquiry) return CheckCondition(request_, kInvalidOpcode);
      return Inquiry(nvme->InquiryData(), work);
    }
    AtaDrive* drive = impl.FindDrive(h.drive);
    if (!drive) return false;
    // A drive on the SATA bus rejects the SCSI pass-through blocks.
    if (!drive->is_usb()) return CheckCondition(request_, kInvalidOpcode);
    const BridgeSpec& bridge = drive->bridge();
    if (cdb_[0] == kOpInquiry) {
      if (!bridge.inquiry_answers) return CheckCondition(request_, kInvalidOpcode);
      return Inquiry(BridgeInquiry(bridge), work);
    }
    const bool vendor = bridge.forwarding == BridgeForwarding::Vendor ||
                        bridge.forwarding == BridgeForwarding::VendorAndStandard;
    if (IsRegisterWrite(cdb_)) {
      if (!vendor) return CheckCondition(request_, kInvalidOpcode);
      if (phase_ != AtaData::Out || request_.DataTransferLength != 4) {
        return CheckCondition(request_, kInvalidField);
      }
      return std::nullopt;
    }
    return Forward(*drive, bridge, vendor, now, garbage, work);
  }

  bool Deliver() { return true; }

 private:
  std::optional<bool> Inquiry(std::vector<std::uint8_t> inquiry, MediaWork& work) {
    if ((cdb_[1] & 0x01) || phase_ != AtaData::In) return CheckCondition(request_, kInvalidField);
    const std::size_t allocation = static_cast<std::size_t>(cdb_[3]) << 8 | cdb_[4];
    inquiry.resize(std::min(inquiry.size(), allocation));
    work.data_in = std::move(inquiry);
    return std::nullopt;
  }

  // The block's own direction has to agree with the transfer the host set up.
  bool BlockFitsTransfer() const {
    if (cdb_[0] == kOpBridgeVendor) {
      const bool from_device = (cdb_[1] & 0x10) != 0;
      const std::size_t length = static_cast<std::size_t>(cdb_[3]) << 8 | cdb_[4];
      return !((phase_ == AtaData::In && !from_device) || (phase_ == AtaData::Out && from_device) ||
               (phase_ != AtaData::None && length > request_.DataTransferLength));
    }
    const int protocol = (cdb_[1] >> 1) & 0x0F;
    const bool t_dir = (cdb_[2] & kTDir) != 0;
    return (phase_ == AtaData::In && protocol == kProtocolPioIn && t_dir) ||
           (phase_ == AtaData::Out && protocol == kProtocolPioOut && !t_dir) ||
           (phase_ == AtaData::None && protocol == kProtocolNonData);
  }

  // An ATA command in one of the blocks, as far as this bridge forwards it.
  std::optional<bool> Forward(AtaDrive& drive, const BridgeSpec& bridge, bool vendor,
                              std::uint64_t now, bool garbage, MediaWork& work) {
    const bool standard = bridge.forwarding == BridgeForwarding::Standard ||
                          bridge.forwarding == BridgeForwarding::VendorAndStandard;
    const bool forwarded =
        ((cdb_[0] == kOpAtaPassThrough12 || cdb_[0] == kOpAtaPassThrough16) && standard) ||
        (cdb_[0] == kOpBridgeVendor && vendor);
    if (!forwarded) return CheckCondition(request_, kInvalidOpcode);

    AtaExchange exchange;
    exchange.regs = *TaskFileOfCdb(cdb_);
    exchange.phase = phase_;
    exchange.length = phase_ == AtaData::None ? 0 : request_.DataTransferLength;
    if (phase_ == AtaData::Out) {
      exchange.data_out.assign(request_.DataBuffer,
                               request_.DataBuffer + request_.DataTransferLength);
    }
    if (!BlockFitsTransfer()) return CheckCondition(request_, kInvalidField);
    AtaResult result = drive.Execute(exchange, now);
    if (garbage) result.status = kStatusOk;
    if (result.status != kStatusOk) return CheckCondition(request_, kAtaFailed);
    if (cdb_[0] != kOpBridgeVendor && (cdb_[2] & kCkCond) != 0) {
      // CK_COND: the translator returns the registers in descriptor-format sense data.
      const auto sense =
          AtaStatusSense(ReplyFromStatus(result.status, 0, result.out.value_or(exchange.regs)));
      request_.ScsiStatus = kScsiCheckCondition;
      PutSense(request_, sense.data(), sense.size());
      return true;
    }
    work.data_in = std::move(result.data_in);
    work.units = result.media_sectors;
    work.units_per_second = drive.setup().sectors_per_second;
    return std::nullopt;
  }

  ScsiPassThroughRequest& request_;
  const std::uint8_t* cdb_;
  AtaData phase_ = AtaData::None;
};

}  // namespace

bool Bench::ScsiPassThrough(DeviceHandle handle, ScsiPassThroughRequest& request) {
  ScsiPort port(request);
  return bench_detail::PassThrough(*impl_, handle, port);
}

}  // namespace plovix::sim
