#include "drive/Commands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "drive/RequestBuild.h"

namespace plovix {

namespace {

constexpr std::uint8_t kCmdSmart = 0xB0;
constexpr std::uint8_t kCmdReadVerifyExt = 0x42;
constexpr std::uint8_t kCmdWriteBuffer = 0xE8;
constexpr std::uint8_t kCmdEraseRange = 0x82;
constexpr std::uint8_t kCmdReadNativeMaxExt = 0x27;
constexpr std::uint8_t kCmdAccessibleMaxAddress = 0x78;
constexpr std::uint8_t kSmartReadLog = 0xD5;
constexpr std::uint8_t kSmartWriteLog = 0xD6;
constexpr std::uint8_t kSctCommandLog = 0xE0;

constexpr std::uint8_t kSmartReadData = 0xD0;
constexpr std::uint8_t kSmartReadThresholds = 0xD1;
constexpr std::uint8_t kSmartExecuteOffline = 0xD4;
constexpr std::uint8_t kSmartEnable = 0xD8;
constexpr std::uint8_t kSmartReturnStatusFeature = 0xDA;
constexpr std::uint8_t kSmartAbortSubcommand = 0x7F;
constexpr std::uint8_t kSmartLbaMid = 0x4F;
constexpr std::uint8_t kSmartLbaHigh = 0xC2;

constexpr std::uint8_t kDeviceLba = 0xE0;
constexpr std::uint8_t kDevice48 = 0x50;

int Result(bool ok) { return ok ? kCommandOk : kCommandFailed; }

int SendAtaCommand(DriveConnection& connection, const AtaPassThroughRequest& request) {
  AtaPassThroughRequest reply;
  return Result(connection.SendAta(request, reply));
}

int SendScsiCommand(DriveConnection& connection, ScsiPassThroughRequest request) {
  return Result(connection.SendScsi(request));
}

bool UsesBridgeBlock(Transport transport) {
  return transport.via_scsi != 0 && transport.behind_bridge != 0;
}

// A SMART command's registers: the feature says which, LBA mid and high its signature.
AtaTaskFile SmartTaskFile(std::uint8_t feature, std::uint8_t count, std::uint8_t lba_low) {
  AtaTaskFile tf;
  tf.feature = feature;
  tf.count = count;
  tf.lba_low = lba_low;
  tf.lba_mid = kSmartLbaMid;
  tf.lba_high = kSmartLbaHigh;
  tf.device = kDeviceLba;
  tf.command = kCmdSmart;
  return tf;
}

AtaTaskFile PlainTaskFile(std::uint8_t command) {
  AtaTaskFile tf;
  tf.command = command;
  return tf;
}

// The SMART commands that read a sector: READ DATA and READ ATTRIBUTE THRESHOLDS.
int SmartDataIn(DriveConnection& connection, Transport transport, std::uint8_t feature) {
  std::uint8_t* a = connection.buffers().a();
  AtaTaskFile tf = SmartTaskFile(feature, 0x00, 0x00);
  if (transport.via_scsi == 0) {
    return SendAtaCommand(connection, MakeAtaRequest(tf, AtaData::In, a));
  }
  if (UsesBridgeBlock(transport)) {
    return SendScsiCommand(connection, MakeScsiRequest(BridgeBlock(tf, true, kSectorBytes),
                                                       AtaData::In, a));
  }
  tf.device = 0x00;  // the 12-byte data-in blocks go with the device register clear
  return SendScsiCommand(connection, MakeScsiRequest(PassThrough12(tf, AtaData::In),
                                                     AtaData::In, a));
}

// SMART commands without data. Only some of them have a bridge form, which is sent as
// if it read a sector.
int SmartNonData(DriveConnection& connection, Transport transport, std::uint8_t feature,
                 std::uint8_t lba_low, bool has_bridge_form) {
  const AtaTaskFile tf = SmartTaskFile(feature, 0x00, lba_low);
  if (transport.via_scsi == 0) {
    return SendAtaCommand(connection, MakeAtaRequest(tf, AtaData::None, nullptr));
  }
  if (has_bridge_form && UsesBridgeBlock(transport)) {
    return SendScsiCommand(connection, MakeScsiRequest(BridgeBlock(tf, true, kSectorBytes),
                                                       AtaData::None, nullptr));
  }
  return SendScsiCommand(connection, MakeScsiRequest(PassThrough12(tf, AtaData::None),
                                                     AtaData::None, nullptr));
}

// 48-bit non-data commands whose registers nobody reads back.
int Ext48NonData(DriveConnection& connection, Transport transport, const AtaTaskFile& tf) {
  if (transport.via_scsi == 0) {
    return SendAtaCommand(connection, MakeAtaRequest(tf, AtaData::None, nullptr));
  }
  return SendScsiCommand(connection, MakeScsiRequest(PassThrough16(tf, AtaData::None, false),
                                                     AtaData::None, nullptr));
}

// One request in either form, told apart as the drive answered it.
AtaReply AnswerAta(DriveConnection& connection, const AtaPassThroughRequest& request) {
  if (!connection.IsOpen()) return AtaReply{};
  AtaPassThroughRequest reply = ClearedAtaRequest();
  if (!connection.io().AtaPassThrough(connection.handle(), request, reply)) return AtaReply{};
  return ReplyOfTaskFiles(reply);
}

AtaReply AnswerScsi(DriveConnection& connection, ScsiPassThroughRequest request) {
  AtaReply answer;
  if (!connection.IsOpen()) return answer;
  if (!connection.io().ScsiPassThrough(connection.handle(), request)) return answer;
  if (request.ScsiStatus == 0) {
    answer.outcome = AtaOutcome::Ok;
    return answer;
  }
  if (auto registers =
          DecodeAtaSense(request.Sense, sizeof request.Sense, SenseForms::DescriptorOnly)) {
    return *registers;
  }
  // A check condition without the registers: the bridge or the drive refused it.
  answer.outcome = AtaOutcome::DriveError;
  answer.status = kAtaStatusErr;
  return answer;
}

// A command in the ATA form, or in ATA PASS-THROUGH(16) asking for the registers back
// where it has no data.
AtaReply Answer(DriveConnection& connection, Transport transport, const AtaTaskFile& tf,
                AtaData data, std::uint8_t* sector) {
  if (transport.via_scsi == 0) return AnswerAta(connection, MakeAtaRequest(tf, data, sector));
  return AnswerScsi(connection, MakeScsiRequest(PassThrough16(tf, data, data == AtaData::None),
                                                data, sector));
}

// A 48-bit non-data command whose registers the caller reads.
AtaReply Ext48Registers(DriveConnection& connection, Transport transport, std::uint8_t command) {
  return Answer(connection, transport, AtaTaskFile::Ext(command, 0, 0, 0, 0x40), AtaData::None,
                nullptr);
}

// SMART READ LOG / WRITE LOG of one sector of the SCT command log.
AtaReply SctLog(DriveConnection& connection, Transport transport, std::uint8_t feature,
                std::uint8_t* sector) {
  return Answer(connection, transport, SmartTaskFile(feature, 0x01, kSctCommandLog),
                feature == kSmartWriteLog ? AtaData::Out : AtaData::In, sector);
}

void PutLe(std::uint8_t* at, int bytes, std::uint64_t value) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t GetLe(const std::uint8_t* at, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | at[i];
  return v;
}

}  // namespace

std::string DescribeReply(const AtaReply& answer) {
  switch (answer.outcome) {
    case AtaOutcome::Ok:
      return "no error";
    case AtaOutcome::NoAnswer:
      return "no answer (the command did not reach the drive, or timed out)";
    case AtaOutcome::DriveError:
      break;
  }
  if (!answer.registers && answer.error == 0) return "a check condition (command refused)";
  if (answer.error & 0x40) return "an uncorrectable error (error register 40h)";
  if (answer.error & 0x10) return "address not found (error register 10h)";
  if (answer.error & 0x04) return "command aborted (error register 04h)";
  char text[48];
  std::snprintf(text, sizeof text, "an error (status %02Xh, error %02Xh)", answer.status,
                answer.error);
  return text;
}

AtaReply SendWriteBufferZeros(DriveConnection& connection, Transport transport) {
  std::uint8_t* b = connection.buffers().b();
  std::memset(b, 0, IoBuffers::kZeroedBeforeWriteBuffer);
  const AtaTaskFile tf = PlainTaskFile(kCmdWriteBuffer);
  if (transport.via_scsi == 0) return AnswerAta(connection, MakeAtaRequest(tf, AtaData::Out, b));
  return AnswerScsi(connection, MakeScsiRequest(PassThrough12(tf, AtaData::Out), AtaData::Out, b));
}

AtaReply ReadNativeMaxAddressExt(DriveConnection& connection, Transport transport) {
  return Ext48Registers(connection, transport, kCmdReadNativeMaxExt);
}

AtaReply GetNativeMaxAddressExt(DriveConnection& connection, Transport transport) {
  return Ext48Registers(connection, transport, kCmdAccessibleMaxAddress);
}

AtaReply SctWriteSame(DriveConnection& connection, Transport transport, std::uint64_t lba,
                       std::uint64_t count, std::uint32_t pattern) {
  std::uint8_t command[kSectorBytes] = {};
  PutLe(command + 0, 2, 0x0002);  // Write Same
  PutLe(command + 2, 2, 0x0001);  // repeat a pattern, in the background
  PutLe(command + 4, 8, lba);
  PutLe(command + 12, 8, count);
  PutLe(command + 20, 4, pattern);
  return SctLog(connection, transport, kSmartWriteLog, command);
}

DriveSmartStatus SmartReturnStatus(DriveConnection& connection, Transport transport) {
  const AtaReply answer = Answer(connection, transport,
                                 SmartTaskFile(kSmartReturnStatusFeature, 0x00, 0x00),
                                 AtaData::None, nullptr);
  if (!answer.ok() || !answer.registers) return DriveSmartStatus::Unknown;
  const std::uint8_t mid = answer.registers->lba_mid;
  const std::uint8_t high = answer.registers->lba_high;
  if (mid == kSmartLbaMid && high == kSmartLbaHigh) return DriveSmartStatus::Passed;
  if (mid == 0xF4 && high == 0x2C) return DriveSmartStatus::ThresholdExceeded;
  return DriveSmartStatus::Unknown;
}

AtaReply SctReadStatus(DriveConnection& connection, Transport transport) {
  return SctLog(connection, transport, kSmartReadLog, connection.buffers().a());
}

SctStatus DecodeSctStatus(const std::uint8_t* d) {
  SctStatus status;
  status.device_state = d[10];
  status.extended_status = static_cast<std::uint16_t>(GetLe(d + 14, 2));
  status.action = static_cast<std::uint16_t>(GetLe(d + 16, 2));
  status.current_lba = GetLe(d + 40, 8);
  return status;
}

int SmartReadData(DriveConnection& connection, Transport transport) {
  return SmartDataIn(connection, transport, kSmartReadData);
}

int SmartReadThresholds(DriveConnection& connection, Transport transport) {
  return SmartDataIn(connection, transport, kSmartReadThresholds);
}

int SmartEnableOperations(DriveConnection& connection, Transport transport, int drive_number) {
  connection.Close();
  connection.Open(drive_number);
  // What the drive made of it shows in the rescan that follows, not here.
  SmartNonData(connection, transport, kSmartEnable, 0x00, /*has_bridge_form=*/false);
  connection.Close();
  return kCommandOk;
}

int SmartStartSelfTest(DriveConnection& connection, Transport transport, std::uint8_t kind) {
  return SmartNonData(connection, transport, kSmartExecuteOffline, kind, true);
}

int SmartAbortSelfTest(DriveConnection& connection, Transport transport) {
  return SmartNonData(connection, transport, kSmartExecuteOffline, kSmartAbortSubcommand, true);
}

int BridgeRegisterWrite(DriveConnection& connection, std::uint8_t chip) {
  std::uint8_t selector = 0;
  switch (chip) {
    case 1:
    case 2:
      selector = 0xFE;
      break;
    case 3:
      selector = 0xC2;
      break;
    default:
      // Only the three known chips have this register; never poke an unknown bridge.
      return kCommandFailed;
  }
  // The register write rides in the vendor block: four bytes out, the selector in the
  // count register, the register number in LBA low, and FEh in place of a command.
  AtaTaskFile tf = PlainTaskFile(0xFE);
  tf.count = selector;
  tf.lba_low = 0x75;
  std::uint8_t zero_word[4] = {};
  return SendScsiCommand(connection, MakeScsiRequest(BridgeBlock(tf, false, sizeof zero_word),
                                                     AtaData::Out, zero_word, sizeof zero_word));
}

int ReadVerifySectorsExt(DriveConnection& connection, Transport transport, std::uint64_t lba,
                         std::uint16_t count) {
  return Ext48NonData(connection, transport,
                      AtaTaskFile::Ext(kCmdReadVerifyExt, lba, 0, count, kDevice48));
}

int WriteBufferZeros(DriveConnection& connection, Transport transport) {
  return Result(SendWriteBufferZeros(connection, transport).ok());
}

AtaReply SendEraseRange(DriveConnection& connection, Transport transport, std::uint64_t lba,
                        std::uint32_t n) {
  // n is spread over the feature and count register pairs: bits 0-7 count, 8-15 feature,
  // 16-23 previous count, 24-31 previous feature.
  const auto feature = static_cast<std::uint16_t>((n >> 8 & 0xFF) | (n >> 24 & 0xFF) << 8);
  const auto count = static_cast<std::uint16_t>((n & 0xFF) | (n >> 16 & 0xFF) << 8);
  const AtaTaskFile tf = AtaTaskFile::Ext(kCmdEraseRange, lba, feature, count, kDevice48);
  if (transport.via_scsi == 0) return AnswerAta(connection, MakeAtaRequest(tf, AtaData::None, nullptr));
  return AnswerScsi(connection, MakeScsiRequest(PassThrough16(tf, AtaData::None, false),
                                                AtaData::None, nullptr));
}

int EraseRange(DriveConnection& connection, Transport transport, std::uint64_t lba,
               std::uint32_t n) {
  return Result(SendEraseRange(connection, transport, lba, n).ok());
}

}  // namespace plovix
