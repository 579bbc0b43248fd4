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
constexpr std::uint8_t kAtaStatusErr = 0x01;

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

// The SMART commands that read a sector: READ DATA and READ ATTRIBUTE THRESHOLDS.
int SmartDataIn(DriveConnection& connection, Transport transport, std::uint8_t feature) {
  std::uint8_t* a = connection.buffers().a();
  if (transport.via_scsi == 0) {
    TaskFile tf{feature, 0x00, 0x00, kSmartLbaMid, kSmartLbaHigh, kDeviceLba, kCmdSmart};
    return SendAtaCommand(connection, MakeAtaRequest(kAtaFlagsDataIn, a, kSectorBytes, tf));
  }
  if (UsesBridgeBlock(transport)) {
    return SendScsiCommand(connection,
                           MakeScsiRequest(kScsiDataIn, a, kSectorBytes,
                                           {0xDF, 0x10, 0x00, 0x02, 0x00, feature, 0x00, 0x00,
                                            kSmartLbaMid, kSmartLbaHigh, kDeviceLba, kCmdSmart}));
  }
  return SendScsiCommand(connection,
                         MakeScsiRequest(kScsiDataIn, a, kSectorBytes,
                                         {0xA1, 0x08, 0x0B, feature, 0x00, 0x00, kSmartLbaMid,
                                          kSmartLbaHigh, 0x00, kCmdSmart, 0x00, 0x00}));
}

// SMART commands without data. Only some of them have a bridge form.
int SmartNonData(DriveConnection& connection, Transport transport, std::uint8_t feature,
                 std::uint8_t lba_low, bool has_bridge_form) {
  if (transport.via_scsi == 0) {
    TaskFile tf{feature, 0x00, lba_low, kSmartLbaMid, kSmartLbaHigh, kDeviceLba, kCmdSmart};
    return SendAtaCommand(connection, MakeAtaRequest(0, nullptr, 0, tf));
  }
  if (has_bridge_form && UsesBridgeBlock(transport)) {
    return SendScsiCommand(connection,
                           MakeScsiRequest(kScsiDataUnspecified, nullptr, 0,
                                           {0xDF, 0x10, 0x00, 0x02, 0x00, feature, 0x00, lba_low,
                                            kSmartLbaMid, kSmartLbaHigh, kDeviceLba, kCmdSmart}));
  }
  return SendScsiCommand(connection,
                         MakeScsiRequest(kScsiDataUnspecified, nullptr, 0,
                                         {0xA1, 0x06, 0x00, feature, 0x00, lba_low, kSmartLbaMid,
                                          kSmartLbaHigh, kDeviceLba, kCmdSmart, 0x00, 0x00}));
}

std::uint8_t ByteOf(std::uint64_t value, int index) {
  return static_cast<std::uint8_t>(value >> (8 * index));
}

// 48-bit non-data commands: READ VERIFY SECTORS EXT and the erase opcode. feature and
// count are 16-bit register pairs (high byte in the previous task file).
int Ext48NonData(DriveConnection& connection, Transport transport, std::uint8_t command,
                 std::uint64_t lba, std::uint16_t feature, std::uint16_t count) {
  const std::uint8_t f0 = ByteOf(feature, 0), f1 = ByteOf(feature, 1);
  const std::uint8_t c0 = ByteOf(count, 0), c1 = ByteOf(count, 1);
  const std::uint8_t l0 = ByteOf(lba, 0), l1 = ByteOf(lba, 1), l2 = ByteOf(lba, 2);
  const std::uint8_t l3 = ByteOf(lba, 3), l4 = ByteOf(lba, 4), l5 = ByteOf(lba, 5);
  if (transport.via_scsi == 0) {
    TaskFile current{f0, c0, l0, l1, l2, kDevice48, command};
    TaskFile previous{f1, c1, l3, l4, l5, 0x00, 0x00};
    return SendAtaCommand(connection,
                          MakeAtaRequest(kAtaFlags48Bit, nullptr, 0, current, previous));
  }
  return SendScsiCommand(connection, MakeScsiRequest(kScsiDataUnspecified, nullptr, 0,
                                                     {0x85, 0x07, 0x00, f1, f0, c1, c0, l3, l0, l4,
                                                      l1, l5, l2, kDevice48, command, 0x00}));
}

