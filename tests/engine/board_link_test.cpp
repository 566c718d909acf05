// Board connections against a real engine on loopback: identification,
// response time-outs, alive supervision and ERROR_COUNT, duplicate Board IDs,
// reply assembly, disconnection and reconnection. The 100 ms tick is driven
// directly, so nothing waits for real time-outs.
#include <algorithm>

#include "tests/engine/engine_harness.h"

namespace engine_test {
namespace {

class EngineBoards : public EngineFixture {
 protected:
  void tick(int n) {
    for (int i = 0; i < n; ++i) {
      relay->onTick();
      settle(1);
    }
  }
};

TEST_F(EngineBoards, IdentificationRequestCarriesMacAndAddress) {
  startEngine();
  FakeBoard& board = addBoard(7, 0x13, 3);
  connectBoard(board);
  ASSERT_FALSE(board.requests.empty());
  const Bytes expected{0xFF, 0, 0x10, 0, 0, 0, 0, 0, 0xFF, 0, 0x00, 0x50, 0xC2, 0x00, 7, 3, 127, 0, 0, 3, 0, 0, 0, 0};
  EXPECT_EQ(board.requests[0], expected);
  const auto* record = recordOf(board);
  EXPECT_EQ(record->boardId, 7);
  EXPECT_EQ(record->typeCode, 0x13);
  EXPECT_EQ(shell.count(EventIndex::Connect), 1);
}

TEST_F(EngineBoards, TypeCodeAboveSevenBitsIsStoredUnsigned) {
  startEngine();
  FakeBoard& board = addBoard(2, 0x81, 3);
  connectBoard(board);
  EXPECT_EQ(recordOf(board)->typeCode, 129);
  openClient(2, 0x81);
}

TEST_F(EngineBoards, ResponseTimeOutInTicks) {
  struct Case {
    int32_t responseTime;
    int ticks;
  };
  startEngine();
  FakeBoard& board = addBoard(3, 0x12, 3);
  board.answerRequests = false;
  connectBoard(board);
  FakeClient& client = openClient(3, 0x12);
  for (const Case& c : {Case{300, 4}, Case{50, 1}, Case{0, 1}, Case{1000, 11}}) {
    SCOPED_TRACE(testing::Message() << "RESPONSE_TIME " << c.responseTime);
    settings.responseTime = c.responseTime;
    client.send(requestFrame(3, 0x93, 2));
    EXPECT_EQ(take(client, 3), (Bytes{0x7F, 0x73, 0x00}));
    tick(c.ticks - 1);
    EXPECT_TRUE(client.received.empty()) << "timed out early";
    tick(1);
    EXPECT_EQ(take(client, 3), (Bytes{0x7F, 0x74, 0xFD}));
  }
  EXPECT_EQ(recordOf(board)->state, BoardState::Connected) << "client time-outs do not count as alive failures";
}

TEST_F(EngineBoards, AliveRequestAfterSilenceAndDisconnectAfterErrorCount) {
  struct Case {
    int32_t errorCount;
    int disconnectAfterAliveRequests;  // 0: never
  };
  for (const Case& c : {Case{1, 1}, Case{2, 2}, Case{3, 3}, Case{0, 0}}) {
    SCOPED_TRACE(testing::Message() << "ERROR_COUNT " << c.errorCount);
    TearDown();
    shell = RecordingShell{};
    shell.loop = &loop;
    boardPort = 0;
    settings.nonCommTime = 1;  // 10 ticks of silence before an alive request
    settings.responseTime = 200;  // 3 ticks to answer
    settings.errorCount = c.errorCount;
    startEngine();
    FakeBoard& board = addBoard(4, 0x12, 3);
    connectBoard(board);
    board.answerIdentify = false;

    const int rounds = c.disconnectAfterAliveRequests == 0 ? 5 : c.disconnectAfterAliveRequests;
    for (int round = 1; round <= rounds; ++round) {
      // Ten ticks after the last reply, then ten after each alive request;
      // the previous round already spent two of them.
      const size_t before = board.requests.size();
      tick(round == 1 ? 9 : 7);
      EXPECT_EQ(board.requests.size(), before) << "alive request too early";
      tick(1);
      ASSERT_TRUE(pumpUntil([&] { return board.requests.size() == before + 1; }));
      const Bytes& alive = board.requests.back();
      EXPECT_EQ(alive[0], 4) << "an alive request carries the board ID";
      EXPECT_EQ(alive[8], 0xFF);
      // This tick already counted one of the three.
      tick(1);
      EXPECT_EQ(recordOf(board)->state, BoardState::Connected);
      tick(1);
      const bool last = round == c.disconnectAfterAliveRequests;
      EXPECT_EQ(recordOf(board)->state, last ? BoardState::Disconnected : BoardState::Connected) << "round " << round;
      EXPECT_EQ(shell.count(EventIndex::Disconnect), last ? 1 : 0);
    }
    if (c.disconnectAfterAliveRequests != 0) {
      ASSERT_TRUE(pumpUntil([&] { return !board.connected(); })) << "the relay closes the connection";
      EXPECT_EQ(recordOf(board)->boardId, 4) << "an alive time-out keeps the identity";
    }
  }
}

TEST_F(EngineBoards, AnswerResetsTheAliveFailures) {
  settings.nonCommTime = 1;
  settings.responseTime = 200;
  settings.errorCount = 2;
  startEngine();
  FakeBoard& board = addBoard(4, 0x12, 3);
  connectBoard(board);
  for (int round = 0; round < 3; ++round) {
    board.answerIdentify = false;
    tick(10 + 3);  // one unanswered alive request
    EXPECT_EQ(recordOf(board)->aliveFailures, 1);
    board.answerIdentify = true;
    tick(10);  // the next one is answered
    ASSERT_TRUE(pumpUntil([&] { return recordOf(board)->aliveFailures == 0; }));
  }
  EXPECT_EQ(recordOf(board)->state, BoardState::Connected);
}

TEST_F(EngineBoards, UnansweredIdentificationDisconnects) {
  settings.responseTime = 300;
  startEngine();
  FakeBoard& board = addBoard(4, 0x12, 3);
  board.answerIdentify = false;
  board.announce(discoveryAddress());
  ASSERT_TRUE(pumpUntil([&] { return board.requests.size() == 1; }));
  EXPECT_EQ(recordOf(board)->state, BoardState::Information);
  tick(3);
  EXPECT_EQ(recordOf(board)->state, BoardState::Information);
  tick(1);
  EXPECT_EQ(recordOf(board)->state, BoardState::Disconnected);
  EXPECT_EQ(shell.count(EventIndex::Disconnect), 0) << "it never was connected";
}

TEST_F(EngineBoards, DuplicateBoardIdIsRefusedAndReportedAfterQuietPeriod) {
  startEngine();
  FakeBoard& first = addBoard(3, 0x12, 3);
  FakeBoard& second = addBoard(3, 0x12, 4);
  connectBoard(first);
  second.announce(discoveryAddress());
  ASSERT_TRUE(pumpUntil([&] { return recordOf(second) && recordOf(second)->state == BoardState::Disconnected; }));
  EXPECT_EQ(shell.count(EventIndex::Duplicate), 0) << "less than 75 ticks since the last identification";

  tick(75);
  second.announce(discoveryAddress());
  ASSERT_TRUE(pumpUntil([&] { return shell.count(EventIndex::Duplicate) == 1; }));
  const RecordedEvent& report = shell.events.back();
  EXPECT_EQ(report.boardId, 3);
  EXPECT_EQ(report.extra, "127.0.0.3,127.0.0.4");
  EXPECT_EQ(recordOf(second)->state, BoardState::Disconnected);
  EXPECT_EQ(recordOf(first)->state, BoardState::Connected);

  // Another type with the same ID is a different board.
  FakeBoard& third = addBoard(3, 0x13, 5);
  connectBoard(third);
}

TEST_F(EngineBoards, RepliesAssembledAcrossSegmentsAndMatchedByTag) {
  startEngine();
  FakeBoard& board = addBoard(3, 0x12, 3);
  connectBoard(board);
  FakeClient& client = openClient(3, 0x12);
  for (size_t split : {1u, 2u, 5u, 8u, 11u}) {
    SCOPED_TRACE(testing::Message() << "split at " << split);
    board.splitReplyAt = split;
    client.send(requestFrame(3, 0x93, 2));
    EXPECT_EQ(take(client, 3), (Bytes{0x7F, 0x73, 0x00}));
    EXPECT_EQ(take(client, 12), boardReply(3, 0x93, 4));
  }

  board.answerRequests = false;
  client.send(requestFrame(3, 0x91, 2));
  EXPECT_EQ(take(client, 3), (Bytes{0x7F, 0x73, 0x00}));
  // Noise, a reply with another tag, a reply with byte 6 set: none of them
  // answers the request; the assembly restarts and the real reply counts.
  Bytes wrongTag = boardReply(3, 0x93, 4);
  Bytes badByte6 = boardReply(3, 0x91, 4);
  badByte6[6] = 1;
  Bytes stream{0x55, 0xAA};
  stream.insert(stream.end(), wrongTag.begin(), wrongTag.end());
  stream.insert(stream.end(), badByte6.begin(), badByte6.begin() + 7);
  const Bytes good = boardReply(3, 0x91, 4);
  stream.insert(stream.end(), good.begin(), good.end());
  board.sendRaw(stream);
  EXPECT_EQ(take(client, 12), good);
  settle();
  EXPECT_TRUE(client.received.empty());
}

TEST_F(EngineBoards, TwoRepliesInOneSegmentAnswerTwoRequests) {
  startEngine();
  FakeBoard& board = addBoard(3, 0x12, 3);
  connectBoard(board);
  board.answerRequests = false;
  FakeClient& a = openClient(3, 0x12);
  FakeClient& b = openClient(3, 0x12);
  a.send(requestFrame(3, 0x91, 2));
  EXPECT_EQ(take(a, 3), (Bytes{0x7F, 0x73, 0x00}));
  b.send(requestFrame(3, 0x93, 2));
  EXPECT_EQ(take(b, 3), (Bytes{0x7F, 0x73, 0x00}));
  Bytes both = boardReply(3, 0x91, 4);
  const Bytes second = boardReply(3, 0x93, 4);
  both.insert(both.end(), second.begin(), second.end());
  board.sendRaw(both);
  EXPECT_EQ(take(a, 12), boardReply(3, 0x91, 4));
  EXPECT_EQ(take(b, 12), second);
}

TEST_F(EngineBoards, ClientTagFfGetsItsReplyForwarded) {
  startEngine();
  FakeBoard& board = addBoard(3, 0x12, 3);
  connectBoard(board);
  FakeClient& client = openClient(3, 0x12);
  client.send(requestFrame(3, 0xFF, 2));
  EXPECT_EQ(take(client, 3), (Bytes{0x7F, 0x73, 0x00}));
  ASSERT_TRUE(pumpUntil([&] { return board.requests.size() == 2; }));
  Bytes identification = boardReply(3, 0xFF, 16);
  identification[8] = 3;
  identification[9] = 0x12;
  EXPECT_EQ(take(client, 24), identification) << "an acknowledged request is answered";
  EXPECT_TRUE(recordOf(board)->requests.empty());
  EXPECT_EQ(recordOf(board)->state, BoardState::Connected);
}

TEST_F(EngineBoards, OversizedReplyIsSkippedInStepAndTheRequestTimesOut) {
  startEngine();
  FakeBoard& board = addBoard(3, 0x12, 3);
  connectBoard(board);
  board.answerRequests = false;
  FakeClient& client = openClient(3, 0x12);
  client.send(requestFrame(3, 0x91, 2));
  EXPECT_EQ(take(client, 3), (Bytes{0x7F, 0x73, 0x00}));
  Bytes huge = boardReply(3, 0x91, 3000);
  for (size_t i = 8; i < huge.size(); ++i) huge[i] = 0x03;  // looks like frame starts if misread
  board.sendRaw(huge);
  settle();
  EXPECT_TRUE(client.received.empty());
  const Bytes good = boardReply(3, 0x91, 4);
  board.sendRaw(good);
  EXPECT_EQ(take(client, 12), good) << "the reply after the oversized one is read in step";
}

TEST_F(EngineBoards, ClosedBoardDisconnectsAndQueuedRequestsTimeOutInTurn) {
  settings.responseTime = 0;
  startEngine();
  FakeBoard& board = addBoard(3, 0x12, 3);
  connectBoard(board);
  board.answerRequests = false;
  FakeClient& a = openClient(3, 0x12);
  FakeClient& b = openClient(3, 0x12);
  a.send(requestFrame(3, 0x91, 2));
  EXPECT_EQ(take(a, 3), (Bytes{0x7F, 0x73, 0x00}));
  b.send(requestFrame(3, 0x93, 2));
  EXPECT_EQ(take(b, 3), (Bytes{0x7F, 0x73, 0x00}));

  board.dropConnection();
  ASSERT_TRUE(pumpUntil([&] { return recordOf(board)->state == BoardState::Disconnected; }));
  EXPECT_EQ(shell.count(EventIndex::Disconnect), 1);
  EXPECT_EQ(recordOf(board)->boardId, -1);
  EXPECT_EQ(recordOf(board)->openCount, 2) << "clients stay bound";

  tick(1);
  EXPECT_EQ(take(a, 3), (Bytes{0x7F, 0x74, 0xFD}));
  EXPECT_TRUE(b.received.empty());
  tick(1);
  EXPECT_EQ(take(b, 3), (Bytes{0x7F, 0x74, 0xFD}));

  a.send(requestFrame(3, 0x91, 2));
  EXPECT_EQ(take(a, 3), (Bytes{0x7F, 0x73, 0xFE})) << "board without a connection";

  // The next search answer reconnects it; bound clients work without a new open.
  board.answerRequests = true;
  connectBoard(board);
  a.send(requestFrame(3, 0x91, 2));
  EXPECT_EQ(take(a, 3), (Bytes{0x7F, 0x73, 0x00}));
  EXPECT_EQ(take(a, 12), boardReply(3, 0x91, 4));
}

TEST_F(EngineBoards, RefusedConnectMarksDisconnectedAndProbesForAnotherRelay) {
  // Something listening where the probes go, standing in for another relay.
  const platform::SocketHandle listener = platform::openUdpSocket({options.broadcastAddress, options.relayPort}, false);
  ASSERT_NE(listener, platform::kInvalidSocket);
  startEngine();
  uint8_t buffer[16];
  platform::SocketAddress from;
  ASSERT_TRUE(pumpUntil([&] {
    return platform::receiveDatagram(listener, buffer, sizeof buffer, from).outcome == platform::IoOutcome::Done;
  })) << "the start-up probe";

  // A board that answers the search but takes no connection.
  FakeBoard& board = addBoard(3, 0x12, 3);
  FakeBoard ghost(Ipv4Address{{127, 0, 0, 6}}, 1, 9, 0x12, MacAddress{1, 2, 3, 4, 5, 6});
  ghost.announce(discoveryAddress());
  (void)board;
  ASSERT_TRUE(pumpUntil([&] { return recordOf(ghost) && recordOf(ghost)->state == BoardState::Disconnected; }));
  const auto r = [&] {
    platform::IoResult got;
    pumpUntil([&] {
      got = platform::receiveDatagram(listener, buffer, sizeof buffer, from);
      return got.outcome == platform::IoOutcome::Done;
    });
    return got;
  }();
  ASSERT_EQ(r.outcome, platform::IoOutcome::Done) << "no probe after the failed connect";
  EXPECT_EQ(Bytes(buffer, buffer + r.bytes), (Bytes{0x91, 0x01}));
  platform::closeSocket(listener);
}

}  // namespace
}  // namespace engine_test

