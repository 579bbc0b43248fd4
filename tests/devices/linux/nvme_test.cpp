// The NVMe road of the Linux adapter: requests into the kernel's pass-through command,
// the kernel's answers into replies, against a fake ioctl and a fake sysfs tree.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "drive/NvmeCommands.h"
#include "tests/devices/linux/fake_tree.h"
#include "devices/linux/LinuxDeviceIo.h"
#include "devices/linux/NvmeTranslate.h"

namespace plovix::linuxdev {
namespace {

constexpr const char* kSataScsi =
    "/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0";
constexpr const char* kNvme0 = "/sys/devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0";

// What the fake ioctl saw and what it answers.
struct FakeNvmeIoctl {
  int calls = 0;
  int fd = -1;
  unsigned long request = 0;
  bool had_cmd = false;
  nvme_passthru_cmd seen{};

  long long answer = 0;
  std::uint32_t result = 0;

  long long operator()(int f, unsigned long r, nvme_passthru_cmd* cmd) {
    ++calls;
    fd = f;
    request = r;
    had_cmd = cmd != nullptr;
    if (cmd != nullptr) {
      seen = *cmd;
      cmd->result = result;
    }
    return answer;
  }
};

// sda a SATA disk, nvme0n1 a namespace of controller nvme0.
class NvmeBench {
 public:
  NvmeBench() {
    tree.ScsiDisk("sda", kSataScsi, "8:0");
    tree.NvmeDisk("nvme0n1", kNvme0, "259:0");
    tree.MountInfo("");
    LinuxSystem system;
    system.root = tree.root();
    system.open_device = [this](const std::string&) { return next_fd++; };
    system.close_device = [](int) {};
    system.sg_io = [this](int, sg_io_hdr_t*) {
      ++sg_calls;
      return 0;
    };
    system.nvme_ioctl = [this](int fd, unsigned long request, nvme_passthru_cmd* cmd) {
      return nvme(fd, request, cmd);
    };
    io = std::make_unique<LinuxDeviceIo>(std::move(system));
  }
  DeviceHandle OpenNvme() { return io->Open("\\\\.\\PhysicalDrive31"); }

