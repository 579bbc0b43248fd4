// Every command in every form, pinned to the bytes that leave the program.
#include <gtest/gtest.h>

#include <ostream>

#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "drive/Commands.h"
#include "drive/DriveConnection.h"

namespace plovix {
namespace {

// Records each pass-through call as sent and answers with a chosen status.
class RecordingIo : public DeviceIo {
 public:
  struct Call {
    bool scsi = false;
    DeviceHandle handle = kInvalidHandle;
    AtaPassThroughRequest ata;
    ScsiPassThroughRequest scsi_request;
    std::vector<std::uint8_t> data_out;
  };

  bool open_works = true;
  bool call_works = true;
  std::uint8_t ata_status = 0x50;
  std::uint8_t scsi_status = 0x00;
  std::uint8_t fill_byte = 0xA5;  // what data-in commands leave in the buffer
  std::vector<std::string> opened;
  std::vector<DeviceHandle> closed;
  std::vector<Call> calls;

  DeviceHandle Open(const std::string& path) override {
    opened.push_back(path);
    return open_works ? next_handle_++ : kInvalidHandle;
  }
  void Close(DeviceHandle handle) override { closed.push_back(handle); }

  bool AtaPassThrough(DeviceHandle handle, const AtaPassThroughRequest& request,
                      AtaPassThroughRequest& reply) override {
    Call call;
    call.handle = handle;
    call.ata = request;
    if ((request.AtaFlags & kAtaFlagsDataOut) && request.DataBuffer)
      call.data_out.assign(request.DataBuffer, request.DataBuffer + request.DataTransferLength);
    calls.push_back(call);
    if (!call_works) return false;
    if ((request.AtaFlags & kAtaFlagsDataIn) && request.DataBuffer)
      std::memset(request.DataBuffer, fill_byte, request.DataTransferLength);
    reply = request;
    reply.CurrentTaskFile[kTfCommand] = ata_status;
    return true;
  }

  bool ScsiPassThrough(DeviceHandle handle, ScsiPassThroughRequest& request) override {
    Call call;
    call.scsi = true;
    call.handle = handle;
    call.scsi_request = request;
    if (request.DataIn == kScsiDataOut && request.DataBuffer)
      call.data_out.assign(request.DataBuffer, request.DataBuffer + request.DataTransferLength);
    calls.push_back(call);
    if (!call_works) return false;
    if (request.DataIn == kScsiDataIn && request.DataBuffer)
      std::memset(request.DataBuffer, fill_byte, request.DataTransferLength);
    request.ScsiStatus = scsi_status;
    return true;
  }