// One request in either form, told apart as the drive answered it.
AtaAnswer AnswerAta(DriveConnection& connection, const AtaPassThroughRequest& request) {
  AtaAnswer answer;
  if (!connection.IsOpen()) return answer;
  AtaPassThroughRequest reply = ClearedAtaRequest();
  if (!connection.io().AtaPassThrough(connection.handle(), request, reply)) return answer;
  answer.status = reply.CurrentTaskFile[kTfCommand];
  answer.error = reply.CurrentTaskFile[kTfFeature];
  answer.outcome = (answer.status & kAtaStatusErr) != 0 ? AtaOutcome::DriveError : AtaOutcome::Ok;
  answer.has_registers = true;
  const std::uint8_t* c = reply.CurrentTaskFile;
  const std::uint8_t* p = reply.PreviousTaskFile;
  answer.lba = static_cast<std::uint64_t>(c[kTfLbaLow]) | static_cast<std::uint64_t>(c[kTfLbaMid]) << 8 |
               static_cast<std::uint64_t>(c[kTfLbaHigh]) << 16 |
               static_cast<std::uint64_t>(p[kTfLbaLow]) << 24 |
               static_cast<std::uint64_t>(p[kTfLbaMid]) << 32 |
               static_cast<std::uint64_t>(p[kTfLbaHigh]) << 40;
  answer.count = static_cast<std::uint16_t>(p[kTfSectorCount] << 8 | c[kTfSectorCount]);
  return answer;
}

AtaAnswer AnswerScsi(DriveConnection& connection, ScsiPassThroughRequest request) {
  AtaAnswer answer;
  if (!connection.IsOpen()) return answer;
  if (!connection.io().ScsiPassThrough(connection.handle(), request)) return answer;
  if (request.ScsiStatus == 0) {
    answer.outcome = AtaOutcome::Ok;
    return answer;
  }
  if (DecodeAtaReturnSense(request.Sense, sizeof request.Sense, answer)) return answer;
  // A check condition without the registers: the bridge or the drive refused it.
  answer.outcome = AtaOutcome::DriveError;
  answer.status = kAtaStatusErr;
  return answer;
}

// A 48-bit non-data command whose registers the caller reads (CK_COND on SCSI).
AtaAnswer Ext48Registers(DriveConnection& connection, Transport transport, std::uint8_t command,
                         std::uint8_t feature) {
  if (transport.via_scsi == 0) {
    TaskFile current{feature, 0x00, 0x00, 0x00, 0x00, 0x40, command};
    return AnswerAta(connection, MakeAtaRequest(kAtaFlags48Bit, nullptr, 0, current, TaskFile{}));
  }
  return AnswerScsi(connection, MakeScsiRequest(kScsiDataUnspecified, nullptr, 0,
                                                {0x85, 0x07, 0x20, 0x00, feature, 0x00, 0x00,
                                                 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40,
                                                 command, 0x00}));
}

