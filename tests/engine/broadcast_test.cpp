// The engine's real broadcasts: the board search, the relay query and the
// probe, on the well-known ports. Runs only inside a private network
// namespace (scripts/in-netns); each test then moves its process into a
// namespace of its own with a veth pair, so parallel tests never hear each
// other and nothing reaches the machine's real interfaces.
#include <sched.h>

#include <cstdlib>

#include "platform/local_addresses.h"
#include "tests/engine/engine_harness.h"

namespace engine_test {
namespace {

const Ipv4Address kRelaySide{{10, 77, 0, 1}};
const Ipv4Address kBoardSide{{10, 77, 0, 2}};
const Ipv4Address kAny{};

class EngineBroadcast : public EngineFixture {
 protected:
  void SetUp() override {
    const char* inNamespace = std::getenv("LANRELAY_NETNS");
    if (inNamespace == nullptr || std::string(inNamespace) != "1") {
      GTEST_SKIP() << "broadcasts only inside scripts/in-netns";
    }
    ASSERT_EQ(unshare(CLONE_NEWNET), 0) << "cannot make a private network namespace";
    ASSERT_EQ(std::system("ip link set lo up && "
                          "ip link add lrelay0 type veth peer name lrelay1 && "
                          "ip addr add 10.77.0.1/24 dev lrelay0 && ip addr add 10.77.0.2/24 dev lrelay1 && "
                          "ip link set lrelay0 up && ip link set lrelay1 up"),
              0);
    shell.loop = &loop;
    settings.serverPort = 10010;
    options = engine::EngineOptions{};  // the program's own ports, broadcast and address table
    options.startTimers = false;
  }

  std::optional<Bytes> receiveOn(platform::SocketHandle socket, platform::SocketAddress* from = nullptr,
                                 std::chrono::milliseconds limit = std::chrono::milliseconds(2000)) {
    uint8_t buffer[2048];
    platform::SocketAddress sender;
    platform::IoResult r;
    if (!pumpUntil(
            [&] {
              r = platform::receiveDatagram(socket, buffer, sizeof buffer, sender);
              return r.outcome == platform::IoOutcome::Done;
            },
            limit)) {
      return std::nullopt;
    }
    if (from != nullptr) *from = sender;
    return Bytes(buffer, buffer + r.bytes);
  }
};

TEST_F(EngineBroadcast, SearchFindsBoardAndConnectsItOnce) {
  const platform::SocketHandle boardUdp = platform::openUdpSocket({kAny, engine::kBoardSearchPort}, false);
  ASSERT_NE(boardUdp, platform::kInvalidSocket);
  FakeBoard board(kBoardSide, 0, 6, 0x12, MacAddress{0x00, 0x50, 0xC2, 0x11, 0x22, 0x33});
  settings.boardPort = board.port();
  startEngine();
  EXPECT_EQ(relay->nics().size(), 2u) << "both veth ends are local addresses";

  // The search is heard from each local address; every answer names the same board.
  for (int i = 0; i < 2; ++i) {
    platform::SocketAddress searcher;
    const auto search = receiveOn(boardUdp, &searcher);
    ASSERT_TRUE(search.has_value()) << "search " << i;
    EXPECT_EQ(*search, (Bytes{0x00, 0x00, 0x00, 0xF6}));
    EXPECT_EQ(searcher.port, engine::kBoardSearchPort);
    board.announce(searcher);
  }
  ASSERT_TRUE(pumpUntil([&] {
    board.poll();
    return relay->boards().size() == 1 && relay->boards()[0].state == BoardState::Connected;
  }));
  settle();
  EXPECT_EQ(relay->boards().size(), 1u);
  EXPECT_EQ(relay->boards()[0].ip, kBoardSide);
  EXPECT_EQ(relay->boards()[0].boardId, 6);
  EXPECT_EQ(board.accepted, 1);
  platform::closeSocket(boardUdp);
}

TEST_F(EngineBroadcast, BroadcastRelayQueryIsAnswered) {
  startEngine();
  const platform::SocketHandle querier = platform::openUdpSocket({kBoardSide, 0}, true);
  const Bytes query{0x91, 0x00};
  ASSERT_TRUE(platform::sendDatagram(querier, {Ipv4Address{{255, 255, 255, 255}}, engine::kRelayPort}, query.data(),
                                     query.size()));
  EXPECT_EQ(receiveOn(querier), (Bytes{0x92, 0x00, 0x1A, 0x27}));
  platform::closeSocket(querier);
}

TEST_F(EngineBroadcast, AnotherRelayHearsTheProbeAndItsAnswerStopsThisOne) {
  const platform::SocketHandle otherRelay = platform::openUdpSocket({kAny, engine::kRelayPort}, true);
  ASSERT_NE(otherRelay, platform::kInvalidSocket);
  startEngine();
  platform::SocketAddress prober;
  ASSERT_EQ(receiveOn(otherRelay, &prober), (Bytes{0x91, 0x01}));
  const Bytes answer{0x93, 0x00};
  // Answer from the board side of the link, as another machine would.
  const platform::SocketHandle answerer = platform::openUdpSocket({kBoardSide, 0}, false);
  ASSERT_TRUE(platform::sendDatagram(answerer, prober, answer.data(), answer.size()));
  ASSERT_TRUE(pumpUntil([&] { return relay->stopped(); }));
  EXPECT_EQ(shell.otherRelay, kBoardSide);
  platform::closeSocket(answerer);
  platform::closeSocket(otherRelay);
}

}  // namespace
}  // namespace engine_test
