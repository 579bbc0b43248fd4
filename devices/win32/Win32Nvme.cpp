#include "devices/win32/Win32Nvme.h"

#include <winioctl.h>
#include <ntddscsi.h>
#include <nvme.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "drive/DriveConnection.h"
#include "drive/NvmeCommands.h"
#include "drive/NvmeDecode.h"

namespace plovix::win32 {

namespace {

// --- IOCTL_STORAGE_QUERY_PROPERTY with NVMe protocol-specific data -----------------------
// In: STORAGE_PROPERTY_QUERY whose AdditionalParameters is a STORAGE_PROTOCOL_SPECIFIC_DATA.
// Out, in the same buffer: STORAGE_PROTOCOL_DATA_DESCRIPTOR (Version, Size, then the
// STORAGE_PROTOCOL_SPECIFIC_DATA again), the data ProtocolDataOffset bytes after the
// start of that second structure.
constexpr std::size_t kQueryHeader = offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters);
constexpr std::size_t kSpecific = sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA);
constexpr std::size_t kDescriptor = sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR);
static_assert(kQueryHeader == 8 && kSpecific == 40 && kDescriptor == 48);
static_assert(offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData) == kQueryHeader);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataRequestSubValue4) == 36);
static_assert(StorageAdapterProtocolSpecificProperty == 49 && StorageDeviceProtocolSpecificProperty == 50);
static_assert(ProtocolTypeNvme == 3 && NVMeDataTypeIdentify == 1 && NVMeDataTypeLogPage == 2);
static_assert(IOCTL_STORAGE_QUERY_PROPERTY == 0x2D1400 && IOCTL_STORAGE_PROTOCOL_COMMAND == 0x2DD3C0);
static_assert(BusTypeNvme == 17);

// --- IOCTL_STORAGE_PROTOCOL_COMMAND ------------------------------------------------------
// STORAGE_PROTOCOL_COMMAND as Windows documents it (the mingw-w64 headers lack it),
// followed by the one 64-byte NVMe submission entry it carries and room for the error
// information entry the driver fills when the command fails.
struct ProtocolCommand {
  DWORD Version;
  DWORD Length;
  DWORD ProtocolType;
  DWORD Flags;
  DWORD ReturnStatus;
  DWORD ErrorCode;
  DWORD CommandLength;
  DWORD ErrorInfoLength;
  DWORD DataToDeviceTransferLength;
  DWORD DataFromDeviceTransferLength;
  DWORD TimeOutValue;
  DWORD ErrorInfoOffset;
  DWORD DataToDeviceBufferOffset;
  DWORD DataFromDeviceBufferOffset;
  DWORD CommandSpecific;
  DWORD Reserved0;
  DWORD FixedProtocolReturnData;
  DWORD Reserved1[3];
  BYTE Command[64];
  BYTE ErrorInfo[64];  // an NVME_ERROR_INFO_LOG
};
static_assert(offsetof(ProtocolCommand, ReturnStatus) == 16 && offsetof(ProtocolCommand, ErrorCode) == 20);
static_assert(offsetof(ProtocolCommand, TimeOutValue) == 40 && offsetof(ProtocolCommand, CommandSpecific) == 56);
static_assert(offsetof(ProtocolCommand, FixedProtocolReturnData) == 64 && offsetof(ProtocolCommand, Command) == 80);
static_assert(offsetof(ProtocolCommand, ErrorInfo) == 144 && offsetof(ProtocolCommand, ErrorInfo) % 8 == 0);
static_assert(sizeof(ProtocolCommand) == 208);
// The status field of an error information entry, phase tag in bit 0.
constexpr std::size_t kErrorInfoStatus = 12;
static_assert(sizeof(NVME_ERROR_INFO_LOG) == 64 && offsetof(NVME_ERROR_INFO_LOG, Status) == kErrorInfoStatus);

constexpr DWORD kProtocolStructureVersion = 1;     // STORAGE_PROTOCOL_STRUCTURE_VERSION
constexpr DWORD kProtocolCommandLength = 84;       // sizeof(STORAGE_PROTOCOL_COMMAND): Command[1], padded
constexpr DWORD kNvmeCommandLength = 64;           // STORAGE_PROTOCOL_COMMAND_LENGTH_NVME
constexpr DWORD kFlagAdapterRequest = 0x80000000;  // STORAGE_PROTOCOL_COMMAND_FLAG_ADAPTER_REQUEST
constexpr DWORD kSpecificNvmeAdmin = 0x01;         // STORAGE_PROTOCOL_SPECIFIC_NVME_ADMIN_COMMAND
constexpr DWORD kStatusSuccess = 0x01;             // STORAGE_PROTOCOL_STATUS_*
constexpr DWORD kStatusError = 0x02;
constexpr DWORD kStatusInvalidRequest = 0x03;
constexpr DWORD kStatusNotSupported = 0xFF;

