// The Windows adapter's NVMe translation, on a fake machine: the bytes of each request
// Windows is given (at the offsets its documentation fixes), what each answer and each
// Win32 error becomes for the flows, and the commands Windows does not carry.
#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <string>
#include <vector>

#include "drive/DriveConnection.h"
#include "drive/IoBuffers.h"
#include "drive/NvmeCommands.h"
#include "devices/win32/Win32DeviceIo.h"
#include "devices/win32/Win32Nvme.h"
#include "tests/devices/win32/fake_machine.h"

namespace plovix::win32 {
namespace {

using testing_fake::Dword;
using testing_fake::FakeMachine;
using testing_fake::NvmeDisk;
using testing_fake::PutDword;

const std::wstring kDisk = L"\\\\.\\PhysicalDrive1";

std::vector<std::uint8_t> ControllerData(std::uint32_t namespaces) {
  std::vector<std::uint8_t> data(4096, 0);
  const std::string model = "NVMe Fake 970";
  std::fill(data.begin() + 24, data.begin() + 64, ' ');
  std::copy(model.begin(), model.end(), data.begin() + 24);
  data[256] = 0x10;  // OACS: device self-test
  PutDword(data.data() + 516, namespaces);
  return data;
}

std::vector<std::uint8_t> NamespaceData(std::uint64_t blocks, std::uint8_t lbads) {
  std::vector<std::uint8_t> data(4096, 0);
  for (int i = 0; i < 8; ++i) data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(blocks >> (8 * i));
  data[130] = lbads;  // LBA format 0, the one FLBAS names
  return data;
}

// A machine with one StorNVMe disk at PhysicalDrive1: 128 blocks of block_bytes.
struct Rig {
  explicit Rig(DWORD block_bytes = 512, std::uint32_t namespaces = 1) {
    testing_fake::Device& d = machine.devices[kDisk];
    d.bus = BusTypeNvme;
    d.bytes_per_sector = block_bytes;
    d.content.assign(std::size_t{128} * block_bytes, 0);
    for (std::size_t i = 0; i < d.content.size(); ++i) d.content[i] = static_cast<std::uint8_t>(i * 7 + 1);
    d.nvme = NvmeDisk{};
    d.nvme->identify_controller = ControllerData(namespaces);
    d.nvme->identify_namespace[1] = NamespaceData(128, block_bytes == 4096 ? 12 : 9);
    std::vector<std::uint8_t> health(512);
    std::iota(health.begin(), health.end(), std::uint8_t{0});
    d.nvme->logs[2] = health;
    std::vector<std::uint8_t> selftest(1024);
    for (std::size_t i = 0; i < selftest.size(); ++i) selftest[i] = static_cast<std::uint8_t>(i / 4);
    d.nvme->logs[6] = selftest;
    handle = machine.Open(kDisk, GENERIC_READ | GENERIC_WRITE);
  }
  testing_fake::Device& disk() { return machine.devices[kDisk]; }
  NvmeDisk& nvme() { return *disk().nvme; }
  NvmeReply Send(const NvmeRequest& r) { return SendNvme(machine, handle, r); }