// SMART READ LOG / WRITE LOG of one sector of the SCT command log.
AtaAnswer SctLog(DriveConnection& connection, Transport transport, std::uint8_t feature,
                 std::uint8_t* sector) {
  const bool out = feature == kSmartWriteLog;
  if (transport.via_scsi == 0) {
    TaskFile tf{feature, 0x01, kSctCommandLog, kSmartLbaMid, kSmartLbaHigh, kDeviceLba, kCmdSmart};
    return AnswerAta(connection, MakeAtaRequest(out ? kAtaFlagsDataOut : kAtaFlagsDataIn,
                                                sector, kSectorBytes, tf));
  }
  return AnswerScsi(connection,
                    MakeScsiRequest(out ? kScsiDataOut : kScsiDataIn, sector, kSectorBytes,
                                    {0x85, static_cast<std::uint8_t>(out ? 0x0A : 0x08),
                                     static_cast<std::uint8_t>(out ? 0x06 : 0x0E), 0x00, feature,
                                     0x00, 0x01, 0x00, kSctCommandLog, 0x00, kSmartLbaMid, 0x00,
                                     kSmartLbaHigh, kDeviceLba, kCmdSmart, 0x00}));
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

bool DecodeAtaReturnSense(const std::uint8_t* sense, std::size_t length, AtaAnswer& answer) {
  if (length < 8) return false;
  const std::uint8_t code = sense[0] & 0x7F;
  if (code != 0x72 && code != 0x73) return false;
  const std::size_t end = std::min<std::size_t>(length, 8 + static_cast<std::size_t>(sense[7]));
  for (std::size_t at = 8; at + 2 <= end;) {
    const std::size_t size = 2 + static_cast<std::size_t>(sense[at + 1]);
    if (sense[at] == 0x09 && sense[at + 1] >= 0x0C && at + 14 <= end) {
      const std::uint8_t* d = sense + at;
      answer.error = d[3];
      answer.status = d[13];
      answer.count = static_cast<std::uint16_t>(d[4] << 8 | d[5]);
      answer.lba = static_cast<std::uint64_t>(d[7]) | static_cast<std::uint64_t>(d[9]) << 8 |
                   static_cast<std::uint64_t>(d[11]) << 16 |
                   static_cast<std::uint64_t>(d[6]) << 24 |
                   static_cast<std::uint64_t>(d[8]) << 32 |
                   static_cast<std::uint64_t>(d[10]) << 40;
      answer.has_registers = true;
      answer.outcome =
          (answer.status & kAtaStatusErr) != 0 ? AtaOutcome::DriveError : AtaOutcome::Ok;
      return true;
    }
    at += size;
  }
  return false;
}

std::string DescribeAnswer(const AtaAnswer& answer) {
  switch (answer.outcome) {
    case AtaOutcome::Ok:
      return "no error";
    case AtaOutcome::NoAnswer:
      return "no answer (the command did not reach the drive, or timed out)";
    case AtaOutcome::DriveError:
      break;
  }
  if (!answer.has_registers && answer.error == 0) return "a check condition (command refused)";
  if (answer.error & 0x40) return "an uncorrectable error (error register 40h)";
  if (answer.error & 0x10) return "address not found (error register 10h)";
  if (answer.error & 0x04) return "command aborted (error register 04h)";
  char text[48];
  std::snprintf(text, sizeof text, "an error (status %02Xh, error %02Xh)", answer.status,
                answer.error);
  return text;
}

AtaAnswer SendWriteBufferZeros(DriveConnection& connection, Transport transport) {
  std::uint8_t* b = connection.buffers().b();
  std::memset(b, 0, IoBuffers::kZeroedBeforeWriteBuffer);
  if (transport.via_scsi == 0) {
    TaskFile tf;
    tf.command = kCmdWriteBuffer;
    return AnswerAta(connection, MakeAtaRequest(kAtaFlagsDataOut, b, kSectorBytes, tf));
  }
  return AnswerScsi(connection, MakeScsiRequest(kScsiDataOut, b, kSectorBytes,
                                                {0xA1, 0x0A, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                 0x00, kCmdWriteBuffer, 0x00, 0x00}));
}

AtaAnswer ReadNativeMaxAddressExt(DriveConnection& connection, Transport transport) {
  return Ext48Registers(connection, transport, kCmdReadNativeMaxExt, 0x00);
}

AtaAnswer GetNativeMaxAddressExt(DriveConnection& connection, Transport transport) {
  return Ext48Registers(connection, transport, kCmdAccessibleMaxAddress, 0x00);
}

AtaAnswer SctWriteSame(DriveConnection& connection, Transport transport, std::uint64_t lba,
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
  AtaAnswer answer;
  if (transport.via_scsi == 0) {
    TaskFile tf{kSmartReturnStatusFeature, 0x00, 0x00, kSmartLbaMid, kSmartLbaHigh, kDeviceLba,
                kCmdSmart};
    answer = AnswerAta(connection, MakeAtaRequest(0, nullptr, 0, tf));
  } else {
    answer = AnswerScsi(connection,
                        MakeScsiRequest(kScsiDataUnspecified, nullptr, 0,
                                        {0x85, 0x06, 0x20, 0x00, kSmartReturnStatusFeature, 0x00,
                                         0x00, 0x00, 0x00, 0x00, kSmartLbaMid, 0x00, kSmartLbaHigh,
                                         kDeviceLba, kCmdSmart, 0x00}));
  }
  if (!answer.ok() || !answer.has_registers) return DriveSmartStatus::Unknown;
  const auto mid = static_cast<std::uint8_t>(answer.lba >> 8);
  const auto high = static_cast<std::uint8_t>(answer.lba >> 16);
  if (mid == kSmartLbaMid && high == kSmartLbaHigh) return DriveSmartStatus::Passed;
  if (mid == 0xF4 && high == 0x2C) return DriveSmartStatus::ThresholdExceeded;
  return DriveSmartStatus::Unknown;
}

AtaAnswer SctReadStatus(DriveConnection& connection, Transport transport) {
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
  std::uint32_t zero_word = 0;
  return SendScsiCommand(
      connection,
      MakeScsiRequest(
          kScsiDataOut, reinterpret_cast<std::uint8_t*>(&zero_word), sizeof zero_word,
          {0xDF, 0x00, 0x00, 0x00, 0x04, 0x00, selector, 0x75, 0x00, 0x00, 0x00, 0xFE}));
}

int ReadVerifySectorsExt(DriveConnection& connection, Transport transport, std::uint64_t lba,
                         std::uint16_t count) {
  return Ext48NonData(connection, transport, kCmdReadVerifyExt, lba, 0, count);
}

int WriteBufferZeros(DriveConnection& connection, Transport transport) {
  return Result(SendWriteBufferZeros(connection, transport).ok());
}

AtaAnswer SendEraseRange(DriveConnection& connection, Transport transport, std::uint64_t lba,
                         std::uint32_t n) {
  // n is spread over the feature and count register pairs: bits 0-7 count, 8-15 feature,
  // 16-23 previous count, 24-31 previous feature.
  const std::uint8_t f0 = ByteOf(n, 1), f1 = ByteOf(n, 3);
  const std::uint8_t c0 = ByteOf(n, 0), c1 = ByteOf(n, 2);
  const std::uint8_t l0 = ByteOf(lba, 0), l1 = ByteOf(lba, 1), l2 = ByteOf(lba, 2);
  const std::uint8_t l3 = ByteOf(lba, 3), l4 = ByteOf(lba, 4), l5 = ByteOf(lba, 5);
  if (transport.via_scsi == 0) {
    TaskFile current{f0, c0, l0, l1, l2, kDevice48, kCmdEraseRange};
    TaskFile previous{f1, c1, l3, l4, l5, 0x00, 0x00};
    return AnswerAta(connection, MakeAtaRequest(kAtaFlags48Bit, nullptr, 0, current, previous));
  }
  return AnswerScsi(connection, MakeScsiRequest(kScsiDataUnspecified, nullptr, 0,
                                                {0x85, 0x07, 0x00, f1, f0, c1, c0, l3, l0, l4, l1,
                                                 l5, l2, kDevice48, kCmdEraseRange, 0x00}));
}

int EraseRange(DriveConnection& connection, Transport transport, std::uint64_t lba,
               std::uint32_t n) {
  return Result(SendEraseRange(connection, transport, lba, n).ok());
}

}  // namespace plovix
