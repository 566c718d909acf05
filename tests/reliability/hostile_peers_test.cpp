// Hostile and slow peers against a live relay engine on loopback: a client
// that never reads, a client that floods one board, malformed streams and
// connection churn, and datagrams of every size on both UDP ports. The relay
// must keep serving everyone else, keep its memory bounded and give back what
// it took.
#include <sys/socket.h>

#include <random>

#include "tests/engine/engine_harness.h"
#include "tests/reliability/process_usage.h"
#include "tests/reliability/stream_counter.h"

namespace engine_test {
namespace {

using reliability_test::countUnits;

class RelHostile : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    shell.debugEnabled = false;
    shell.keepDebugEntries = false;
  }
  // One request and its answer on `client`, in order.
  void roundTrip(FakeClient& client, uint8_t unit, uint8_t tag) {
    client.send(requestFrame(unit, tag, 2));
    ASSERT_EQ(take(client, 3), (Bytes{0x7F, 0x73, 0x00}));
    ASSERT_EQ(take(client, 12), boardReply(unit, tag, 4));
  }
};

TEST_F(RelHostile, ClientThatNeverReadsStallsNobodyAndGetsAnIntactStream) {
  options.clientOutputLimit = 32 * 1024;
  startEngine();
  FakeBoard& board = addBoard(3, 0x12, 3);
  connectBoard(board);
  FakeClient& idle = openClient(3, 0x12);
  idle.reading = false;
  FakeClient& busy = openClient(3, 0x12);

  // The idle client sends far more than its socket buffers hold in answers.
  constexpr int kFrames = 6000;
  Bytes burst;
  for (int i = 0; i < kFrames; ++i) {
    const Bytes f = requestFrame(3, static_cast<uint8_t>(0x80 + i % 0x40), 2);
    burst.insert(burst.end(), f.begin(), f.end());
  }
  size_t sent = 0;
  for (int round = 0; round < 3000 && sent < burst.size(); ++round) {
    const auto r = platform::sendSome(idle.socket(), burst.data() + sent, burst.size() - sent);
    if (r.outcome == platform::IoOutcome::Done) sent += r.bytes;
    settle(1);
  }
  // Meanwhile the other client is served at once, every time.
  for (int i = 0; i < 100; ++i) roundTrip(busy, 3, static_cast<uint8_t>(0x90 + i % 8));
  size_t pendingMax = 0;
  relay->forEachClient([&](engine::SocketHandle, const engine::ClientRecord& c) {
    pendingMax = std::max(pendingMax, static_cast<size_t>(c.queuedRequests));
  });
  EXPECT_LE(pendingMax, static_cast<size_t>(options.clientQueueLimit) + 128u) << "queued requests stay bounded";

  // It reads again: every answer is there, whole and in order.
  idle.reading = true;
  const size_t frames = sent / 10;
  ASSERT_TRUE(pumpUntil([&] { return idle.received.size() >= frames * 15; }, std::chrono::seconds(10)));
  settle(20);
  const auto count = countUnits(idle.received);
  EXPECT_FALSE(count.malformed);
  EXPECT_EQ(count.accepted, frames);
  ASSERT_EQ(count.replies, frames);
  for (size_t i = 0; i < frames; ++i) ASSERT_EQ(count.replyTags[i], 0x80 + i % 0x40) << "answer " << i;
}

TEST_F(RelHostile, FloodAtOneBoardLeavesItsOtherClientsServedInOrder) {
  options.clientQueueLimit = 16;
  startEngine();
  FakeBoard& board = addBoard(4, 0x12, 3);
  connectBoard(board);
  FakeClient& flooder = openClient(4, 0x12);
  flooder.setSmallSendBuffer();
  FakeClient& other = openClient(4, 0x12);

  Bytes flood;
  for (int i = 0; i < 400; ++i) {
    const Bytes f = requestFrame(4, 0x91, 64);
    flood.insert(flood.end(), f.begin(), f.end());
  }
  size_t most = 0;
  for (int round = 0; round < 30; ++round) {
    platform::sendSome(flooder.socket(), flood.data(), flood.size());
    // The other client's requests go in between, answered in their order.
    Bytes batch;
    for (uint8_t t = 0; t < 4; ++t) {
      const Bytes f = requestFrame(4, static_cast<uint8_t>(0xA0 + t), 2);
      batch.insert(batch.end(), f.begin(), f.end());
    }
    other.send(batch);
    ASSERT_TRUE(pumpUntil([&] { return countUnits(other.received).replies >= 4; })) << "round " << round;
    const auto count = countUnits(other.received);
    EXPECT_EQ(count.replyTags, (std::vector<uint8_t>{0xA0, 0xA1, 0xA2, 0xA3}));
    other.received.clear();
    most = std::max(most, recordOf(board)->requests.size());
  }
  // The board's queue holds at most the flooder's limit and one read beyond it.
  EXPECT_LE(most, 16u + 64u);
}

