#include "drive/NvmeCommands.h"

#include <algorithm>
#include <cstring>

#include "drive/RequestBuild.h"

namespace plovix {

namespace {

NvmeRequest Admin(std::uint8_t opcode, std::uint32_t nsid) {
  NvmeRequest r;
  r.queue = NvmeQueue::Admin;
  r.opcode = opcode;
  r.nsid = nsid;
  r.timeout_seconds = kCommandTimeoutSeconds;
  return r;
}

void WithData(NvmeRequest& r, NvmeData direction, std::uint8_t* buffer, std::uint32_t bytes) {
  r.direction = direction;
  r.data = buffer;
  r.data_length = bytes;
}

std::optional<NvmeRequest> Block(std::uint8_t opcode, std::uint32_t nsid, std::uint64_t slba,
                                 std::uint32_t count) {
  if (count == 0 || count > kNvmeMaxBlocksPerCommand) return std::nullopt;
  NvmeRequest r;
  r.queue = NvmeQueue::Io;
  r.opcode = opcode;
  r.nsid = nsid;
  r.cdw10 = static_cast<std::uint32_t>(slba);
  r.cdw11 = static_cast<std::uint32_t>(slba >> 32);
  r.cdw12 = count - 1;  // NLB is zero-based
  r.timeout_seconds = kCommandTimeoutSeconds;
  return r;
}

std::optional<NvmeRequest> DataBlock(std::uint8_t opcode, NvmeData direction, std::uint32_t nsid,
                                     std::uint64_t slba, std::uint32_t count,
                                     std::uint32_t block_bytes, std::uint8_t* buffer) {
  auto r = Block(opcode, nsid, slba, count);
  const std::uint64_t bytes = static_cast<std::uint64_t>(count) * block_bytes;
  if (!r || buffer == nullptr || block_bytes == 0 || bytes > UINT32_MAX) return std::nullopt;
  WithData(*r, direction, buffer, static_cast<std::uint32_t>(bytes));
  return r;
}

NvmeReply NotSent() { return NvmeReply{}; }

NvmeReply Send(DriveConnection& connection, const std::optional<NvmeRequest>& request) {
  NvmeReply reply;
  if (request) connection.SendNvme(*request, reply);
  return reply;
}

// The blocks lie inside the namespace.
bool InNamespace(const NvmeNamespace& ns, std::uint64_t slba, std::uint32_t count) {
  return count != 0 && slba < ns.block_count && count <= ns.block_count - slba;
}

}  // namespace

NvmeRequest EncodeIdentifyController(std::uint8_t* buffer) {
  NvmeRequest r = Admin(kNvmeAdminIdentify, 0);
  r.cdw10 = kNvmeCnsController;  // CNTID (bits 31:16) 0
  WithData(r, NvmeData::FromDevice, buffer, kNvmeIdentifyBytes);
  return r;
}

NvmeRequest EncodeIdentifyNamespace(std::uint32_t nsid, std::uint8_t* buffer) {
  NvmeRequest r = Admin(kNvmeAdminIdentify, nsid);
  r.cdw10 = kNvmeCnsNamespace;
  WithData(r, NvmeData::FromDevice, buffer, kNvmeIdentifyBytes);
  return r;
}

std::optional<NvmeRequest> EncodeGetLogPage(std::uint8_t log_id, std::uint32_t nsid,
                                            std::uint8_t* buffer, std::uint32_t bytes) {
  if (buffer == nullptr || bytes == 0 || bytes % 4 != 0 || bytes > kNvmeMaxLogBytes) {
    return std::nullopt;
  }
  NvmeRequest r = Admin(kNvmeAdminGetLogPage, nsid);
  const std::uint32_t numd = bytes / 4 - 1;
  r.cdw10 = (numd & 0xFFFF) << 16 | log_id;  // NUMDL; LSP and RAE 0
  r.cdw11 = numd >> 16;                       // NUMDU, 0 within kNvmeMaxLogBytes
  WithData(r, NvmeData::FromDevice, buffer, bytes);
  return r;
}

NvmeRequest EncodeDeviceSelfTest(std::uint32_t nsid, NvmeSelfTestCode code) {
  NvmeRequest r = Admin(kNvmeAdminDeviceSelfTest, nsid);
  r.cdw10 = static_cast<std::uint32_t>(code);
  return r;
}

std::optional<NvmeRequest> EncodeVerify(std::uint32_t nsid, std::uint64_t slba,
                                        std::uint32_t count) {
  return Block(kNvmeIoVerify, nsid, slba, count);
}

std::optional<NvmeRequest> EncodeWriteZeroes(std::uint32_t nsid, std::uint64_t slba,
                                             std::uint32_t count) {
  return Block(kNvmeIoWriteZeroes, nsid, slba, count);
}

NvmeRequest EncodeFlush(std::uint32_t nsid) {
  NvmeRequest r;
  r.queue = NvmeQueue::Io;
  r.opcode = kNvmeIoFlush;
  r.nsid = nsid;
  r.timeout_seconds = kCommandTimeoutSeconds;
  return r;
}

std::optional<NvmeRequest> EncodeRead(std::uint32_t nsid, std::uint64_t slba, std::uint32_t count,
                                      std::uint32_t block_bytes, std::uint8_t* buffer) {
  return DataBlock(kNvmeIoRead, NvmeData::FromDevice, nsid, slba, count, block_bytes, buffer);
}

std::optional<NvmeRequest> EncodeWrite(std::uint32_t nsid, std::uint64_t slba, std::uint32_t count,
                                       std::uint32_t block_bytes, std::uint8_t* buffer) {
  return DataBlock(kNvmeIoWrite, NvmeData::ToDevice, nsid, slba, count, block_bytes, buffer);
}

NvmeReply NvmeIdentifyController(DriveConnection& connection) {
  return Send(connection, EncodeIdentifyController(connection.buffers().a()));
}

NvmeReply NvmeIdentifyNamespace(DriveConnection& connection, std::uint32_t nsid) {
  return Send(connection, EncodeIdentifyNamespace(nsid, connection.buffers().a()));
}

NvmeReply NvmeReadHealthLog(DriveConnection& connection) {
  return Send(connection, EncodeGetLogPage(kNvmeLogHealth, kNvmeAllNamespaces,
                                           connection.buffers().a(), kNvmeHealthLogBytes));
}

NvmeReply NvmeReadSelfTestLog(DriveConnection& connection) {
  return Send(connection, EncodeGetLogPage(kNvmeLogSelfTest, kNvmeAllNamespaces,
                                           connection.buffers().a(), kNvmeSelfTestLogBytes));
}

NvmeReply NvmeStartSelfTest(DriveConnection& connection, NvmeSelfTestCode kind) {
  // Abort has its own wrapper, so that no caller stops a test by passing a kind.
  if (kind != NvmeSelfTestCode::Short && kind != NvmeSelfTestCode::Extended) return NotSent();
  return Send(connection, EncodeDeviceSelfTest(kNvmeAllNamespaces, kind));
}

NvmeReply NvmeAbortSelfTest(DriveConnection& connection) {
  return Send(connection, EncodeDeviceSelfTest(kNvmeAllNamespaces, NvmeSelfTestCode::Abort));
}

NvmeReply NvmeVerify(DriveConnection& connection, const NvmeNamespace& ns, std::uint64_t slba,
                     std::uint32_t count) {
  if (!InNamespace(ns, slba, count)) return NotSent();
  return Send(connection, EncodeVerify(ns.nsid, slba, count));
}

NvmeReply NvmeWriteZeroes(DriveConnection& connection, const NvmeNamespace& ns,
                          std::uint64_t slba, std::uint32_t count) {
  if (!InNamespace(ns, slba, count)) return NotSent();
  return Send(connection, EncodeWriteZeroes(ns.nsid, slba, count));
}

NvmeReply NvmeFlush(DriveConnection& connection, const NvmeNamespace& ns) {
  return Send(connection, EncodeFlush(ns.nsid));
}

std::uint32_t NvmeMaxDataBlocks(const NvmeNamespace& ns, std::uint8_t mdts) {
  if (ns.block_bytes == 0) return 0;
  std::uint64_t bytes = IoBuffers::kZeroedBeforeWriteBuffer;  // the smaller of the two
  if (mdts != 0 && mdts < 20) bytes = std::min<std::uint64_t>(bytes, std::uint64_t{4096} << mdts);
  const std::uint64_t blocks = bytes / ns.block_bytes;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(blocks, kNvmeMaxBlocksPerCommand));
}

NvmeReply NvmeRead(DriveConnection& connection, const NvmeNamespace& ns, std::uint64_t slba,
                   std::uint32_t count) {
  if (!InNamespace(ns, slba, count) || ns.metadata_bytes != 0) return NotSent();
  if (static_cast<std::uint64_t>(count) * ns.block_bytes > IoBuffers::kSize) return NotSent();
  return Send(connection, EncodeRead(ns.nsid, slba, count, ns.block_bytes, connection.buffers().a()));
}

NvmeReply NvmeWriteZeroBuffer(DriveConnection& connection, const NvmeNamespace& ns,
                              std::uint64_t slba, std::uint32_t count) {
  if (!InNamespace(ns, slba, count) || ns.metadata_bytes != 0) return NotSent();
  if (static_cast<std::uint64_t>(count) * ns.block_bytes > IoBuffers::kZeroedBeforeWriteBuffer) {
    return NotSent();
  }
  std::uint8_t* b = connection.buffers().b();
  std::memset(b, 0, IoBuffers::kZeroedBeforeWriteBuffer);
  return Send(connection, EncodeWrite(ns.nsid, slba, count, ns.block_bytes, b));
}

}  // namespace plovix
