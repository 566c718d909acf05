// Faults survived, nothing lost: boards that vanish, come back (as after a
// reboot) or move to another address, answer late, answer garbage or not at
// all, while clients keep sending. Every request the relay acknowledged must
// get exactly one answer: the board's reply or the time-out message, never two
// and never none.
#include <random>

#include "tests/engine/engine_harness.h"
#include "tests/reliability/stream_counter.h"

namespace engine_test {
namespace {

using reliability_test::countUnits;

class RelFaults : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    shell.debugEnabled = false;
    shell.keepDebugEntries = false;
    settings.responseTime = 100;  // two ticks
    settings.errorCount = 2;
    settings.nonCommTime = 1;
  }
};

TEST_F(RelFaults, EveryAcknowledgedRequestIsAnsweredExactlyOnce) {
  startEngine();
  FakeBoard& first = addBoard(3, 0x12, 3);
  FakeBoard& second = addBoard(5, 0x12, 4);
  connectBoard(first);
  connectBoard(second);
  struct Client {
    FakeClient* link;
    int8_t unit;
    size_t sent = 0;
  };
  std::vector<Client> clients;
  for (int i = 0; i < 6; ++i) {
    const int8_t unit = i % 2 == 0 ? 3 : 5;
    clients.push_back({&openClient(unit, 0x12), unit});
  }
  // The same boards at another address, as after a change of address: same
  // MAC, same Board ID. Either copy may hold the record at a time.
  FakeBoard& firstMoved = addBoard(3, 0x12, 13);
  firstMoved.mac = first.mac;
  FakeBoard& secondMoved = addBoard(5, 0x12, 14);
  secondMoved.mac = second.mac;
  std::mt19937 random(1234);
  FakeBoard* boards[] = {&first, &second, &firstMoved, &secondMoved};
  constexpr int kRounds = 6000;
  for (int round = 0; round < kRounds; ++round) {
    for (Client& c : clients) {
      const int n = 1 + static_cast<int>(random() % 3);
      Bytes burst;
      for (int k = 0; k < n; ++k) {
        const Bytes f = requestFrame(static_cast<uint8_t>(c.unit), static_cast<uint8_t>(0x80 + random() % 0x40),
                                     1 + random() % 8);
        burst.insert(burst.end(), f.begin(), f.end());
      }
      c.link->send(burst);
      c.sent += static_cast<size_t>(n);
    }
    FakeBoard& victim = *boards[random() % 4];
    switch (random() % 60) {
      case 0:  // vanishes; comes back when the next search finds it
        victim.dropConnection();
        break;
      case 1:
        victim.announce(discoveryAddress());
        break;
      case 2:  // garbage in the middle of its replies
        if (victim.connected()) victim.sendRaw({0x03, 0x99, 0xFF, 0xFF, 0x7F, 0x74, 0x00, 0x00, 0x01});
        break;
      case 3:  // stops answering for a while (slow or hung)
        victim.answerRequests = false;
        break;
      case 4:
      case 5:
        victim.answerRequests = true;
        break;
      case 6:  // replies in two pieces
        victim.splitReplyAt = victim.splitReplyAt == 0 ? 5 : 0;
        break;
      case 7:  // the board answers the search from its other address
        victim.announce(discoveryAddress());
        break;
      default:
        break;
    }
    if (random() % 3 == 0) relay->onTick();
    settle(1);
  }
  // Everything still queued ends by a reply or its time-out.
  for (FakeBoard* b : boards) b->answerRequests = true;
  const auto allAnswered = [&] {
    for (const Client& c : clients) {
      const auto count = countUnits(c.link->received);
      if (count.accepted + count.refused < c.sent || count.answers() < count.accepted) return false;
    }
    return true;
  };
  for (int tick = 0; tick < 3000 && !allAnswered(); ++tick) {
    relay->onTick();
    settle(2);
  }
  settle(30);
  size_t total = 0, timeouts = 0;
  for (const Client& c : clients) {
    size_t consumed = 0;
    const auto count = countUnits(c.link->received, &consumed);
    SCOPED_TRACE(testing::Message() << "client of board " << int(c.unit));
    EXPECT_FALSE(count.malformed);
    EXPECT_EQ(consumed, c.link->received.size()) << "no half unit left over";
    EXPECT_EQ(count.accepted + count.refused, c.sent) << "every frame acknowledged";
    EXPECT_EQ(count.answers(), count.accepted) << "every accepted request answered exactly once";
    total += count.accepted;
    timeouts += count.timeouts;
  }
  EXPECT_GE(total, 8000u) << "many thousands of requests";
  EXPECT_GT(timeouts, 0u) << "faults were injected";
  RecordProperty("acknowledged", static_cast<int>(total));
  RecordProperty("timeouts", static_cast<int>(timeouts));
}

}  // namespace
}  // namespace engine_test
