// Board discovery and the relay's second UDP port, on loopback: the search
// answers are sent unicast to the relay's discovery socket, and the search
// and probe go to a loopback address standing in for the broadcast, so no
// datagram leaves the machine. Real broadcasts are in broadcast_test.cpp.
#include <algorithm>

#include "tests/engine/engine_harness.h"

namespace engine_test {
namespace {

class EngineDiscovery : public EngineFixture {
 protected:
  // Receives one datagram on `socket`, pumping the engine meanwhile.
  std::optional<Bytes> receiveOn(platform::SocketHandle socket, platform::SocketAddress* from = nullptr,
                                 std::chrono::milliseconds limit = std::chrono::milliseconds(1000)) {
    uint8_t buffer[2048];
    platform::SocketAddress sender;
    platform::IoResult r;
    const bool got = pumpUntil(
        [&] {
          r = platform::receiveDatagram(socket, buffer, sizeof buffer, sender);
          return r.outcome == platform::IoOutcome::Done;
        },
        limit);
    if (!got) return std::nullopt;
    if (from != nullptr) *from = sender;
    return Bytes(buffer, buffer + r.bytes);
  }
};

TEST_F(EngineDiscovery, AnswersTooShortForAMacCreateNoRecord) {
  startEngine();
  FakeBoard& board = addBoard(3, 0x12, 3);
  for (size_t size : {4u, 23u, 24u, 29u}) {
    SCOPED_TRACE(testing::Message() << size << " bytes");
    board.announce(discoveryAddress(), size);
    settle();
    EXPECT_TRUE(relay->boards().empty());
  }
  board.announce(discoveryAddress(), 30);
  ASSERT_TRUE(pumpUntil([&] { return relay->boards().size() == 1; }));
}

TEST_F(EngineDiscovery, SearchGoesOutFromEveryLocalAddressButLoopbackHost) {
  const platform::SocketHandle boardSide = platform::openUdpSocket({options.broadcastAddress, discoveryPort}, false);
  ASSERT_NE(boardSide, platform::kInvalidSocket);
  startEngine();
  ASSERT_EQ(relay->nics().size(), 1u) << "127.0.0.1 is left out";
  EXPECT_EQ(relay->nics()[0].ip, relayIp);
  platform::SocketAddress from;
  EXPECT_EQ(receiveOn(boardSide, &from), (Bytes{0x00, 0x00, 0x00, 0xF6})) << "the first search goes out at start";
  EXPECT_EQ(from.ip, relayIp);
  EXPECT_EQ(from.port, discoveryPort);
  relay->onSearchTimer();
  EXPECT_EQ(receiveOn(boardSide), (Bytes{0x00, 0x00, 0x00, 0xF6}));
  platform::closeSocket(boardSide);
}

TEST_F(EngineDiscovery, AddressAddedLaterIsSearchedFromNextCycle) {
  std::vector<Ipv4Address> addresses{Ipv4Address{{127, 0, 0, 1}}};
  options.localAddresses = [&addresses](std::vector<Ipv4Address>& out) {
    out = addresses;
    return true;
  };
  const platform::SocketHandle boardSide = platform::openUdpSocket({options.broadcastAddress, discoveryPort}, false);
  startEngine();
  EXPECT_TRUE(relay->nics().empty());
  relay->onSearchTimer();
  EXPECT_FALSE(receiveOn(boardSide, nullptr, std::chrono::milliseconds(50)).has_value()) << "nothing to send from";
  addresses.push_back(relayIp);
  relay->onTick();
  ASSERT_EQ(relay->nics().size(), 1u);
  relay->onSearchTimer();
  EXPECT_TRUE(receiveOn(boardSide).has_value());
  relay->closeNicSockets();
  EXPECT_TRUE(relay->nics().empty());
  platform::closeSocket(boardSide);
}

TEST_F(EngineDiscovery, BoardThatStopsAnsweringAgesOutAfterErrorCountPlusOneCycles) {
  settings.errorCount = 2;
  startEngine();
  FakeBoard& board = addBoard(3, 0x12, 3);
  connectBoard(board);
  FakeClient& client = openClient(3, 0x12);
  (void)client;
  board.dropConnection();
  ASSERT_TRUE(pumpUntil([&] { return recordOf(board)->state == BoardState::Disconnected; }));
  const int refreshesBefore = shell.refreshes;
  relay->onSearchTimer();
  relay->onSearchTimer();
  EXPECT_EQ(recordOf(board)->state, BoardState::Disconnected);
  relay->onSearchTimer();
  EXPECT_EQ(recordOf(board)->state, BoardState::NoDevice);
  EXPECT_EQ(recordOf(board)->typeCode, -1);
  EXPECT_EQ(recordOf(board)->openCount, 0);
  EXPECT_GT(shell.refreshes, refreshesBefore);
  relay->onSearchTimer();
  EXPECT_EQ(recordOf(board)->missCount, 3) << "not counted past the limit";

  // The same record is used again when the board answers again.
  connectBoard(board);
  EXPECT_EQ(relay->boards().size(), 1u);
  EXPECT_EQ(recordOf(board)->missCount, 0);
}

TEST_F(EngineDiscovery, ConnectedBoardAnsweringAgainIsConnectedOnce) {
  startEngine();
  FakeBoard& board = addBoard(3, 0x12, 3);
  connectBoard(board);
  for (int i = 0; i < 3; ++i) board.announce(discoveryAddress());
  settle();
  EXPECT_EQ(board.accepted, 1);
  EXPECT_EQ(relay->boards().size(), 1u);
}

TEST_F(EngineDiscovery, BoardWithNewAddressIsRetargetedAndItsOldConnectionClosed) {
  startEngine();
  FakeBoard& before = addBoard(3, 0x12, 3);
  connectBoard(before);
  ASSERT_TRUE(pumpUntil([&] { return before.connected(); }));

  FakeBoard& after = addBoard(3, 0x12, 9);
  after.mac = before.mac;
  connectBoard(after);
  ASSERT_EQ(relay->boards().size(), 1u) << "the record follows the MAC";
  EXPECT_EQ(relay->boards()[0].ip, after.ip);
  ASSERT_TRUE(pumpUntil([&] { return !before.connected(); })) << "the old connection is closed, not leaked";
  EXPECT_EQ(after.accepted, 1);
}

TEST_F(EngineDiscovery, BoardsSharingAnAddressAreReportedAtMostEverySevenAndAHalfSeconds) {
  startEngine();
  FakeBoard& first = addBoard(3, 0x12, 3);
  connectBoard(first);
  // A second board at the same address: only its search answer matters.
  FakeBoard second(first.ip, 0, 4, 0x12, MacAddress{0x00, 0x50, 0xC2, 0x00, 0x99, 0x99});
  second.announce(discoveryAddress());
  ASSERT_TRUE(pumpUntil([&] { return relay->boards().size() == 2; }));
  first.announce(discoveryAddress());
  settle();
  EXPECT_EQ(shell.count(EventIndex::SystemError), 0) << "within 75 ticks of start";

  for (int i = 0; i < 75; ++i) relay->onTick();
  second.announce(discoveryAddress());
  ASSERT_TRUE(pumpUntil([&] { return shell.count(EventIndex::SystemError) == 1; }));
  const std::string& text = shell.events.back().extra;
  EXPECT_EQ(text.rfind("Duplicate IP address.\\nIt's necessary to turn off and turn on power all device. Duplicate device=", 0),
            0u)
      << text;
  EXPECT_NE(text.find("ADR:127.0.0.3/00:50:c2:00:99:99\\n"), std::string::npos) << text;
  EXPECT_EQ(text.find('\n'), std::string::npos) << "no raw line break: the report is one system-log line";
  EXPECT_EQ(shell.events.back().boardId, -1);

  second.announce(discoveryAddress());
  settle();
  EXPECT_EQ(shell.count(EventIndex::SystemError), 1) << "paced";
}

TEST_F(EngineDiscovery, RelayQueryIsAnsweredWithBoardsAndServerPort) {
  startEngine();
  const platform::SocketHandle querier = platform::openUdpSocket({Ipv4Address{{127, 0, 0, 7}}, 0}, false);
  const platform::SocketAddress relayQuery{relayIp, options.relayPort};
  struct Case {
    Bytes query;
    bool answered;
  };
  const Case cases[] = {{{0x91, 0x00}, true}, {{0x91, 0x00, 0x55}, true}, {{0x91, 0x01}, false},
                        {{0x91, 0x02}, false}, {{0x91}, false}};
  for (const Case& c : cases) {
    platform::sendDatagram(querier, relayQuery, c.query.data(), c.query.size());
    const auto answer = receiveOn(querier, nullptr, std::chrono::milliseconds(c.answered ? 1000 : 50));
    EXPECT_EQ(answer.has_value(), c.answered);
    if (answer) {
      EXPECT_EQ(*answer, (Bytes{0x92, 0x00, 0x00, 0x00})) << "no board, server port 0 of the test";
    }
  }

  for (uint8_t i = 0; i < 3; ++i) connectBoard(addBoard(static_cast<int8_t>(i), 0x12, static_cast<uint8_t>(3 + i)));
  settings.serverPort = 10011;  // read at each use
  const Bytes query{0x91, 0x00};
  platform::sendDatagram(querier, relayQuery, query.data(), query.size());
  EXPECT_EQ(receiveOn(querier), (Bytes{0x92, 0x03, 0x1B, 0x27}));
  platform::closeSocket(querier);
}

TEST_F(EngineDiscovery, AnotherRelayAnsweringTheProbeStopsTheEngine) {
  // The other relay sits where the probe goes.
  const platform::SocketHandle other = platform::openUdpSocket({options.broadcastAddress, options.relayPort}, false);
  ASSERT_NE(other, platform::kInvalidSocket);
  const platform::SocketHandle boardSide = platform::openUdpSocket({options.broadcastAddress, discoveryPort}, false);
  startEngine();
  platform::SocketAddress prober;
  ASSERT_EQ(receiveOn(other, &prober), (Bytes{0x91, 0x01}));
  EXPECT_EQ(prober.ip, relayIp);
  ASSERT_TRUE(receiveOn(boardSide).has_value());

  const Bytes notAnAnswer{0x92, 0x00};
  platform::sendDatagram(other, prober, notAnAnswer.data(), notAnAnswer.size());
  settle();
  EXPECT_FALSE(relay->stopped());

  const Bytes answer{0x93, 0x00};
  platform::sendDatagram(other, prober, answer.data(), answer.size());
  ASSERT_TRUE(pumpUntil([&] { return relay->stopped(); }));
  ASSERT_TRUE(shell.otherRelay.has_value());
  EXPECT_EQ(*shell.otherRelay, options.broadcastAddress);
  EXPECT_TRUE(loop.stopRequested()) << "the shell ends the program";
  loop.resetStop();

  // Stopped: no search goes out, board answers are ignored, ticks do nothing,
  // but relay queries are still answered.
  relay->onSearchTimer();
  EXPECT_FALSE(receiveOn(boardSide, nullptr, std::chrono::milliseconds(50)).has_value());
  FakeBoard& board = addBoard(3, 0x12, 3);
  board.announce(discoveryAddress());
  settle();
  EXPECT_TRUE(relay->boards().empty());
  const platform::SocketHandle querier = platform::openUdpSocket({Ipv4Address{{127, 0, 0, 7}}, 0}, false);
  const Bytes query{0x91, 0x00};
  platform::sendDatagram(querier, {relayIp, options.relayPort}, query.data(), query.size());
  EXPECT_TRUE(receiveOn(querier).has_value());
  platform::closeSocket(querier);
  platform::closeSocket(other);
  platform::closeSocket(boardSide);
}

TEST_F(EngineDiscovery, OwnProbeGetsNoAnswerFromTheQuerySocket) {
  startEngine();
  const platform::SocketHandle prober = platform::openUdpSocket({Ipv4Address{{127, 0, 0, 7}}, 0}, false);
  const Bytes probe{0x91, 0x01};
  platform::sendDatagram(prober, {relayIp, options.relayPort}, probe.data(), probe.size());
  EXPECT_FALSE(receiveOn(prober, nullptr, std::chrono::milliseconds(50)).has_value());
  EXPECT_FALSE(relay->stopped());
  platform::closeSocket(prober);
}

}  // namespace
}  // namespace engine_test