 private:
  DeviceHandle next_handle_ = 100;
};

enum class Buf { None, A, B, Inquiry, Other };

using Bytes = std::vector<std::uint8_t>;

struct CommandCase {
  const char* name;
  std::function<int(DriveConnection&)> send;
  bool scsi;
  // ATA form
  std::uint16_t ata_flags;
  Bytes current;   // 7 registers
  Bytes previous;  // 5 registers
  // SCSI form
  std::uint8_t data_in;
  Bytes cdb;
  // both
  std::uint32_t length;
  Buf buffer;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

constexpr Transport kAta{0, 0};
constexpr Transport kStd{1, 0};
constexpr Transport kBridge{1, 1};

const Bytes kZeroPrev{0, 0, 0, 0, 0};

std::vector<CommandCase> AllForms() {
  return {
      // ATA pass-through task files
      {"IdentifyAta", [](DriveConnection& c) { return IdentifyDevice(c) ? 0 : 2; }, false, 2,
       {0x00, 0x00, 0x00, 0x00, 0x00, 0x50, 0xEC}, kZeroPrev, 0, {}, 512, Buf::A},
      {"ReadDataAta", [](DriveConnection& c) { return SmartReadData(c, kAta); }, false, 2,
       {0xD0, 0x00, 0x00, 0x4F, 0xC2, 0xE0, 0xB0}, kZeroPrev, 0, {}, 512, Buf::A},
      {"ThresholdsAta", [](DriveConnection& c) { return SmartReadThresholds(c, kAta); }, false, 2,
       {0xD1, 0x00, 0x00, 0x4F, 0xC2, 0xE0, 0xB0}, kZeroPrev, 0, {}, 512, Buf::A},
      {"ShortSelfTestAta", [](DriveConnection& c) { return SmartStartSelfTest(c, kAta, 1); }, false,
       0, {0xD4, 0x00, 0x01, 0x4F, 0xC2, 0xE0, 0xB0}, kZeroPrev, 0, {}, 0, Buf::None},
      {"ExtendedSelfTestAta", [](DriveConnection& c) { return SmartStartSelfTest(c, kAta, 2); },
       false, 0, {0xD4, 0x00, 0x02, 0x4F, 0xC2, 0xE0, 0xB0}, kZeroPrev, 0, {}, 0, Buf::None},
      {"AbortSelfTestAta", [](DriveConnection& c) { return SmartAbortSelfTest(c, kAta); }, false, 0,
       {0xD4, 0x00, 0x7F, 0x4F, 0xC2, 0xE0, 0xB0}, kZeroPrev, 0, {}, 0, Buf::None},
      {"ReadVerifyAta",
       [](DriveConnection& c) { return ReadVerifySectorsExt(c, kAta, 0x00123456789AULL, 0x1234); },
       false, 8, {0x00, 0x34, 0x9A, 0x78, 0x56, 0x50, 0x42}, {0x00, 0x12, 0x34, 0x12, 0x00}, 0,
       {}, 0, Buf::None},
      {"ReadVerifyAtaTopLba",
       [](DriveConnection& c) { return ReadVerifySectorsExt(c, kAta, 0xFFFFABCDEF012345ULL, 1); },
       false, 8, {0x00, 0x01, 0x45, 0x23, 0x01, 0x50, 0x42}, {0x00, 0x00, 0xEF, 0xCD, 0xAB}, 0,
       {}, 0, Buf::None},
      {"WriteBufferAta", [](DriveConnection& c) { return WriteBufferZeros(c, kAta); }, false, 4,
       {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE8}, kZeroPrev, 0, {}, 512, Buf::B},
      {"EraseMbrAta", [](DriveConnection& c) { return EraseRange(c, kAta, 0, 1); }, false, 8,
       {0x00, 0x01, 0x00, 0x00, 0x00, 0x50, 0x82}, kZeroPrev, 0, {}, 0, Buf::None},
      {"EraseChunkAta", [](DriveConnection& c) { return EraseRange(c, kAta, 0x0000010203040506ULL, 65535); },
       false, 8, {0xFF, 0xFF, 0x06, 0x05, 0x04, 0x50, 0x82}, {0x00, 0x00, 0x03, 0x02, 0x01}, 0, {},
       0, Buf::None},
      {"EraseWideCountAta", [](DriveConnection& c) { return EraseRange(c, kAta, 0, 0x12345678); },
       false, 8, {0x56, 0x78, 0x00, 0x00, 0x00, 0x50, 0x82}, {0x12, 0x34, 0x00, 0x00, 0x00}, 0, {},
       0, Buf::None},

      // Standard ATA PASS-THROUGH blocks
      {"IdentifyStd", [](DriveConnection& c) { return IdentifyDeviceScsi(c, 0) ? 0 : 2; }, true, 0,
       {}, {}, 1, {0xA1, 0x08, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xEC, 0x00, 0x00}, 512,
       Buf::A},
      {"Inquiry", [](DriveConnection& c) { return Inquiry(c) ? 0 : 2; }, true, 0, {}, {}, 1,
       {0x12, 0x10, 0x00, 0x00, 0x28, 0x00}, 40, Buf::Inquiry},
      {"ReadDataStd", [](DriveConnection& c) { return SmartReadData(c, kStd); }, true, 0, {}, {}, 1,
       {0xA1, 0x08, 0x0B, 0xD0, 0x00, 0x00, 0x4F, 0xC2, 0x00, 0xB0, 0x00, 0x00}, 512, Buf::A},
      {"ThresholdsStd", [](DriveConnection& c) { return SmartReadThresholds(c, kStd); }, true, 0, {},
       {}, 1, {0xA1, 0x08, 0x0B, 0xD1, 0x00, 0x00, 0x4F, 0xC2, 0x00, 0xB0, 0x00, 0x00}, 512,
       Buf::A},
      {"ShortSelfTestStd", [](DriveConnection& c) { return SmartStartSelfTest(c, kStd, 1); }, true,
       0, {}, {}, 2, {0xA1, 0x06, 0x00, 0xD4, 0x00, 0x01, 0x4F, 0xC2, 0xE0, 0xB0, 0x00, 0x00}, 0,
       Buf::None},
      {"AbortSelfTestStd", [](DriveConnection& c) { return SmartAbortSelfTest(c, kStd); }, true, 0,
       {}, {}, 2, {0xA1, 0x06, 0x00, 0xD4, 0x00, 0x7F, 0x4F, 0xC2, 0xE0, 0xB0, 0x00, 0x00}, 0,
       Buf::None},
      {"ReadVerifyStd",
       [](DriveConnection& c) { return ReadVerifySectorsExt(c, kStd, 0x00123456789AULL, 0x1234); },
       true, 0, {}, {}, 2,
       {0x85, 0x07, 0x00, 0x00, 0x00, 0x12, 0x34, 0x34, 0x9A, 0x12, 0x78, 0x00, 0x56, 0x50, 0x42,
        0x00},
       0, Buf::None},
      {"ReadVerifyBehindBridge",
       [](DriveConnection& c) { return ReadVerifySectorsExt(c, kBridge, 0x00123456789AULL, 0x1234); },
       true, 0, {}, {}, 2,
       {0x85, 0x07, 0x00, 0x00, 0x00, 0x12, 0x34, 0x34, 0x9A, 0x12, 0x78, 0x00, 0x56, 0x50, 0x42,
        0x00},
       0, Buf::None},
      {"WriteBufferStd", [](DriveConnection& c) { return WriteBufferZeros(c, kStd); }, true, 0, {},
       {}, 0, {0xA1, 0x0A, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE8, 0x00, 0x00}, 512,
       Buf::B},
      {"WriteBufferBehindBridge", [](DriveConnection& c) { return WriteBufferZeros(c, kBridge); },
       true, 0, {}, {}, 0, {0xA1, 0x0A, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE8, 0x00, 0x00},
       512, Buf::B},
      {"EraseMbrStd", [](DriveConnection& c) { return EraseRange(c, kStd, 0, 1); }, true, 0, {}, {},
       2,
       {0x85, 0x07, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x50, 0x82,
        0x00},
       0, Buf::None},
      {"EraseWideCountBehindBridge",
       [](DriveConnection& c) { return EraseRange(c, kBridge, 0x0000010203040506ULL, 0x12345678); },
       true, 0, {}, {}, 2,
       {0x85, 0x07, 0x00, 0x12, 0x56, 0x34, 0x78, 0x03, 0x06, 0x02, 0x05, 0x01, 0x04, 0x50, 0x82,
        0x00},
       0, Buf::None},
      {"EraseChunkStd", [](DriveConnection& c) { return EraseRange(c, kStd, 0, 65535); }, true, 0,
       {}, {}, 2,
       {0x85, 0x07, 0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x50, 0x82,
        0x00},
       0, Buf::None},

      // Bridge vendor blocks
      {"IdentifyBridge", [](DriveConnection& c) { return IdentifyDeviceScsi(c, 1) ? 0 : 2; }, true,
       0, {}, {}, 1, {0xDF, 0x10, 0x00, 0x02, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0xE0, 0xEC},
       512, Buf::A},
      {"ReadDataBridge", [](DriveConnection& c) { return SmartReadData(c, kBridge); }, true, 0, {},
       {}, 1, {0xDF, 0x10, 0x00, 0x02, 0x00, 0xD0, 0x00, 0x00, 0x4F, 0xC2, 0xE0, 0xB0}, 512,
       Buf::A},
      {"ThresholdsBridge", [](DriveConnection& c) { return SmartReadThresholds(c, kBridge); }, true,
       0, {}, {}, 1, {0xDF, 0x10, 0x00, 0x02, 0x00, 0xD1, 0x00, 0x00, 0x4F, 0xC2, 0xE0, 0xB0},
       512, Buf::A},
      {"ExtendedSelfTestBridge", [](DriveConnection& c) { return SmartStartSelfTest(c, kBridge, 2); },
       true, 0, {}, {}, 2, {0xDF, 0x10, 0x00, 0x02, 0x00, 0xD4, 0x00, 0x02, 0x4F, 0xC2, 0xE0, 0xB0},
       0, Buf::None},
      {"AbortSelfTestBridge", [](DriveConnection& c) { return SmartAbortSelfTest(c, kBridge); },
       true, 0, {}, {}, 2, {0xDF, 0x10, 0x00, 0x02, 0x00, 0xD4, 0x00, 0x7F, 0x4F, 0xC2, 0xE0, 0xB0},
       0, Buf::None},
      {"RegisterWriteChip1", [](DriveConnection& c) { return BridgeRegisterWrite(c, 1); }, true, 0,
       {}, {}, 0, {0xDF, 0x00, 0x00, 0x00, 0x04, 0x00, 0xFE, 0x75, 0x00, 0x00, 0x00, 0xFE}, 4,
       Buf::Other},
      {"RegisterWriteChip2", [](DriveConnection& c) { return BridgeRegisterWrite(c, 2); }, true, 0,
       {}, {}, 0, {0xDF, 0x00, 0x00, 0x00, 0x04, 0x00, 0xFE, 0x75, 0x00, 0x00, 0x00, 0xFE}, 4,
       Buf::Other},
      {"RegisterWriteChip3", [](DriveConnection& c) { return BridgeRegisterWrite(c, 3); }, true, 0,
       {}, {}, 0, {0xDF, 0x00, 0x00, 0x00, 0x04, 0x00, 0xC2, 0x75, 0x00, 0x00, 0x00, 0xFE}, 4,
       Buf::Other},
  };
}

class CommandFormTest : public ::testing::TestWithParam<CommandCase> {
 protected:
  RecordingIo io;
  IoBuffers buffers;
  DriveConnection connection{io, buffers};

