// The NVMe catalogue: every command pinned to the fields that leave the program, the
// requests the program refuses to send, and what the connection makes of each outcome.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "drive/NvmeCommands.h"

namespace plovix {
namespace {

// Answers every NVMe request with a chosen reply and keeps what it was sent.
class NvmeIo : public DeviceIo {
 public:
  NvmeReply answer{NvmeOutcome::Completed, 0, 0};
  std::uint8_t fill_byte = 0x5A;  // what data-in commands leave in the buffer
  std::vector<NvmeRequest> sent;
  std::vector<std::vector<std::uint8_t>> data_out;
  std::uint32_t nsid = 1;

  DeviceHandle Open(const std::string&) override { return 7; }
  void Close(DeviceHandle) override {}
  bool AtaPassThrough(DeviceHandle, const AtaPassThroughRequest&, AtaPassThroughRequest&) override {
    return false;
  }
  bool ScsiPassThrough(DeviceHandle, ScsiPassThroughRequest&) override { return false; }
  NvmeReply NvmePassThrough(DeviceHandle, const NvmeRequest& request) override {
    sent.push_back(request);
    data_out.emplace_back();
    if (request.direction == NvmeData::ToDevice) {
      data_out.back().assign(request.data, request.data + request.data_length);
    }
    if (request.direction == NvmeData::FromDevice) {
      std::memset(request.data, fill_byte, request.data_length);
    }
    return answer;
  }
  std::optional<std::uint32_t> NvmeNamespaceId(DeviceHandle) override { return nsid; }
};

struct Fields {
  NvmeQueue queue;
  std::uint8_t opcode;
  std::uint32_t nsid;
  std::uint32_t cdw10, cdw11, cdw12;
  NvmeData direction;
  std::uint32_t length;
};

struct EncodeCase {
  const char* name;
  std::optional<NvmeRequest> request;
  Fields want;
};

void PrintTo(const EncodeCase& c, std::ostream* os) { *os << c.name; }

std::uint8_t g_buffer[4];  // only its address matters to the encoders

constexpr auto kAdmin = NvmeQueue::Admin;
constexpr auto kIo = NvmeQueue::Io;
constexpr auto kIn = NvmeData::FromDevice;
constexpr auto kOut = NvmeData::ToDevice;
constexpr auto kNone = NvmeData::None;

std::vector<EncodeCase> Encodings() {
  std::uint8_t* b = g_buffer;
  return {
      {"IdentifyController", EncodeIdentifyController(b),
       {kAdmin, 0x06, 0, 0x00000001, 0, 0, kIn, 4096}},
      {"IdentifyNamespace", EncodeIdentifyNamespace(7, b), {kAdmin, 0x06, 7, 0, 0, 0, kIn, 4096}},
      {"HealthLog", EncodeGetLogPage(0x02, kNvmeAllNamespaces, b, 512),
       {kAdmin, 0x02, 0xFFFFFFFF, 0x007F0002, 0, 0, kIn, 512}},
      {"SelfTestLog", EncodeGetLogPage(0x06, kNvmeAllNamespaces, b, 564),
       {kAdmin, 0x02, 0xFFFFFFFF, 0x008C0006, 0, 0, kIn, 564}},
      {"OneDwordLog", EncodeGetLogPage(0x01, 1, b, 4), {kAdmin, 0x02, 1, 0x00000001, 0, 0, kIn, 4}},
      {"LargestLog", EncodeGetLogPage(0xC0, 0, b, 16384),
       {kAdmin, 0x02, 0, 0x0FFF00C0, 0, 0, kIn, 16384}},
      {"ShortSelfTest", EncodeDeviceSelfTest(kNvmeAllNamespaces, NvmeSelfTestCode::Short),
       {kAdmin, 0x14, 0xFFFFFFFF, 0x1, 0, 0, kNone, 0}},
      {"ExtendedSelfTestOfANamespace", EncodeDeviceSelfTest(3, NvmeSelfTestCode::Extended),
       {kAdmin, 0x14, 3, 0x2, 0, 0, kNone, 0}},
      {"AbortSelfTest", EncodeDeviceSelfTest(kNvmeAllNamespaces, NvmeSelfTestCode::Abort),
       {kAdmin, 0x14, 0xFFFFFFFF, 0xF, 0, 0, kNone, 0}},
      {"VerifyOneBlockHighLba", EncodeVerify(1, 0x0000123456789ABCULL, 1),
       {kIo, 0x0C, 1, 0x56789ABC, 0x00001234, 0, kNone, 0}},
      {"VerifyLargestCount", EncodeVerify(1, 0, 65536), {kIo, 0x0C, 1, 0, 0, 0xFFFF, kNone, 0}},
      {"WriteZeroesTopLba", EncodeWriteZeroes(2, 0xFFFFFFFF00000000ULL, 8),
       {kIo, 0x08, 2, 0, 0xFFFFFFFF, 7, kNone, 0}},
      {"Read4096", EncodeRead(1, 5, 8, 4096, b), {kIo, 0x02, 1, 5, 0, 7, kIn, 32768}},
      {"Write512", EncodeWrite(1, 0x100000000ULL, 3, 512, b), {kIo, 0x01, 1, 0, 1, 2, kOut, 1536}},
      {"ReadLargestThatFits32Bits", EncodeRead(1, 0, 65535, 65536, b),
       {kIo, 0x02, 1, 0, 0, 0xFFFE, kIn, 0xFFFF0000}},
  };
}

class NvmeEncodeTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(NvmeEncodeTest, FieldsAreExactlyThese) {
  const EncodeCase& c = GetParam();
  ASSERT_TRUE(c.request.has_value());
  const NvmeRequest& r = *c.request;
  EXPECT_EQ(r.queue, c.want.queue);
  EXPECT_EQ(r.opcode, c.want.opcode);
  EXPECT_EQ(r.nsid, c.want.nsid);
  EXPECT_EQ(r.cdw10, c.want.cdw10);
  EXPECT_EQ(r.cdw11, c.want.cdw11);
  EXPECT_EQ(r.cdw12, c.want.cdw12);
  EXPECT_EQ(r.cdw2 | r.cdw3 | r.cdw13 | r.cdw14 | r.cdw15, 0u);
  EXPECT_EQ(r.direction, c.want.direction);
  EXPECT_EQ(r.data_length, c.want.length);
  EXPECT_EQ(r.data, c.want.direction == kNone ? nullptr : g_buffer);
  EXPECT_EQ(r.timeout_seconds, 10u);
  // The data phase agrees with the opcode, so the connection lets it through.
  EXPECT_TRUE(NvmeRequestIsWellFormed(r));
}

INSTANTIATE_TEST_SUITE_P(Catalogue, NvmeEncodeTest, ::testing::ValuesIn(Encodings()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(NvmeEncodeRefusal, OutOfRangeParametersBuildNothing) {
  std::uint8_t* b = g_buffer;
  const struct {
    const char* what;
    std::optional<NvmeRequest> request;
  } cases[] = {
      {"verify of no blocks", EncodeVerify(1, 0, 0)},
      {"verify past the 16-bit count", EncodeVerify(1, 0, 65537)},
      {"write zeroes of no blocks", EncodeWriteZeroes(1, 0, 0)},
      {"read without a buffer", EncodeRead(1, 0, 1, 512, nullptr)},
      {"read of more than 4 GiB", EncodeRead(1, 0, 65536, 65536, b)},
      {"write with a zero block size", EncodeWrite(1, 0, 1, 0, b)},
      {"log of no bytes", EncodeGetLogPage(2, 0, b, 0)},
      {"log of a partial dword", EncodeGetLogPage(2, 0, b, 6)},
      {"log longer than NVMe 1.2 can ask", EncodeGetLogPage(2, 0, b, 16388)},
      {"log without a buffer", EncodeGetLogPage(2, 0, nullptr, 512)},
  };
  for (const auto& c : cases) EXPECT_FALSE(c.request.has_value()) << c.what;
}

// --- The connection -------------------------------------------------------------------

struct OutcomeCase {
  const char* name;
  NvmeReply answer;
  bool succeeds;
};

void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.name; }

class NvmeSendTest : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(NvmeSendTest, OnlyAZeroStatusCompletionIsSuccess) {
  const OutcomeCase& c = GetParam();
  NvmeIo io;
  io.answer = c.answer;
  IoBuffers buffers;
  DriveConnection connection(io, buffers);
  ASSERT_TRUE(connection.Open(0));
  NvmeReply reply;
  EXPECT_EQ(connection.SendNvme(EncodeIdentifyController(buffers.a()), reply), c.succeeds);
  EXPECT_EQ(reply.outcome, c.answer.outcome);
  EXPECT_EQ(reply.status, c.answer.status);
  EXPECT_EQ(reply.dw0, c.answer.dw0);
  EXPECT_EQ(io.sent.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, NvmeSendTest,
    ::testing::Values(
        OutcomeCase{"Success", {NvmeOutcome::Completed, 0x12345678, 0}, true},
        OutcomeCase{"MoreInfoBitAlone", {NvmeOutcome::Completed, 0, 0x2000}, true},
        OutcomeCase{"UnrecoveredReadError", {NvmeOutcome::Completed, 0, 0x4281}, false},
        OutcomeCase{"InvalidOpcode", {NvmeOutcome::Completed, 0, 0x0001}, false},
        OutcomeCase{"CommandSpecificCodeZero", {NvmeOutcome::Completed, 0, 0x0100}, false},
        OutcomeCase{"RefusedBySystem", {NvmeOutcome::Refused, 0, 0}, false},
        OutcomeCase{"NoNvmeHere", {NvmeOutcome::NoNvme, 0, 0}, false},
        OutcomeCase{"CallFailed", {NvmeOutcome::CallFailed, 0, 0}, false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(NvmeSend, StatusFieldsSplitAsNvmeDefinesThem) {
  const std::uint16_t s = MakeNvmeStatus(kNvmeSctMediaError, kNvmeScUnrecoveredReadError, true);
  EXPECT_EQ(s, 0x4281);
  EXPECT_EQ(NvmeStatusCodeType(s), 2);
  EXPECT_EQ(NvmeStatusCode(s), 0x81);
  EXPECT_TRUE(NvmeDoNotRetry(s));
  EXPECT_FALSE(NvmeDoNotRetry(MakeNvmeStatus(1, 0x1D)));
  EXPECT_EQ(MakeNvmeStatus(kNvmeSctCommandSpecific, kNvmeScSelfTestInProgress), 0x011D);
}

TEST(NvmeSend, ClosedConnectionAndMalformedRequestsSendNothing) {
  NvmeIo io;
  IoBuffers buffers;
  DriveConnection connection(io, buffers);
  NvmeReply reply{NvmeOutcome::Completed, 1, 1};
  EXPECT_FALSE(connection.SendNvme(EncodeIdentifyController(buffers.a()), reply));
  EXPECT_EQ(reply.outcome, NvmeOutcome::NotSent);
  EXPECT_FALSE(connection.NvmeNamespaceId().has_value());
  EXPECT_EQ(NvmeReadHealthLog(connection).outcome, NvmeOutcome::NotSent);

  ASSERT_TRUE(connection.Open(0));
  EXPECT_EQ(connection.NvmeNamespaceId(), 1u);
  auto with = [&](auto change) {
    NvmeRequest r = EncodeIdentifyController(buffers.a());
    change(r);
    return r;
  };
  const struct {
    const char* what;
    NvmeRequest request;
  } cases[] = {
      {"identify declared as a write",
       with([](NvmeRequest& r) { r.direction = NvmeData::ToDevice; })},
      {"identify without a buffer", with([](NvmeRequest& r) { r.data = nullptr; })},
      {"identify of no bytes", with([](NvmeRequest& r) { r.data_length = 0; })},
      {"non-data command with a buffer", with([](NvmeRequest& r) {
         r.opcode = kNvmeAdminDeviceSelfTest;
         r.direction = NvmeData::None;
       })},
      {"write opcode reading", with([](NvmeRequest& r) {
         r.queue = NvmeQueue::Io;
         r.opcode = kNvmeIoWrite;
       })},
      {"bidirectional opcode", with([](NvmeRequest& r) { r.opcode = 0x03; })},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(connection.SendNvme(c.request, reply)) << c.what;
    EXPECT_EQ(reply.outcome, NvmeOutcome::NotSent) << c.what;
  }
  EXPECT_TRUE(io.sent.empty());
}

TEST(NvmeSend, AnAdapterWithoutNvmeSaysSo) {
  // Every adapter inherits the port's default until it learns NVMe.
  class AtaOnly : public DeviceIo {
   public:
    DeviceHandle Open(const std::string&) override { return 3; }
    void Close(DeviceHandle) override {}
    bool AtaPassThrough(DeviceHandle, const AtaPassThroughRequest&,
                        AtaPassThroughRequest&) override {
      return true;
    }
    bool ScsiPassThrough(DeviceHandle, ScsiPassThroughRequest&) override { return true; }
  } io;
  IoBuffers buffers;
  DriveConnection connection(io, buffers);
  ASSERT_TRUE(connection.Open(0));
  EXPECT_EQ(NvmeIdentifyController(connection).outcome, NvmeOutcome::NoNvme);
  EXPECT_FALSE(connection.NvmeNamespaceId().has_value());
}

// --- Wrappers -------------------------------------------------------------------------

NvmeNamespace Namespace(std::uint32_t block_bytes, std::uint64_t blocks,
                        std::uint16_t metadata = 0) {
  NvmeNamespace ns;
  ns.nsid = 5;
  ns.block_bytes = block_bytes;
  ns.block_count = blocks;
  ns.metadata_bytes = metadata;
  return ns;
}

class NvmeWrapperTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(connection.Open(2)); }
  NvmeIo io;
  IoBuffers buffers;
  DriveConnection connection{io, buffers};
};

TEST_F(NvmeWrapperTest, ControllerCommandsUseBufferAAndTheWholeController) {
  EXPECT_TRUE(NvmeSucceeded(NvmeIdentifyController(connection)));
  EXPECT_TRUE(NvmeSucceeded(NvmeIdentifyNamespace(connection, 9)));
  EXPECT_TRUE(NvmeSucceeded(NvmeReadHealthLog(connection)));
  EXPECT_TRUE(NvmeSucceeded(NvmeReadSelfTestLog(connection)));
  EXPECT_TRUE(NvmeSucceeded(NvmeStartSelfTest(connection, NvmeSelfTestCode::Short)));
  EXPECT_TRUE(NvmeSucceeded(NvmeStartSelfTest(connection, NvmeSelfTestCode::Extended)));
  EXPECT_TRUE(NvmeSucceeded(NvmeAbortSelfTest(connection)));
  // Abort is a command of its own, never a kind of start.
  EXPECT_EQ(NvmeStartSelfTest(connection, NvmeSelfTestCode::Abort).outcome, NvmeOutcome::NotSent);

  ASSERT_EQ(io.sent.size(), 7u);
  const struct {
    std::uint8_t opcode;
    std::uint32_t nsid;
    std::uint32_t cdw10;
    std::uint32_t length;
  } want[] = {{0x06, 0, 1, 4096},          {0x06, 9, 0, 4096},
              {0x02, 0xFFFFFFFF, 0x007F0002, 512}, {0x02, 0xFFFFFFFF, 0x008C0006, 564},
              {0x14, 0xFFFFFFFF, 1, 0},    {0x14, 0xFFFFFFFF, 2, 0},
              {0x14, 0xFFFFFFFF, 0xF, 0}};
  for (std::size_t i = 0; i < io.sent.size(); ++i) {
    const NvmeRequest& r = io.sent[i];
    EXPECT_EQ(r.queue, NvmeQueue::Admin) << i;
    EXPECT_EQ(r.opcode, want[i].opcode) << i;
    EXPECT_EQ(r.nsid, want[i].nsid) << i;
    EXPECT_EQ(r.cdw10, want[i].cdw10) << i;
    EXPECT_EQ(r.data_length, want[i].length) << i;
    EXPECT_EQ(r.data, want[i].length ? buffers.a() : nullptr) << i;
  }
}

TEST_F(NvmeWrapperTest, BlockCommandsStayInsideTheNamespaceAndTheBuffers) {
  const NvmeNamespace n512 = Namespace(512, 1000);
  const NvmeNamespace n4k = Namespace(4096, 1000);
  const NvmeNamespace with_metadata = Namespace(4096, 1000, 8);
  const struct {
    const char* what;
    NvmeReply reply;
    bool sent;
  } cases[] = {
      {"verify up to the last block", NvmeVerify(connection, n512, 999, 1), true},
      {"verify past the end", NvmeVerify(connection, n512, 999, 2), false},
      {"verify starting past the end", NvmeVerify(connection, n512, 1000, 1), false},
      {"verify of no blocks", NvmeVerify(connection, n512, 0, 0), false},
      {"verify near the top of 64 bits", NvmeVerify(connection, n512, UINT64_MAX, 2), false},
      {"write zeroes of the whole namespace", NvmeWriteZeroes(connection, n4k, 0, 1000), true},
      {"write zeroes past the end", NvmeWriteZeroes(connection, n4k, 1, 1000), false},
      {"read of what buffer A holds", NvmeRead(connection, Namespace(512, 4000), 0, 2817), true},
      {"read past buffer A", NvmeRead(connection, Namespace(512, 4000), 0, 2818), false},
      {"read of 353 4096-byte blocks", NvmeRead(connection, n4k, 0, 353), false},
      {"read with metadata", NvmeRead(connection, with_metadata, 0, 1), false},
      {"zero write of 352 4096-byte blocks", NvmeWriteZeroBuffer(connection, n4k, 0, 352), true},
      {"zero write past buffer B's zeroed part", NvmeWriteZeroBuffer(connection, n4k, 0, 353),
       false},
      {"zero write with metadata", NvmeWriteZeroBuffer(connection, with_metadata, 0, 1), false},
      {"verify with metadata moves no data", NvmeVerify(connection, with_metadata, 0, 1), true},
  };
  std::size_t expected_sent = 0;
  for (const auto& c : cases) {
    if (c.sent) {
      ++expected_sent;
      EXPECT_TRUE(NvmeSucceeded(c.reply)) << c.what;
    } else {
      EXPECT_EQ(c.reply.outcome, NvmeOutcome::NotSent) << c.what;
    }
  }
  EXPECT_EQ(io.sent.size(), expected_sent);
  for (const NvmeRequest& r : io.sent) EXPECT_EQ(r.nsid, 5u);
}

TEST_F(NvmeWrapperTest, ZeroWriteClearsBufferBFirst) {
  std::memset(buffers.b(), 0xAA, IoBuffers::kSize);
  const NvmeNamespace n4k = Namespace(4096, 1000);
  ASSERT_TRUE(NvmeSucceeded(NvmeWriteZeroBuffer(connection, n4k, 10, 3)));
  ASSERT_EQ(io.sent.size(), 1u);
  EXPECT_EQ(io.sent[0].opcode, kNvmeIoWrite);
  EXPECT_EQ(io.sent[0].data, buffers.b());
  EXPECT_EQ(io.sent[0].data_length, 3u * 4096);
  EXPECT_EQ(io.data_out[0], std::vector<std::uint8_t>(3 * 4096, 0));
  EXPECT_EQ(buffers.b()[IoBuffers::kZeroedBeforeWriteBuffer - 1], 0);
}

TEST(NvmeMaxDataBlocks, BuffersAndTheControllerLimitBothCount) {
  const struct {
    std::uint32_t block_bytes;
    std::uint8_t mdts;
    std::uint32_t blocks;
  } cases[] = {
      {512, 0, 2816},  {4096, 0, 352}, {4096, 5, 32},   {512, 5, 256},
      {512, 1, 16},    {65536, 0, 22}, {4096, 25, 352}, {4096, 8, 256},
  };
  for (const auto& c : cases) {
    NvmeNamespace ns;
    ns.block_bytes = c.block_bytes;
    ns.block_count = 1ULL << 40;
    EXPECT_EQ(NvmeMaxDataBlocks(ns, c.mdts), c.blocks) << c.block_bytes << " " << int(c.mdts);
  }
}

}  // namespace
}  // namespace plovix