// Submission-entry dword positions.
constexpr std::size_t kSqeNsid = 4;
constexpr std::size_t kSqeCdw2 = 8;
constexpr std::size_t kSqeCdw10 = 40;

void PutDword(BYTE* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<BYTE>(value >> (8 * i));
}

std::uint32_t GetDword(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

NvmeReply Outcome(NvmeOutcome outcome) {
  NvmeReply reply;
  reply.outcome = outcome;
  return reply;
}

NvmeReply Completed(std::uint16_t status, std::uint32_t dw0) {
  NvmeReply reply;
  reply.outcome = NvmeOutcome::Completed;
  reply.status = status;
  reply.dw0 = dw0;
  return reply;
}

// One protocol-specific query: bytes of data into `data` (when the query worked and
// the answer is whole). FixedProtocolReturnData, dword 0 of the completion, as dw0.
NvmeReply QueryProtocolData(SystemCalls& calls, HANDLE handle, STORAGE_PROPERTY_ID property,
                            const STORAGE_PROTOCOL_SPECIFIC_DATA& specific, std::uint8_t* data, DWORD bytes) {
  std::vector<std::uint8_t> buffer(kQueryHeader + kSpecific + bytes, 0);
  const DWORD property_id = property;
  const DWORD query_type = PropertyStandardQuery;
  std::memcpy(buffer.data(), &property_id, 4);
  std::memcpy(buffer.data() + 4, &query_type, 4);
  STORAGE_PROTOCOL_SPECIFIC_DATA in = specific;
  in.ProtocolDataOffset = kSpecific;
  in.ProtocolDataLength = bytes;
  std::memcpy(buffer.data() + kQueryHeader, &in, kSpecific);

  DWORD returned = 0;
  const auto size = static_cast<DWORD>(buffer.size());
  if (!calls.Control(handle, IOCTL_STORAGE_QUERY_PROPERTY, buffer.data(), size, buffer.data(), size, &returned)) {
    return Outcome(OutcomeOfError(calls.LastError()));
  }
  // The answer is believed only when it is a whole descriptor whose data lies inside
  // the buffer and is as long as asked: a short answer would leave stale bytes behind.
  STORAGE_PROTOCOL_DATA_DESCRIPTOR out{};
  if (returned < kDescriptor) return Outcome(NvmeOutcome::CallFailed);
  std::memcpy(&out, buffer.data(), kDescriptor);
  const STORAGE_PROTOCOL_SPECIFIC_DATA& answer = out.ProtocolSpecificData;
  if (out.Version != kDescriptor || out.Size != kDescriptor || answer.ProtocolDataOffset < kSpecific ||
      answer.ProtocolDataLength < bytes ||
      answer.ProtocolDataOffset > buffer.size() - kQueryHeader - bytes) {
    return Outcome(NvmeOutcome::CallFailed);
  }
  std::memcpy(data, buffer.data() + kQueryHeader + answer.ProtocolDataOffset, bytes);
  return Completed(0, answer.FixedProtocolReturnData);
}

// Identify: the controller through the adapter, a namespace through the disk, as the
// documentation pairs them. No other CNS is carried.
NvmeReply Identify(SystemCalls& calls, HANDLE handle, const NvmeRequest& request) {
  const std::uint32_t cns = request.cdw10 & 0xFF;
  // CNTID and the CNS-specific identifier have no place in the query.
  if ((request.cdw10 & 0xFFFF0000) != 0 || request.cdw11 != 0) return Outcome(NvmeOutcome::Refused);
  if (request.data_length != kNvmeIdentifyBytes) return Outcome(NvmeOutcome::NotSent);
  STORAGE_PROTOCOL_SPECIFIC_DATA specific{};
  specific.ProtocolType = ProtocolTypeNvme;
  specific.DataType = NVMeDataTypeIdentify;
  specific.ProtocolDataRequestValue = cns;
  if (cns == kNvmeCnsController) {
    return QueryProtocolData(calls, handle, StorageAdapterProtocolSpecificProperty, specific, request.data,
                             request.data_length);
  }
  if (cns == kNvmeCnsNamespace) {
    specific.ProtocolDataRequestSubValue = request.nsid;
    return QueryProtocolData(calls, handle, StorageDeviceProtocolSpecificProperty, specific, request.data,
                             request.data_length);
  }
  return Outcome(NvmeOutcome::Refused);
}

// Get Log Page. The query names the log, the offset into it, the log-specific
// identifier and the RAE and LSP bits; the namespace is the disk's own.
NvmeReply LogPage(SystemCalls& calls, HANDLE handle, const NvmeRequest& request) {
  const std::uint32_t dwords = ((request.cdw11 & 0xFFFF) << 16 | request.cdw10 >> 16) + 1;
  if (request.data_length != std::uint64_t{dwords} * 4) return Outcome(NvmeOutcome::NotSent);
  const std::uint32_t lsp = (request.cdw10 >> 8) & 0x7F;
  const bool retain_event = (request.cdw10 & 0x8000) != 0;
  // The query has four bits for LSP.
  if (lsp > 0xF) return Outcome(NvmeOutcome::Refused);
  const std::uint64_t offset = request.cdw12 | std::uint64_t{request.cdw13} << 32;
  // Earlier drivers read from the start whatever offset is asked: a later part of a log
  // would come back as its first, which is worse than not reading it.
  if (offset != 0 && calls.WindowsBuild() < kFirstBuildWithNvmeCommands) return Outcome(NvmeOutcome::Refused);
  STORAGE_PROTOCOL_SPECIFIC_DATA specific{};
  specific.ProtocolType = ProtocolTypeNvme;
  specific.DataType = NVMeDataTypeLogPage;
  specific.ProtocolDataRequestValue = request.cdw10 & 0xFF;
  specific.ProtocolDataRequestSubValue = request.cdw12;
  specific.ProtocolDataRequestSubValue2 = request.cdw13;
  specific.ProtocolDataRequestSubValue3 = request.cdw11 >> 16;
  specific.ProtocolDataRequestSubValue4 = (retain_event ? 1u : 0u) | lsp << 1;
  return QueryProtocolData(calls, handle, StorageDeviceProtocolSpecificProperty, specific, request.data,
                           request.data_length);
}

// An admin command without data through IOCTL_STORAGE_PROTOCOL_COMMAND, to the
// controller. When it fails, the completion's status field (phase tag in bit 0) comes
// back in the error information entry, as Windows' own example reads it; a driver that
// leaves that empty is read in ErrorCode, in the same form.
NvmeReply ProtocolAdminCommand(SystemCalls& calls, HANDLE handle, const NvmeRequest& request) {
  if (request.direction != NvmeData::None) return Outcome(NvmeOutcome::Refused);
  ProtocolCommand command{};
  command.Version = kProtocolStructureVersion;
  command.Length = kProtocolCommandLength;
  command.ProtocolType = ProtocolTypeNvme;
  command.Flags = kFlagAdapterRequest;
  command.CommandLength = kNvmeCommandLength;
  command.ErrorInfoLength = sizeof command.ErrorInfo;
  command.ErrorInfoOffset = offsetof(ProtocolCommand, ErrorInfo);
  command.TimeOutValue = std::max<std::uint32_t>(request.timeout_seconds, 1);
  command.CommandSpecific = kSpecificNvmeAdmin;
  command.Command[0] = request.opcode;
  PutDword(command.Command + kSqeNsid, request.nsid);
  PutDword(command.Command + kSqeCdw2, request.cdw2);
  PutDword(command.Command + kSqeCdw2 + 4, request.cdw3);
  const std::uint32_t cdw[6] = {request.cdw10, request.cdw11, request.cdw12,
                                request.cdw13, request.cdw14, request.cdw15};
  for (std::size_t i = 0; i < 6; ++i) PutDword(command.Command + kSqeCdw10 + 4 * i, cdw[i]);

  DWORD returned = 0;
  if (!calls.Control(handle, IOCTL_STORAGE_PROTOCOL_COMMAND, &command, sizeof command, &command, sizeof command,
                     &returned)) {
    return Outcome(OutcomeOfError(calls.LastError()));
  }
  switch (command.ReturnStatus) {
    case kStatusSuccess:
      return Completed(0, command.FixedProtocolReturnData);
    case kStatusError: {
      std::uint32_t field = command.ErrorInfo[kErrorInfoStatus] | command.ErrorInfo[kErrorInfoStatus + 1] << 8;
      if ((field >> 1 & 0x07FF) == 0) field = command.ErrorCode & 0xFFFF;
      const auto status = static_cast<std::uint16_t>((field >> 1) & 0x7FFF);
      // An error without a controller status is no completion the program can read,
      // and must never pass for a successful one.
      if ((status & 0x07FF) == 0) return Outcome(NvmeOutcome::CallFailed);
      return Completed(status, command.FixedProtocolReturnData);
    }
    case kStatusNotSupported:
    case kStatusInvalidRequest:
      return Outcome(NvmeOutcome::Refused);
    default:  // pending, no device, busy, overrun, resources, throttled, anything new
      return Outcome(NvmeOutcome::CallFailed);
  }
}

// Page-aligned memory for transfers: disk drivers may ask for any alignment up to a
// page, and the program's buffers promise none.
struct AlignedFree {
  void operator()(std::uint8_t* p) const { ::operator delete[](p, std::align_val_t{4096}); }
};
using AlignedBuffer = std::unique_ptr<std::uint8_t[], AlignedFree>;

AlignedBuffer AllocateAligned(std::size_t bytes) {
  return AlignedBuffer(static_cast<std::uint8_t*>(::operator new[](bytes, std::align_val_t{4096}, std::nothrow)));
}

// Read or Write of whole blocks, as file I/O on the disk at the block's byte offset.
// The disk's block size must be the one the request was built for: otherwise the
// offset would land on other data.
NvmeReply BlockTransfer(SystemCalls& calls, HANDLE handle, const NvmeRequest& request, bool write) {
  // Limited retry, FUA, protection information: plain file I/O has none of them.
  if ((request.cdw12 & 0xFFFF0000) != 0) return Outcome(NvmeOutcome::Refused);
  const std::uint64_t first = request.cdw10 | std::uint64_t{request.cdw11} << 32;
  const std::uint64_t blocks = (request.cdw12 & 0xFFFF) + 1;

  DISK_GEOMETRY_EX geometry{};
  DWORD returned = 0;
  if (!calls.Control(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &geometry, sizeof geometry, &returned)) {
    return Outcome(OutcomeOfError(calls.LastError()));
  }
  if (returned < offsetof(DISK_GEOMETRY_EX, Data)) return Outcome(NvmeOutcome::CallFailed);
  const std::uint64_t block_bytes = geometry.Geometry.BytesPerSector;
  const auto disk_bytes = static_cast<std::uint64_t>(geometry.DiskSize.QuadPart);
  if (block_bytes == 0 || blocks * block_bytes != request.data_length) return Outcome(NvmeOutcome::NotSent);
  if (first > disk_bytes / block_bytes || blocks > disk_bytes / block_bytes - first) {
    return Outcome(NvmeOutcome::NotSent);
  }
  const std::uint64_t offset = first * block_bytes;

  AlignedBuffer bounce = AllocateAligned(request.data_length);
  if (!bounce) return Outcome(NvmeOutcome::NotSent);
  DWORD done = 0;
  BOOL ok = FALSE;
  if (write) {
    std::memcpy(bounce.get(), request.data, request.data_length);
    ok = calls.WriteAt(handle, bounce.get(), request.data_length, offset, &done);
  } else {
    ok = calls.ReadAt(handle, bounce.get(), request.data_length, offset, &done);
  }
  if (!ok) return Outcome(OutcomeOfError(calls.LastError()));
  // A disk answers a transfer past its end with success and fewer bytes.
  if (done != request.data_length) return Outcome(NvmeOutcome::CallFailed);
  if (!write) std::memcpy(request.data, bounce.get(), request.data_length);
  return Completed(0, 0);
}

NvmeReply FlushDisk(SystemCalls& calls, HANDLE handle) {
  if (!calls.Flush(handle)) return Outcome(OutcomeOfError(calls.LastError()));
  return Completed(0, 0);
}

}  // namespace