TEST_F(RelHostile, MalformedStreamsAndChurnLeaveNothingBehind) {
  startEngine();
  FakeBoard& board = addBoard(3, 0x12, 3);
  connectBoard(board);
  FakeClient& witness = openClient(3, 0x12);
  roundTrip(witness, 3, 0x93);
  const size_t fdsBefore = reliability_test::openDescriptors();
  const size_t heapBefore = reliability_test::heapInUse();

  std::mt19937 random(8);
  Bytes noise(64 * 1024);
  for (auto& b : noise) b = static_cast<uint8_t>(random());
  Bytes hugeLength = {0x7F, 0x71, 3, 0x12, 3, 0, 0xFF, 0xFF, 0, 0, 0, 0};
  hugeLength.resize(hugeLength.size() + 70000, 0x55);
  const Bytes whole = requestFrame(3, 0x93, 200);
  Bytes truncated = {0x7F, 0x71, 3, 0x12};
  truncated.insert(truncated.end(), whole.begin(), whole.begin() + 40);
  Bytes zeroLengths;
  for (int i = 0; i < 1000; ++i) zeroLengths.insert(zeroLengths.end(), {3, 0, 0, 0, 0, 0, 0, 0});
  struct Case {
    const char* name;
    Bytes bytes;
  };
  const Case cases[] = {{"random bytes", noise},
                        {"huge length field", hugeLength},
                        {"truncated frame", truncated},
                        {"zero-length frames", zeroLengths},
                        {"control marks only", Bytes(5000, 0x7F)}};
  for (int repeat = 0; repeat < 3; ++repeat) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      FakeClient& hostile = connectClient();
      size_t sent = 0;
      for (int round = 0; round < 500 && sent < c.bytes.size(); ++round) {
        const auto r = platform::sendSome(hostile.socket(), c.bytes.data() + sent, c.bytes.size() - sent);
        if (r.outcome == platform::IoOutcome::Done) sent += r.bytes;
        settle(1);
      }
      hostile.close();
      roundTrip(witness, 3, 0x92);
    }
  }
  // Tens of thousands of connections opened and closed, some half-open. Most
  // end with a reset, so that their ports do not sit in TIME_WAIT and starve
  // other tests of ephemeral ports.
  for (int i = 0; i < 20000; ++i) {
    const platform::SocketHandle s = platform::openTcpSocket();
    if (i % 10 != 0) {
      const linger reset{1, 0};
      setsockopt(s, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
    platform::startConnect(s, {Ipv4Address{{127, 0, 0, 1}}, relay->listenerPort()});
    if (i % 3 == 0) shutdown(s, SHUT_WR);  // half-open: the relay sees the end of a stream it may still answer
    if (i % 3 == 1) {
      const uint8_t open[] = {0x7F, 0x71, 3, 0x12, 3, 0, 2};
      platform::sendSome(s, open, sizeof open);
    }
    loop.runOnce(std::chrono::milliseconds(0));
    platform::closeSocket(s);
    if (i % 100 == 0) settle(2);
  }
  fakeClients.erase(fakeClients.begin() + 1, fakeClients.end());
  ASSERT_TRUE(pumpUntil([&] { return relay->clientCount() == 1; }, std::chrono::seconds(10)));
  roundTrip(witness, 3, 0x91);
  EXPECT_EQ(recordOf(board)->openers.size(), 1u) << "closed connections are taken off the board";
  EXPECT_LE(reliability_test::openDescriptors(), fdsBefore);
  EXPECT_LE(reliability_test::heapInUse(), heapBefore + 512 * 1024) << "heap back near its level";
}

TEST_F(RelHostile, DatagramsOfEverySizeGetNoAnswerUnlessAQuery) {
  startEngine();
  FakeBoard& board = addBoard(3, 0x12, 3);
  connectBoard(board);
  const platform::SocketHandle stranger = platform::openUdpSocket({Ipv4Address{{127, 0, 0, 50}}, 0}, false);
  ASSERT_NE(stranger, platform::kInvalidSocket);
  std::mt19937 random(30720);
  const platform::SocketAddress ports[] = {discoveryAddress(), {relayIp, options.relayPort}};
  size_t answers = 0;
  for (size_t size = 0; size <= 1500; size += 7) {
    Bytes datagram(size);
    for (auto& b : datagram) b = static_cast<uint8_t>(random());
    // Never a query or a probe answer by accident; those have tests of their own.
    if (size >= 1 && (datagram[0] == 0x91 || datagram[0] == 0x93)) datagram[0] = 0;
    for (const auto& to : ports) platform::sendDatagram(stranger, to, datagram.data(), datagram.size());
    settle(1);
    uint8_t buffer[2048];
    platform::SocketAddress from;
    while (platform::receiveDatagram(stranger, buffer, sizeof buffer, from).outcome == platform::IoOutcome::Done) ++answers;
  }
  EXPECT_EQ(answers, 0u);
  const uint8_t query[] = {0x91, 0x00};
  platform::sendDatagram(stranger, ports[1], query, sizeof query);
  uint8_t buffer[64];
  platform::SocketAddress from;
  ASSERT_TRUE(pumpUntil([&] {
    return platform::receiveDatagram(stranger, buffer, sizeof buffer, from).outcome == platform::IoOutcome::Done;
  }));
  EXPECT_EQ(buffer[0], 0x92);
  EXPECT_EQ(buffer[1], 1) << "one board connected";
  EXPECT_FALSE(relay->stopped());
  platform::closeSocket(stranger);
}

}  // namespace
}  // namespace engine_test
