// relaylink against a relay that runs inside the test: open, send, receive and
// close on a unit connection, with the exact bytes each call sends and the
// result of each answer the relay can give.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <ostream>
#include <string>

#include "fake_relay.h"
#include "relaylink.h"

namespace {

using fake::Bytes;
using fake::FakeRelay;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kPatience = 2000;  // ms; only reached when a test fails

long long msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

Bytes inputsRequest(uint8_t unit) { return {unit, 0, 2, 0, 0, 0, 0, 0, 0x93, 0x01}; }

// A unit connection to the fake relay for board 3, type 0x12.
int64_t openUnit(const FakeRelay& relay) {
  int status = 99;
  const int64_t s = rlk_openA("127.0.0.1", relay.port(), 3, 0x12, kPatience, &status);
  EXPECT_GE(s, 0);
  EXPECT_EQ(status, 0);
  return s;
}

// ---- open -----------------------------------------------------------------

TEST(RelaylinkOpen, SendsOpenMessageWithLowBytesOfIdAndType) {
  FakeRelay relay;
  int status = 99;
  const int64_t s = rlk_openA("127.0.0.1", relay.port(), 0x103, 0x4513, kPatience, &status);
  ASSERT_GE(s, 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(relay.controls(), (std::vector<Bytes>{{0x7F, 0x71, 0x03, 0x13}}));
  EXPECT_EQ(rlk_close(s), 0);
}

struct OpenCase {
  const char* name;
  Bytes answer;
  bool bound;
  int status;
};

void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.name; }

class RelaylinkOpenAnswers : public testing::TestWithParam<OpenCase> {};

TEST_P(RelaylinkOpenAnswers, GiveSocketOrStatus) {
  const OpenCase& c = GetParam();
  FakeRelay relay;
  relay.setOpenAnswer(c.answer);
  int status = 99;
  // Silent relays are given a short time-out; the others must answer at once.
  const int64_t s = rlk_openA("127.0.0.1", relay.port(), 3, 0x12, c.status == -3 ? 40 : kPatience, &status);
  EXPECT_EQ(status, c.status);
  if (c.bound) {
    EXPECT_GE(s, 0);
    rlk_close(s);
  } else {
    EXPECT_EQ(s, -1);
    // Every failed open closes its socket.
    EXPECT_EQ(relay.connectionsOpen(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RelaylinkOpenAnswers,
    testing::Values(OpenCase{"Bound", {0x7F, 0x71, 0x00}, true, 0},
                    OpenCase{"UnknownBoard", {0x7F, 0x71, 0xFE}, false, -2},
                    OpenCase{"NoiseBeforeResult", {0x01, 0x55, 0x7F, 0x71, 0xFE}, false, -2},
                    OpenCase{"OtherNegativeStatus", {0x7F, 0x71, 0xFA}, false, -6},
                    // The byte that breaks 7F 71 is not itself taken as a new 0x7F.
                    OpenCase{"BrokenPatternNotRetested", {0x7F, 0x7F, 0x71, 0x00}, false, -3},
                    OpenCase{"Silent", {}, false, -3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RelaylinkOpen, RelayClosingGivesSocketFailure) {
  int port;
  {
    FakeRelay relay;
    port = relay.port();
  }  // nobody listens there any more
  int status = 99;
  EXPECT_EQ(rlk_openA("127.0.0.1", port, 3, 0x12, kPatience, &status), -1);
  EXPECT_EQ(status, -1);
}

TEST(RelaylinkOpen, NullHostGivesMinusFiveAndLeavesStatus) {
  int status = 1234;
  EXPECT_EQ(rlk_openA(nullptr, 10010, 3, 0x12, 100, &status), -5);
  EXPECT_EQ(rlk_openW(nullptr, 10010, 3, 0x12, 100, &status), -5);
  EXPECT_EQ(status, 1234);
}

TEST(RelaylinkOpen, NullStatusPointerIsAllowed) {
  FakeRelay relay;
  relay.setOpenAnswer({0x7F, 0x71, 0xFE});
  EXPECT_EQ(rlk_openA("127.0.0.1", relay.port(), 3, 0x12, kPatience, nullptr), -1);
}

TEST(RelaylinkOpen, WideHostTakesLowBytesOfAtMostTwentyUnits) {
  FakeRelay relay;
  int status = 99;
  // 25 units: the first 20 are a valid address (trailing blanks allowed),
  // the rest would make it invalid if they were used.
  const std::u16string longHost = u"127.000.000.001     XXXXX";
  int64_t s = rlk_openW(longHost.c_str(), relay.port(), 3, 0x12, kPatience, &status);
  EXPECT_GE(s, 0);
  EXPECT_EQ(status, 0);
  rlk_close(s);
  // High bytes are dropped, not converted.
  std::u16string shifted;
  for (char c : std::string("127.0.0.1")) shifted.push_back(static_cast<char16_t>(0x4100 | c));
  s = rlk_openW(shifted.c_str(), relay.port(), 3, 0x12, kPatience, &status);
  EXPECT_GE(s, 0);
  rlk_close(s);
}

TEST(RelaylinkClose, SecondCloseFails) {
  FakeRelay relay;
  const int64_t s = openUnit(relay);
  EXPECT_EQ(rlk_close(s), 0);
  EXPECT_EQ(rlk_close(s), -1);
  EXPECT_EQ(rlk_close(-1), -1);
}

// ---- send -----------------------------------------------------------------

TEST(RelaylinkSend, WrongLengthIsRefusedBeforeAnythingIsSent) {
  FakeRelay relay;
  const int64_t s = openUnit(relay);
  const Bytes nine{3, 0, 1, 0, 0, 0, 0, 0, 0x93};
  Bytes twelve = inputsRequest(3);
  twelve.resize(12);  // payload length field still says 2
  EXPECT_EQ(rlk_send(s, nine.data(), 9, kPatience), -6);
  EXPECT_EQ(rlk_send(s, twelve.data(), 12, kPatience), -6);
  EXPECT_EQ(rlk_send(s, nullptr, 10, kPatience), -6);
  const Bytes good = inputsRequest(3);
  EXPECT_EQ(rlk_send(s, good.data(), 10, kPatience), 0);
  EXPECT_EQ(relay.frames(), std::vector<Bytes>{good});
  rlk_close(s);
}

struct AckCase {
  const char* name;
  Bytes acknowledge;
  int result;
};

void PrintTo(const AckCase& c, std::ostream* os) { *os << c.name; }

class RelaylinkSendAcknowledgements : public testing::TestWithParam<AckCase> {};

TEST_P(RelaylinkSendAcknowledgements, MapToResults) {
  const AckCase& c = GetParam();
  FakeRelay relay;
  const Bytes follow = fake::replyFrame(3, 0x93, {1, 2, 3, 4});
  const bool silent = c.acknowledge.empty();
  relay.setFrameHandler([&](const Bytes&) {
    fake::Answer a;
    a.acknowledge = c.acknowledge;
    if (!silent) a.reply = follow;
    return a;
  });
  const int64_t s = openUnit(relay);
  const Bytes request = inputsRequest(3);
  EXPECT_EQ(rlk_send(s, request.data(), 10, silent ? 40 : kPatience), c.result);
  if (silent) {
    rlk_close(s);
    return;
  }
  // The acknowledgement is read to its third byte and no further: the frame
  // that follows it is still there, whole.
  uint8_t reply[32] = {};
  EXPECT_EQ(rlk_receive(s, reply, sizeof reply, kPatience), 12);
  EXPECT_EQ(Bytes(reply, reply + 12), follow);
  rlk_close(s);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RelaylinkSendAcknowledgements,
    testing::Values(AckCase{"Accepted", {0x7F, 0x73, 0x00}, 0},
                    AckCase{"NotBound", {0x7F, 0x73, 0xFE}, -2},
                    AckCase{"Refused", {0x7F, 0x73, 0xFA}, -6},
                    AckCase{"ThreeWrongBytes", {0xAA, 0xBB, 0xCC}, -4},
                    AckCase{"MarkTooLate", {0x00, 0x7F, 0x73}, -4},
                    AckCase{"NoAcknowledgement", {}, -3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RelaylinkSend, RelayClosingGivesSocketFailureAndKeepsSocket) {
  FakeRelay relay;
  relay.setFrameHandler([](const Bytes&) {
    fake::Answer a;
    a.acknowledge = {};
    a.closeAfter = true;
    return a;
  });
  const int64_t s = openUnit(relay);
  const Bytes request = inputsRequest(3);
  EXPECT_EQ(rlk_send(s, request.data(), 10, kPatience), -1);
  EXPECT_EQ(rlk_close(s), 0);  // still ours to close
}

// A relay that binds the unit and then never reads again.
class DeafRelay {
 public:
  DeafRelay() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);  // inherited by the accepted socket
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof sa;
    bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    listen(listener_, 1);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&sa), &size);
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread([this] {
      conn_ = accept(listener_, nullptr, nullptr);
      uint8_t open[4];
      if (conn_ >= 0 && recv(conn_, open, 4, MSG_WAITALL) == 4) {
        const uint8_t bound[] = {0x7F, 0x71, 0x00};
        send(conn_, bound, sizeof bound, MSG_NOSIGNAL);
      }
    });
  }
  ~DeafRelay() {
    thread_.join();
    if (conn_ >= 0) close(conn_);
    close(listener_);
  }
  int port() const { return port_; }

 private:
  int listener_ = -1;
  int conn_ = -1;
  int port_ = 0;
  std::thread thread_;
};

TEST(RelaylinkSend, RelayThatStopsReadingCannotHoldTheCallerForEver) {
  DeafRelay relay;
  int status = 99;
  const int64_t s = rlk_openA("127.0.0.1", relay.port(), 3, 0x12, kPatience, &status);
  ASSERT_GE(s, 0);
  const int small = 4096;
  setsockopt(static_cast<int>(s), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  Bytes frame(520, 0);
  frame[0] = 3;
  frame[2] = 0x00;
  frame[3] = 0x02;  // payload length 512
  frame[8] = 0x93;
  // Time-out 0: each call sends, looks once for an acknowledgement and gives
  // up; once the relay's buffers are full the send itself can no longer go out.
  int result = -3;
  for (int i = 0; i < 100000 && result == -3; ++i) result = rlk_send(s, frame.data(), 520, 0);
  EXPECT_EQ(result, -1);
  // With a time-out, a send that finds no room waits for room until the
  // deadline and no longer. (The kernel may still free some room now and then,
  // letting a call through to its acknowledgement wait.)
  long long took = -1;
  for (int i = 0; i < 100 && took < 0; ++i) {
    const auto start = Clock::now();
    if (rlk_send(s, frame.data(), 520, 20) == -1) took = msSince(start);
  }
  EXPECT_GE(took, 20);
  EXPECT_LT(took, 1000);
  rlk_close(s);
}

// ---- receive --------------------------------------------------------------

struct StreamCase {
  const char* name;
  Bytes stream;  // what the relay sends after the acknowledgement
  int bufferSize;
  int result;
  Bytes stored;  // expected start of the buffer
};

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

class RelaylinkReceiveStreams : public testing::TestWithParam<StreamCase> {};

TEST_P(RelaylinkReceiveStreams, Scan) {
  const StreamCase& c = GetParam();
  FakeRelay relay;
  relay.setFrameHandler([&](const Bytes&) {
    fake::Answer a;
    a.reply = c.stream;
    return a;
  });
  const int64_t s = openUnit(relay);
  const Bytes request = inputsRequest(3);
  ASSERT_EQ(rlk_send(s, request.data(), 10, kPatience), 0);
  Bytes buffer(static_cast<size_t>(c.bufferSize) + 4, 0xEE);
  EXPECT_EQ(rlk_receive(s, buffer.data(), c.bufferSize, c.result == -3 && c.stored.empty() ? 40 : kPatience),
            c.result);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + c.stored.size()), c.stored);
  // Nothing is ever written beyond the caller's size.
  EXPECT_EQ(Bytes(buffer.end() - 4, buffer.end()), Bytes(4, 0xEE));
  rlk_close(s);
}

const Bytes kFrame12 = {3, 0x93, 4, 0, 9, 9, 0, 0, 0x11, 0x22, 0x33, 0x44};

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

INSTANTIATE_TEST_SUITE_P(
    Table, RelaylinkReceiveStreams,
    testing::Values(
        StreamCase{"PlainFrame", kFrame12, 12, 12, kFrame12},
        StreamCase{"NoiseAbove0FSkipped", concat({0x10, 0x80, 0xFF}, kFrame12), 12, 12, kFrame12},
        // Byte 6 of 0x01 abandons the candidate; the scan restarts after it.
        StreamCase{"CandidateWithByte6Abandoned", concat({3, 0, 0, 0, 0, 0, 0x01}, kFrame12), 12, 12, kFrame12},
        // A stray 7F 73 00: 0x73 sends the scanner back to idle, 00 starts a frame.
        StreamCase{"StrayAcknowledgeStartsFrameAtZero", {0x7F, 0x73, 0x00, 0x93, 0, 0, 1, 2, 0, 0}, 12, 8,
                   {0x00, 0x93, 0, 0, 1, 2, 0, 0}},
        StreamCase{"EmptyPayloadFrame", {3, 0x92, 0, 0, 0, 0, 0, 0}, 8, 8, {3, 0x92, 0, 0, 0, 0, 0, 0}},
        StreamCase{"NoReplyMessage", {0x7F, 0x74, 0xFD}, 12, -3, {0x7F}},
        StreamCase{"FrameLargerThanBuffer", fake::replyFrame(3, 0x95, Bytes(8, 1)), 12, -4,
                   Bytes{3, 0x95, 8, 0, 0x5A, 0xA5, 0, 0, 1, 1, 1, 1}},
        StreamCase{"OnlyNoise", {0x20, 0x30, 0x40}, 12, -3, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RelaylinkReceive, FrameSplitAcrossReadsIsStillAssembled) {
  FakeRelay relay;
  relay.setFrameHandler([](const Bytes&) {
    fake::Answer a;
    a.reply = kFrame12;
    a.splitAt = 5;
    return a;
  });
  const int64_t s = openUnit(relay);
  const Bytes request = inputsRequest(3);
  ASSERT_EQ(rlk_send(s, request.data(), 10, kPatience), 0);
  uint8_t reply[12] = {};
  EXPECT_EQ(rlk_receive(s, reply, 12, kPatience), 12);
  EXPECT_EQ(Bytes(reply, reply + 12), kFrame12);
  rlk_close(s);
}

TEST(RelaylinkReceive, TimeOutZeroReadsOnceAndReportsTimeOut) {
  FakeRelay relay;
  const int64_t s = openUnit(relay);
  relay.pushToAll(kFrame12);
  uint8_t reply[12] = {};
  // The frame is waiting; the single pass reads it and still says -3.
  EXPECT_EQ(rlk_receive(s, reply, 12, 0), -3);
  EXPECT_EQ(Bytes(reply, reply + 12), kFrame12);
  // It is gone: nothing is left to receive.
  EXPECT_EQ(rlk_receive(s, reply, 12, 30), -3);
  rlk_close(s);
}

TEST(RelaylinkReceive, BytesAfterACompletedUnitInTheSameReadAreDropped) {
  FakeRelay relay;
  const int64_t s = openUnit(relay);
  Bytes two = kFrame12;
  for (uint8_t b : kFrame12) two.push_back(b);
  relay.pushToAll(two);  // one send: both frames arrive in one read
  uint8_t reply[12] = {};
  EXPECT_EQ(rlk_receive(s, reply, 12, kPatience), 12);
  EXPECT_EQ(rlk_receive(s, reply, 12, 30), -3);
  rlk_close(s);
}

TEST(RelaylinkReceive, ReplyIsSeenAsSoonAsItArrives) {
  FakeRelay relay;
  relay.setFrameHandler([](const Bytes&) {
    fake::Answer a;
    a.reply = kFrame12;
    a.replyDelay = std::chrono::milliseconds(20);
    return a;
  });
  const int64_t s = openUnit(relay);
  const Bytes request = inputsRequest(3);
  ASSERT_EQ(rlk_send(s, request.data(), 10, kPatience), 0);
  uint8_t reply[12];
  const auto start = Clock::now();
  EXPECT_EQ(rlk_receive(s, reply, 12, 5000), 12);
  EXPECT_LT(msSince(start), 1000);
  rlk_close(s);
}

TEST(RelaylinkReceive, DeadlineIsKeptWhenNothingComes) {
  FakeRelay relay;
  const int64_t s = openUnit(relay);
  uint8_t reply[12];
  const auto start = Clock::now();
  EXPECT_EQ(rlk_receive(s, reply, 12, 50), -3);
  const auto elapsed = msSince(start);
  EXPECT_GE(elapsed, 50);
  EXPECT_LT(elapsed, 1000);
  rlk_close(s);
}

TEST(RelaylinkReceive, RelayClosingEndsTheWaitAtOnce) {
  FakeRelay relay;
  relay.setFrameHandler([](const Bytes&) {
    fake::Answer a;
    a.closeAfter = true;
    return a;
  });
  const int64_t s = openUnit(relay);
  const Bytes request = inputsRequest(3);
  ASSERT_EQ(rlk_send(s, request.data(), 10, kPatience), 0);
  uint8_t reply[12];
  const auto start = Clock::now();
  EXPECT_EQ(rlk_receive(s, reply, 12, 5000), -1);
  EXPECT_LT(msSince(start), 1000);
  EXPECT_EQ(rlk_close(s), 0);
}

}  // namespace