std::optional<STORAGE_BUS_TYPE> StorageBusType(SystemCalls& calls, HANDLE handle) {
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  // The descriptor's fixed part; its strings are not wanted.
  std::uint8_t out[sizeof(STORAGE_DEVICE_DESCRIPTOR) + 512] = {};
  DWORD returned = 0;
  if (!calls.Control(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, out, sizeof out, &returned)) {
    return std::nullopt;
  }
  if (returned < offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + 4) return std::nullopt;
  return static_cast<STORAGE_BUS_TYPE>(GetDword(out + offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType)));
}

namespace {

std::optional<NvmeNamespace> IdentifyNamespaceOf(SystemCalls& calls, HANDLE handle, std::uint32_t nsid) {
  std::vector<std::uint8_t> data(kNvmeIdentifyBytes, 0);
  NvmeRequest request = EncodeIdentifyNamespace(nsid, data.data());
  if (!NvmeSucceeded(Identify(calls, handle, request))) return std::nullopt;
  NvmeNamespace ns;
  if (DecodeIdentifyNamespace(data.data(), nsid, ns) != NvmeNamespaceDecode::Ok) return std::nullopt;
  return ns;
}

bool SizeMatches(const NvmeNamespace& ns, std::uint64_t disk_bytes) {
  const std::uint64_t sectors = ns.sectors();
  return sectors <= UINT64_MAX / 512 && sectors * 512 == disk_bytes;
}

// The largest NSID tried by size alone.
constexpr std::uint32_t kMaxNamespacesTried = 32;

}  // namespace

