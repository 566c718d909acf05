// netpio I/O operations against the fake relay: the exact frames each one
// sends, its output, each result for each answer the relay can give,
// argument checks before any traffic, and the discard of a stale reply.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "netpio_fixture.h"

namespace {

using fake::Bytes;
using netpio_test::kBoard;
using netpio_test::kType;
using netpio_test::NetpioUnit;

// ---- the frames each operation sends, and what it outputs ------------------

struct FrameCase {
  const char* name;
  std::function<uint32_t(uint32_t& out)> call;  // out: the operation's output, widened
  Bytes frame;
  uint32_t output;
};

void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

class NetpioFrames : public NetpioUnit, public testing::WithParamInterface<FrameCase> {};

TEST_P(NetpioFrames, SendExactBytesAndTakeTheRightOutput) {
  const FrameCase& c = GetParam();
  relay.board().inputs = 0x44332211;
  relay.board().outputs = 0x88776655;
  uint32_t out = 0xFFFFFFFF;
  EXPECT_EQ(c.call(out), 0u);
  EXPECT_EQ(frames(), std::vector<Bytes>{c.frame});
  EXPECT_EQ(out, c.output);
}

const Bytes kReadInputs{3, 0, 2, 0, 0, 0, 0, 0, 0x93, 0x01};
const Bytes kReadOutputs{3, 0, 2, 0, 0, 0, 0, 0, 0x91, 0x00};

uint32_t readWord(uint32_t (*fn)(int, int, uint16_t, uint16_t*), uint16_t at, uint32_t& out) {
  uint16_t v = 0xFFFF;
  const uint32_t r = fn(kType, kBoard, at, &v);
  out = v;
  return r;
}

uint32_t readDouble(uint32_t (*fn)(int, int, uint32_t*), uint32_t& out) { return fn(kType, kBoard, &out); }

INSTANTIATE_TEST_SUITE_P(
    Table, NetpioFrames,
    testing::Values(
        FrameCase{"rInB", [](uint32_t& o) { return readWord(npio_rInB, 1, o); }, kReadInputs, 0x22},
        FrameCase{"rInW", [](uint32_t& o) { return readWord(npio_rInW, 2, o); }, kReadInputs, 0x4433},
        FrameCase{"rInWAtThreeIsPortThree", [](uint32_t& o) { return readWord(npio_rInW, 3, o); }, kReadInputs, 0x44},
        FrameCase{"rInDW", [](uint32_t& o) { return readDouble(npio_rInDW, o); }, kReadInputs, 0x44332211},
        FrameCase{"rOutB", [](uint32_t& o) { return readWord(npio_rOutB, 0, o); }, kReadOutputs, 0x55},
        FrameCase{"rOutW", [](uint32_t& o) { return readWord(npio_rOutW, 1, o); }, kReadOutputs, 0x7766},
        FrameCase{"rOutDW", [](uint32_t& o) { return readDouble(npio_rOutDW, o); }, kReadOutputs, 0x88776655},
        FrameCase{"rVersion",
                  [](uint32_t& o) {
                    uint16_t v[2] = {};
                    const uint32_t r = npio_rVersion(kType, kBoard, v);
                    o = uint32_t(v[0]) << 16 | v[1];
                    return r;
                  },
                  {3, 0, 2, 0, 0, 0, 0, 0, 0xF1, 0x00}, 0x01020304},
        FrameCase{"wOutB",
                  [](uint32_t& o) {
                    o = 0;
                    return npio_wOutB(kType, kBoard, 1, 0x5A);
                  },
                  {3, 0, 10, 0, 0, 0, 0, 0, 0x92, 0x00, 0xFF, 0x00, 0xFF, 0xFF, 0x00, 0x5A, 0x00, 0x00}, 0},
        FrameCase{"wOutWAtThreeWritesPortThreeOnly",
                  [](uint32_t& o) {
                    o = 0;
                    return npio_wOutW(kType, kBoard, 3, 0x1234);
                  },
                  {3, 0, 10, 0, 0, 0, 0, 0, 0x92, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0, 0, 0, 0x34}, 0},
        FrameCase{"wOutWAtOne",
                  [](uint32_t& o) {
                    o = 0;
                    return npio_wOutW(kType, kBoard, 1, 0xBEEF);
                  },
                  {3, 0, 10, 0, 0, 0, 0, 0, 0x92, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0, 0xEF, 0xBE, 0}, 0},
        FrameCase{"wOutDW",
                  [](uint32_t& o) {
                    o = 0;
                    return npio_wOutDW(kType, kBoard, 0xA1B2C3D4);
                  },
                  {3, 0, 6, 0, 0, 0, 0, 0, 0x90, 0x00, 0xD4, 0xC3, 0xB2, 0xA1}, 0},
        FrameCase{"InOutDW", [](uint32_t& o) { return npio_InOutDW(kType, kBoard, &o, 0x01020304); },
                  {3, 0, 10, 0, 0, 0, 0, 0, 0x95, 0x01, 0, 0, 0, 0, 0x04, 0x03, 0x02, 0x01}, 0x44332211},
        FrameCase{"SetFilter",
                  [](uint32_t& o) {
                    o = 0;
                    return npio_SetFilter(kType, kBoard, 0x81, 5);
                  },
                  {3, 0, 6, 0, 0, 0, 0, 0, 0xA2, 0x81, 0x05, 0x00, 0x00, 0x50}, 0},
        FrameCase{"SetFilterEmptyMask",
                  [](uint32_t& o) {
                    o = 0;
                    return npio_SetFilter(kType, kBoard, 0, 15);
                  },
                  {3, 0, 6, 0, 0, 0, 0, 0, 0xA2, 0x00, 0, 0, 0, 0}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(NetpioUnit, WritesReachTheBoard) {
  ASSERT_EQ(npio_wOutDW(kType, kBoard, 0x11111111), 0u);
  ASSERT_EQ(npio_wOutB(kType, kBoard, 2, 0xAB), 0u);
  EXPECT_EQ(relay.board().outputs, 0x11AB1111u);
  // A type code and Board ID are taken from their low 16 bits.
  uint32_t out = 0;
  EXPECT_EQ(npio_rOutDW(0x10012, 0x70003, &out), 0u);
  EXPECT_EQ(out, 0x11AB1111u);
}

// ---- results for each answer of the relay ----------------------------------

struct AnswerCase {
  const char* name;
  Bytes acknowledge;
  Bytes reply;  // empty: none
  uint32_t readResult;
  uint32_t writeResult;
};

void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }

class NetpioAnswers : public NetpioUnit, public testing::WithParamInterface<AnswerCase> {};

TEST_P(NetpioAnswers, MapToErrorBitsAndLeaveOutputs) {
  const AnswerCase& c = GetParam();
  const bool silent = c.reply.empty() && c.acknowledge == Bytes{0x7F, 0x73, 0x00};
  if (silent) {
    ASSERT_EQ(npio_SetProgLink("127.0.0.1", relay.port(), 40), 0u);
  }
  relay.setFrameHandler([&](const Bytes&) {
    fake::Answer a;
    a.acknowledge = c.acknowledge;
    a.reply = c.reply;
    return a;
  });
  uint16_t value = 0xBEEF;
  EXPECT_EQ(npio_rInB(kType, kBoard, 0, &value), c.readResult);
  EXPECT_EQ(value, c.readResult == 0 ? 0x01 : 0xBEEF);  // written only on success
  EXPECT_EQ(npio_wOutDW(kType, kBoard, 1), c.writeResult);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NetpioAnswers,
    testing::Values(
        AnswerCase{"BoardNotConnected", {0x7F, 0x73, 0xFE}, {}, NPIO_UNKNOWN_BOARD, NPIO_UNKNOWN_BOARD},
        AnswerCase{"FrameRefused", {0x7F, 0x73, 0xFA}, {}, NPIO_REFUSED, NPIO_REFUSED},
        AnswerCase{"UnexpectedAcknowledgement", {0x7F, 0x75, 0x00}, {}, NPIO_UNEXPECTED, NPIO_UNEXPECTED},
        AnswerCase{"PositiveAcknowledgementStatus", {0x7F, 0x73, 0x05}, {}, NPIO_UNEXPECTED, NPIO_UNEXPECTED},
        AnswerCase{"BoardDidNotAnswer", {0x7F, 0x73, 0x00}, {0x7F, 0x74, 0xFD}, NPIO_TIMEOUT, NPIO_TIMEOUT},
        AnswerCase{"NothingComes", {0x7F, 0x73, 0x00}, {}, NPIO_TIMEOUT, NPIO_TIMEOUT},
        AnswerCase{"OtherBoardId", {0x7F, 0x73, 0x00}, {4, 0x93, 4, 0, 0, 0, 0, 0, 1, 2, 3, 4},
                   NPIO_REPLY_MISMATCH, NPIO_REPLY_MISMATCH},
        AnswerCase{"LongerReply", {0x7F, 0x73, 0x00}, {3, 0x93, 8, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8},
                   NPIO_REPLY_MISMATCH, NPIO_REPLY_MISMATCH},
        AnswerCase{"EmptyReply", {0x7F, 0x73, 0x00}, {3, 0x93, 0, 0, 0, 0, 0, 0}, NPIO_REPLY_MISMATCH, 0},
        // Only the relay looks at byte 1; the library accepts any.
        AnswerCase{"OtherCommandByte", {0x7F, 0x73, 0x00}, {3, 0x55, 4, 0, 0, 0, 0, 0, 1, 2, 3, 4}, 0,
                   NPIO_REPLY_MISMATCH}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(NetpioUnit, RelayClosingGivesSocketFailureAndUnitStaysOpen) {
  relay.setFrameHandler([](const Bytes&) {
    fake::Answer a;
    a.closeAfter = true;
    return a;
  });
  uint32_t value = 0;
  EXPECT_EQ(npio_rInDW(kType, kBoard, &value), NPIO_SOCKET_FAILURE);
  EXPECT_EQ(npio_rInDW(kType, kBoard, &value), NPIO_SOCKET_FAILURE);
  EXPECT_EQ(npio_CloseDevice(kType, kBoard), 0u);
}

// ---- argument checks -------------------------------------------------------

struct BadCall {
  const char* name;
  std::function<uint32_t()> call;
  uint32_t result;
};

void PrintTo(const BadCall& c, std::ostream* os) { *os << c.name; }

class NetpioArguments : public NetpioUnit, public testing::WithParamInterface<BadCall> {};

TEST_P(NetpioArguments, AreRefusedBeforeAnyTraffic) {
  EXPECT_EQ(GetParam().call(), GetParam().result);
  // The next good call is the only frame the relay ever saw.
  uint32_t value = 0;
  ASSERT_EQ(npio_rInDW(kType, kBoard, &value), 0u);
  EXPECT_EQ(frames().size(), 1u);
}

uint16_t g_word;
uint32_t g_double;

INSTANTIATE_TEST_SUITE_P(
    Table, NetpioArguments,
    testing::Values(
        BadCall{"PortFour", [] { return npio_rInB(kType, kBoard, 4, &g_word); }, NPIO_BAD_ARGUMENT},
        BadCall{"PositionFour", [] { return npio_rOutW(kType, kBoard, 4, &g_word); }, NPIO_BAD_ARGUMENT},
        BadCall{"WritePortFour", [] { return npio_wOutB(kType, kBoard, 4, 1); }, NPIO_BAD_ARGUMENT},
        BadCall{"WriteWordPositionFour", [] { return npio_wOutW(kType, kBoard, 4, 1); }, NPIO_BAD_ARGUMENT},
        BadCall{"TypeCode14", [] { return npio_rInDW(0x14, kBoard, &g_double); }, NPIO_BAD_ARGUMENT},
        BadCall{"BoardSixteen", [] { return npio_rInDW(kType, 16, &g_double); }, NPIO_BAD_ARGUMENT},
        BadCall{"BoardMinusOne", [] { return npio_wOutDW(kType, -1, 0); }, NPIO_BAD_ARGUMENT},
        BadCall{"FilterMask256", [] { return npio_SetFilter(kType, kBoard, 256, 1); }, NPIO_BAD_ARGUMENT},
        BadCall{"FilterSetting16", [] { return npio_SetFilter(kType, kBoard, 1, 16); }, NPIO_BAD_ARGUMENT},
        BadCall{"NullValue", [] { return npio_rInB(kType, kBoard, 0, nullptr); }, NPIO_BAD_ARGUMENT},
        BadCall{"NullVersions", [] { return npio_rVersion(kType, kBoard, nullptr); }, NPIO_BAD_ARGUMENT},
        BadCall{"NullInputs", [] { return npio_InOutDW(kType, kBoard, nullptr, 0); }, NPIO_BAD_ARGUMENT},
        BadCall{"NullFrame", [] { return npio_EtnSend(kType, kBoard, nullptr, &g_word); }, NPIO_BAD_ARGUMENT},
        BadCall{"UnitNotOpen", [] { return npio_rInDW(kType, 4, &g_double); }, NPIO_SOCKET_FAILURE},
        BadCall{"WirelessUnitNotOpen", [] { return npio_wOutDW(0x13, kBoard, 0); }, NPIO_SOCKET_FAILURE},
        BadCall{"FrameLengthWrong",
                [] {
                  static const uint8_t frame[12] = {3, 0, 2, 0, 0, 0, 0, 0, 0x93, 0x01, 0, 0};
                  uint16_t length = 12;
                  return npio_EtnSend(kType, kBoard, frame, &length);
                },
                NPIO_REFUSED}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- stale replies and the pass-through -------------------------------------

TEST_F(NetpioUnit, LateReplyIsDiscardedBeforeTheNextRequest) {
  ASSERT_EQ(npio_SetProgLink("127.0.0.1", relay.port(), 40), 0u);
  relay.setFrameHandler([](const Bytes&) { return fake::Answer{}; });  // acknowledged, never answered
  uint32_t value = 0;
  EXPECT_EQ(npio_rInDW(kType, kBoard, &value), NPIO_TIMEOUT);
  // The answer comes after the caller gave up, followed by the relay's own
  // late "no reply" for it.
  Bytes late = fake::replyFrame(3, 0x93, {0xDE, 0xAD, 0xBE, 0xEF});
  for (uint8_t b : {0x7F, 0x74, 0xFD}) late.push_back(b);
  relay.pushToAll(late);
  relay.setFrameHandler([this](const Bytes& f) { return relay.board().answer(f); });
  relay.board().inputs = 0x01020304;
  ASSERT_EQ(npio_SetProgLink("127.0.0.1", relay.port(), 2000), 0u);
  EXPECT_EQ(npio_rInDW(kType, kBoard, &value), 0u);
  EXPECT_EQ(value, 0x01020304u);
}

TEST_F(NetpioUnit, PassThroughSendThenReceive) {
  const uint8_t frame[10] = {3, 0, 2, 0, 0, 0, 0, 0, 0x93, 0x01};
  uint16_t length = 10;
  ASSERT_EQ(npio_EtnSend(kType, kBoard, frame, &length), 0u);
  uint8_t reply[32] = {};
  uint16_t size = sizeof reply;
  ASSERT_EQ(npio_EtnRecv(kType, kBoard, reply, &size), 0u);
  EXPECT_EQ(size, 12);
  EXPECT_EQ(Bytes(reply, reply + 12), fake::replyFrame(3, 0x93, {0x11, 0x22, 0x33, 0x44}));
}

TEST_F(NetpioUnit, PassThroughReceiveIntoSmallBufferIsUnexpected) {
  const uint8_t frame[10] = {3, 0, 2, 0, 0, 0, 0, 0, 0x93, 0x01};
  uint16_t length = 10;
  ASSERT_EQ(npio_EtnSend(kType, kBoard, frame, &length), 0u);
  uint8_t reply[11];
  uint16_t size = sizeof reply;
  EXPECT_EQ(npio_EtnRecv(kType, kBoard, reply, &size), NPIO_UNEXPECTED);
  EXPECT_EQ(size, sizeof reply);
}

TEST_F(NetpioUnit, SecondPassThroughSendDiscardsTheFirstReply) {
  const uint8_t inputs[10] = {3, 0, 2, 0, 0, 0, 0, 0, 0x93, 0x01};
  const uint8_t outputs[10] = {3, 0, 2, 0, 0, 0, 0, 0, 0x91, 0x00};
  uint16_t length = 10;
  ASSERT_EQ(npio_EtnSend(kType, kBoard, inputs, &length), 0u);
  relay.settle();  // the first reply is in our socket by now
  ASSERT_EQ(npio_EtnSend(kType, kBoard, outputs, &length), 0u);
  uint8_t reply[16] = {};
  uint16_t size = sizeof reply;
  ASSERT_EQ(npio_EtnRecv(kType, kBoard, reply, &size), 0u);
  EXPECT_EQ(reply[1], 0x91);  // the answer to the second frame, not the first
}

}  // namespace
