#include "protocol/board_commands.h"

#include <gtest/gtest.h>

#include <vector>

namespace protocol {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(std::span<const uint8_t> s) { return Bytes(s.begin(), s.end()); }

struct FrameCase {
  const char* name;
  RequestFrame frame;
  Bytes expected;
};

// Test names carry the case name, not a dump of the bytes.
void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }


class ProtocolRequestFrames : public testing::TestWithParam<FrameCase> {};

TEST_P(ProtocolRequestFrames, HaveTheirExactBytes) {
  EXPECT_EQ(bytesOf(GetParam().frame.view()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProtocolRequestFrames,
    testing::Values(
        FrameCase{"ReadInputsOfBoard3", readInputsFrame(3), {0x03, 0, 0x02, 0, 0, 0, 0, 0, 0x93, 0x01}},
        FrameCase{"ReadOutputs", readOutputsFrame(7), {0x07, 0, 0x02, 0, 0, 0, 0, 0, 0x91, 0x00}},
        FrameCase{"ReadVersion", readVersionFrame(15), {0x0F, 0, 0x02, 0, 0, 0, 0, 0, 0xF1, 0x00}},
        FrameCase{"ByteWrite0x5AToPort1OfBoard3",
                  writeByteFrame(3, 1, 0x5A),
                  {0x03, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x92, 0x00, 0xFF, 0x00, 0xFF, 0xFF, 0x00, 0x5A,
                   0x00, 0x00}},
        FrameCase{"WordWriteAtPosition3KeepsOnlyTheLowByte",
                  writeWordFrame(0, 3, 0x1234),
                  {0, 0, 0x0A, 0, 0, 0, 0, 0, 0x92, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x34}},
        FrameCase{"WordWriteAtPosition1",
                  writeWordFrame(2, 1, 0xBEEF),
                  {2, 0, 0x0A, 0, 0, 0, 0, 0, 0x92, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0x00, 0xEF, 0xBE, 0x00}},
        FrameCase{"WriteAllOutputs",
                  writeOutputsFrame(1, 0x89ABCDEF),
                  {1, 0, 0x06, 0, 0, 0, 0, 0, 0x90, 0x00, 0xEF, 0xCD, 0xAB, 0x89}},
        FrameCase{"ExchangeOutputs",
                  exchangeFrame(1, 0x01020304),
                  {1, 0, 0x0A, 0, 0, 0, 0, 0, 0x95, 0x01, 0, 0, 0, 0, 0x04, 0x03, 0x02, 0x01}},
        FrameCase{"FilterGroupMask0x81Setting5",
                  filterFrame(2, 0x81, 5),
                  {2, 0, 0x06, 0, 0, 0, 0, 0, 0xA2, 0x81, 0x05, 0x00, 0x00, 0x50}},
        FrameCase{"FilterGroupMask0SendsZeroNibbles",
                  filterFrame(2, 0x00, 9),
                  {2, 0, 0x06, 0, 0, 0, 0, 0, 0xA2, 0x00, 0, 0, 0, 0}}),
    [](const testing::TestParamInfo<FrameCase>& info) { return info.param.name; });

TEST(ProtocolKeepMasks, ByteAndWordMasksPerPosition) {
  const uint32_t byteMasks[] = {0xFFFFFF00, 0xFFFF00FF, 0xFF00FFFF, 0x00FFFFFF};
  const uint32_t wordMasks[] = {0xFFFF0000, 0xFF0000FF, 0x0000FFFF, 0x00FFFFFF};
  for (unsigned i = 0; i < 4; ++i) {
    EXPECT_EQ(byteKeepMask(i), byteMasks[i]) << "port " << i;
    EXPECT_EQ(wordKeepMask(i), wordMasks[i]) << "position " << i;
  }
}

TEST(ProtocolSerialPayloads, BarePayloadsCarryNoHeader) {
  EXPECT_EQ(bytesOf(identifyPayload().view()), (Bytes{0xF3, 0x00}));
  EXPECT_EQ(bytesOf(portProbePayload().view()), (Bytes{0x81, 0x00, 0x10, 0x00, 0xC0, 0x00, 0x20, 0x00}));
  EXPECT_EQ(bytesOf(readInputsPayload().view()), (Bytes{0x93, 0x01}));
  EXPECT_EQ(bytesOf(writeOutputsPayload(0x04030201).view()), (Bytes{0x90, 0x00, 1, 2, 3, 4}));
  EXPECT_EQ(bytesOf(exchangePayload(0x04030201).view()), (Bytes{0x95, 0x01, 0, 0, 0, 0, 1, 2, 3, 4}));
}

TEST(ProtocolReplyChecks, AcceptOnlyTheRightShape) {
  const uint8_t read[12] = {0x03, 0x93, 0x04, 0x00, 0xB4, 0xB5, 0, 0, 0x11, 0x22, 0x33, 0x44};
  EXPECT_TRUE(replyAccepted(read, 12, 3, kReadReply));
  EXPECT_FALSE(replyAccepted(read, 12, 4, kReadReply)) << "another Board ID";
  EXPECT_FALSE(replyAccepted(read, 11, 3, kReadReply)) << "wrong length";
  EXPECT_FALSE(replyAccepted(read, -4, 3, kReadReply)) << "did not fit the buffer";
  EXPECT_FALSE(replyAccepted(read, 12, 3, kWriteReply)) << "payload length 4 is not a write reply";

  uint8_t other[12];
  std::copy(std::begin(read), std::end(read), other);
  other[1] = 0x55;  // only the relay looks at the tag byte
  EXPECT_TRUE(replyAccepted(other, 12, 3, kReadReply));

  const uint8_t write[8] = {0x03, 0x92, 0x00, 0x00, 0xB4, 0xB5, 0, 0};
  EXPECT_TRUE(replyAccepted(write, 8, 3, kWriteReply));
  EXPECT_FALSE(replyAccepted(write, -4, 3, kWriteReply));

  const uint8_t exchange[16] = {0x03, 0x95, 0x08, 0x00, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_TRUE(replyAccepted(exchange, 16, 3, kExchangeReply));
  EXPECT_FALSE(replyAccepted(exchange, 12, 3, kExchangeReply));
}

TEST(ProtocolReplyValues, WordAtPosition3IsPort3Alone) {
  const uint8_t data[4] = {0x11, 0x22, 0x33, 0x44};
  EXPECT_EQ(portByte(data, 2), 0x33);
  EXPECT_EQ(portWord(data, 0), 0x2211);
  EXPECT_EQ(portWord(data, 2), 0x4433);
  EXPECT_EQ(portWord(data, 3), 0x44);
}

}  // namespace
}  // namespace protocol
