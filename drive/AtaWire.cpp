#include "drive/AtaWire.h"

#include <algorithm>

namespace plovix {

namespace {

std::uint8_t ByteOf(std::uint64_t value, int index) {
  return static_cast<std::uint8_t>(value >> (8 * index));
}

std::uint8_t Protocol(AtaData data) {
  switch (data) {
    case AtaData::In:
      return kProtocolPioIn;
    case AtaData::Out:
      return kProtocolPioOut;
    case AtaData::None:
      break;
  }
  return kProtocolNonData;
}

AtaTaskFile FromDescriptor(const std::uint8_t* d) {
  AtaTaskFile r;
  r.extend = (d[2] & 0x01) != 0;
  r.hob_count = d[4];
  r.count = d[5];
  r.hob_lba_low = d[6];
  r.lba_low = d[7];
  r.hob_lba_mid = d[8];
  r.lba_mid = d[9];
  r.hob_lba_high = d[10];
  r.lba_high = d[11];
  r.device = d[12];
  return r;
}

std::optional<AtaReply> FromDescriptors(const std::uint8_t* sense, std::size_t length) {
  if (length < 8) return std::nullopt;
  const std::size_t end = std::min<std::size_t>(length, 8 + static_cast<std::size_t>(sense[7]));
  for (std::size_t at = 8; at + 2 <= end;) {
    const std::size_t size = 2 + static_cast<std::size_t>(sense[at + 1]);
    if (sense[at] == 0x09 && size >= 14 && at + 14 <= end) {
      const std::uint8_t* d = sense + at;
      return ReplyFromStatus(d[13], d[3], FromDescriptor(d));
    }
    at += size;
  }
  return std::nullopt;
}

// ASC/ASCQ 00/1D: "ATA pass through information available".
bool CarriesAtaInformation(const std::uint8_t* sense, std::size_t length) {
  return length >= 14 && sense[12] == 0x00 && sense[13] == 0x1D;
}

std::optional<AtaReply> FromFixed(const std::uint8_t* sense, std::size_t length) {
  if (length < 12) return std::nullopt;
  // The 00/1D code says the registers are there. A translator that failed the command
  // reports it as RECOVERED, MEDIUM or HARDWARE ERROR or ABORTED COMMAND with the
  // registers filled in; other keys (ILLEGAL REQUEST above all) are plain SCSI answers.
  const std::uint8_t key = sense[2] & 0x0F;
  const bool ata_key = key == 0x01 || key == 0x03 || key == 0x04 || key == 0x0B;
  if (!CarriesAtaInformation(sense, length) && !ata_key) return std::nullopt;
  AtaTaskFile r;
  std::uint8_t error = 0;
  std::uint8_t status = 0;
  // A live status register is never all zeros (DRDY or BSY is up), which tells the
  // standard layout from the older kernel one, whose bytes 3..6 stay clear.
  if (sense[4] != 0) {
    error = sense[3];
    status = sense[4];
    r.device = sense[5];
    r.count = sense[6];
    r.extend = (sense[8] & 0x80) != 0;
    r.lba_low = sense[9];
    r.lba_mid = sense[10];
    r.lba_high = sense[11];
  } else {
    error = sense[8];
    status = sense[9];
    r.device = sense[10];
    r.count = sense[11];
    if (length >= 20) {
      r.extend = (sense[16] & 0x80) != 0;
      r.lba_low = sense[17];
      r.lba_mid = sense[18];
      r.lba_high = sense[19];
    }
  }
  if (status == 0) return std::nullopt;
  return ReplyFromStatus(status, error, r);
}

}  // namespace

std::uint64_t AtaTaskFile::Lba48() const {
  return static_cast<std::uint64_t>(lba_low) | static_cast<std::uint64_t>(lba_mid) << 8 |
         static_cast<std::uint64_t>(lba_high) << 16 |
         static_cast<std::uint64_t>(hob_lba_low) << 24 |
         static_cast<std::uint64_t>(hob_lba_mid) << 32 |
         static_cast<std::uint64_t>(hob_lba_high) << 40;
}

std::uint32_t AtaTaskFile::Lba28() const {
  return static_cast<std::uint32_t>(lba_low) | static_cast<std::uint32_t>(lba_mid) << 8 |
         static_cast<std::uint32_t>(lba_high) << 16 |
         static_cast<std::uint32_t>(device & 0x0F) << 24;
}

AtaTaskFile AtaTaskFile::Ext(std::uint8_t command, std::uint64_t lba, std::uint16_t feature,
                             std::uint16_t count, std::uint8_t device) {
  AtaTaskFile tf;
  tf.extend = true;
  tf.feature = ByteOf(feature, 0);
  tf.hob_feature = ByteOf(feature, 1);
  tf.count = ByteOf(count, 0);
  tf.hob_count = ByteOf(count, 1);
  tf.lba_low = ByteOf(lba, 0);
  tf.lba_mid = ByteOf(lba, 1);
  tf.lba_high = ByteOf(lba, 2);
  tf.hob_lba_low = ByteOf(lba, 3);
  tf.hob_lba_mid = ByteOf(lba, 4);
  tf.hob_lba_high = ByteOf(lba, 5);
  tf.device = device;
  tf.command = command;
  return tf;
}

AtaReply ReplyFromStatus(std::uint8_t status, std::uint8_t error,
                         std::optional<AtaTaskFile> registers) {
  AtaReply reply;
  reply.status = status;
  reply.error = error;
  reply.registers = registers;
  reply.outcome = (status & kAtaStatusErr) != 0 ? AtaOutcome::DriveError : AtaOutcome::Ok;
  return reply;
}

void PutTaskFiles(const AtaTaskFile& tf, AtaPassThroughRequest& request) {
  std::uint8_t* cur = request.CurrentTaskFile;
  cur[kTfFeature] = tf.feature;
  cur[kTfSectorCount] = tf.count;
  cur[kTfLbaLow] = tf.lba_low;
  cur[kTfLbaMid] = tf.lba_mid;
  cur[kTfLbaHigh] = tf.lba_high;
  cur[kTfDevice] = tf.device;
  cur[kTfCommand] = tf.command;
  cur[kTfReserved] = 0;
  std::uint8_t* prev = request.PreviousTaskFile;
  prev[kTfFeature] = tf.hob_feature;
  prev[kTfSectorCount] = tf.hob_count;
  prev[kTfLbaLow] = tf.hob_lba_low;
  prev[kTfLbaMid] = tf.hob_lba_mid;
  prev[kTfLbaHigh] = tf.hob_lba_high;
  prev[kTfDevice] = 0;
  prev[kTfCommand] = 0;
  prev[kTfReserved] = 0;
}

AtaTaskFile TaskFilesOfRequest(const AtaPassThroughRequest& request) {
  const std::uint8_t* cur = request.CurrentTaskFile;
  AtaTaskFile r;
  r.feature = cur[kTfFeature];
  r.count = cur[kTfSectorCount];
  r.lba_low = cur[kTfLbaLow];
  r.lba_mid = cur[kTfLbaMid];
  r.lba_high = cur[kTfLbaHigh];
  r.device = cur[kTfDevice];
  r.command = cur[kTfCommand];
  if (request.AtaFlags & kAtaFlags48Bit) {
    const std::uint8_t* prev = request.PreviousTaskFile;
    r.extend = true;
    r.hob_feature = prev[kTfFeature];
    r.hob_count = prev[kTfSectorCount];
    r.hob_lba_low = prev[kTfLbaLow];
    r.hob_lba_mid = prev[kTfLbaMid];
    r.hob_lba_high = prev[kTfLbaHigh];
  }
  return r;
}

AtaReply ReplyOfTaskFiles(const AtaPassThroughRequest& reply) {
  const std::uint8_t* cur = reply.CurrentTaskFile;
  const std::uint8_t* prev = reply.PreviousTaskFile;
  AtaTaskFile r;
  r.count = cur[kTfSectorCount];
  r.lba_low = cur[kTfLbaLow];
  r.lba_mid = cur[kTfLbaMid];
  r.lba_high = cur[kTfLbaHigh];
  r.device = cur[kTfDevice];
  r.hob_count = prev[kTfSectorCount];
  r.hob_lba_low = prev[kTfLbaLow];
  r.hob_lba_mid = prev[kTfLbaMid];
  r.hob_lba_high = prev[kTfLbaHigh];
  return ReplyFromStatus(cur[kTfCommand], cur[kTfFeature], r);
}

void PutReply(const AtaReply& reply, AtaPassThroughRequest& out) {
  AtaTaskFile tf = reply.registers.value_or(AtaTaskFile{});
  tf.feature = reply.error;
  tf.command = reply.status;
  tf.hob_feature = 0;
  if (!tf.extend) tf.hob_count = tf.hob_lba_low = tf.hob_lba_mid = tf.hob_lba_high = 0;
  PutTaskFiles(tf, out);
}

AtaData DataOfRequest(const AtaPassThroughRequest& request) {
  if (request.AtaFlags & kAtaFlagsDataIn) return AtaData::In;
  if (request.AtaFlags & kAtaFlagsDataOut) return AtaData::Out;
  return AtaData::None;
}

std::array<std::uint8_t, 16> PassThrough16(const AtaTaskFile& tf, AtaData data,
                                           bool check_condition) {
  auto high = [&](std::uint8_t byte) -> std::uint8_t { return tf.extend ? byte : 0; };
  std::array<std::uint8_t, 16> cdb{};
  cdb[0] = kOpAtaPassThrough16;
  cdb[1] = static_cast<std::uint8_t>(Protocol(data) << 1 | (tf.extend ? 1 : 0));
  switch (data) {
    case AtaData::In:
      cdb[2] = kTDir | kBytBlok | kTLengthCount;
      break;
    case AtaData::Out:
      cdb[2] = kBytBlok | kTLengthCount;
      break;
    case AtaData::None:
      cdb[2] = check_condition ? kCkCond : 0;
      break;
  }
  cdb[3] = high(tf.hob_feature);
  cdb[4] = tf.feature;
  cdb[5] = high(tf.hob_count);
  cdb[6] = tf.count;
  cdb[7] = high(tf.hob_lba_low);
  cdb[8] = tf.lba_low;
  cdb[9] = high(tf.hob_lba_mid);
  cdb[10] = tf.lba_mid;
  cdb[11] = high(tf.hob_lba_high);
  cdb[12] = tf.lba_high;
  cdb[13] = tf.device;
  cdb[14] = tf.command;
  return cdb;
}

std::array<std::uint8_t, 12> PassThrough12(const AtaTaskFile& tf, AtaData data) {
  std::array<std::uint8_t, 12> cdb{};
  cdb[0] = kOpAtaPassThrough12;
  cdb[1] = static_cast<std::uint8_t>(Protocol(data) << 1);
  switch (data) {
    case AtaData::In:
      cdb[2] = kTDir | kTLengthStpsiu;
      break;
    case AtaData::Out:
      cdb[2] = kTLengthStpsiu;
      break;
    case AtaData::None:
      break;
  }
  cdb[3] = tf.feature;
  cdb[4] = tf.count;
  cdb[5] = tf.lba_low;
  cdb[6] = tf.lba_mid;
  cdb[7] = tf.lba_high;
  cdb[8] = tf.device;
  cdb[9] = tf.command;
  return cdb;
}

std::array<std::uint8_t, 12> BridgeBlock(const AtaTaskFile& tf, bool from_device,
                                         std::uint16_t length) {
  return {kOpBridgeVendor,
          static_cast<std::uint8_t>(from_device ? 0x10 : 0x00),
          0x00,
          ByteOf(length, 1),
          ByteOf(length, 0),
          tf.feature,
          tf.count,
          tf.lba_low,
          tf.lba_mid,
          tf.lba_high,
          tf.device,
          tf.command};
}

std::optional<AtaTaskFile> TaskFileOfCdb(const std::uint8_t* cdb) {
  AtaTaskFile r;
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
        r.extend = true;
        r.hob_feature = cdb[3];
        r.hob_count = cdb[5];
        r.hob_lba_low = cdb[7];
        r.hob_lba_mid = cdb[9];
        r.hob_lba_high = cdb[11];
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

std::optional<AtaReply> DecodeAtaSense(const std::uint8_t* sense, std::size_t length,
                                       SenseForms forms) {
  if (sense == nullptr || length < 1) return std::nullopt;
  const std::uint8_t code = sense[0] & 0x7F;
  if (code == 0x72 || code == 0x73) return FromDescriptors(sense, length);
  if (forms == SenseForms::DescriptorOrFixed && (code == 0x70 || code == 0x71)) {
    return FromFixed(sense, length);
  }
  return std::nullopt;
}

std::array<std::uint8_t, kAtaStatusSenseLength> AtaStatusSense(const AtaReply& reply) {
  const AtaTaskFile r = reply.registers.value_or(AtaTaskFile{});
  std::array<std::uint8_t, kAtaStatusSenseLength> sense{};
  sense[0] = 0x72;
  sense[1] = 0x01;  // recovered error
  sense[2] = 0x00;
  sense[3] = 0x1D;
  sense[7] = 14;
  std::uint8_t* d = sense.data() + 8;
  d[0] = 0x09;
  d[1] = 0x0C;
  d[2] = r.extend ? 0x01 : 0x00;
  d[3] = reply.error;
  d[4] = r.hob_count;
  d[5] = r.count;
  d[6] = r.hob_lba_low;
  d[7] = r.lba_low;
  d[8] = r.hob_lba_mid;
  d[9] = r.lba_mid;
  d[10] = r.hob_lba_high;
  d[11] = r.lba_high;
  d[12] = r.device;
  d[13] = reply.status;
  return sense;
}

}  // namespace plovix