  testing::FakeLinuxTree tree;
  FakeNvmeIoctl nvme;
  int sg_calls = 0;
  int next_fd = 20;
  std::unique_ptr<LinuxDeviceIo> io;
};

// ---------------------------------------------------------------------------------------
// Requests: every field the program sets lands in its place, nothing else is set.

std::uint8_t g_buffer[4096];

NvmeRequest EveryField() {
  NvmeRequest r;
  r.queue = NvmeQueue::Io;
  r.opcode = 0x02;
  r.nsid = 0x01020304;
  r.cdw2 = 0x22222222;
  r.cdw3 = 0x33333333;
  r.cdw10 = 0xAAAA0010;
  r.cdw11 = 0xBBBB0011;
  r.cdw12 = 0xCCCC0012;
  r.cdw13 = 0xDDDD0013;
  r.cdw14 = 0xEEEE0014;
  r.cdw15 = 0xFFFF0015;
  r.direction = NvmeData::FromDevice;
  r.data = g_buffer;
  r.data_length = 4096;
  r.timeout_seconds = 7;
  return r;
}

struct Expected {
  std::uint8_t opcode;
  std::uint32_t nsid;
  std::uint32_t cdw2, cdw3, cdw10, cdw11, cdw12, cdw13, cdw14, cdw15;
  bool data;
  std::uint32_t data_len;
  std::uint32_t timeout_ms;
};

struct PassthruCase {
  const char* name;
  NvmeRequest request;
  unsigned long ioctl;
  Expected cmd;
};

class LinuxNvmeRequest : public ::testing::TestWithParam<PassthruCase> {};

TEST_P(LinuxNvmeRequest, FieldsLandInTheKernelCommand) {
  const PassthruCase& c = GetParam();
  NvmeBench bench;
  const DeviceHandle h = bench.OpenNvme();
  ASSERT_NE(h, kInvalidHandle);
  bench.io->NvmePassThrough(h, c.request);
  ASSERT_EQ(bench.nvme.calls, 1);
  EXPECT_EQ(bench.nvme.fd, static_cast<int>(h));
  EXPECT_EQ(bench.nvme.request, c.ioctl);
  const nvme_passthru_cmd& k = bench.nvme.seen;
  EXPECT_EQ(k.opcode, c.cmd.opcode);
  EXPECT_EQ(k.flags, 0);
  EXPECT_EQ(k.rsvd1, 0);
  EXPECT_EQ(k.nsid, c.cmd.nsid);
  EXPECT_EQ(k.cdw2, c.cmd.cdw2);
  EXPECT_EQ(k.cdw3, c.cmd.cdw3);
  EXPECT_EQ(k.cdw10, c.cmd.cdw10);
  EXPECT_EQ(k.cdw11, c.cmd.cdw11);
  EXPECT_EQ(k.cdw12, c.cmd.cdw12);
  EXPECT_EQ(k.cdw13, c.cmd.cdw13);
  EXPECT_EQ(k.cdw14, c.cmd.cdw14);
  EXPECT_EQ(k.cdw15, c.cmd.cdw15);
  EXPECT_EQ(k.metadata, 0u);
  EXPECT_EQ(k.metadata_len, 0u);
  EXPECT_EQ(k.addr, c.cmd.data ? reinterpret_cast<std::uintptr_t>(c.request.data) : 0u);
  EXPECT_EQ(k.data_len, c.cmd.data_len);
  EXPECT_EQ(k.timeout_ms, c.cmd.timeout_ms);
}

PassthruCase Row(const char* name, const std::optional<NvmeRequest>& request, unsigned long ioctl,
                 Expected cmd) {
  return PassthruCase{name, *request, ioctl, cmd};
}

INSTANTIATE_TEST_SUITE_P(
    Commands, LinuxNvmeRequest,
    ::testing::Values(
        Row("EveryFieldDistinct", EveryField(), NVME_IOCTL_IO_CMD,
            {0x02, 0x01020304, 0x22222222, 0x33333333, 0xAAAA0010, 0xBBBB0011, 0xCCCC0012,
             0xDDDD0013, 0xEEEE0014, 0xFFFF0015, true, 4096, 7000}),
        Row("IdentifyController", EncodeIdentifyController(g_buffer), NVME_IOCTL_ADMIN_CMD,
            {0x06, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, true, 4096, 10000}),
        Row("IdentifyNamespace", EncodeIdentifyNamespace(3, g_buffer), NVME_IOCTL_ADMIN_CMD,
            {0x06, 3, 0, 0, 0x00, 0, 0, 0, 0, 0, true, 4096, 10000}),
        Row("HealthLog", EncodeGetLogPage(0x02, kNvmeAllNamespaces, g_buffer, 512),
            NVME_IOCTL_ADMIN_CMD,
            {0x02, 0xFFFFFFFF, 0, 0, 0x007F0002, 0, 0, 0, 0, 0, true, 512, 10000}),
        Row("SelfTestLog", EncodeGetLogPage(0x06, kNvmeAllNamespaces, g_buffer, 564),
            NVME_IOCTL_ADMIN_CMD,
            {0x02, 0xFFFFFFFF, 0, 0, 0x008C0006, 0, 0, 0, 0, 0, true, 564, 10000}),
        Row("ShortSelfTest", EncodeDeviceSelfTest(kNvmeAllNamespaces, NvmeSelfTestCode::Short),
            NVME_IOCTL_ADMIN_CMD, {0x14, 0xFFFFFFFF, 0, 0, 0x1, 0, 0, 0, 0, 0, false, 0, 10000}),
        Row("AbortSelfTest", EncodeDeviceSelfTest(kNvmeAllNamespaces, NvmeSelfTestCode::Abort),
            NVME_IOCTL_ADMIN_CMD, {0x14, 0xFFFFFFFF, 0, 0, 0xF, 0, 0, 0, 0, 0, false, 0, 10000}),
        // A 64-bit LBA splits over CDW10 and CDW11; NLB is zero-based.
        Row("VerifyHighLba", EncodeVerify(1, 0x0000000123456789ULL, 65536), NVME_IOCTL_IO_CMD,
            {0x0C, 1, 0, 0, 0x23456789, 0x1, 0xFFFF, 0, 0, 0, false, 0, 10000}),
        Row("WriteZeroes", EncodeWriteZeroes(2, 2048, 8), NVME_IOCTL_IO_CMD,
            {0x08, 2, 0, 0, 2048, 0, 7, 0, 0, 0, false, 0, 10000}),
        Row("Read4kBlocks", EncodeRead(1, 100, 1, 4096, g_buffer), NVME_IOCTL_IO_CMD,
            {0x02, 1, 0, 0, 100, 0, 0, 0, 0, 0, true, 4096, 10000}),
        Row("WriteFromBuffer", EncodeWrite(1, 7, 2, 512, g_buffer), NVME_IOCTL_IO_CMD,
            {0x01, 1, 0, 0, 7, 0, 1, 0, 0, 0, true, 1024, 10000})),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(LinuxNvmeRequestTimeout, SecondsBecomeMillisecondsWithTheDefaultForNone) {
  struct Case {
    std::uint32_t seconds;
    std::uint32_t ms;
  };
  const Case cases[] = {{0, 10000},
                        {1, 1000},
                        {10, 10000},
                        {600, 600000},
                        {4294967, 4294967000u},
                        {4294968, 4294967000u},
                        {0xFFFFFFFF, 4294967000u}};
  for (const auto& c : cases) {
    NvmeRequest r;
    r.timeout_seconds = c.seconds;
    EXPECT_EQ(BuildNvmePassthru(r).timeout_ms, c.ms) << c.seconds;
  }
}

// ---------------------------------------------------------------------------------------
// Answers: the ioctl's value or errno, into the reply.

struct AnswerCase {
  const char* name;
  long long answer;
  NvmeOutcome outcome;
  std::uint16_t status;
  std::uint32_t dw0;  // expected in the reply; the fake hands back 0xC0FFEE
};

class LinuxNvmeAnswer : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(LinuxNvmeAnswer, KernelAnswerBecomesTheReply) {
  const AnswerCase& c = GetParam();
  NvmeBench bench;
  bench.nvme.answer = c.answer;
  bench.nvme.result = 0xC0FFEE;
  const DeviceHandle h = bench.OpenNvme();
  const NvmeReply reply = bench.io->NvmePassThrough(h, EncodeIdentifyController(g_buffer));
  EXPECT_EQ(bench.nvme.calls, 1);
  EXPECT_EQ(reply.outcome, c.outcome);
  EXPECT_EQ(reply.status, c.status);
  EXPECT_EQ(reply.dw0, c.dw0);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, LinuxNvmeAnswer,
    ::testing::Values(
        AnswerCase{"Success", 0, NvmeOutcome::Completed, 0, 0xC0FFEE},
        AnswerCase{"InvalidOpcodeDnr", 0x4001, NvmeOutcome::Completed, 0x4001, 0xC0FFEE},
        AnswerCase{"InvalidField", 0x0002, NvmeOutcome::Completed, 0x0002, 0xC0FFEE},
        AnswerCase{"InvalidLogPage", 0x4109, NvmeOutcome::Completed, 0x4109, 0xC0FFEE},
        AnswerCase{"LbaOutOfRange", 0x4080, NvmeOutcome::Completed, 0x4080, 0xC0FFEE},
        AnswerCase{"UnrecoveredReadError", 0x0281, NvmeOutcome::Completed, 0x0281, 0xC0FFEE},
        AnswerCase{"MoreAndCrdBitsKept", 0x3802, NvmeOutcome::Completed, 0x3802, 0xC0FFEE},
        // Path statuses: what the host made up when it gave up, or lost the way.
        AnswerCase{"HostAbortedAfterTimeOut", 0x0371, NvmeOutcome::CallFailed, 0, 0},
        AnswerCase{"HostPathError", 0x0370, NvmeOutcome::CallFailed, 0, 0},
        AnswerCase{"AnaTransitionDnr", 0x4303, NvmeOutcome::CallFailed, 0, 0},
        AnswerCase{"NotPermitted", -EACCES, NvmeOutcome::Refused, 0, 0},
        AnswerCase{"Eperm", -EPERM, NvmeOutcome::Refused, 0, 0},
        AnswerCase{"KernelWillNotPassIt", -EINVAL, NvmeOutcome::Refused, 0, 0},
        AnswerCase{"NotSupported", -EOPNOTSUPP, NvmeOutcome::Refused, 0, 0},
        AnswerCase{"NoNvmeIoctls", -ENOTTY, NvmeOutcome::NoNvme, 0, 0},
        AnswerCase{"IoError", -EIO, NvmeOutcome::CallFailed, 0, 0},
        AnswerCase{"TimedOut", -ETIMEDOUT, NvmeOutcome::CallFailed, 0, 0},
        AnswerCase{"CancelledByTheKernel", -EINTR, NvmeOutcome::CallFailed, 0, 0},
        AnswerCase{"NoPathLeft", -EWOULDBLOCK, NvmeOutcome::CallFailed, 0, 0},
        AnswerCase{"DeviceGone", -ENODEV, NvmeOutcome::CallFailed, 0, 0},
        AnswerCase{"NoSuchDevice", -ENXIO, NvmeOutcome::CallFailed, 0, 0},
        AnswerCase{"BadAddress", -EFAULT, NvmeOutcome::CallFailed, 0, 0},
        AnswerCase{"OutOfMemory", -ENOMEM, NvmeOutcome::CallFailed, 0, 0}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// ---------------------------------------------------------------------------------------
// Which handles carry NVMe, and what is sent without asking the kernel.

TEST(LinuxNvmeHandles, OnlyNamespacesCarryNvmeAndOnlyScsiDisksCarrySgIo) {
  NvmeBench bench;
  bench.nvme.answer = 1;  // NVME_IOCTL_ID: namespace 1
  const DeviceHandle sata = bench.io->Open("\\\\.\\PhysicalDrive0");
  const DeviceHandle nvme = bench.OpenNvme();
  ASSERT_NE(sata, kInvalidHandle);
  ASSERT_NE(nvme, kInvalidHandle);

  // A SCSI disk: NVMe is refused as not there, without a call.
  EXPECT_EQ(bench.io->NvmePassThrough(sata, EncodeIdentifyController(g_buffer)).outcome,
            NvmeOutcome::NoNvme);
  EXPECT_EQ(bench.io->NvmeNamespaceId(sata), std::nullopt);
  EXPECT_EQ(bench.nvme.calls, 0);

  // The namespace: its id through NVME_IOCTL_ID, and no SG_IO at all.
  EXPECT_EQ(bench.io->NvmeNamespaceId(nvme), 1u);
  EXPECT_EQ(bench.nvme.request, static_cast<unsigned long>(NVME_IOCTL_ID));
  EXPECT_FALSE(bench.nvme.had_cmd);
  EXPECT_EQ(bench.nvme.fd, static_cast<int>(nvme));
  AtaPassThroughRequest ata;
  ata.CurrentTaskFile[kTfCommand] = 0xEC;
  AtaPassThroughRequest reply;
  ScsiPassThroughRequest scsi;
  scsi.CdbLength = 6;
  scsi.Cdb[0] = 0x12;
  EXPECT_FALSE(bench.io->AtaPassThrough(nvme, ata, reply));
  EXPECT_FALSE(bench.io->ScsiPassThrough(nvme, scsi));
  EXPECT_EQ(bench.sg_calls, 0);
}

TEST(LinuxNvmeHandles, RequestsThatWouldMoveTheWrongMemoryAreNotSent) {
  struct Case {
    const char* name;
    NvmeRequest request;
  };
  NvmeRequest in_without_buffer = EncodeIdentifyController(g_buffer);
  in_without_buffer.data = nullptr;
  NvmeRequest read_as_write = EncodeIdentifyController(g_buffer);
  read_as_write.direction = NvmeData::ToDevice;
  NvmeRequest non_data_with_buffer =
      EncodeDeviceSelfTest(kNvmeAllNamespaces, NvmeSelfTestCode::Short);
  non_data_with_buffer.data = g_buffer;
  non_data_with_buffer.data_length = 512;
  NvmeRequest bidirectional = EveryField();
  bidirectional.opcode = 0x03;
  NvmeRequest zero_length = *EncodeRead(1, 0, 1, 512, g_buffer);
  zero_length.data_length = 0;
  const Case cases[] = {{"DataInWithoutBuffer", in_without_buffer},
                        {"ReadOpcodeWritingOut", read_as_write},
                        {"NonDataWithBuffer", non_data_with_buffer},
                        {"Bidirectional", bidirectional},
                        {"DataWithoutLength", zero_length}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NvmeBench bench;
    const NvmeReply reply = bench.io->NvmePassThrough(bench.OpenNvme(), c.request);
    EXPECT_EQ(reply.outcome, NvmeOutcome::NotSent);
    EXPECT_EQ(bench.nvme.calls, 0);
  }
}

TEST(LinuxNvmeHandles, ClosedHandlesAndAnAdapterWithoutTheIoctl) {
  NvmeBench bench;
  const DeviceHandle h = bench.OpenNvme();
  bench.io->Close(h);
  EXPECT_EQ(bench.io->NvmePassThrough(h, EncodeIdentifyController(g_buffer)).outcome,
            NvmeOutcome::NotSent);
  EXPECT_EQ(bench.io->NvmeNamespaceId(h), std::nullopt);
  EXPECT_EQ(bench.io->NvmePassThrough(kInvalidHandle, EncodeIdentifyController(g_buffer)).outcome,
            NvmeOutcome::NotSent);
  EXPECT_EQ(bench.nvme.calls, 0);

  LinuxSystem bare;
  bare.root = bench.tree.root();
  bare.open_device = [](const std::string&) { return 9; };
  bare.close_device = [](int) {};
  LinuxDeviceIo io(bare);
  const DeviceHandle other = io.Open("\\\\.\\PhysicalDrive31");
  ASSERT_NE(other, kInvalidHandle);
  EXPECT_EQ(io.NvmePassThrough(other, EncodeIdentifyController(g_buffer)).outcome,
            NvmeOutcome::NoNvme);
  EXPECT_EQ(io.NvmeNamespaceId(other), std::nullopt);
}

TEST(LinuxNvmeHandles, NamespaceIdsNoNamespaceCanHaveAreNone) {
  struct Case {
    long long answer;
    std::optional<std::uint32_t> nsid;
  };
  const Case cases[] = {{1, 1u},
                        {0x7FFFFFFF, 0x7FFFFFFFu},
                        {0x80000001LL, 0x80000001u},  // beyond int: kept whole
                        {0xFFFFFFFELL, 0xFFFFFFFEu},
                        {0, std::nullopt},
                        {0xFFFFFFFFLL, std::nullopt},
                        {-ENOTTY, std::nullopt},
                        {-EIO, std::nullopt}};
  for (const auto& c : cases) {
    NvmeBench bench;
    bench.nvme.answer = c.answer;
    EXPECT_EQ(bench.io->NvmeNamespaceId(bench.OpenNvme()), c.nsid) << c.answer;
  }
}

}  // namespace
}  // namespace plovix::linuxdev
