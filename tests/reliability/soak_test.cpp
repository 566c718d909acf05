// The soak: a live engine for LANRELAY_SOAK_SECONDS (scripts/soak sets it; the
// test is skipped otherwise) with boards joining and leaving, clients coming
// and going and frames flowing. Reports frames relayed, answers counted,
// descriptors and heap at start and end, and fails on growth or a lost answer.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "tests/engine/engine_harness.h"
#include "tests/reliability/process_usage.h"
#include "tests/reliability/stream_counter.h"

namespace engine_test {
namespace {

class RelSoak : public EngineFixture {};

// Counts units as they arrive and lets go of their bytes, so the test's own
// memory stays flat over a long run.
struct SoakClient {
  std::unique_ptr<FakeClient> link;
  int8_t unit = 0;
  size_t sent = 0;
  size_t acknowledged = 0;  // accepted or refused
  size_t accepted = 0;
  size_t answers = 0;
  void collect() {
    link->poll();
    size_t consumed = 0;
    const auto count = reliability_test::countUnits(link->received, &consumed);
    acknowledged += count.accepted + count.refused;
    accepted += count.accepted;
    answers += count.answers();
    link->received.erase(link->received.begin(), link->received.begin() + static_cast<std::ptrdiff_t>(consumed));
  }
};

TEST_F(RelSoak, BoardsAndClientsComeAndGoNothingGrowsNothingIsLost) {
  const char* seconds = std::getenv("LANRELAY_SOAK_SECONDS");
  if (seconds == nullptr) GTEST_SKIP() << "run by scripts/soak";
  const auto length = std::chrono::seconds(std::atoi(seconds));
  shell.debugEnabled = false;
  shell.keepDebugEntries = false;
  settings.responseTime = 100;
  settings.nonCommTime = 1;
  startEngine();
  constexpr int kBoards = 8;
  for (int i = 0; i < kBoards; ++i) connectBoard(addBoard(static_cast<int8_t>(i), 0x12, static_cast<uint8_t>(10 + i)));

  std::mt19937 random(42);
  std::vector<SoakClient> clients;
  size_t frames = 0, answers = 0, lost = 0, extra = 0, clientsServed = 0;
  const auto finish = [&](SoakClient& c) {
    const auto done = [&] {
      c.collect();
      return c.acknowledged >= c.sent && c.answers >= c.accepted;
    };
    for (int tick = 0; tick < 2000 && !done(); ++tick) {
      relay->onTick();
      settle(2);
    }
    settle(5);
    c.collect();
    frames += c.accepted;
    answers += c.answers;
    if (c.answers < c.accepted) lost += c.accepted - c.answers;
    if (c.answers > c.accepted) extra += c.answers - c.accepted;
    ++clientsServed;
  };
  const auto newClient = [&] {
    SoakClient c;
    c.unit = static_cast<int8_t>(random() % kBoards);
    c.link = std::make_unique<FakeClient>(relay->listenerPort());
    pumpUntil([&] { return false; }, std::chrono::milliseconds(2));
    c.link->send({0x7F, 0x71, static_cast<uint8_t>(c.unit), 0x12});
    return c;
  };

  const auto start = std::chrono::steady_clock::now();
  size_t fdsStart = 0, heapStart = 0;
  bool measured = false;
  while (std::chrono::steady_clock::now() - start < length) {
    while (clients.size() < 12) clients.push_back(newClient());
    for (SoakClient& c : clients) {
      const Bytes f = requestFrame(static_cast<uint8_t>(c.unit), static_cast<uint8_t>(0x80 + random() % 0x40), 2);
      c.link->send(f);
      ++c.sent;
      c.collect();
    }
    const int event = static_cast<int>(random() % 400);
    if (event < 4) {  // a client leaves after its last answer
      const size_t i = random() % clients.size();
      finish(clients[i]);
      clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
    } else if (event == 4) {  // a board leaves and comes back (search answer)
      FakeBoard& b = *fakeBoards[random() % fakeBoards.size()];
      b.dropConnection();
      settle(2);
      b.announce(discoveryAddress());
    } else if (event == 5) {
      relay->onSearchTimer();
    }
    if (random() % 3 == 0) relay->onTick();
    settle(1);
    // The fake boards keep every request they saw; the soak needs none.
    for (auto& board : fakeBoards) board->requests.clear();
    if (!measured && std::chrono::steady_clock::now() - start > length / 10) {
      measured = true;
      fdsStart = reliability_test::openDescriptors();
      heapStart = reliability_test::heapInUse();
    }
  }
  const size_t fdsEnd = reliability_test::openDescriptors();
  const size_t heapEnd = reliability_test::heapInUse();
  for (SoakClient& c : clients) finish(c);
  std::printf("soak: %lld s, %zu clients served, %zu frames acknowledged, %zu answers, %zu lost, %zu extra\n",
              static_cast<long long>(length.count()), clientsServed, frames, answers, lost, extra);
  std::printf("soak: descriptors %zu -> %zu, heap in use %zu -> %zu bytes\n", fdsStart, fdsEnd, heapStart, heapEnd);
  EXPECT_EQ(lost, 0u);
  EXPECT_EQ(extra, 0u);
  EXPECT_LE(fdsEnd, fdsStart + 2);
  EXPECT_LE(heapEnd, heapStart + heapStart / 10 + 256 * 1024);
}

}  // namespace
}  // namespace engine_test