NvmeOutcome OutcomeOfError(DWORD error) {
  switch (error) {
    case ERROR_INVALID_FUNCTION:   // the driver has no such request (no StorNVMe, old Windows)
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_PARAMETER:  // a property or data type this Windows does not know
    case ERROR_ACCESS_DENIED:      // writes into a mounted volume, or a blocked command
    case ERROR_WRITE_PROTECT:      // a disk Windows holds read-only
      return NvmeOutcome::Refused;
    default:  // ERROR_IO_DEVICE, ERROR_CRC, ERROR_SEM_TIMEOUT, ERROR_DEVICE_NOT_CONNECTED, ...
      return NvmeOutcome::CallFailed;
  }
}

NvmeReply SendNvme(SystemCalls& calls, HANDLE handle, const NvmeRequest& request) {
  if (handle == INVALID_HANDLE_VALUE || !NvmeRequestIsWellFormed(request)) return Outcome(NvmeOutcome::NotSent);
  if (request.queue == NvmeQueue::Admin) {
    switch (request.opcode) {
      case kNvmeAdminIdentify:
        return Identify(calls, handle, request);
      case kNvmeAdminGetLogPage:
        return LogPage(calls, handle, request);
      case kNvmeAdminDeviceSelfTest:
        return ProtocolAdminCommand(calls, handle, request);
      default:
        return Outcome(NvmeOutcome::Refused);
    }
  }
  switch (request.opcode) {
    case kNvmeIoRead:
      return BlockTransfer(calls, handle, request, false);
    case kNvmeIoWrite:
      return BlockTransfer(calls, handle, request, true);
    case kNvmeIoFlush:
      return FlushDisk(calls, handle);
    default:  // Verify and Write Zeroes among them: StorNVMe passes neither
      return Outcome(NvmeOutcome::Refused);
  }
}