namespace engine_test {
namespace {

class EngineTimers : public EngineFixture {};

TEST_F(EngineTimers, OwnTimersRunTheTickAndTheSearch) {
  options.startTimers = true;
  settings.aliveTime = 1;
  settings.responseTime = 100;  // two ticks
  const platform::SocketHandle boardSide = platform::openUdpSocket({options.broadcastAddress, discoveryPort}, false);
  startEngine();
  uint8_t buffer[64];
  platform::SocketAddress from;
  int searches = 0;
  const auto countSearches = [&] {
    while (platform::receiveDatagram(boardSide, buffer, sizeof buffer, from).outcome == platform::IoOutcome::Done) {
      ++searches;
    }
    return searches;
  };
  ASSERT_TRUE(pumpUntil([&] { return countSearches() == 1; })) << "the first search at start";

  // The 100 ms tick times a request out without the test driving it.
  FakeBoard& board = addBoard(3, 0x12, 3);
  board.answerRequests = false;
  connectBoard(board);
  FakeClient& client = openClient(3, 0x12);
  const auto sent = std::chrono::steady_clock::now();
  client.send(requestFrame(3, 0x93, 2));
  EXPECT_EQ(take(client, 3), (Bytes{0x7F, 0x73, 0x00}));
  EXPECT_EQ(take(client, 3), (Bytes{0x7F, 0x74, 0xFD}));
  EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(90));

  // The search timer: ALIVE_TIME seconds after start.
  ASSERT_TRUE(pumpUntil([&] { return countSearches() >= 2; }, std::chrono::milliseconds(2500)));
  platform::closeSocket(boardSide);
}

}  // namespace
}  // namespace engine_test
