#include "devices/linux/NvmeTranslate.h"

#include <cerrno>
#include <cstring>

namespace plovix::linuxdev {

namespace {

constexpr std::uint32_t kDefaultTimeoutMs = 10000;
constexpr std::uint32_t kMaxTimeoutSeconds = 0xFFFFFFFFu / 1000u;
constexpr std::uint8_t kSctPath = 0x3;
constexpr long long kStatusFieldMask = 0x7FFF;

}  // namespace

unsigned long NvmeIoctlFor(NvmeQueue queue) {
  return queue == NvmeQueue::Admin ? NVME_IOCTL_ADMIN_CMD : NVME_IOCTL_IO_CMD;
}

nvme_passthru_cmd BuildNvmePassthru(const NvmeRequest& request) {
  nvme_passthru_cmd cmd;
  std::memset(&cmd, 0, sizeof cmd);
  cmd.opcode = request.opcode;
  cmd.nsid = request.nsid;
  cmd.cdw2 = request.cdw2;
  cmd.cdw3 = request.cdw3;
  cmd.cdw10 = request.cdw10;
  cmd.cdw11 = request.cdw11;
  cmd.cdw12 = request.cdw12;
  cmd.cdw13 = request.cdw13;
  cmd.cdw14 = request.cdw14;
  cmd.cdw15 = request.cdw15;
  if (request.direction != NvmeData::None && request.data != nullptr) {
    cmd.addr = static_cast<__u64>(reinterpret_cast<std::uintptr_t>(request.data));
    cmd.data_len = request.data_length;
  }
  // 0 would leave the kernel's own defaults (60 s admin, 30 s I/O); the program's
  // commands have their 10 seconds here as on every other road.
  if (request.timeout_seconds == 0) {
    cmd.timeout_ms = kDefaultTimeoutMs;
  } else if (request.timeout_seconds > kMaxTimeoutSeconds) {
    cmd.timeout_ms = kMaxTimeoutSeconds * 1000u;
  } else {
    cmd.timeout_ms = request.timeout_seconds * 1000u;
  }
  return cmd;
}

NvmeReply NvmeReplyOf(long long result, const nvme_passthru_cmd& cmd) {
  NvmeReply reply;
  if (result >= 0) {
    const auto status = static_cast<std::uint16_t>(result & kStatusFieldMask);
    if (NvmeStatusCodeType(status) == kSctPath) {
      reply.outcome = NvmeOutcome::CallFailed;
      return reply;
    }
    reply.outcome = NvmeOutcome::Completed;
    reply.status = status;
    reply.dw0 = cmd.result;
    return reply;
  }
  switch (-result) {
    case EACCES:
    case EPERM:
    case EINVAL:
    case EOPNOTSUPP:
      reply.outcome = NvmeOutcome::Refused;
      break;
    case ENOTTY:
      reply.outcome = NvmeOutcome::NoNvme;
      break;
    default:
      reply.outcome = NvmeOutcome::CallFailed;
      break;
  }
  return reply;
}

std::optional<std::uint32_t> NamespaceIdOf(long long result) {
  if (result <= 0 || result >= 0xFFFFFFFFLL) return std::nullopt;
  return static_cast<std::uint32_t>(result);
}

}  // namespace plovix::linuxdev