  FakeMachine machine;
  HANDLE handle = INVALID_HANDLE_VALUE;
  IoBuffers buffers;
};

// --- What goes to IOCTL_STORAGE_QUERY_PROPERTY -----------------------------------------

struct QueryCase {
  const char* name;
  NvmeRequest (*make)(std::uint8_t* data);
  DWORD property;  // 49 adapter, 50 device
  DWORD data_type;
  DWORD value;
  DWORD sub_value;
  DWORD sub_value2;
  DWORD sub_value3;
  DWORD sub_value4;
  DWORD length;
};

NvmeRequest LogWithEverything(std::uint8_t* data) {
  // Self-test log from byte 512, LSI 7, LSP 3, RAE, 52 bytes.
  NvmeRequest r = *EncodeGetLogPage(kNvmeLogSelfTest, kNvmeAllNamespaces, data, 52);
  r.cdw10 |= 0x8000 | 3u << 8;
  r.cdw11 |= 7u << 16;
  r.cdw12 = 512;
  return r;
}

const QueryCase kQueries[] = {
    {"IdentifyController", [](std::uint8_t* d) { return EncodeIdentifyController(d); }, 49, 1, 1, 0, 0, 0, 0, 4096},
    {"IdentifyNamespace", [](std::uint8_t* d) { return EncodeIdentifyNamespace(1, d); }, 50, 1, 0, 1, 0, 0, 0, 4096},
    {"HealthLog", [](std::uint8_t* d) { return *EncodeGetLogPage(kNvmeLogHealth, kNvmeAllNamespaces, d, 512); },
     50, 2, 2, 0, 0, 0, 0, 512},
    {"SelfTestLog", [](std::uint8_t* d) { return *EncodeGetLogPage(kNvmeLogSelfTest, kNvmeAllNamespaces, d, 564); },
     50, 2, 6, 0, 0, 0, 0, 564},
    {"LogFromOffsetWithLspRaeLsi", LogWithEverything, 50, 2, 6, 512, 0, 7, 1 | 3 << 1, 52},
};

class QueryLayout : public testing::TestWithParam<QueryCase> {};

TEST_P(QueryLayout, OneQueryWithTheDocumentedFieldsAndTheDataBack) {
  const QueryCase& c = GetParam();
  Rig rig;
  rig.nvme().fixed_return = 0xCAFE0001;
  std::vector<std::uint8_t> data(4096 + 16, 0xEE);
  const NvmeReply reply = rig.Send(c.make(data.data()));
  ASSERT_EQ(rig.machine.calls.size(), 1u);
  const auto& call = rig.machine.calls[0];
  EXPECT_EQ(call.code, 0x2D1400u);
  // STORAGE_PROPERTY_QUERY, then STORAGE_PROTOCOL_SPECIFIC_DATA from byte 8, then room for
  // the data; the same buffer comes back.
  ASSERT_EQ(call.in.size(), 48u + c.length);
  EXPECT_EQ(call.out_bytes, 48u + c.length);
  EXPECT_EQ(Dword(call.in, 0), c.property);
  EXPECT_EQ(Dword(call.in, 4), 0u);  // PropertyStandardQuery
  EXPECT_EQ(Dword(call.in, 8), 3u);  // ProtocolTypeNvme
  EXPECT_EQ(Dword(call.in, 12), c.data_type);
  EXPECT_EQ(Dword(call.in, 16), c.value);
  EXPECT_EQ(Dword(call.in, 20), c.sub_value);
  EXPECT_EQ(Dword(call.in, 24), 40u);  // ProtocolDataOffset: right after the structure
  EXPECT_EQ(Dword(call.in, 28), c.length);
  EXPECT_EQ(Dword(call.in, 32), 0u);  // FixedProtocolReturnData
  EXPECT_EQ(Dword(call.in, 36), c.sub_value2);
  EXPECT_EQ(Dword(call.in, 40), c.sub_value3);
  EXPECT_EQ(Dword(call.in, 44), c.sub_value4);

  EXPECT_EQ(reply.outcome, NvmeOutcome::Completed);
  EXPECT_EQ(reply.status, 0);
  EXPECT_EQ(reply.dw0, 0xCAFE0001u);
  // The answer's bytes, and nothing past the length asked.
  const bool controller = c.property == 49;
  const auto& source = controller ? rig.nvme().identify_controller
                       : c.data_type == 1 ? rig.nvme().identify_namespace[1]
                                          : rig.nvme().logs[c.value];
  const std::size_t from = c.data_type == 2 ? c.sub_value : 0;  // a log's offset
  for (std::size_t i = 0; i < c.length; ++i) ASSERT_EQ(data[i], source[from + i]) << i;
  EXPECT_EQ(data[c.length], 0xEE);
}

INSTANTIATE_TEST_SUITE_P(Requests, QueryLayout, testing::ValuesIn(kQueries),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// --- What goes to IOCTL_STORAGE_PROTOCOL_COMMAND ---------------------------------------

class SelfTestCommand : public testing::TestWithParam<NvmeSelfTestCode> {};

TEST_P(SelfTestCommand, ThePassThroughStructureAndTheSubmissionEntry) {
  Rig rig;
  const NvmeReply reply = rig.Send(EncodeDeviceSelfTest(kNvmeAllNamespaces, GetParam()));
  EXPECT_EQ(reply.outcome, NvmeOutcome::Completed);
  ASSERT_EQ(rig.machine.calls.size(), 1u);
  const auto& call = rig.machine.calls[0];
  EXPECT_EQ(call.code, 0x2DD3C0u);
  // The structure's 80 bytes, one 64-byte command, a 64-byte error information entry.
  ASSERT_EQ(call.in.size(), 208u);
  EXPECT_EQ(call.out_bytes, 208u);
  EXPECT_EQ(Dword(call.in, 0), 1u);            // STORAGE_PROTOCOL_STRUCTURE_VERSION
  EXPECT_EQ(Dword(call.in, 4), 84u);           // sizeof(STORAGE_PROTOCOL_COMMAND)
  EXPECT_EQ(Dword(call.in, 8), 3u);            // ProtocolTypeNvme
  EXPECT_EQ(Dword(call.in, 12), 0x80000000u);  // to the adapter: an admin command
  EXPECT_EQ(Dword(call.in, 24), 64u);          // CommandLength
  EXPECT_EQ(Dword(call.in, 28), 64u);          // ErrorInfoLength
  EXPECT_EQ(Dword(call.in, 32), 0u);           // no data either way
  EXPECT_EQ(Dword(call.in, 36), 0u);
  EXPECT_EQ(Dword(call.in, 40), 10u);   // TimeOutValue, seconds
  EXPECT_EQ(Dword(call.in, 44), 144u);  // ErrorInfoOffset: after the command, pointer-aligned
  EXPECT_EQ(Dword(call.in, 48), 0u);
  EXPECT_EQ(Dword(call.in, 52), 0u);
  EXPECT_EQ(Dword(call.in, 56), 1u);  // STORAGE_PROTOCOL_SPECIFIC_NVME_ADMIN_COMMAND
  EXPECT_EQ(call.in[80], 0x14);       // opcode
  EXPECT_EQ(Dword(call.in, 80 + 4), 0xFFFFFFFFu);  // NSID
  EXPECT_EQ(Dword(call.in, 80 + 40), static_cast<std::uint32_t>(GetParam()));  // CDW10
  for (std::size_t i = 80 + 44; i < 208; ++i) EXPECT_EQ(call.in[i], 0) << i;
}

INSTANTIATE_TEST_SUITE_P(Codes, SelfTestCommand,
                         testing::Values(NvmeSelfTestCode::Short, NvmeSelfTestCode::Extended,
                                         NvmeSelfTestCode::Abort));

struct CommandReplyCase {
  const char* name;
  DWORD win_error;  // the call fails with it; 0: it returns
  DWORD return_status;
  std::uint16_t error_info;  // the error information entry's status field
  DWORD error_code;
  NvmeOutcome outcome;
  std::uint16_t status;
  std::uint32_t dw0;
};

// Status fields as a completion holds them: status shifted up past the phase tag.
constexpr std::uint16_t Field(std::uint16_t status, bool phase = false) {
  return static_cast<std::uint16_t>(status << 1 | (phase ? 1 : 0));
}

const CommandReplyCase kCommandReplies[] = {
    {"Success", 0, 0x01, 0, 0, NvmeOutcome::Completed, 0, 0x5A},
    {"SelfTestInProgress", 0, 0x02, Field(0x011D, true), 0, NvmeOutcome::Completed, 0x011D, 0x5A},
    {"InvalidFieldDoNotRetry", 0, 0x02, Field(0x4002), 0, NvmeOutcome::Completed, 0x4002, 0x5A},
    {"StatusOnlyInErrorCode", 0, 0x02, 0, Field(0x0001, true), NvmeOutcome::Completed, 0x0001, 0x5A},
    {"ErrorInfoBeforeErrorCode", 0, 0x02, Field(0x0002), Field(0x0001), NvmeOutcome::Completed, 0x0002, 0x5A},
    {"ErrorWithoutStatus", 0, 0x02, 0, 0, NvmeOutcome::CallFailed, 0, 0},
    {"ErrorWithOnlyPhaseTags", 0, 0x02, 1, 1, NvmeOutcome::CallFailed, 0, 0},
    {"NotSupported", 0, 0xFF, 0, 0, NvmeOutcome::Refused, 0, 0},
    {"InvalidRequest", 0, 0x03, 0, 0, NvmeOutcome::Refused, 0, 0},
    {"Pending", 0, 0x00, 0, 0, NvmeOutcome::CallFailed, 0, 0},
    {"NoDevice", 0, 0x04, 0, 0, NvmeOutcome::CallFailed, 0, 0},
    {"Busy", 0, 0x05, 0, 0, NvmeOutcome::CallFailed, 0, 0},
    {"Throttled", 0, 0x08, 0, 0, NvmeOutcome::CallFailed, 0, 0},
    {"InvalidFunction", ERROR_INVALID_FUNCTION, 0, 0, 0, NvmeOutcome::Refused, 0, 0},
    {"CallNotSupported", ERROR_NOT_SUPPORTED, 0, 0, 0, NvmeOutcome::Refused, 0, 0},
    {"InvalidParameter", ERROR_INVALID_PARAMETER, 0, 0, 0, NvmeOutcome::Refused, 0, 0},
    {"AccessDenied", ERROR_ACCESS_DENIED, 0, 0, 0, NvmeOutcome::Refused, 0, 0},
    {"IoDevice", ERROR_IO_DEVICE, 0, 0, 0, NvmeOutcome::CallFailed, 0, 0},
    {"SemTimeout", ERROR_SEM_TIMEOUT, 0, 0, 0, NvmeOutcome::CallFailed, 0, 0},
    {"DeviceGone", ERROR_DEVICE_NOT_CONNECTED, 0, 0, 0, NvmeOutcome::CallFailed, 0, 0},
};

class CommandReply : public testing::TestWithParam<CommandReplyCase> {};

TEST_P(CommandReply, BecomesTheOutcomeTheFlowsTellApart) {
  const CommandReplyCase& c = GetParam();
  Rig rig;
  rig.nvme().command_error = c.win_error;
  rig.nvme().command_return_status = c.return_status;
  rig.nvme().command_error_info_status = c.error_info;
  rig.nvme().command_error_code = c.error_code;
  rig.nvme().command_fixed = 0x5A;
  const NvmeReply reply = rig.Send(EncodeDeviceSelfTest(kNvmeAllNamespaces, NvmeSelfTestCode::Short));
  EXPECT_EQ(reply.outcome, c.outcome);
  EXPECT_EQ(reply.status, c.status);
  EXPECT_EQ(reply.dw0, c.dw0);
  EXPECT_EQ(NvmeSucceeded(reply), std::string(c.name) == "Success");
}

INSTANTIATE_TEST_SUITE_P(Replies, CommandReply, testing::ValuesIn(kCommandReplies),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// --- Answers to the property queries that are not believed -----------------------------

struct QueryFaultCase {
  const char* name;
  void (*fault)(NvmeDisk&);
  NvmeOutcome outcome;
};

const QueryFaultCase kQueryFaults[] = {
    {"InvalidFunction", [](NvmeDisk& d) { d.query_error = ERROR_INVALID_FUNCTION; }, NvmeOutcome::Refused},
    {"NotSupported", [](NvmeDisk& d) { d.query_error = ERROR_NOT_SUPPORTED; }, NvmeOutcome::Refused},
    {"UnknownProperty", [](NvmeDisk& d) { d.query_error = ERROR_INVALID_PARAMETER; }, NvmeOutcome::Refused},
    {"IoDevice", [](NvmeDisk& d) { d.query_error = ERROR_IO_DEVICE; }, NvmeOutcome::CallFailed},
    {"Timeout", [](NvmeDisk& d) { d.query_error = ERROR_SEM_TIMEOUT; }, NvmeOutcome::CallFailed},
    {"OtherDescriptorVersion", [](NvmeDisk& d) { d.descriptor_version = 40; }, NvmeOutcome::CallFailed},
    {"ShorterThanAsked", [](NvmeDisk& d) { d.answer_data_length = 256; }, NvmeOutcome::CallFailed},
    {"DataOffsetInsideTheHeader", [](NvmeDisk& d) { d.answer_data_offset = 8; }, NvmeOutcome::CallFailed},
    {"DataOffsetPastTheBuffer", [](NvmeDisk& d) { d.answer_data_offset = 0x10000; }, NvmeOutcome::CallFailed},
    {"NoDescriptorReturned", [](NvmeDisk& d) { d.answer_returned = 20; }, NvmeOutcome::CallFailed},
};

class QueryFault : public testing::TestWithParam<QueryFaultCase> {};

TEST_P(QueryFault, LeavesTheCallersBufferAlone) {
  const QueryFaultCase& c = GetParam();
  Rig rig;
  c.fault(rig.nvme());
  std::vector<std::uint8_t> data(512, 0xEE);
  const NvmeReply reply = rig.Send(*EncodeGetLogPage(kNvmeLogHealth, kNvmeAllNamespaces, data.data(), 512));
  EXPECT_EQ(reply.outcome, c.outcome);
  EXPECT_FALSE(NvmeSucceeded(reply));
  EXPECT_EQ(std::count(data.begin(), data.end(), 0xEE), 512);
}

INSTANTIATE_TEST_SUITE_P(Faults, QueryFault, testing::ValuesIn(kQueryFaults),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// --- Requests Windows does not carry, and requests not sent at all ---------------------

struct UnsentCase {
  const char* name;
  NvmeRequest (*make)(std::uint8_t* data);
  NvmeOutcome outcome;
  DWORD build = 19045;
};

NvmeRequest GetFeatures(std::uint8_t* d) {
  NvmeRequest r;
  r.opcode = 0x0A;
  r.cdw10 = 0x0C;  // autonomous power state transition, 256 bytes
  r.direction = NvmeData::FromDevice;
  r.data = d;
  r.data_length = 256;
  return r;
}

NvmeRequest IdentifyActiveList(std::uint8_t* d) {
  NvmeRequest r = EncodeIdentifyController(d);
  r.cdw10 = 0x02;
  return r;
}

NvmeRequest IdentifyOtherController(std::uint8_t* d) {
  NvmeRequest r = EncodeIdentifyController(d);
  r.cdw10 |= 5u << 16;  // CNTID
  return r;
}

NvmeRequest LogWithOffset(std::uint8_t* d) {
  NvmeRequest r = *EncodeGetLogPage(kNvmeLogSelfTest, kNvmeAllNamespaces, d, 52);
  r.cdw12 = 512;
  return r;
}

NvmeRequest LogWithWideLsp(std::uint8_t* d) {
  NvmeRequest r = *EncodeGetLogPage(kNvmeLogHealth, kNvmeAllNamespaces, d, 512);
  r.cdw10 |= 0x10u << 8;
  return r;
}

NvmeRequest LogLengthDisagrees(std::uint8_t* d) {
  NvmeRequest r = *EncodeGetLogPage(kNvmeLogHealth, kNvmeAllNamespaces, d, 512);
  r.data_length = 1024;
  return r;
}

NvmeRequest SelfTestWithData(std::uint8_t* d) {
  NvmeRequest r = EncodeDeviceSelfTest(kNvmeAllNamespaces, NvmeSelfTestCode::Short);
  r.direction = NvmeData::FromDevice;
  r.data = d;
  r.data_length = 512;
  return r;
}

NvmeRequest ReadWithFua(std::uint8_t* d) {
  NvmeRequest r = *EncodeRead(1, 0, 1, 512, d);
  r.cdw12 |= 1u << 30;
  return r;
}

NvmeRequest ReadOfOtherBlockSize(std::uint8_t* d) { return *EncodeRead(1, 0, 1, 4096, d); }
NvmeRequest ReadPastTheEnd(std::uint8_t* d) { return *EncodeRead(1, 127, 2, 512, d); }
NvmeRequest ReadFarPastTheEnd(std::uint8_t* d) { return *EncodeRead(1, 0xFFFFFFFFFFFFFF00ull, 1, 512, d); }

const UnsentCase kUnsent[] = {
    {"Verify", [](std::uint8_t*) { return *EncodeVerify(1, 0, 8); }, NvmeOutcome::Refused},
    {"WriteZeroes", [](std::uint8_t*) { return *EncodeWriteZeroes(1, 0, 8); }, NvmeOutcome::Refused},
    {"GetFeatures", GetFeatures, NvmeOutcome::Refused},
    {"IdentifyActiveNamespaceList", IdentifyActiveList, NvmeOutcome::Refused},
    {"IdentifyOfAnotherController", IdentifyOtherController, NvmeOutcome::Refused},
    {"LogOffsetBefore1903", LogWithOffset, NvmeOutcome::Refused, 17763},
    {"LogSpecificFieldWiderThanFourBits", LogWithWideLsp, NvmeOutcome::Refused},
    {"SelfTestWithData", SelfTestWithData, NvmeOutcome::NotSent},
    {"LogLengthDisagreesWithNumd", LogLengthDisagrees, NvmeOutcome::NotSent},
    {"ReadWithForceUnitAccess", ReadWithFua, NvmeOutcome::Refused},
    {"ReadForAnotherBlockSize", ReadOfOtherBlockSize, NvmeOutcome::NotSent},
    {"ReadPastTheEnd", ReadPastTheEnd, NvmeOutcome::NotSent},
    {"ReadWhoseOffsetWouldOverflow", ReadFarPastTheEnd, NvmeOutcome::NotSent},
};

class Unsent : public testing::TestWithParam<UnsentCase> {};

TEST_P(Unsent, NothingReachesTheDisk) {
  const UnsentCase& c = GetParam();
  Rig rig;
  rig.machine.build = c.build;
  std::vector<std::uint8_t> data(8192, 0xEE);
  const NvmeReply reply = rig.Send(c.make(data.data()));
  EXPECT_EQ(reply.outcome, c.outcome);
  EXPECT_TRUE(rig.machine.CallsWith(IOCTL_STORAGE_QUERY_PROPERTY).empty());
  EXPECT_TRUE(rig.machine.CallsWith(IOCTL_STORAGE_PROTOCOL_COMMAND).empty());
  EXPECT_TRUE(rig.machine.transfers.empty());
  EXPECT_EQ(rig.machine.flushes, 0);
  EXPECT_EQ(std::count(data.begin(), data.end(), 0xEE), 8192);
}

INSTANTIATE_TEST_SUITE_P(Requests, Unsent, testing::ValuesIn(kUnsent),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(Win32Nvme, LogOffsetFrom1903GoesInTheSubValues) {
  Rig rig;
  rig.machine.build = 18362;
  std::vector<std::uint8_t> data(52, 0);
  const NvmeReply reply = rig.Send(LogWithOffset(data.data()));
  EXPECT_EQ(reply.outcome, NvmeOutcome::Completed);
  ASSERT_EQ(rig.machine.calls.size(), 1u);
  EXPECT_EQ(Dword(rig.machine.calls[0].in, 20), 512u);
  EXPECT_EQ(data[0], 512 / 4);  // the log's byte 512
}

TEST(Win32Nvme, NoHandleSendsNothing) {
  FakeMachine machine;
  std::vector<std::uint8_t> data(4096);
  EXPECT_EQ(SendNvme(machine, INVALID_HANDLE_VALUE, EncodeIdentifyController(data.data())).outcome,
            NvmeOutcome::NotSent);
  EXPECT_TRUE(machine.calls.empty());
}

// --- Reads, writes and flushes ---------------------------------------------------------


struct TransferCase {
  DWORD block_bytes;
  std::uint64_t first;
  std::uint32_t count;
};

class BlockTransfer : public testing::TestWithParam<TransferCase> {};

TEST_P(BlockTransfer, AtTheBlocksByteOffsetThroughAlignedMemory) {
  const TransferCase& c = GetParam();
  Rig rig(c.block_bytes);
  const std::size_t bytes = std::size_t{c.count} * c.block_bytes;
  // One byte into a buffer: the program's buffers promise no alignment.
  std::vector<std::uint8_t> storage(bytes + 1);
  std::uint8_t* source = storage.data() + 1;
  for (std::size_t i = 0; i < bytes; ++i) source[i] = static_cast<std::uint8_t>(0xA0 + i % 13);

  const NvmeReply wrote = rig.Send(*EncodeWrite(1, c.first, c.count, c.block_bytes, source));
  EXPECT_EQ(wrote.outcome, NvmeOutcome::Completed);
  ASSERT_EQ(rig.machine.transfers.size(), 1u);
  const testing_fake::Transfer w = rig.machine.transfers[0];
  EXPECT_TRUE(w.write);
  EXPECT_EQ(w.offset, c.first * c.block_bytes);
  EXPECT_EQ(w.bytes, bytes);
  EXPECT_TRUE(w.page_aligned);
  const auto& content = rig.disk().content;
  for (std::size_t i = 0; i < bytes; ++i) ASSERT_EQ(content[w.offset + i], source[i]) << i;
  // The blocks on either side are as they were.
  if (w.offset > 0) {
    EXPECT_EQ(content[w.offset - 1], static_cast<std::uint8_t>((w.offset - 1) * 7 + 1));
  }
  if (w.offset + bytes < content.size()) {
    EXPECT_EQ(content[w.offset + bytes], static_cast<std::uint8_t>((w.offset + bytes) * 7 + 1));
  }

  std::vector<std::uint8_t> back_storage(bytes + 3, 0);
  std::uint8_t* back = back_storage.data() + 3;
  const NvmeReply read = rig.Send(*EncodeRead(1, c.first, c.count, c.block_bytes, back));
  EXPECT_EQ(read.outcome, NvmeOutcome::Completed);
  ASSERT_EQ(rig.machine.transfers.size(), 2u);
  EXPECT_FALSE(rig.machine.transfers[1].write);
  EXPECT_EQ(rig.machine.transfers[1].offset, w.offset);
  EXPECT_TRUE(rig.machine.transfers[1].page_aligned);
  EXPECT_TRUE(std::equal(back, back + bytes, source));
}

INSTANTIATE_TEST_SUITE_P(Formats, BlockTransfer,
                         testing::Values(TransferCase{512, 0, 1}, TransferCase{512, 5, 3},
                                         TransferCase{512, 120, 8}, TransferCase{4096, 0, 1},
                                         TransferCase{4096, 9, 4}, TransferCase{4096, 127, 1}));

struct TransferFaultCase {
  const char* name;
  bool write;
  DWORD error;               // of ReadFile / WriteFile
  std::optional<DWORD> done;  // bytes reported done when the call succeeds
  NvmeOutcome outcome;
};

const TransferFaultCase kTransferFaults[] = {
    {"ReadMediaError", false, ERROR_CRC, {}, NvmeOutcome::CallFailed},
    {"ReadDeviceError", false, ERROR_IO_DEVICE, {}, NvmeOutcome::CallFailed},
    {"ReadTimeout", false, ERROR_SEM_TIMEOUT, {}, NvmeOutcome::CallFailed},
    {"ReadShort", false, 0, 512, NvmeOutcome::CallFailed},
    {"ReadNothing", false, 0, 0, NvmeOutcome::CallFailed},
    {"WriteIntoMountedVolume", true, ERROR_ACCESS_DENIED, {}, NvmeOutcome::Refused},
    {"WriteToReadOnlyDisk", true, ERROR_WRITE_PROTECT, {}, NvmeOutcome::Refused},
    {"WriteDeviceError", true, ERROR_IO_DEVICE, {}, NvmeOutcome::CallFailed},
    {"WriteShort", true, 0, 1024, NvmeOutcome::CallFailed},
};

class TransferFault : public testing::TestWithParam<TransferFaultCase> {};

TEST_P(TransferFault, IsNoSuccessAndLeavesTheCallersBufferAlone) {
  const TransferFaultCase& c = GetParam();
  Rig rig;
  (c.write ? rig.disk().write_error : rig.disk().read_error) = c.error;
  rig.disk().transfer_done = c.done;
  std::vector<std::uint8_t> data(4 * 512, 0xEE);
  const NvmeReply reply = rig.Send(c.write ? *EncodeWrite(1, 8, 4, 512, data.data())
                                           : *EncodeRead(1, 8, 4, 512, data.data()));
  EXPECT_EQ(reply.outcome, c.outcome);
  EXPECT_FALSE(NvmeSucceeded(reply));
  EXPECT_EQ(std::count(data.begin(), data.end(), 0xEE), 4 * 512);
}

INSTANTIATE_TEST_SUITE_P(Faults, TransferFault, testing::ValuesIn(kTransferFaults),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(Win32Nvme, DiskWithoutGeometryRefusesBlockCommands) {
  Rig rig;
  rig.disk().geometry_error = ERROR_INVALID_FUNCTION;
  std::vector<std::uint8_t> data(512);
  EXPECT_EQ(rig.Send(*EncodeRead(1, 0, 1, 512, data.data())).outcome, NvmeOutcome::Refused);
  rig.disk().geometry_error = ERROR_IO_DEVICE;
  EXPECT_EQ(rig.Send(*EncodeRead(1, 0, 1, 512, data.data())).outcome, NvmeOutcome::CallFailed);
  EXPECT_TRUE(rig.machine.transfers.empty());
}

struct FlushCase {
  DWORD error;
  NvmeOutcome outcome;
};

class FlushDisk : public testing::TestWithParam<FlushCase> {};

TEST_P(FlushDisk, IsFlushFileBuffersOnTheDisk) {
  Rig rig;
  rig.disk().flush_error = GetParam().error;
  const NvmeReply reply = rig.Send(EncodeFlush(1));
  EXPECT_EQ(reply.outcome, GetParam().outcome);
  EXPECT_EQ(rig.machine.flushes, GetParam().error == 0 ? 1 : 0);
  EXPECT_TRUE(rig.machine.calls.empty());
}

INSTANTIATE_TEST_SUITE_P(Results, FlushDisk,
                         testing::Values(FlushCase{0, NvmeOutcome::Completed},
                                         FlushCase{ERROR_INVALID_FUNCTION, NvmeOutcome::Refused},
                                         FlushCase{ERROR_IO_DEVICE, NvmeOutcome::CallFailed}));

// --- Which namespace a disk is -----------------------------------------------------------

struct NamespaceCase {
  const char* name;
  std::optional<STORAGE_BUS_TYPE> bus;
  std::uint32_t namespaces;
  std::optional<SCSI_ADDRESS> address;
  std::vector<std::pair<std::uint32_t, std::uint64_t>> sizes;  // NSID, blocks (the disk has 128)
  DWORD query_error;
  std::optional<std::uint32_t> expected;
};

SCSI_ADDRESS Address(UCHAR target, UCHAR lun) {
  SCSI_ADDRESS a{};
  a.Length = sizeof a;
  a.TargetId = target;
  a.Lun = lun;
  return a;
}

const NamespaceCase kNamespaces[] = {
    {"SataDisk", BusTypeSata, 1, {}, {}, 0, {}},
    {"UsbEnclosure", BusTypeUsb, 1, {}, {}, 0, {}},
    {"NoDeviceProperty", {}, 1, {}, {}, 0, {}},
    {"OneNamespace", BusTypeNvme, 1, {}, {}, 0, 1u},
    {"NoNamespace", BusTypeNvme, 0, {}, {}, 0, {}},
    {"WindowsWithoutNvmeQueries", BusTypeNvme, 1, {}, {}, ERROR_INVALID_FUNCTION, {}},
    {"SecondNamespaceByLun", BusTypeNvme, 3, Address(0, 1), {{1, 64}, {2, 128}, {3, 128}}, 0, 2u},
    {"ThirdNamespaceByTarget", BusTypeNvme, 3, Address(2, 0), {{1, 64}, {2, 32}, {3, 128}}, 0, 3u},
    {"AddressOfOtherSizeThenTheOnlyMatch", BusTypeNvme, 2, Address(0, 0), {{1, 64}, {2, 128}}, 0, 2u},
    {"OnlyOneOfTheSizeWithoutAddress", BusTypeNvme, 4, {}, {{1, 64}, {2, 32}, {3, 128}, {4, 16}}, 0, 3u},
    {"TwoOfTheSizeWithoutAddress", BusTypeNvme, 2, {}, {{1, 128}, {2, 128}}, 0, {}},
    {"NoneOfTheSize", BusTypeNvme, 2, Address(0, 0), {{1, 64}, {2, 32}}, 0, {}},
};

class NamespaceOfDisk : public testing::TestWithParam<NamespaceCase> {};

TEST_P(NamespaceOfDisk, IsOneForCertainOrNone) {
  const NamespaceCase& c = GetParam();
  Rig rig(512, c.namespaces);
  rig.disk().bus = c.bus;
  rig.nvme().address = c.address;
  rig.nvme().query_error = c.query_error;
  if (!c.sizes.empty()) rig.nvme().identify_namespace.clear();
  for (const auto& [nsid, blocks] : c.sizes) rig.nvme().identify_namespace[nsid] = NamespaceData(blocks, 9);
  Win32DeviceIo io(rig.machine);
  EXPECT_EQ(io.NvmeNamespaceId(reinterpret_cast<DeviceHandle>(rig.handle)), c.expected);
  // A disk on another bus is asked nothing NVMe.
  if (c.bus != BusTypeNvme) {
    EXPECT_EQ(rig.machine.calls.size(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(Disks, NamespaceOfDisk, testing::ValuesIn(kNamespaces),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// --- The program's own wrappers through the adapter ------------------------------------

TEST(Win32Nvme, ProgramWrappersOverTheAdapter) {
  Rig rig(4096);
  Win32DeviceIo io(rig.machine);
  IoBuffers buffers;
  DriveConnection connection(io, buffers);
  ASSERT_TRUE(connection.Open(1));
  EXPECT_EQ(connection.NvmeNamespaceId(), 1u);

  ASSERT_TRUE(NvmeSucceeded(NvmeReadHealthLog(connection)));
  EXPECT_EQ(buffers.a()[5], 5);  // the fake's health log counts up
  ASSERT_TRUE(NvmeSucceeded(NvmeReadSelfTestLog(connection)));
  EXPECT_EQ(buffers.a()[563], 563 / 4);

  NvmeNamespace ns;
  ASSERT_TRUE(NvmeSucceeded(NvmeIdentifyNamespace(connection, 1)));
  ASSERT_EQ(DecodeIdentifyNamespace(buffers.a(), 1, ns), NvmeNamespaceDecode::Ok);
  EXPECT_EQ(ns.block_bytes, 4096u);
  // Verify is refused, and the reads the flows fall back to work.
  EXPECT_EQ(NvmeVerify(connection, ns, 0, 4).outcome, NvmeOutcome::Refused);
  ASSERT_TRUE(NvmeSucceeded(NvmeRead(connection, ns, 2, 2)));
  EXPECT_EQ(buffers.a()[0], rig.disk().content[2 * 4096]);
  // Write Zeroes is refused; zero writes land, and Flush follows.
  EXPECT_EQ(NvmeWriteZeroes(connection, ns, 0, 1).outcome, NvmeOutcome::Refused);
  ASSERT_TRUE(NvmeSucceeded(NvmeWriteZeroBuffer(connection, ns, 0, 1)));
  EXPECT_EQ(std::count(rig.disk().content.begin(), rig.disk().content.begin() + 4096, 0), 4096);
  EXPECT_NE(rig.disk().content[4096], 0);
  ASSERT_TRUE(NvmeSucceeded(NvmeFlush(connection, ns)));
  EXPECT_EQ(rig.machine.flushes, 1);
  connection.Close();
  EXPECT_EQ(rig.machine.open_handles, 1);  // the rig's own
}

}  // namespace
}  // namespace plovix::win32
