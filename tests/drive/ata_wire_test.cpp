// The task file in every block it travels in reads back as it was written: the command
// layer encodes with these and the bench and the Linux translation decode with them.
#include <gtest/gtest.h>

#include "drive/AtaWire.h"

namespace plovix {
namespace {

AtaTaskFile Sample(bool extend) {
  AtaTaskFile tf = AtaTaskFile::Ext(0x42, 0xA1B2C3D4E5F6ULL, 0x1122, 0x3344, 0x50);
  tf.extend = extend;
  if (!extend) tf.hob_feature = tf.hob_count = tf.hob_lba_low = tf.hob_lba_mid = tf.hob_lba_high = 0;
  return tf;
}

void ExpectSameRegisters(const AtaTaskFile& got, const AtaTaskFile& want) {
  EXPECT_EQ(got.feature, want.feature);
  EXPECT_EQ(got.count, want.count);
  EXPECT_EQ(got.Lba48(), want.Lba48());
  EXPECT_EQ(got.device, want.device);
  EXPECT_EQ(got.command, want.command);
  EXPECT_EQ(got.hob_feature, want.hob_feature);
  EXPECT_EQ(got.Count16(), want.Count16());
  EXPECT_EQ(got.extend, want.extend);
}

TEST(AtaWire, EveryBlockDecodesToTheTaskFileItCarries) {
  struct Case {
    const char* name;
    std::optional<AtaTaskFile> decoded;
    AtaTaskFile want;
  };
  AtaTaskFile plain = Sample(false);
  const Case cases[] = {
      {"16, 48-bit", TaskFileOfCdb(PassThrough16(Sample(true), AtaData::None, false).data()),
       Sample(true)},
      {"16, 28-bit", TaskFileOfCdb(PassThrough16(Sample(false), AtaData::In, false).data()),
       Sample(false)},
      {"12", TaskFileOfCdb(PassThrough12(plain, AtaData::Out).data()), plain},
      {"bridge", TaskFileOfCdb(BridgeBlock(plain, true, 512).data()), plain},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(c.decoded.has_value());
    ExpectSameRegisters(*c.decoded, c.want);
  }
}

TEST(AtaWire, RequestAndReplyTaskFilesRoundTrip) {
  AtaPassThroughRequest request;
  request.AtaFlags = kAtaFlags48Bit;
  PutTaskFiles(Sample(true), request);
  ExpectSameRegisters(TaskFilesOfRequest(request), Sample(true));
  request.AtaFlags = 0;  // without the flag the adapter never loads the previous registers
  EXPECT_EQ(TaskFilesOfRequest(request).Lba48(), Sample(true).Lba48() & 0xFFFFFF);

  AtaReply reply = ReplyFromStatus(0x51, 0x40, Sample(true));
  for (const bool through_sense : {false, true}) {
    SCOPED_TRACE(through_sense ? "sense" : "task files");
    AtaReply back;
    if (through_sense) {
      const auto sense = AtaStatusSense(reply);
      back = DecodeAtaSense(sense.data(), sense.size(), SenseForms::DescriptorOnly).value();
    } else {
      AtaPassThroughRequest out;
      PutReply(reply, out);
      back = ReplyOfTaskFiles(out);
    }
    EXPECT_EQ(back.outcome, AtaOutcome::DriveError);
    EXPECT_EQ(back.error, 0x40);
    EXPECT_EQ(back.lba(), Sample(true).Lba48());
    EXPECT_EQ(back.count(), Sample(true).Count16());
  }
}

}  // namespace
}  // namespace plovix
