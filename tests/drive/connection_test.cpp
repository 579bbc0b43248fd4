// The connection: open/close discipline and what counts as success on each transport.
#include <gtest/gtest.h>

#include <ostream>

#include <cstring>
#include <string>
#include <vector>

#include "drive/DriveConnection.h"

namespace plovix {
namespace {

class ScriptedIo : public DeviceIo {
 public:
  bool open_works = true;
  bool call_works = true;
  std::uint8_t ata_status = 0x50;
  std::uint8_t scsi_status = 0;
  std::vector<std::string> opened;
  std::vector<DeviceHandle> closed;
  int ata_calls = 0;
  int scsi_calls = 0;
  AtaPassThroughRequest last_ata;
  DeviceHandle last_handle = kInvalidHandle;

  DeviceHandle Open(const std::string& path) override {
    opened.push_back(path);
    return open_works ? 42 : kInvalidHandle;
  }
  void Close(DeviceHandle handle) override { closed.push_back(handle); }
  bool AtaPassThrough(DeviceHandle handle, const AtaPassThroughRequest& request,
                      AtaPassThroughRequest& reply) override {
    ++ata_calls;
    last_ata = request;
    last_handle = handle;
    if (!call_works) return false;
    reply.CurrentTaskFile[kTfCommand] = ata_status;
    return true;
  }
  bool ScsiPassThrough(DeviceHandle handle, ScsiPassThroughRequest& request) override {
    ++scsi_calls;
    last_handle = handle;
    if (!call_works) return false;
    request.ScsiStatus = scsi_status;
    return true;
  }
};

struct StatusCase {
  const char* name;
  bool call_works;
  std::uint8_t ata_status;
  std::uint8_t scsi_status;
  bool ata_ok;
  bool scsi_ok;
};

void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }

class SendResultTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(SendResultTest, SuccessNeedsTheCallAndAGoodStatus) {
  const StatusCase& c = GetParam();
  ScriptedIo io;
  io.call_works = c.call_works;
  io.ata_status = c.ata_status;
  io.scsi_status = c.scsi_status;
  IoBuffers buffers;
  DriveConnection connection(io, buffers);
  ASSERT_TRUE(connection.Open(0));
  AtaPassThroughRequest request, reply;
  EXPECT_EQ(connection.SendAta(request, reply), c.ata_ok);
  ScsiPassThroughRequest scsi;
  EXPECT_EQ(connection.SendScsi(scsi), c.scsi_ok);
  EXPECT_EQ(io.ata_calls, 1);
  EXPECT_EQ(io.scsi_calls, 1);
  EXPECT_EQ(io.last_handle, 42);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, SendResultTest,
    ::testing::Values(StatusCase{"ReadyGood", true, 0x50, 0x00, true, true},
                      StatusCase{"ErrSetCheckCondition", true, 0x51, 0x02, false, false},
                      StatusCase{"OnlyErrBitCounts", true, 0xFE, 0x00, true, true},
                      StatusCase{"Busy", true, 0x01, 0x08, false, false},
                      StatusCase{"CallFailed", false, 0x50, 0x00, false, false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(DriveConnectionTest, ClosedConnectionSendsNothingAndClearsTheReply) {
  ScriptedIo io;
  IoBuffers buffers;
  DriveConnection connection(io, buffers);
  AtaPassThroughRequest request, reply;
  std::memset(reply.CurrentTaskFile, 0x77, sizeof reply.CurrentTaskFile);
  reply.AtaFlags = 9;
  EXPECT_FALSE(connection.SendAta(request, reply));
  ScsiPassThroughRequest scsi;
  EXPECT_FALSE(connection.SendScsi(scsi));
  EXPECT_FALSE(IdentifyDevice(connection));
  EXPECT_FALSE(IdentifyDeviceScsi(connection, 0));
  EXPECT_FALSE(IdentifyDeviceScsi(connection, 1));
  EXPECT_FALSE(Inquiry(connection));
  EXPECT_EQ(io.ata_calls + io.scsi_calls, 0);
  EXPECT_EQ(reply.Length, 0);
  EXPECT_EQ(reply.AtaFlags, 0);
  for (std::uint8_t b : reply.CurrentTaskFile) EXPECT_EQ(b, 0);
}

TEST(DriveConnectionTest, FailedOpenKeepsNoHandleAndCloseDoesNothing) {
  ScriptedIo io;
  io.open_works = false;
  IoBuffers buffers;
  DriveConnection connection(io, buffers);
  EXPECT_FALSE(connection.Open(31));
  EXPECT_FALSE(connection.IsOpen());
  connection.Close();
  connection.Close();
  EXPECT_TRUE(io.closed.empty());
  EXPECT_EQ(io.opened, std::vector<std::string>{"\\\\.\\PhysicalDrive31"});
  ScsiPassThroughRequest scsi;
  EXPECT_FALSE(connection.SendScsi(scsi));
  EXPECT_EQ(io.scsi_calls, 0);
}

TEST(DriveConnectionTest, CloseReleasesTheHandleOnce) {
  ScriptedIo io;
  IoBuffers buffers;
  {
    DriveConnection connection(io, buffers);
    ASSERT_TRUE(connection.Open(5));
    connection.Close();
    connection.Close();
    EXPECT_EQ(io.closed, std::vector<DeviceHandle>{42});
    ASSERT_TRUE(connection.Open(6));
  }
  // The connection lets go of what it holds when it goes away.
  EXPECT_EQ(io.closed, (std::vector<DeviceHandle>{42, 42}));
}

TEST(DriveConnectionTest, OpeningAgainReleasesTheEarlierHandle) {
  ScriptedIo io;
  IoBuffers buffers;
  DriveConnection connection(io, buffers);
  ASSERT_TRUE(connection.Open(1));
  io.open_works = false;
  EXPECT_FALSE(connection.Open(2));
  EXPECT_EQ(io.closed, std::vector<DeviceHandle>{42});
  EXPECT_FALSE(connection.IsOpen());
}

TEST(DriveConnectionTest, InquiryClearsItsAreaBeforeAsking) {
  ScriptedIo io;
  io.scsi_status = 0x02;
  IoBuffers buffers;
  DriveConnection connection(io, buffers);
  std::memset(connection.inquiry_data, 'x', sizeof connection.inquiry_data);
  ASSERT_TRUE(connection.Open(0));
  EXPECT_FALSE(Inquiry(connection));
  for (std::uint8_t b : connection.inquiry_data) EXPECT_EQ(b, 0);
}

TEST(DriveConnectionTest, VolumeProbeUsesTheGivenHandle) {
  ScriptedIo io;
  IoBuffers buffers;
  EXPECT_FALSE(IdentifyDeviceOnHandle(io, kInvalidHandle, buffers));
  EXPECT_EQ(io.ata_calls, 0);
  EXPECT_TRUE(IdentifyDeviceOnHandle(io, 9, buffers));
  EXPECT_EQ(io.last_handle, 9);
  EXPECT_EQ(io.last_ata.AtaFlags, kAtaFlagsDataIn);
  EXPECT_EQ(io.last_ata.DataBuffer, buffers.a());
  EXPECT_EQ(io.last_ata.CurrentTaskFile[kTfCommand], 0xEC);
  EXPECT_EQ(io.last_ata.CurrentTaskFile[kTfDevice], 0x50);
  io.ata_status = 0x51;
  EXPECT_FALSE(IdentifyDeviceOnHandle(io, 9, buffers));
}

TEST(DrivePathTest, PathsAreWindowsDeviceNames) {
  const struct {
    int n;
    const char* path;
  } drives[] = {{0, "\\\\.\\PhysicalDrive0"}, {9, "\\\\.\\PhysicalDrive9"},
                {31, "\\\\.\\PhysicalDrive31"}};
  for (const auto& d : drives) EXPECT_EQ(PhysicalDrivePath(d.n), d.path);
  EXPECT_EQ(VolumePath('C'), "\\\\.\\C:");
  EXPECT_EQ(VolumePath('Z'), "\\\\.\\Z:");
}

}  // namespace
}  // namespace plovix