namespace engine_test {
namespace {

class EngineDebugLog : public EngineFixture {
 protected:
  bool logged(int tag, Ipv4Address from, Ipv4Address to, std::optional<Bytes> bytes, int count) const {
    return std::any_of(shell.debugEntries.begin(), shell.debugEntries.end(), [&](const DebugEntry& e) {
      return e.tag == tag && e.from == from && e.to == to && e.bytes == bytes && e.count == count;
    });
  }
};

TEST_F(EngineDebugLog, TrafficAndStateWordsNameTheRightEnds) {
  startEngine();
  FakeBoard& board = addBoard(3, 0x12, 3);
  connectBoard(board);
  FakeClient& client = openClient(3, 0x12);
  client.send(requestFrame(3, 0x93, 2));
  take(client, 3 + 12);
  client.close();
  ASSERT_TRUE(pumpUntil([&] { return relay->clientCount() == 0; }));

  const Ipv4Address self{};
  const Ipv4Address boardIp = board.ip;
  const Ipv4Address clientIp{{127, 0, 0, 1}};
  const Bytes frame = requestFrame(3, 0x93, 2);
  const Bytes reply = boardReply(3, 0x93, 4);
  using engine::debug_code::kClose;
  using engine::debug_code::kConnect;
  using engine::debug_code::kConnecting;
  struct Case {
    const char* what;
    int tag;
    Ipv4Address from, to;
    std::optional<Bytes> bytes;
    int count;
  };
  const Case cases[] = {
      {"connect pending", -1, self, boardIp, std::nullopt, kConnecting},
      {"connected", -1, self, boardIp, std::nullopt, kConnect},
      {"open request", -1, clientIp, self, Bytes{0x7F, 0x71, 0x03, 0x12}, 4},
      {"open answer", -1, self, clientIp, Bytes{0x7F, 0x71, 0x00}, 3},
      {"frame from the client", 3, clientIp, self, frame, int(frame.size())},
      {"frame to the board", 3, self, boardIp, frame, int(frame.size())},
      {"acknowledgement", -1, self, clientIp, Bytes{0x7F, 0x73, 0x00}, 3},
      {"reply from the board", 3, boardIp, self, reply, int(reply.size())},
      {"reply to the client", 3, self, clientIp, reply, int(reply.size())},
      {"client gone", 3, self, clientIp, std::nullopt, kClose},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(logged(c.tag, c.from, c.to, c.bytes, c.count)) << c.what;
  }

  shell.debugEnabled = false;
  const int before = shell.debugLines;
  FakeClient& quiet = connectClient();
  quiet.send({0x7F, 0x76});
  take(quiet, 4);
  EXPECT_EQ(shell.debugLines, before) << "nothing is written while the log is off";
}

}  // namespace
}  // namespace engine_test
