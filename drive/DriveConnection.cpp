#include "drive/DriveConnection.h"

#include <cstdio>
#include <cstring>

#include "drive/RequestBuild.h"

namespace plovix {

namespace {

constexpr std::uint8_t kCmdIdentifyDevice = 0xEC;
constexpr std::uint8_t kIdentifyDevice = 0x50;
constexpr std::uint32_t kInquiryLength = 40;

AtaTaskFile IdentifyTaskFile(std::uint8_t device) {
  AtaTaskFile tf;
  tf.device = device;
  tf.command = kCmdIdentifyDevice;
  return tf;
}

AtaPassThroughRequest IdentifyRequest(IoBuffers& buffers) {
  return MakeAtaRequest(IdentifyTaskFile(kIdentifyDevice), AtaData::In, buffers.a());
}

bool AtaCallSucceeded(bool call_worked, const AtaPassThroughRequest& reply) {
  return call_worked && (reply.CurrentTaskFile[kTfCommand] & kAtaStatusErr) == 0;
}

}  // namespace

std::string PhysicalDrivePath(int drive_number) {
  char path[25];
  std::snprintf(path, sizeof path, "\\\\.\\PhysicalDrive%d", drive_number);
  return path;
}

std::string VolumePath(char letter) {
  char path[8];
  std::snprintf(path, sizeof path, "\\\\.\\%c:", letter);
  return path;
}

bool DriveConnection::Open(int drive_number) {
  Close();  // one handle at a time, even if a caller forgot to close the last one
  handle_ = io_.Open(PhysicalDrivePath(drive_number));
  return IsOpen();
}

void DriveConnection::Close() {
  if (!IsOpen()) return;
  io_.Close(handle_);
  handle_ = kInvalidHandle;
}

bool DriveConnection::SendAta(const AtaPassThroughRequest& request, AtaPassThroughRequest& reply) {
  reply = ClearedAtaRequest();
  if (!IsOpen()) return false;
  return AtaCallSucceeded(io_.AtaPassThrough(handle_, request, reply), reply);
}

bool DriveConnection::SendScsi(ScsiPassThroughRequest& request) {
  if (!IsOpen()) return false;
  const bool call_worked = io_.ScsiPassThrough(handle_, request);
  return call_worked && request.ScsiStatus == 0;
}

bool NvmeRequestIsWellFormed(const NvmeRequest& request) {
  NvmeData by_opcode = NvmeData::None;
  switch (request.opcode & 0x03) {
    case 0x00:
      by_opcode = NvmeData::None;
      break;
    case 0x01:
      by_opcode = NvmeData::ToDevice;
      break;
    case 0x02:
      by_opcode = NvmeData::FromDevice;
      break;
    default:
      return false;  // bidirectional transfers: no port carries them
  }
  if (request.direction != by_opcode) return false;
  if (request.direction == NvmeData::None) {
    return request.data == nullptr && request.data_length == 0;
  }
  return request.data != nullptr && request.data_length != 0;
}

bool DriveConnection::SendNvme(const NvmeRequest& request, NvmeReply& reply) {
  reply = NvmeReply{};
  if (!IsOpen() || !NvmeRequestIsWellFormed(request)) return false;
  reply = io_.NvmePassThrough(handle_, request);
  return NvmeSucceeded(reply);
}

std::optional<std::uint32_t> DriveConnection::NvmeNamespaceId() {
  if (!IsOpen()) return std::nullopt;
  return io_.NvmeNamespaceId(handle_);
}

bool IdentifyDevice(DriveConnection& connection) {
  AtaPassThroughRequest request = IdentifyRequest(connection.buffers());
  AtaPassThroughRequest reply;
  return connection.SendAta(request, reply);
}

bool IdentifyDeviceScsi(DriveConnection& connection, std::uint8_t behind_bridge) {
  std::uint8_t* a = connection.buffers().a();
  ScsiPassThroughRequest request;
  if (behind_bridge != 0) {
    // The bridges' block carries 02h in the feature register, as they were first sent.
    AtaTaskFile tf = IdentifyTaskFile(0xE0);
    tf.feature = 0x02;
    request = MakeScsiRequest(BridgeBlock(tf, true, kSectorBytes), AtaData::In, a);
  } else {
    request = MakeScsiRequest(PassThrough12(IdentifyTaskFile(0x00), AtaData::In), AtaData::In, a);
  }
  return connection.SendScsi(request);
}

bool Inquiry(DriveConnection& connection) {
  std::memset(connection.inquiry_data, 0, sizeof connection.inquiry_data);
  ScsiPassThroughRequest request = MakeScsiRequest(
      kScsiDataIn, connection.inquiry_data, kInquiryLength, {0x12, 0x10, 0x00, 0x00, 0x28, 0x00});
  return connection.SendScsi(request);
}

bool IdentifyDeviceOnHandle(DeviceIo& io, DeviceHandle handle, IoBuffers& buffers) {
  AtaPassThroughRequest reply = ClearedAtaRequest();
  if (handle == kInvalidHandle) return false;
  AtaPassThroughRequest request = IdentifyRequest(buffers);
  return AtaCallSucceeded(io.AtaPassThrough(handle, request, reply), reply);
}

}  // namespace plovix
