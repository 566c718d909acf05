// Client connections against a real engine on loopback: open, device list,
// version, frame acknowledgement and forwarding, the parser's edge cases,
// slow readers and flooding clients.
#include <algorithm>

#include "tests/engine/engine_harness.h"

namespace engine_test {
namespace {

class EngineClients : public EngineFixture {};

TEST_F(EngineClients, VersionAnswerIsTheBuildVersion) {
  startEngine();
  FakeClient& client = connectClient();
  client.send({0x7F, 0x76});
  EXPECT_EQ(take(client, 4), (Bytes{0x7F, 0x76, 0x00, 0x31}));
}

TEST_F(EngineClients, OpenForwardAndAnswer) {
  startEngine();
  FakeBoard& board = addBoard(3, 0x12, 3);
  connectBoard(board);
  EXPECT_EQ(shell.count(EventIndex::Connect), 1);

  FakeClient& client = openClient(3, 0x12);
  EXPECT_EQ(shell.count(EventIndex::Open), 1);
  EXPECT_EQ(shell.events.back().extra, "127.0.0.1");
  client.send(requestFrame(3, 0x93, 2));
  EXPECT_EQ(take(client, 3), (Bytes{0x7F, 0x73, 0x00}));
  EXPECT_EQ(take(client, 12), boardReply(3, 0x93, 4));
  ASSERT_TRUE(pumpUntil([&] { return board.requests.size() == 2; }));
  EXPECT_EQ(board.requests[1], requestFrame(3, 0x93, 2)) << "forwarded byte for byte";
}

TEST_F(EngineClients, OpenNeedsIdAndTypeOfAKnownBoard) {
  startEngine();
  FakeBoard& board = addBoard(3, 0x12, 3);
  connectBoard(board);
  struct Case {
    int8_t id;
    uint8_t type;
    uint8_t status;
  };
  for (const Case& c : {Case{3, 0x12, 0x00}, Case{3, 0x13, 0xFE}, Case{4, 0x12, 0xFE}, Case{-1, 0xFF, 0xFE}}) {
    SCOPED_TRACE(testing::Message() << "id " << int(c.id) << " type " << int(c.type));
    openClient(c.id, c.type, c.status);
  }
}

TEST_F(EngineClients, FrameStatusAnswers) {
  startEngine();
  FakeBoard& board = addBoard(3, 0x12, 3);
  board.answerRequests = false;
  connectBoard(board);
  FakeClient& unbound = connectClient();
  unbound.send(requestFrame(3, 0x93, 2));
  EXPECT_EQ(take(unbound, 3), (Bytes{0x7F, 0x73, 0xFE})) << "frame before any open";

  FakeClient& client = openClient(3, 0x12);
  struct Case {
    const char* what;
    Bytes frame;
    uint8_t status;
  };
  const Case cases[] = {
      {"unit byte is not the board's ID", requestFrame(4, 0x93, 2), 0xFA},
      {"payload of 513 is collected to its end, then refused", requestFrame(3, 0x93, 513), 0xFA},
      {"payload of 512 is taken", requestFrame(3, 0x93, 512), 0x00},
      {"length 0 carries no tag", requestFrame(3, 0, 0), 0xFA},
      {"length beyond the assembly buffer is skipped in step", requestFrame(3, 0x93, 3000), 0xFA},
      {"the stream is still in step afterwards", requestFrame(3, 0x91, 2), 0x00},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    client.send(c.frame);
    EXPECT_EQ(take(client, 3), (Bytes{0x7F, 0x73, c.status}));
  }
  settle();
  EXPECT_TRUE(client.received.empty());
}

TEST_F(EngineClients, ParserSkipsNoiseAndAbandonsBadFrames) {
  startEngine();
  FakeBoard& board = addBoard(3, 0x12, 3);
  connectBoard(board);
  FakeClient& client = openClient(3, 0x12);
  struct Case {
    const char* what;
    Bytes bytes;
    Bytes answer;
  };
  Bytes badByte1 = requestFrame(3, 0x93, 2);
  badByte1[1] = 1;
  Bytes badByte6 = requestFrame(3, 0x93, 2);
  badByte6[6] = 1;
  const Bytes version{0x7F, 0x76, 0x00, 0x31};
  const Case cases[] = {
      {"bytes above 0x0F are skipped between messages", {0x20, 0xFE, 0x10, 0x7F, 0x76}, version},
      {"unknown letter ends the message silently", {0x7F, 0x41, 0x7F, 0x76}, version},
      {"open is answered only after its fourth byte", {0x7F, 0x71, 0x03}, {}},
      {"frame with byte 1 set is dropped", badByte1, {}},
      {"frame with byte 6 set is dropped", badByte6, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    client.send(c.bytes);
    settle();
    EXPECT_EQ(client.received, c.answer);
    client.received.clear();
    if (c.what[0] == 'o') {
      client.send({0x12});
      EXPECT_EQ(take(client, 3), (Bytes{0x7F, 0x71, 0x00}));
    }
    // Whatever came before must not swallow the next message.
    client.send({0x7F, 0x76});
    EXPECT_EQ(take(client, 4), version);
  }
}

TEST_F(EngineClients, FrameSplitAtEveryByteIsAssembled) {
  startEngine();
  FakeBoard& board = addBoard(3, 0x12, 3);
  connectBoard(board);
  FakeClient& client = openClient(3, 0x12);
  const Bytes frame = requestFrame(3, 0x93, 2);
  for (uint8_t b : frame) {
    client.send({b});
    settle(2);
  }
  EXPECT_EQ(take(client, 3), (Bytes{0x7F, 0x73, 0x00}));
  EXPECT_EQ(take(client, 12), boardReply(3, 0x93, 4));
}

TEST_F(EngineClients, DeviceListNamesConnectedBoardsWithOpenCounts) {
  startEngine();
  FakeClient& empty = connectClient();
  empty.send({0x7F, 0x75});
  EXPECT_EQ(take(empty, 4), (Bytes{0x7F, 0x75, 0x00, 0x00}));

  FakeBoard& first = addBoard(1, 0x12, 3);
  FakeBoard& second = addBoard(2, 0x13, 4);
  connectBoard(first);
  connectBoard(second);
  openClient(2, 0x13);
  FakeClient& closing = openClient(2, 0x13);

  FakeClient& query = connectClient();
  query.send({0x7F, 0x75});
  const Bytes list = take(query, 4 + 32);
  ASSERT_EQ(list.size(), 36u);
  EXPECT_EQ(Bytes(list.begin(), list.begin() + 4), (Bytes{0x7F, 0x75, 32, 0}));
  const Bytes entry1(list.begin() + 4, list.begin() + 20);
  const Bytes entry2(list.begin() + 20, list.end());
  EXPECT_EQ(entry1, (Bytes{1, 0x12, 127, 0, 0, 3, 0x00, 0x50, 0xC2, 0x00, 1, 3, 0, 0, 0, 0}));
  EXPECT_EQ(entry2, (Bytes{2, 0x13, 127, 0, 0, 4, 0x00, 0x50, 0xC2, 0x00, 2, 4, 2, 0, 0, 0}));

  closing.close();
  ASSERT_TRUE(pumpUntil([&] { return shell.count(EventIndex::Close) == 1; }));
  EXPECT_EQ(recordOf(second)->openCount, 1);
  EXPECT_EQ(recordOf(second)->openers.size(), 1u);
}

TEST_F(EngineClients, RequestsOfSeveralClientsAreServedInOrderToTheirSenders) {
  startEngine();
  FakeBoard& board = addBoard(5, 0x12, 3);
  connectBoard(board);
  FakeClient& a = openClient(5, 0x12);
  FakeClient& b = openClient(5, 0x12);
  board.answerRequests = false;
  a.send(requestFrame(5, 0x91, 2));
  EXPECT_EQ(take(a, 3), (Bytes{0x7F, 0x73, 0x00}));
  b.send(requestFrame(5, 0x93, 2));
  EXPECT_EQ(take(b, 3), (Bytes{0x7F, 0x73, 0x00}));
  settle();
  EXPECT_EQ(board.requests.size(), 2u) << "the second waits for the first's reply";
  board.sendRaw(boardReply(5, 0x91, 4));
  board.answerRequests = true;
  EXPECT_EQ(take(a, 12), boardReply(5, 0x91, 4));
  EXPECT_EQ(take(b, 12), boardReply(5, 0x93, 4));
  ASSERT_TRUE(pumpUntil([&] { return board.requests.size() == 3; }));
  EXPECT_EQ(board.requests[1][8], 0x91);
  EXPECT_EQ(board.requests[2][8], 0x93);
}

TEST_F(EngineClients, ClosedClientsRepliesAreNotGivenToItsSuccessor) {
  startEngine();
  FakeBoard& board = addBoard(5, 0x12, 3);
  board.answerRequests = false;
  connectBoard(board);
  FakeClient& leaving = openClient(5, 0x12);
  leaving.send(requestFrame(5, 0x91, 2));
  EXPECT_EQ(take(leaving, 3), (Bytes{0x7F, 0x73, 0x00}));
  ASSERT_TRUE(pumpUntil([&] { return board.requests.size() == 2; }));
  leaving.close();
  ASSERT_TRUE(pumpUntil([&] { return relay->clientCount() == 0; }));
  // The next connection will likely get the same socket number.
  FakeClient& next = openClient(5, 0x12);
  board.sendRaw(boardReply(5, 0x91, 4));
  settle();
  for (int i = 0; i < 5; ++i) relay->onTick();
  settle();
  EXPECT_TRUE(next.received.empty());
  EXPECT_TRUE(recordOf(board)->requests.empty());
}

TEST_F(EngineClients, SlowReaderGetsAnIntactStreamAndIsNotReadMeanwhile) {
  options.clientOutputLimit = 64 * 1024;
  shell.debugEnabled = false;  // hundreds of thousands of answers
  startEngine();
  // Ten boards make each 2-byte device-list request a 164-byte answer, so the
  // answers outgrow every socket buffer quickly.
  for (uint8_t i = 0; i < 10; ++i) connectBoard(addBoard(static_cast<int8_t>(i), 0x12, static_cast<uint8_t>(10 + i)));
  constexpr size_t kAnswerSize = 4 + 10 * 16;
  FakeClient& probe = connectClient();
  probe.send({0x7F, 0x75});
  const Bytes answer = take(probe, kAnswerSize);
  ASSERT_EQ(answer.size(), kAnswerSize);

  FakeClient& client = connectClient();
  client.setSmallSendBuffer();
  client.reading = false;
  pumpUntil([&] { return relay->clientCount() == 2; });
  const auto paused = [&] {
    bool any = false;
    relay->forEachClient([&](engine::SocketHandle, const engine::ClientRecord& c) { any |= c.readingPaused; });
    return any;
  };

  // Requests without reading the answers: the relay must keep what the
  // socket cannot take and, past its limit, stop reading the requests.
  Bytes chunk;
  for (int i = 0; i < 512; ++i) chunk.insert(chunk.end(), {0x7F, 0x75});
  constexpr size_t kRequestBytes = 4 * 1024 * 1024;
  size_t sent = 0;
  bool sawPause = false;
  for (int stalls = 0; sent < kRequestBytes && stalls < 50;) {
    const auto r = platform::sendSome(client.socket(), chunk.data(), std::min(chunk.size(), kRequestBytes - sent));
    const bool moved = r.outcome == platform::IoOutcome::Done && r.bytes > 0;
    sent += moved ? r.bytes : 0;
    stalls = moved ? 0 : stalls + 1;
    loop.runOnce(std::chrono::milliseconds(moved ? 0 : 1));
    sawPause |= paused();
  }
  EXPECT_TRUE(sawPause) << "the relay kept reading a client that reads nothing";
  EXPECT_LT(sent, kRequestBytes) << "the client could send everything: the relay never stopped reading";
  ASSERT_EQ(sent % 2, 0u) << "whole requests only";

  client.reading = true;
  const size_t expected = sent / 2 * kAnswerSize;
  ASSERT_TRUE(pumpUntil([&] { return client.received.size() >= expected; }, std::chrono::seconds(20)))
      << "got " << client.received.size() << " of " << expected << " bytes after sending " << sent;
  EXPECT_EQ(client.received.size(), expected);
  bool intact = true;
  for (size_t i = 0; i + kAnswerSize <= client.received.size() && intact; i += kAnswerSize) {
    intact = std::equal(answer.begin(), answer.end(), client.received.begin() + static_cast<std::ptrdiff_t>(i));
  }
  EXPECT_TRUE(intact);
  EXPECT_FALSE(paused());
}

TEST_F(EngineClients, FloodingClientIsThrottledAndEveryFrameIsAnswered) {
  options.clientQueueLimit = 8;
  settings.responseTime = 0;  // one tick per request
  startEngine();
  FakeBoard& board = addBoard(5, 0x12, 3);
  board.answerRequests = false;
  connectBoard(board);
  FakeClient& client = openClient(5, 0x12);

  constexpr int kFrames = 200;
  Bytes flood;
  for (int i = 0; i < kFrames; ++i) {
    const Bytes frame = requestFrame(5, 0x91, 100);
    flood.insert(flood.end(), frame.begin(), frame.end());
  }
  client.send(flood);
  settle(50);
  // One read holds at most ten of these frames past the limit.
  const size_t queued = recordOf(board)->requests.size();
  EXPECT_LE(queued, 8u + 10u + 1u);
  EXPECT_GE(queued, 8u);

  // Time-outs drain the queue and reading resumes until all are answered.
  const size_t expected = kFrames * 6;
  for (int tick = 0; tick < 1000 && client.received.size() < expected; ++tick) {
    relay->onTick();
    settle(2);
    EXPECT_LE(recordOf(board)->requests.size(), 8u + 10u + 1u);
  }
  ASSERT_EQ(client.received.size(), expected);
  size_t acks = 0, timeouts = 0;
  for (size_t i = 0; i < expected; i += 3) {
    const Bytes m(client.received.begin() + static_cast<std::ptrdiff_t>(i),
                  client.received.begin() + static_cast<std::ptrdiff_t>(i) + 3);
    acks += m == Bytes{0x7F, 0x73, 0x00};
    timeouts += m == Bytes{0x7F, 0x74, 0xFD};
  }
  EXPECT_EQ(acks, size_t{kFrames});
  EXPECT_EQ(timeouts, size_t{kFrames});
}

TEST_F(EngineClients, ListenerFailureIsReportedAndAPortChangeReopensIt) {
  startEngine();
  const uint16_t taken = relay->listenerPort();
  ASSERT_NE(taken, 0);
  // A second engine on the same port cannot listen.
  RecordingShell otherShell;
  engine::RelaySettings otherSettings = settings;
  otherSettings.serverPort = taken;
  engine::EngineOptions otherOptions = options;
  otherOptions.useUdp = false;
  engine::Engine other(otherShell, otherSettings, loop, otherOptions);
  other.startEngine();
  ASSERT_TRUE(otherShell.failedListenerPort.has_value());
  EXPECT_EQ(*otherShell.failedListenerPort, taken);
  EXPECT_EQ(other.listenerPort(), 0);

  const engine::RelaySettings before = otherSettings;
  otherSettings.serverPort = 0;
  other.onConfigChanged(before, otherSettings);
  EXPECT_NE(other.listenerPort(), 0);
}

TEST_F(EngineClients, ServerPortChangeKeepsExistingClients) {
  startEngine();
  FakeBoard& board = addBoard(3, 0x12, 3);
  connectBoard(board);
  FakeClient& client = openClient(3, 0x12);
  const uint16_t oldPort = relay->listenerPort();
  const engine::RelaySettings before = settings;
  settings.serverPort = 0;
  settings.aliveTime = 5;
  relay->onConfigChanged(before, settings);
  EXPECT_NE(relay->listenerPort(), 0);
  (void)oldPort;
  client.send(requestFrame(3, 0x93, 2));
  EXPECT_EQ(take(client, 3), (Bytes{0x7F, 0x73, 0x00}));
  EXPECT_EQ(take(client, 12), boardReply(3, 0x93, 4));
  FakeClient& fresh = connectClient();
  fresh.send({0x7F, 0x76});
  EXPECT_EQ(take(fresh, 4), (Bytes{0x7F, 0x76, 0x00, 0x31}));
}

}  // namespace
}  // namespace engine_test
