// The bench's ATA and NVMe pass-through: a drive on the SATA bus and an NVMe namespace,
// each behind the one skeleton in BenchPassThrough.h.
#include "devices/sim/BenchPassThrough.h"

#include "devices/sim/AtaDrive.h"
#include "devices/sim/NvmeDrive.h"

namespace plovix::sim {
namespace {

using bench_detail::MediaWork;
using bench_detail::Probe;
using Handle = Bench::Impl::Handle;

// ATA pass-through reaches a drive on the SATA bus only.
class AtaPort {
 public:
  using Answer = bool;
  static constexpr bool kClockAfterBlock = false;

  AtaPort(const AtaPassThroughRequest& request, AtaPassThroughRequest& reply)
      : request_(request), reply_(reply) {}

  void Record(Bench::Impl& impl, const Handle* h) { impl.Record(h, &request_, nullptr); }
  Probe Match() const {
    const AtaTaskFile r = TaskFilesOfRequest(request_);
    return bench_detail::Probe{r.command, r.feature, std::nullopt, r.Lba48(), std::nullopt,
                               std::nullopt};
  }
  void Begin() {}
  bool CallFailed() { return false; }
  bool Refused() { return false; }
  bool Failed(const Fault&) { return Registers(0x04, kStatusError); }
  bool Lost() { return Registers(0, kStatusOk); }

  void Prepare() {
    exchange_.regs = TaskFilesOfRequest(request_);
    exchange_.phase = DataOfRequest(request_);
    exchange_.length = request_.DataBuffer ? request_.DataTransferLength : 0;
    if (exchange_.phase == AtaData::Out && request_.DataBuffer) {
      exchange_.data_out.assign(request_.DataBuffer,
                                request_.DataBuffer + request_.DataTransferLength);
    }
  }

  std::optional<bool> Run(Bench::Impl& impl, const Handle& h, std::uint64_t now, bool garbage,
                          MediaWork& work) {
    AtaDrive* drive = impl.FindDrive(h.drive);
    // A USB bridge, a silent volume, an NVMe drive or an unplugged drive answers no ATA
    // pass-through: the call fails, as it does on Windows and Linux.
    if (!drive || drive->is_usb()) return false;
    result_ = drive->Execute(exchange_, now);
    if (result_.protocol_error) return false;
    if (garbage) {
      result_.status = kStatusOk;
      result_.error = 0;
    }
    work.data_in = std::move(result_.data_in);
    work.buffer = request_.DataBuffer;
    work.room = request_.DataTransferLength;
    work.units = result_.media_sectors;
    work.units_per_second = drive->setup().sectors_per_second;
    return std::nullopt;
  }

  bool Deliver() {
    reply_ = request_;
    PutReply(ReplyFromStatus(result_.status, result_.error, result_.out.value_or(exchange_.regs)),
             reply_);
    return true;
  }

 private:
  // A reply the bench makes up: the request's registers with this error and status.
  bool Registers(std::uint8_t error, std::uint8_t status) {
    reply_ = request_;
    reply_.CurrentTaskFile[kTfFeature] = error;
    reply_.CurrentTaskFile[kTfCommand] = status;
    return true;
  }

  const AtaPassThroughRequest& request_;
  AtaPassThroughRequest& reply_;
  AtaExchange exchange_;
  AtaResult result_;
};

NvmeReply Reply(NvmeOutcome outcome, std::uint16_t status = 0, std::uint32_t dw0 = 0) {
  NvmeReply reply;
  reply.outcome = outcome;
  reply.status = status;
  reply.dw0 = dw0;
  return reply;
}

class NvmePort {
 public:
  using Answer = NvmeReply;
  static constexpr bool kClockAfterBlock = true;

  explicit NvmePort(const NvmeRequest& request) : request_(request) {}

  void Record(Bench::Impl& impl, const Handle* h) { impl.RecordNvme(h, request_); }
  Probe Match() const {
    bench_detail::Probe probe;
    probe.nvme_queue = request_.queue;
    probe.nvme_opcode = request_.opcode;
    // Every NVM command the program sends carries its starting block in CDW10 and CDW11.
    if (request_.queue == NvmeQueue::Io) {
      probe.lba = request_.cdw10 | static_cast<std::uint64_t>(request_.cdw11) << 32;
    }
    return probe;
  }
  void Begin() {}
  NvmeReply CallFailed() { return Reply(NvmeOutcome::CallFailed); }
  NvmeReply Refused() { return Reply(NvmeOutcome::Refused); }
  NvmeReply Failed(const Fault& fault) { return Reply(NvmeOutcome::Completed, fault.nvme_status); }
  NvmeReply Lost() { return Reply(NvmeOutcome::Completed); }

  void Prepare() {
    exchange_.request = request_;
    exchange_.request.data = nullptr;
    if (request_.direction == NvmeData::ToDevice && request_.data) {
      exchange_.data_out.assign(request_.data, request_.data + request_.data_length);
    }
  }

  std::optional<NvmeReply> Run(Bench::Impl& impl, const Handle& h, std::uint64_t now,
                               bool garbage, MediaWork& work) {
    NvmeDrive* drive = impl.FindNvme(h.drive);
    // An ATA drive, a USB bridge or a silent volume: the system finds no NVMe device there.
    if (!drive) return Reply(NvmeOutcome::NoNvme);
    if (drive->OsRefuses(request_)) return Reply(NvmeOutcome::Refused);
    result_ = drive->Execute(exchange_, now);
    if (result_.transfer_error) return Reply(NvmeOutcome::CallFailed);
    if (garbage) result_.status = 0;
    work.data_in = std::move(result_.data_in);
    if (request_.direction == NvmeData::FromDevice) {
      work.buffer = request_.data;
      work.room = request_.data_length;
    }
    work.units = result_.media_blocks;
    work.units_per_second = drive->setup().blocks_per_second;
    return std::nullopt;
  }

  NvmeReply Deliver() { return Reply(NvmeOutcome::Completed, result_.status, result_.dw0); }

 private:
  const NvmeRequest& request_;
  NvmeExchange exchange_;
  NvmeResult result_;
};

}  // namespace

bool Bench::AtaPassThrough(DeviceHandle handle, const AtaPassThroughRequest& request,
                           AtaPassThroughRequest& reply) {
  AtaPort port(request, reply);
  return bench_detail::PassThrough(*impl_, handle, port);
}

NvmeReply Bench::NvmePassThrough(DeviceHandle handle, const NvmeRequest& request) {
  NvmePort port(request);
  return bench_detail::PassThrough(*impl_, handle, port);
}

std::optional<std::uint32_t> Bench::NvmeNamespaceId(DeviceHandle handle) {
  std::lock_guard lock(impl_->mutex);
  auto it = impl_->handles.find(handle);
  if (it == impl_->handles.end()) return std::nullopt;
  NvmeDrive* drive = impl_->FindNvme(it->second.drive);
  if (!drive) return std::nullopt;
  return drive->setup().nsid;
}

}  // namespace plovix::sim
