#include "drive/Commands.h"

#include <cstring>

#include "drive/RequestBuild.h"

namespace plovix {

namespace {

constexpr std::uint8_t kCmdSmart = 0xB0;
constexpr std::uint8_t kCmdReadVerifyExt = 0x42;
constexpr std::uint8_t kCmdWriteBuffer = 0xE8;
constexpr std::uint8_t kCmdEraseRange = 0x82;

constexpr std::uint8_t kSmartReadData = 0xD0;
constexpr std::uint8_t kSmartReadThresholds = 0xD1;
constexpr std::uint8_t kSmartExecuteOffline = 0xD4;
constexpr std::uint8_t kSmartEnable = 0xD8;
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

}  // namespace

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
  std::uint8_t* b = connection.buffers().b();
  std::memset(b, 0, IoBuffers::kZeroedBeforeWriteBuffer);
  if (transport.via_scsi == 0) {
    TaskFile tf;
    tf.command = kCmdWriteBuffer;
    return SendAtaCommand(connection, MakeAtaRequest(kAtaFlagsDataOut, b, kSectorBytes, tf));
  }
  return SendScsiCommand(connection, MakeScsiRequest(kScsiDataOut, b, kSectorBytes,
                                                     {0xA1, 0x0A, 0x03, 0x00, 0x00, 0x00, 0x00,
                                                      0x00, 0x00, kCmdWriteBuffer, 0x00, 0x00}));
}

int EraseRange(DriveConnection& connection, Transport transport, std::uint64_t lba,
               std::uint32_t n) {
  // n is spread over the feature and count register pairs: bits 0-7 count, 8-15 feature,
  // 16-23 previous count, 24-31 previous feature.
  const auto feature = static_cast<std::uint16_t>((ByteOf(n, 3) << 8) | ByteOf(n, 1));
  const auto count = static_cast<std::uint16_t>((ByteOf(n, 2) << 8) | ByteOf(n, 0));
  return Ext48NonData(connection, transport, kCmdEraseRange, lba, feature, count);
}

}  // namespace plovix
