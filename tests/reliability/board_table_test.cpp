// Search answers from one host with ever new MAC addresses, as any host on
// the network can send: the board table stays bounded, the relay stays quick,
// and real boards still find room.
#include "tests/engine/engine_harness.h"

namespace engine_test {
namespace {

class RelBoardTable : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    shell.debugEnabled = false;
    shell.keepDebugEntries = false;
  }
};

TEST_F(RelBoardTable, SearchAnswersWithEndlessNewAddressesKeepTheBoardTableBounded) {
  startEngine();
  FakeBoard& board = addBoard(3, 0x12, 3);
  connectBoard(board);
  const platform::SocketHandle stranger = platform::openUdpSocket({Ipv4Address{{127, 0, 0, 60}}, 0}, false);
  for (uint32_t n = 0; n < 6000; ++n) {
    Bytes answer(30, 0);
    answer[24] = 0x02;
    answer[27] = static_cast<uint8_t>(n >> 16);
    answer[28] = static_cast<uint8_t>(n >> 8);
    answer[29] = static_cast<uint8_t>(n);
    platform::sendDatagram(stranger, discoveryAddress(), answer.data(), answer.size());
    if (n % 50 == 0) settle(2);
  }
  settle(50);
  EXPECT_LE(relay->boards().size(), 4096u);
  // Given up after the search cycles, the fake boards make room for real ones.
  for (int i = 0; i < settings.errorCount + 2; ++i) relay->onSearchTimer();
  FakeBoard& late = addBoard(6, 0x12, 4);
  connectBoard(late);
  EXPECT_EQ(recordOf(board)->state, BoardState::Connected);
  platform::closeSocket(stranger);
}

}  // namespace
}  // namespace engine_test
