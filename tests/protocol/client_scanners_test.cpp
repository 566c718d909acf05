#include "protocol/client_scanners.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace protocol {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

const Bytes kInputReply = {0x03, 0x93, 0x04, 0x00, 0xB4, 0xB5, 0x00, 0x00, 0x11, 0x22, 0x33, 0x44};

struct ReplyCase {
  const char* name;
  Bytes stream;
  size_t capacity;
  ScanState state;
  int result;
  size_t consumed;
  Bytes stored;  // expected buffer start
};

// Test names carry the case name, not a dump of the bytes.
void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }


class ProtocolReplyScanner : public testing::TestWithParam<ReplyCase> {};

TEST_P(ProtocolReplyScanner, ScansOneRead) {
  const ReplyCase& c = GetParam();
  // Guard bytes behind the caller's buffer catch any write past its end.
  Bytes buffer(c.capacity + 8, 0xEE);
  ReplyScanner scanner(buffer.data(), c.capacity);
  const ScanStep step = scanner.feed(c.stream.data(), c.stream.size());
  EXPECT_EQ(step.state, c.state);
  EXPECT_EQ(scanner.result(), c.result);
  EXPECT_EQ(step.consumed, c.consumed);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + c.stored.size()), c.stored);
  EXPECT_TRUE(std::all_of(buffer.begin() + c.capacity, buffer.end(), [](uint8_t b) { return b == 0xEE; }));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProtocolReplyScanner,
    testing::Values(
        ReplyCase{"InputReply", kInputReply, 520, ScanState::Complete, 12, 12, kInputReply},
        ReplyCase{"NoiseAbove0FIsSkipped", concat({{0x20, 0xFF, 0x80, 0x10}, kInputReply}), 520,
                  ScanState::Complete, 12, 16, kInputReply},
        ReplyCase{"CandidateAbandonedAtByte6",
                  concat({{0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}, kInputReply}), 520, ScanState::Complete,
                  12, 19, kInputReply},
        ReplyCase{"CandidateAbandonedAtByte7",
                  {0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x03, 0x91, 0, 0, 0, 0, 0, 0}, 520,
                  ScanState::Complete, 8, 16, {0x03, 0x91, 0, 0, 0, 0, 0, 0}},
        // 0x73 sends the scanner back to idle and the status 0x00 starts a frame.
        ReplyCase{"StrayAcknowledgeIsNotAReplyMessage",
                  {0x7F, 0x73, 0x00, 0x93, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 520, ScanState::Complete, 8,
                  10, {0x00, 0x93, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        ReplyCase{"ZeroLengthReplyEndsAfterHeader",
                  {0x03, 0x92, 0x00, 0x00, 0xB4, 0xB5, 0x00, 0x00, 0x55}, 520, ScanState::Complete, 8, 8,
                  {0x03, 0x92, 0x00, 0x00, 0xB4, 0xB5, 0x00, 0x00}},
        ReplyCase{"NoReplyStatusStoresOnlyTheMark", {0x7F, 0x74, 0xFD, 0x03}, 520, ScanState::Complete, -3, 3,
                  {0x7F}},
        ReplyCase{"UnitLargerThanBufferFails",
                  {0x03, 0x95, 0x08, 0x00, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}, 12, ScanState::Failed, -4, 13,
                  {0x03, 0x95, 0x08, 0x00, 0, 0, 0, 0, 1, 2, 3, 4}},
        ReplyCase{"IncompleteFrameNeedsMore", {0x03, 0x93, 0x04, 0x00, 0, 0}, 520, ScanState::NeedMore, 0, 6,
                  {0x03, 0x93, 0x04, 0x00, 0, 0}},
        ReplyCase{"OnlyNoiseNeedsMore", {0x10, 0x7F, 0x20, 0x40}, 520, ScanState::NeedMore, 0, 4, {}}),
    [](const testing::TestParamInfo<ReplyCase>& info) { return info.param.name; });

TEST(ProtocolReplyScannerSplit, FrameSplitAcrossReadsIsKept) {
  uint8_t buffer[16] = {};
  ReplyScanner scanner(buffer, sizeof buffer);
  EXPECT_EQ(scanner.feed(kInputReply.data(), 5).state, ScanState::NeedMore);
  const ScanStep step = scanner.feed(kInputReply.data() + 5, kInputReply.size() - 5);
  EXPECT_EQ(step.state, ScanState::Complete);
  EXPECT_EQ(scanner.result(), 12);
  EXPECT_EQ(Bytes(buffer, buffer + 12), kInputReply);
}

TEST(ProtocolReplyScannerSplit, ResetForgetsAPartialUnit) {
  uint8_t buffer[16] = {};
  ReplyScanner scanner(buffer, sizeof buffer);
  scanner.feed(kInputReply.data(), 5);
  scanner.reset();
  const Bytes ack = {0x7F, 0x74, 0xFD};
  EXPECT_EQ(scanner.feed(ack.data(), ack.size()).state, ScanState::Complete);
  EXPECT_EQ(scanner.result(), -3);
}

struct AckCase {
  const char* name;
  Bytes stream;
  ScanState state;
  int result;
};

// Test names carry the case name, not a dump of the bytes.
void PrintTo(const AckCase& c, std::ostream* os) { *os << c.name; }


class ProtocolAcknowledgeScanner : public testing::TestWithParam<AckCase> {};

// Fed one byte at a time, as the client reads only what is still missing of 3.
TEST_P(ProtocolAcknowledgeScanner, ReadsNoMoreThanThreeBytes) {
  const AckCase& c = GetParam();
  AcknowledgeScanner scanner;
  ScanStep step;
  size_t offered = 0;
  while (step.state == ScanState::NeedMore && offered < c.stream.size()) {
    const size_t want = scanner.bytesWanted();
    ASSERT_GT(want, 0u);
    step = scanner.feed(c.stream.data() + offered, std::min<size_t>(1, want));
    offered += step.consumed;
  }
  EXPECT_EQ(step.state, c.state);
  EXPECT_EQ(scanner.result(), c.result);
  EXPECT_LE(offered, 3u);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProtocolAcknowledgeScanner,
                         testing::Values(AckCase{"Accepted", {0x7F, 0x73, 0x00}, ScanState::Complete, 0},
                                         AckCase{"UnknownBoard", {0x7F, 0x73, 0xFE}, ScanState::Complete, -2},
                                         AckCase{"Refused", {0x7F, 0x73, 0xFA}, ScanState::Complete, -6},
                                         AckCase{"FrameInsteadOfAck", {0x03, 0x93, 0x04, 0x00}, ScanState::Failed, -4},
                                         AckCase{"LateMark", {0x00, 0x7F, 0x73, 0x00}, ScanState::Failed, -4},
                                         AckCase{"WrongLetter", {0x7F, 0x74, 0xFD}, ScanState::Failed, -4}),
                         [](const testing::TestParamInfo<AckCase>& info) { return info.param.name; });

TEST(ProtocolAcknowledgeScannerWhole, StopsAtItsThirdByteWhenFedMore) {
  AcknowledgeScanner scanner;
  const Bytes stream = concat({{0x7F, 0x73, 0x00}, kInputReply});
  const ScanStep step = scanner.feed(stream.data(), stream.size());
  EXPECT_EQ(step.state, ScanState::Complete);
  EXPECT_EQ(step.consumed, 3u);
  EXPECT_EQ(scanner.bytesWanted(), 0u);
}

TEST(ProtocolOpenResultScanner, FindsTheStatusBehindNoise) {
  struct Case {
    Bytes stream;
    ScanState state;
    int result;
  };
  const Case cases[] = {
      {{0x7F, 0x71, 0x00}, ScanState::Complete, 0},
      {{0x7F, 0x71, 0xFE}, ScanState::Complete, -2},
      {{0x10, 0x00, 0x7F, 0x71, 0x00}, ScanState::Complete, 0},
      // The second 0x7F breaks the pattern and is not itself tested as a mark.
      {{0x7F, 0x7F, 0x71, 0x00}, ScanState::NeedMore, 0},
      {{0x7F, 0x73, 0x7F, 0x71, 0xFE}, ScanState::Complete, -2},
  };
  for (const Case& c : cases) {
    OpenResultScanner scanner;
    EXPECT_EQ(scanner.feed(c.stream.data(), c.stream.size()).state, c.state);
    EXPECT_EQ(scanner.result(), c.result);
  }
}

TEST(ProtocolDeviceListScanner, StoresRecordsAndCountsThem) {
  Bytes records(32);
  for (size_t i = 0; i < records.size(); ++i) records[i] = static_cast<uint8_t>(i);
  const Bytes answer = concat({{0x41, 0x7F, 0x75, 0x20, 0x00}, records, {0x99}});
  Bytes buffer(64, 0);
  DeviceListScanner scanner(buffer.data(), buffer.size());
  const ScanStep step = scanner.feed(answer.data(), answer.size());
  EXPECT_EQ(step.state, ScanState::Complete);
  EXPECT_EQ(step.consumed, answer.size() - 1);
  EXPECT_EQ(scanner.result(), 2);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 32), records);
}

TEST(ProtocolDeviceListScanner, EmptyListAndTooSmallBuffer) {
  const Bytes empty = {0x7F, 0x75, 0x00, 0x00};
  uint8_t buffer[16];
  DeviceListScanner none(buffer, sizeof buffer);
  EXPECT_EQ(none.feed(empty.data(), empty.size()).state, ScanState::Complete);
  EXPECT_EQ(none.result(), 0);

  const Bytes two = concat({{0x7F, 0x75, 0x20, 0x00}, Bytes(32, 1)});
  DeviceListScanner small(buffer, sizeof buffer);
  EXPECT_EQ(small.feed(two.data(), two.size()).state, ScanState::Failed);
  EXPECT_EQ(small.result(), -4);
}

TEST(ProtocolVersionScanner, ReadsThePackedVersion) {
  const Bytes answer = {0x00, 0x7F, 0x76, 0x00, 0x31};
  VersionScanner scanner;
  EXPECT_EQ(scanner.feed(answer.data(), 3).state, ScanState::NeedMore);
  EXPECT_EQ(scanner.feed(answer.data() + 3, 2).state, ScanState::Complete);
  EXPECT_EQ(scanner.result(), 0x3100);
}

}  // namespace
}  // namespace protocol
