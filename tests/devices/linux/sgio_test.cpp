// The SG_IO road of the Linux adapter, against a fake ioctl and a fake sysfs tree.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "tests/devices/linux/fake_tree.h"
#include "devices/linux/LinuxDeviceIo.h"
#include "devices/linux/SgTranslate.h"

namespace plovix::linuxdev {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr const char* kSataScsi = "/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0";
constexpr const char* kUsbDevice = "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1";
constexpr const char* kUsbScsi =
    "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0";

// What the fake ioctl saw and what it answers.
struct FakeSgIo {
  int calls = 0;
  int fd = -1;
  Bytes cdb;
  int direction = 0;
  unsigned length = 0;
  unsigned timeout = 0;
  unsigned sense_max = 0;
  void* data = nullptr;

  int rc = 0;
  std::uint8_t status = 0;
  unsigned short host_status = 0;
  unsigned short driver_status = 0;
  Bytes sense;
  Bytes data_in;
  int resid = 0;

  int operator()(int f, sg_io_hdr_t* hdr) {
    ++calls;
    fd = f;
    cdb.assign(hdr->cmdp, hdr->cmdp + hdr->cmd_len);
    direction = hdr->dxfer_direction;
    length = hdr->dxfer_len;
    timeout = hdr->timeout;
    sense_max = hdr->mx_sb_len;
    data = hdr->dxferp;
    if (rc != 0) return rc;
    hdr->status = status;
    hdr->masked_status = static_cast<unsigned char>(status >> 1);
    hdr->host_status = host_status;
    hdr->driver_status = driver_status;
    const std::size_t n = std::min<std::size_t>(sense.size(), hdr->mx_sb_len);
    if (n != 0) std::memcpy(hdr->sbp, sense.data(), n);
    hdr->sb_len_wr = static_cast<unsigned char>(n);
    if (!data_in.empty() && hdr->dxferp) std::memcpy(hdr->dxferp, data_in.data(), data_in.size());
    hdr->resid = resid;
    return 0;
  }
};

// A machine with one SATA disk (sda), one USB bulk-only disk (sdb) and one UAS disk (sdc).
class AdapterBench {
 public:
  AdapterBench() {
    tree.ScsiDisk("sda", kSataScsi, "8:0");
    tree.UsbDevice(kUsbDevice, "152d", "0578", "0123456789AB");
    tree.UsbInterface(std::string(kUsbDevice) + "/2-1:1.0", "50");
    tree.ScsiDisk("sdb", kUsbScsi, "8:16");
    const std::string uas = "/sys/devices/pci0000:00/0000:00:14.0/usb4/4-2";
    tree.UsbDevice(uas, "174c", "55aa", "UAS01");
    tree.UsbInterface(uas + "/4-2:1.0", "62");
    tree.ScsiDisk("sdc", uas + "/4-2:1.0/host7/target7:0:0/7:0:0:0", "8:32");
    tree.MountInfo("");
    LinuxSystem system;
    system.root = tree.root();
    system.open_device = [this](const std::string& node) {
      opened.push_back(node.substr(tree.root().size()));
      return next_fd++;
    };
    system.close_device = [this](int fd) { closed.push_back(fd); };
    system.sg_io = [this](int fd, sg_io_hdr_t* hdr) { return sg(fd, hdr); };
    io = std::make_unique<LinuxDeviceIo>(std::move(system));
  }