  const std::uint8_t* Expected(Buf b) {
    switch (b) {
      case Buf::A: return buffers.a();
      case Buf::B: return buffers.b();
      case Buf::Inquiry: return connection.inquiry_data;
      default: return nullptr;
    }
  }
};

TEST_P(CommandFormTest, SendsExactlyTheseBytes) {
  const CommandCase& c = GetParam();
  ASSERT_TRUE(connection.Open(3));
  ASSERT_EQ(c.send(connection), kCommandOk);
  ASSERT_EQ(io.calls.size(), 1u);
  const RecordingIo::Call& call = io.calls[0];
  ASSERT_EQ(call.scsi, c.scsi);
  EXPECT_EQ(call.handle, connection.handle());
  if (!c.scsi) {
    const AtaPassThroughRequest& r = call.ata;
    EXPECT_EQ(r.Length, 40);
    EXPECT_EQ(r.AtaFlags, c.ata_flags);
    EXPECT_EQ(r.PathId | r.TargetId | r.Lun, 0);
    EXPECT_EQ(r.DataTransferLength, c.length);
    EXPECT_EQ(r.TimeOutValue, 10u);
    Bytes current(r.CurrentTaskFile, r.CurrentTaskFile + 8);
    Bytes want_current = c.current;
    want_current.push_back(0);
    EXPECT_EQ(current, want_current);
    Bytes previous(r.PreviousTaskFile, r.PreviousTaskFile + 8);
    Bytes want_previous = c.previous;
    want_previous.resize(8, 0);
    EXPECT_EQ(previous, want_previous);
    if (c.buffer == Buf::None)
      EXPECT_EQ(r.DataBuffer, nullptr);
    else
      EXPECT_EQ(r.DataBuffer, Expected(c.buffer));
  } else {
    const ScsiPassThroughRequest& r = call.scsi_request;
    EXPECT_EQ(r.Length, 44);
    EXPECT_EQ(r.PathId | r.TargetId | r.Lun, 0);
    EXPECT_EQ(r.CdbLength, c.cdb.size());
    EXPECT_EQ(r.SenseInfoLength, 24);
    EXPECT_EQ(r.SenseInfoOffset, 48u);
    EXPECT_EQ(r.DataIn, c.data_in);
    EXPECT_EQ(r.DataTransferLength, c.length);
    EXPECT_EQ(r.TimeOutValue, 10u);
    Bytes cdb(r.Cdb, r.Cdb + 16);
    Bytes want = c.cdb;
    want.resize(16, 0);
    EXPECT_EQ(cdb, want);
    if (c.buffer == Buf::None) {
      EXPECT_EQ(r.DataBuffer, nullptr);
    } else if (c.buffer == Buf::Other) {
      EXPECT_NE(r.DataBuffer, nullptr);
      EXPECT_EQ(call.data_out, Bytes(4, 0));
    } else {
      EXPECT_EQ(r.DataBuffer, Expected(c.buffer));
    }
  }
  if (c.buffer == Buf::B) {
    EXPECT_EQ(call.data_out, Bytes(512, 0));
  }
}

TEST_P(CommandFormTest, ClosedConnectionFailsWithoutIo) {
  const CommandCase& c = GetParam();
  EXPECT_EQ(c.send(connection), kCommandFailed);
  EXPECT_TRUE(io.calls.empty());
}

TEST_P(CommandFormTest, FailedCallIsFailure) {
  io.call_works = false;
  ASSERT_TRUE(connection.Open(0));
  EXPECT_EQ(GetParam().send(connection), kCommandFailed);
  EXPECT_EQ(io.calls.size(), 1u);
}

TEST_P(CommandFormTest, DeviceErrorIsFailure) {
  io.ata_status = 0x51;
  io.scsi_status = 0x02;
  ASSERT_TRUE(connection.Open(0));
  EXPECT_EQ(GetParam().send(connection), kCommandFailed);
}

INSTANTIATE_TEST_SUITE_P(AllCommands, CommandFormTest, ::testing::ValuesIn(AllForms()),
                         [](const auto& p) { return std::string(p.param.name); });

// SMART ENABLE manages its own handle and never uses the bridge block.
struct EnableCase {
  const char* name;
  Transport transport;
  bool scsi;
  bool open_works;
  std::uint8_t ata_status;
  std::uint8_t scsi_status;
};

void PrintTo(const EnableCase& c, std::ostream* os) { *os << c.name; }

class SmartEnableTest : public ::testing::TestWithParam<EnableCase> {};

TEST_P(SmartEnableTest, ClosesOpensSendsClosesAndReportsSuccess) {
  const EnableCase& c = GetParam();
  RecordingIo io;
  io.open_works = c.open_works;
  io.ata_status = c.ata_status;
  io.scsi_status = c.scsi_status;
  IoBuffers buffers;
  DriveConnection connection(io, buffers);
  ASSERT_EQ(connection.Open(1), c.open_works);
  const DeviceHandle earlier = connection.handle();
  io.opened.clear();

  EXPECT_EQ(SmartEnableOperations(connection, c.transport, 7), kCommandOk);

  EXPECT_EQ(io.opened, std::vector<std::string>{"\\\\.\\PhysicalDrive7"});
  EXPECT_FALSE(connection.IsOpen());
  if (!c.open_works) {
    EXPECT_TRUE(io.calls.empty());
    EXPECT_TRUE(io.closed.empty());
    return;
  }
  ASSERT_EQ(io.closed.size(), 2u);
  EXPECT_EQ(io.closed[0], earlier);
  ASSERT_EQ(io.calls.size(), 1u);
  EXPECT_EQ(io.calls[0].handle, io.closed[1]);
  ASSERT_EQ(io.calls[0].scsi, c.scsi);
  if (c.scsi) {
    const auto& r = io.calls[0].scsi_request;
    EXPECT_EQ(Bytes(r.Cdb, r.Cdb + 12),
              (Bytes{0xA1, 0x06, 0x00, 0xD8, 0x00, 0x00, 0x4F, 0xC2, 0xE0, 0xB0, 0x00, 0x00}));
    EXPECT_EQ(r.CdbLength, 12);
    EXPECT_EQ(r.DataIn, kScsiDataUnspecified);
    EXPECT_EQ(r.DataTransferLength, 0u);
    EXPECT_EQ(r.DataBuffer, nullptr);
  } else {
    const auto& r = io.calls[0].ata;
    EXPECT_EQ(r.AtaFlags, 0);
    EXPECT_EQ(Bytes(r.CurrentTaskFile, r.CurrentTaskFile + 8),
              (Bytes{0xD8, 0x00, 0x00, 0x4F, 0xC2, 0xE0, 0xB0, 0x00}));
    EXPECT_EQ(r.DataTransferLength, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, SmartEnableTest,
    ::testing::Values(EnableCase{"Ata", kAta, false, true, 0x50, 0},
                      EnableCase{"AtaRejected", kAta, false, true, 0x51, 0},
                      EnableCase{"Standard", kStd, true, true, 0x50, 0},
                      EnableCase{"BehindBridgeUsesStandardBlock", kBridge, true, true, 0x50, 0},
                      EnableCase{"ScsiCheckCondition", kBridge, true, true, 0x50, 2},
                      EnableCase{"DriveDoesNotOpen", kAta, false, false, 0x50, 0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(WriteBufferZerosTest, ZeroesTheFrontOfBufferBBeforeSending) {
  RecordingIo io;
  IoBuffers buffers;
  DriveConnection connection(io, buffers);
  std::memset(buffers.b(), 0xEE, IoBuffers::kSize);
  ASSERT_TRUE(connection.Open(0));
  EXPECT_EQ(WriteBufferZeros(connection, kStd), kCommandOk);
  ASSERT_EQ(io.calls.size(), 1u);
  EXPECT_EQ(io.calls[0].data_out, Bytes(512, 0));
  const std::uint8_t* b = buffers.b();
  std::size_t non_zero = 0;
  for (std::size_t i = 0; i < IoBuffers::kZeroedBeforeWriteBuffer; ++i) non_zero += b[i] != 0;
  EXPECT_EQ(non_zero, 0u);
  EXPECT_EQ(b[IoBuffers::kZeroedBeforeWriteBuffer], 0xEE);
  EXPECT_EQ(b[IoBuffers::kSize - 1], 0xEE);
}

TEST(WriteBufferZerosTest, ZeroesBufferBEvenWhenTheDriveIsClosed) {
  RecordingIo io;
  IoBuffers buffers;
  DriveConnection connection(io, buffers);
  std::memset(buffers.b(), 0xEE, 1024);
  EXPECT_EQ(WriteBufferZeros(connection, kAta), kCommandFailed);
  EXPECT_EQ(Bytes(buffers.b(), buffers.b() + 1024), Bytes(1024, 0));
}

TEST(BridgeRegisterWriteTest, UnknownChipsAreNeverSent) {
  for (std::uint8_t chip : {0, 4, 255}) {
    RecordingIo io;
    IoBuffers buffers;
    DriveConnection connection(io, buffers);
    ASSERT_TRUE(connection.Open(0));
    EXPECT_EQ(BridgeRegisterWrite(connection, chip), kCommandFailed) << int(chip);
    EXPECT_TRUE(io.calls.empty()) << int(chip);
  }
}

TEST(SmartReadDataTest, DataLandsAtTheStartOfBufferA) {
  RecordingIo io;
  io.fill_byte = 0x3C;
  IoBuffers buffers;
  DriveConnection connection(io, buffers);
  ASSERT_TRUE(connection.Open(0));
  for (Transport t : {kAta, kStd, kBridge}) {
    std::memset(buffers.a(), 0, 1024);
    EXPECT_EQ(SmartReadData(connection, t), kCommandOk);
    EXPECT_EQ(buffers.a()[0], 0x3C);
    EXPECT_EQ(buffers.a()[kSelfTestStatusOffset], 0x3C);
    EXPECT_EQ(buffers.a()[511], 0x3C);
    EXPECT_EQ(buffers.a()[512], 0x00);
  }
}

}  // namespace
}  // namespace plovix
