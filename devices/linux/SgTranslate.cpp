#include "devices/linux/SgTranslate.h"

namespace plovix::linuxdev {

DataDirection AtaDirection(const AtaPassThroughRequest& request) {
  if (request.AtaFlags & kAtaFlagsDataIn) return DataDirection::In;
  if (request.AtaFlags & kAtaFlagsDataOut) return DataDirection::Out;
  return DataDirection::None;
}

std::array<std::uint8_t, 16> BuildAtaPassThrough16(const AtaPassThroughRequest& request) {
  const bool extend = (request.AtaFlags & kAtaFlags48Bit) != 0;
  const std::uint8_t* cur = request.CurrentTaskFile;
  const std::uint8_t* prev = request.PreviousTaskFile;
  auto high = [&](int index) -> std::uint8_t { return extend ? prev[index] : 0; };

  std::array<std::uint8_t, 16> cdb{};
  cdb[0] = 0x85;
  std::uint8_t protocol = kProtocolNonData;
  switch (AtaDirection(request)) {
    case DataDirection::In:
      protocol = kProtocolPioIn;
      cdb[2] = kTDir | kBytBlok | kTLengthCount;
      break;
    case DataDirection::Out:
      protocol = kProtocolPioOut;
      cdb[2] = kBytBlok | kTLengthCount;
      break;
    case DataDirection::None:
      cdb[2] = kCkCond;
      break;
  }
  cdb[1] = static_cast<std::uint8_t>((protocol << 1) | (extend ? 1 : 0));
  cdb[3] = high(kTfFeature);
  cdb[4] = cur[kTfFeature];
  cdb[5] = high(kTfSectorCount);
  cdb[6] = cur[kTfSectorCount];
  cdb[7] = high(kTfLbaLow);
  cdb[8] = cur[kTfLbaLow];
  cdb[9] = high(kTfLbaMid);
  cdb[10] = cur[kTfLbaMid];
  cdb[11] = high(kTfLbaHigh);
  cdb[12] = cur[kTfLbaHigh];
  cdb[13] = cur[kTfDevice];
  cdb[14] = cur[kTfCommand];
  cdb[15] = 0;
  return cdb;
}

namespace {

std::optional<AtaReturn> FromDescriptors(const std::uint8_t* sense, std::size_t length) {
  if (length < 8) return std::nullopt;
  std::size_t end = 8 + static_cast<std::size_t>(sense[7]);
  if (end > length) end = length;
  std::size_t at = 8;
  while (at + 2 <= end) {
    const std::uint8_t type = sense[at];
    const std::size_t size = 2 + static_cast<std::size_t>(sense[at + 1]);
    if (type == 0x09 && size >= 14 && at + 14 <= end) {
      const std::uint8_t* d = sense + at;
      AtaReturn r;
      r.extend = (d[2] & 0x01) != 0;
      r.error = d[3];
      r.hob_count = d[4];
      r.count = d[5];
      r.hob_lba_low = d[6];
      r.lba_low = d[7];
      r.hob_lba_mid = d[8];
      r.lba_mid = d[9];
      r.hob_lba_high = d[10];
      r.lba_high = d[11];
      r.device = d[12];
      r.status = d[13];
      return r;
    }
    at += size;
  }
  return std::nullopt;
}

// ASC/ASCQ 00/1D: "ATA pass through information available".
bool CarriesAtaInformation(const std::uint8_t* sense, std::size_t length) {
  return length >= 14 && sense[12] == 0x00 && sense[13] == 0x1D;
}

std::optional<AtaReturn> FromFixed(const std::uint8_t* sense, std::size_t length) {
  if (length < 12) return std::nullopt;
  // The 00/1D code says the registers are there. A translator that failed the command
  // reports it as RECOVERED, MEDIUM or HARDWARE ERROR or ABORTED COMMAND with the
  // registers filled in; other keys (ILLEGAL REQUEST above all) are plain SCSI answers.
  const std::uint8_t key = sense[2] & 0x0F;
  const bool ata_key = key == 0x01 || key == 0x03 || key == 0x04 || key == 0x0B;
  if (!CarriesAtaInformation(sense, length) && !ata_key) return std::nullopt;
  AtaReturn r;
  // A live status register is never all zeros (DRDY or BSY is up), which tells the
  // standard layout from the older kernel one, whose bytes 3..6 stay clear.
  if (sense[4] != 0) {
    r.error = sense[3];
    r.status = sense[4];
    r.device = sense[5];
    r.count = sense[6];
    r.extend = (sense[8] & 0x80) != 0;
    r.lba_low = sense[9];
    r.lba_mid = sense[10];
    r.lba_high = sense[11];
  } else {
    r.error = sense[8];
    r.status = sense[9];
    r.device = sense[10];
    r.count = sense[11];
    if (length >= 20) {
      r.extend = (sense[16] & 0x80) != 0;
      r.lba_low = sense[17];
      r.lba_mid = sense[18];
      r.lba_high = sense[19];
    }
  }
  if (r.status == 0) return std::nullopt;
  return r;
}

}  // namespace

std::optional<AtaReturn> DecodeAtaSense(const std::uint8_t* sense, std::size_t length) {
  if (sense == nullptr || length < 1) return std::nullopt;
  const std::uint8_t code = sense[0] & 0x7F;
  if (code == 0x72 || code == 0x73) return FromDescriptors(sense, length);
  if (code == 0x70 || code == 0x71) return FromFixed(sense, length);
  return std::nullopt;
}

void FillReply(const AtaReturn& registers, AtaPassThroughRequest& reply) {
  std::uint8_t* cur = reply.CurrentTaskFile;
  cur[kTfFeature] = registers.error;
  cur[kTfSectorCount] = registers.count;
  cur[kTfLbaLow] = registers.lba_low;
  cur[kTfLbaMid] = registers.lba_mid;
  cur[kTfLbaHigh] = registers.lba_high;
  cur[kTfDevice] = registers.device;
  cur[kTfCommand] = registers.status;
  cur[kTfReserved] = 0;
  std::uint8_t* prev = reply.PreviousTaskFile;
  for (int i = 0; i < 8; ++i) prev[i] = 0;
  if (registers.extend) {
    prev[kTfSectorCount] = registers.hob_count;
    prev[kTfLbaLow] = registers.hob_lba_low;
    prev[kTfLbaMid] = registers.hob_lba_mid;
    prev[kTfLbaHigh] = registers.hob_lba_high;
  }
}

}  // namespace plovix::linuxdev