std::optional<std::uint32_t> FindNvmeNamespace(SystemCalls& calls, HANDLE handle) {
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  const auto bus = StorageBusType(calls, handle);
  if (!bus || *bus != BusTypeNvme) return std::nullopt;

  std::vector<std::uint8_t> controller(kNvmeIdentifyBytes, 0);
  if (!NvmeSucceeded(Identify(calls, handle, EncodeIdentifyController(controller.data())))) return std::nullopt;
  NvmeControllerIdentity identity;
  DecodeIdentifyController(controller.data(), identity);
  if (identity.namespace_count == 0) return std::nullopt;
  if (identity.namespace_count == 1) return 1;

  GET_LENGTH_INFORMATION length{};
  DWORD returned = 0;
  if (!calls.Control(handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned) ||
      returned < sizeof length) {
    return std::nullopt;
  }
  const auto disk_bytes = static_cast<std::uint64_t>(length.Length.QuadPart);
  const std::uint32_t count = identity.namespace_count;

  SCSI_ADDRESS address{};
  returned = 0;
  if (calls.Control(handle, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &address, sizeof address, &returned) &&
      returned >= sizeof address) {
    for (const std::uint32_t nsid : {address.Lun + 1u, address.TargetId + 1u}) {
      if (nsid > count) continue;
      const auto ns = IdentifyNamespaceOf(calls, handle, nsid);
      if (ns && SizeMatches(*ns, disk_bytes)) return nsid;
    }
  }
  // No address that fits: the one namespace of the disk's size, if only one has it.
  std::optional<std::uint32_t> found;
  for (std::uint32_t nsid = 1; nsid <= std::min(count, kMaxNamespacesTried); ++nsid) {
    const auto ns = IdentifyNamespaceOf(calls, handle, nsid);
    if (!ns || !SizeMatches(*ns, disk_bytes)) continue;
    if (found) return std::nullopt;
    found = nsid;
  }
  return found;
}

}  // namespace plovix::win32