  testing::FakeLinuxTree tree;
  FakeSgIo sg;
  std::vector<std::string> opened;
  std::vector<int> closed;
  int next_fd = 10;
  std::unique_ptr<LinuxDeviceIo> io;
};

AtaPassThroughRequest Task(std::uint16_t flags, std::array<std::uint8_t, 7> current,
                           std::array<std::uint8_t, 5> previous = {}) {
  AtaPassThroughRequest r;
  r.AtaFlags = flags;
  r.TimeOutValue = 10;
  for (int i = 0; i < 7; ++i) r.CurrentTaskFile[i] = current[static_cast<std::size_t>(i)];
  for (int i = 0; i < 5; ++i) r.PreviousTaskFile[i] = previous[static_cast<std::size_t>(i)];
  return r;
}

// ---------------------------------------------------------------------------------------
// The block built from a task file, and how SG_IO is asked to move the data.

struct CdbCase {
  const char* name;
  AtaPassThroughRequest request;
  Bytes cdb;
  int direction;
};

class LinuxAtaCdb : public ::testing::TestWithParam<CdbCase> {};

TEST_P(LinuxAtaCdb, BlockDirectionAndLengthFollowTheTaskFile) {
  const CdbCase& c = GetParam();
  AdapterBench bench;
  std::uint8_t buffer[512] = {};
  AtaPassThroughRequest request = c.request;
  if (c.direction != SG_DXFER_NONE) {
    request.DataBuffer = buffer;
    request.DataTransferLength = 512;
  }
  const auto cdb = BuildAtaPassThrough16(request);
  EXPECT_EQ(Bytes(cdb.begin(), cdb.end()), c.cdb);

  const DeviceHandle h = bench.io->Open("\\\\.\\PhysicalDrive0");
  ASSERT_NE(h, kInvalidHandle);
  AtaPassThroughRequest reply;
  bench.io->AtaPassThrough(h, request, reply);
  ASSERT_EQ(bench.sg.calls, 1);
  EXPECT_EQ(bench.sg.cdb, c.cdb);
  EXPECT_EQ(bench.sg.direction, c.direction);
  EXPECT_EQ(bench.sg.length, c.direction == SG_DXFER_NONE ? 0u : 512u);
  EXPECT_EQ(bench.sg.data, c.direction == SG_DXFER_NONE ? nullptr : static_cast<void*>(buffer));
  EXPECT_EQ(bench.sg.timeout, 10000u);
  EXPECT_EQ(bench.sg.fd, static_cast<int>(h));
}

INSTANTIATE_TEST_SUITE_P(
    TaskFiles, LinuxAtaCdb,
    ::testing::Values(
        CdbCase{"IdentifyDataIn", Task(kAtaFlagsDataIn, {0, 0, 0, 0, 0, 0x50, 0xEC}),
                {0x85, 0x08, 0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x50, 0xEC, 0},
                SG_DXFER_FROM_DEV},
        CdbCase{"SmartReadDataIn", Task(kAtaFlagsDataIn, {0xD0, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0}),
                {0x85, 0x08, 0x0E, 0, 0xD0, 0, 1, 0, 1, 0, 0x4F, 0, 0xC2, 0xA0, 0xB0, 0},
                SG_DXFER_FROM_DEV},
        CdbCase{"WriteBufferDataOut", Task(kAtaFlagsDataOut, {0, 1, 0, 0, 0, 0xE0, 0xE8}),
                {0x85, 0x0A, 0x06, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xE0, 0xE8, 0},
                SG_DXFER_TO_DEV},
        // Non-data commands ask for the registers back (CK_COND), data commands never.
        CdbCase{"SmartSelfTestNonData", Task(0, {0xD4, 0, 1, 0x4F, 0xC2, 0xA0, 0xB0}),
                {0x85, 0x06, 0x20, 0, 0xD4, 0, 0, 0, 1, 0, 0x4F, 0, 0xC2, 0xA0, 0xB0, 0},
                SG_DXFER_NONE},
        CdbCase{"ReadVerifyExt48Bit",
                Task(kAtaFlags48Bit, {0, 0x34, 0x78, 0x56, 0x34, 0x40, 0x42},
                     {0, 0x12, 0x9A, 0xBC, 0xDE}),
                {0x85, 0x07, 0x20, 0, 0, 0x12, 0x34, 0x9A, 0x78, 0xBC, 0x56, 0xDE, 0x34, 0x40,
                 0x42, 0},
                SG_DXFER_NONE},
        // High-order bytes belong to 48-bit commands only.
        CdbCase{"PreviousIgnoredWithout48Bit",
                Task(0, {0, 1, 2, 3, 4, 0xE0, 0x40}, {9, 9, 9, 9, 9}),
                {0x85, 0x06, 0x20, 0, 0, 0, 1, 0, 2, 0, 3, 0, 4, 0xE0, 0x40, 0}, SG_DXFER_NONE}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// ---------------------------------------------------------------------------------------
// What comes back: the status register from the answer, or a failure.

Bytes Descriptor(std::uint8_t error, std::uint8_t status, std::uint8_t count,
                 std::uint8_t lba_mid, std::uint8_t lba_high, bool extend = false,
                 std::uint8_t hob_count = 0) {
  return {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 14,
          0x09, 0x0C, static_cast<std::uint8_t>(extend ? 1 : 0), error, hob_count, count,
          0, 0x01, 0, lba_mid, 0, lba_high, 0xA0, status};
}
Bytes FixedStandard(std::uint8_t error, std::uint8_t status, std::uint8_t count) {
  return {0x70, 0, 0x01, error, status, 0xA0, count, 0x0A, 0x00, 0x01, 0x4F, 0xC2, 0x00, 0x1D, 0, 0, 0, 0};
}
// Older kernels wrote error, status, device and count at bytes 8..11.
Bytes FixedOldKernel(std::uint8_t key, std::uint8_t error, std::uint8_t status,
                     std::uint8_t count) {
  return {0x70, 0, key, 0, 0, 0, 0, 0x0A, error, status, 0xA0, count, 0x00, 0x1D, 0, 0, 0, 0};
}

struct ReplyCase {
  const char* name;
  bool data_in;
  int rc;
  std::uint8_t scsi_status;
  unsigned short host_status;
  Bytes sense;
  bool ok;
  std::uint8_t status;  // reply status register when ok
  std::uint8_t error;
  std::uint8_t count;
};

class LinuxAtaReply : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(LinuxAtaReply, StatusRegisterComesFromTheAnswer) {
  const ReplyCase& c = GetParam();
  AdapterBench bench;
  bench.sg.rc = c.rc;
  bench.sg.status = c.scsi_status;
  bench.sg.host_status = c.host_status;
  bench.sg.driver_status = c.sense.empty() ? 0 : 0x08;
  bench.sg.sense = c.sense;
  std::uint8_t buffer[512] = {};
  AtaPassThroughRequest request = c.data_in
                                      ? Task(kAtaFlagsDataIn, {0, 0, 0, 0, 0, 0x50, 0xEC})
                                      : Task(0, {0xD8, 0, 0, 0x4F, 0xC2, 0xA0, 0xB0});
  if (c.data_in) {
    request.DataBuffer = buffer;
    request.DataTransferLength = 512;
    bench.sg.data_in.assign(512, 0x5A);
  }
  const DeviceHandle h = bench.io->Open("\\\\.\\PhysicalDrive0");
  AtaPassThroughRequest reply;
  reply.CurrentTaskFile[kTfCommand] = 0xFF;  // stale bytes must not survive
  EXPECT_EQ(bench.io->AtaPassThrough(h, request, reply), c.ok);
  if (c.ok) {
    EXPECT_EQ(reply.CurrentTaskFile[kTfCommand], c.status);
    EXPECT_EQ(reply.CurrentTaskFile[kTfFeature], c.error);
    EXPECT_EQ(reply.CurrentTaskFile[kTfSectorCount], c.count);
  }
  if (c.data_in && c.ok) {
    EXPECT_EQ(buffer[511], 0x5A);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, LinuxAtaReply,
    ::testing::Values(
        ReplyCase{"DataInGoodWithoutSense", true, 0, 0, 0, {}, true, 0x50, 0, 0},
        ReplyCase{"NonDataDescriptorSense", false, 0, 2, 0, Descriptor(0, 0x50, 0x00, 0x4F, 0xC2),
                  true, 0x50, 0, 0},
        ReplyCase{"DescriptorErrSet", false, 0, 2, 0, Descriptor(0x04, 0x51, 0x01, 0x4F, 0xC2),
                  true, 0x51, 0x04, 0x01},
        ReplyCase{"FixedStandardLayout", false, 0, 2, 0, FixedStandard(0, 0x50, 0x07), true,
                  0x50, 0, 0x07},
        ReplyCase{"FixedOldKernelLayout", false, 0, 2, 0, FixedOldKernel(0x01, 0, 0x50, 0x03),
                  true, 0x50, 0, 0x03},
        ReplyCase{"FixedOldKernelErrSet", false, 0, 2, 0, FixedOldKernel(0x0B, 0x04, 0x51, 0),
                  true, 0x51, 0x04, 0},
        // Byte for byte what a 6.1 kernel returned for commands an AHCI drive aborted
        // and for a SMART RETURN STATUS asked with CK_COND.
        ReplyCase{"Kernel61AbortedFixed", false, 0, 2, 0,
                  {0x70, 0, 0x0B, 0, 0, 0, 0, 0x0A, 0x04, 0x41, 0xA0, 0, 0, 0, 0, 0, 0, 0}, true,
                  0x41, 0x04, 0},
        ReplyCase{"Kernel61CkCondDescriptor", false, 0, 2, 0,
                  {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 0x0E, 0x09, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0x4F,
                   0, 0xC2, 0xA0, 0x50},
                  true, 0x50, 0, 0},
        ReplyCase{"DataInFailedByDrive", true, 0, 2, 0, Descriptor(0x04, 0x51, 0, 0, 0), true,
                  0x51, 0x04, 0},
        // A translator that does not know the block answers in plain SCSI terms.
        ReplyCase{"CheckConditionWithoutRegisters", false, 0, 2, 0,
                  {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0x00, 0, 0, 0, 0}, false,
                  0, 0, 0},
        ReplyCase{"DescriptorSenseWithoutAtaDescriptor", false, 0, 2, 0,
                  {0x72, 0x05, 0x24, 0x00, 0, 0, 0, 0}, false, 0, 0, 0},
        ReplyCase{"TimedOut", false, 0, 0, 0x03, {}, false, 0, 0, 0},
        ReplyCase{"IoctlFailed", true, -1, 0, 0, {}, false, 0, 0, 0}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(LinuxAtaSense, ExtendedRegistersLandInThePreviousTaskFile) {
  const Bytes sense = Descriptor(0, 0x50, 0x34, 0x56, 0x78, /*extend=*/true, /*hob_count=*/0x12);
  AtaPassThroughRequest reply;
  ASSERT_TRUE(ReplyFromSense(sense.data(), sense.size(), reply));
  EXPECT_EQ(reply.CurrentTaskFile[kTfSectorCount], 0x34);
  EXPECT_EQ(reply.PreviousTaskFile[kTfSectorCount], 0x12);
  EXPECT_EQ(reply.CurrentTaskFile[kTfLbaMid], 0x56);
  EXPECT_EQ(reply.CurrentTaskFile[kTfDevice], 0xA0);
}

TEST(LinuxAtaSense, TruncatedOrForeignSenseCarriesNoRegisters) {
  const Bytes descriptor = Descriptor(0, 0x50, 0, 0, 0);
  struct Case {
    Bytes sense;
  };
  const Case cases[] = {
      {Bytes(descriptor.begin(), descriptor.begin() + 15)},  // descriptor cut short
      {Bytes{0x70, 0, 0x01, 0, 0}},                          // fixed, too short
      {Bytes{0x7F, 0, 0, 0, 0x50, 0, 0, 0, 0, 0x50, 0, 0}},  // vendor-specific format
      {Bytes{}},
  };
  for (const auto& c : cases) {
    AtaPassThroughRequest reply;
    EXPECT_FALSE(ReplyFromSense(c.sense.data(), c.sense.size(), reply));
  }
}

// ---------------------------------------------------------------------------------------
// SCSI pass-through: the block goes out as given.

struct ScsiCase {
  const char* name;
  Bytes cdb;
  std::uint8_t data_in;
  std::uint32_t length;
  int direction;
};

class LinuxScsiPassThrough : public ::testing::TestWithParam<ScsiCase> {};

TEST_P(LinuxScsiPassThrough, CdbDirectionAndLengthAsGiven) {
  const ScsiCase& c = GetParam();
  AdapterBench bench;
  std::uint8_t buffer[512] = {};
  ScsiPassThroughRequest request;
  request.CdbLength = static_cast<std::uint8_t>(c.cdb.size());
  std::memcpy(request.Cdb, c.cdb.data(), c.cdb.size());
  request.DataIn = c.data_in;
  request.DataTransferLength = c.length;
  request.DataBuffer = c.length ? buffer : nullptr;
  request.SenseInfoLength = 24;
  request.TimeOutValue = 10;
  const DeviceHandle h = bench.io->Open("\\\\.\\PhysicalDrive1");  // the USB disk
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_TRUE(bench.io->ScsiPassThrough(h, request));
  EXPECT_EQ(bench.sg.cdb, c.cdb);
  EXPECT_EQ(bench.sg.direction, c.direction);
  EXPECT_EQ(bench.sg.length, c.length);
  EXPECT_EQ(bench.sg.timeout, 10000u);
  EXPECT_EQ(bench.sg.sense_max, 24u);
  EXPECT_EQ(request.ScsiStatus, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, LinuxScsiPassThrough,
    ::testing::Values(
        ScsiCase{"Inquiry", {0x12, 0x10, 0, 0, 0x28, 0}, kScsiDataIn, 40, SG_DXFER_FROM_DEV},
        ScsiCase{"AtaPassThrough12", {0xA1, 0x08, 0x0B, 0, 0, 0, 0, 0, 0, 0xEC, 0, 0},
                 kScsiDataIn, 512, SG_DXFER_FROM_DEV},
        ScsiCase{"BridgeVendorBlock", {0xDF, 0x10, 0, 0x02, 0, 0x02, 0, 0, 0, 0, 0xE0, 0xEC},
                 kScsiDataIn, 512, SG_DXFER_FROM_DEV},
        ScsiCase{"BridgeRegisterWriteOut", {0xDF, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0}, kScsiDataOut,
                 4, SG_DXFER_TO_DEV},
        ScsiCase{"AtaPassThrough16NonData",
                 {0x85, 0x07, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0x40, 0x42, 0},
                 kScsiDataUnspecified, 0, SG_DXFER_NONE}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(LinuxScsiOutcome, StatusSenseAndFailures) {
  struct Case {
    const char* name;
    int rc;
    std::uint8_t status;
    unsigned short host_status;
    std::uint8_t cdb_length;
    bool ok;
    int calls;
  };
  const Case cases[] = {
      {"CheckConditionReported", 0, 0x02, 0, 12, true, 1},
      {"TimedOut", 0, 0, 0x03, 12, false, 1},
      {"IoctlFailed", -1, 0, 0, 12, false, 1},
      {"NoBlock", 0, 0, 0, 0, false, 0},
      {"BlockTooLong", 0, 0, 0, 17, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AdapterBench bench;
    bench.sg.rc = c.rc;
    bench.sg.status = c.status;
    bench.sg.host_status = c.host_status;
    bench.sg.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0x00};
    ScsiPassThroughRequest request;
    request.CdbLength = c.cdb_length;
    request.Cdb[0] = 0xA1;
    request.SenseInfoLength = 24;
    const DeviceHandle h = bench.io->Open("\\\\.\\PhysicalDrive1");
    EXPECT_EQ(bench.io->ScsiPassThrough(h, request), c.ok);
    EXPECT_EQ(bench.sg.calls, c.calls);
    if (c.ok) {
      EXPECT_EQ(request.ScsiStatus, c.status);
      EXPECT_EQ(request.Sense[2], 0x05);
      EXPECT_EQ(request.Sense[12], 0x20);
    }
  }
}

TEST(LinuxScsiOutcome, ShortTransferShrinksTheLength) {
  AdapterBench bench;
  bench.sg.resid = 4;
  std::uint8_t buffer[40] = {};
  ScsiPassThroughRequest request;
  request.CdbLength = 6;
  request.Cdb[0] = 0x12;
  request.Cdb[4] = 40;
  request.DataIn = kScsiDataIn;
  request.DataTransferLength = 40;
  request.DataBuffer = buffer;
  EXPECT_TRUE(bench.io->ScsiPassThrough(bench.io->Open("\\\\.\\PhysicalDrive1"), request));
  EXPECT_EQ(request.DataTransferLength, 36u);
}

// ---------------------------------------------------------------------------------------
// USB drives take the SCSI road: ATA pass-through is refused without any I/O.

TEST(LinuxUsbRefusal, AtaPassThroughRefusedOnUsbDisksOnly) {
  struct Case {
    const char* path;
    bool usb;
  };
  const Case cases[] = {
      {"\\\\.\\PhysicalDrive0", false},  // SATA
      {"\\\\.\\PhysicalDrive1", true},   // bulk-only
      {"\\\\.\\PhysicalDrive2", true},   // UAS
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    AdapterBench bench;
    const DeviceHandle h = bench.io->Open(c.path);
    ASSERT_NE(h, kInvalidHandle);
    std::uint8_t buffer[512];
    AtaPassThroughRequest request = Task(kAtaFlagsDataIn, {0, 0, 0, 0, 0, 0x50, 0xEC});
    request.DataBuffer = buffer;
    request.DataTransferLength = 512;
    AtaPassThroughRequest reply;
    EXPECT_EQ(bench.io->AtaPassThrough(h, request, reply), !c.usb);
    EXPECT_EQ(bench.sg.calls, c.usb ? 0 : 1);
    ScsiPassThroughRequest inquiry;
    inquiry.CdbLength = 6;
    inquiry.Cdb[0] = 0x12;
    EXPECT_TRUE(bench.io->ScsiPassThrough(h, inquiry));
  }
}

TEST(LinuxHandles, ClosedOrUnknownHandlesDoNoIo) {
  AdapterBench bench;
  const DeviceHandle h = bench.io->Open("\\\\.\\PhysicalDrive0");
  bench.io->Close(h);
  bench.io->Close(h);  // a second close is harmless and closes nothing more
  EXPECT_EQ(bench.closed, std::vector<int>{static_cast<int>(h)});
  AtaPassThroughRequest request = Task(0, {0xD8, 0, 0, 0x4F, 0xC2, 0xA0, 0xB0});
  AtaPassThroughRequest reply;
  ScsiPassThroughRequest scsi;
  scsi.CdbLength = 6;
  EXPECT_FALSE(bench.io->AtaPassThrough(h, request, reply));
  EXPECT_FALSE(bench.io->ScsiPassThrough(h, scsi));
  EXPECT_FALSE(bench.io->AtaPassThrough(kInvalidHandle, request, reply));
  EXPECT_EQ(bench.sg.calls, 0);
}

TEST(LinuxHandles, DataCommandWithoutBufferIsRefused) {
  AdapterBench bench;
  const DeviceHandle h = bench.io->Open("\\\\.\\PhysicalDrive0");
  AtaPassThroughRequest request = Task(kAtaFlagsDataIn, {0, 0, 0, 0, 0, 0x50, 0xEC});
  AtaPassThroughRequest reply;
  EXPECT_FALSE(bench.io->AtaPassThrough(h, request, reply));
  EXPECT_EQ(bench.sg.calls, 0);
}

}  // namespace
}  // namespace plovix::linuxdev
