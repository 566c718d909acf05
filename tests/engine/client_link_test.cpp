// Client connections against a real engine on loopback: open, device list,
// version, frame acknowledgement and forwarding, the parser's edge cases.
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
  client.send(requestFrame(3, 0x93, 2));
  EXPECT_EQ(take(client, 3), (Bytes{0x7F, 0x73, 0x00}));
  EXPECT_EQ(take(client, 12), boardReply(3, 0x93, 4));
  ASSERT_TRUE(pumpUntil([&] { return board.requests.size() == 2; }));
  EXPECT_EQ(board.requests[1], requestFrame(3, 0x93, 2)) << "forwarded byte for byte";
}

}  // namespace
}  // namespace engine_test
