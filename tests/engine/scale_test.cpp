// A thousand boards and a thousand clients on one engine: every client opens
// a board and gets its answer, and the 100 ms tick stays cheap. Catches
// lookups that walk the tables per frame.
#include <sys/resource.h>

#include <algorithm>

#include "tests/engine/engine_harness.h"

namespace engine_test {
namespace {

constexpr int kBoards = 1000;
constexpr int kClients = 1000;

class EngineScale : public EngineFixture {};

TEST_F(EngineScale, ThousandBoardsAndThousandClients) {
  // Each board costs four descriptors in this process (its listener, its UDP
  // socket, both ends of the connection), each client two.
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  const rlim_t needed = kBoards * 4 + kClients * 2 + 64;
  if (limit.rlim_cur < needed) {
    limit.rlim_cur = std::min<rlim_t>(needed, limit.rlim_max);
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  if (limit.rlim_cur < needed) GTEST_SKIP() << "needs " << needed << " descriptors";

  shell.debugEnabled = false;  // as in service: no debug log
  startEngine();
  std::vector<FakeBoard*> boards;
  for (int i = 0; i < kBoards; ++i) {
    const Ipv4Address ip{{127, 1, static_cast<uint8_t>(i / 250), static_cast<uint8_t>(i % 250 + 1)}};
    // ID and type code together name one board.
    boards.push_back(&addBoardAt(static_cast<int8_t>(i % 16), static_cast<uint8_t>(i / 16), ip));
    boards.back()->announce(discoveryAddress());
    // Real boards answer a search over some milliseconds; a thousand answers
    // at once would overflow any datagram queue.
    if (i % 50 == 49) settle(5);
  }
  ASSERT_TRUE(pumpUntil(
      [&] {
        return relay->boards().size() == size_t{kBoards} &&
               std::all_of(relay->boards().begin(), relay->boards().end(),
                           [](const engine::BoardRecord& b) { return b.state == BoardState::Connected; });
      },
      std::chrono::seconds(30)));

  const auto start = std::chrono::steady_clock::now();
  std::vector<FakeClient*> clients;
  // Clients connect in bursts that fit the listen queue.
  for (int i = 0; i < kClients; ++i) {
    fakeClients.push_back(std::make_unique<FakeClient>(relay->listenerPort()));
    clients.push_back(fakeClients.back().get());
    if (i % 100 == 99 || i == kClients - 1) {
      ASSERT_TRUE(pumpUntil([&] { return relay->clientCount() == clients.size(); }));
    }
  }
  for (int i = 0; i < kClients; ++i) {
    const FakeBoard& board = *boards[static_cast<size_t>(i)];
    Bytes openAndAsk{0x7F, 0x71, static_cast<uint8_t>(board.boardId), board.typeCode};
    const Bytes frame = requestFrame(static_cast<uint8_t>(board.boardId), 0x93, 2);
    openAndAsk.insert(openAndAsk.end(), frame.begin(), frame.end());
    clients[static_cast<size_t>(i)]->send(openAndAsk);
  }
  // Open answer, acknowledgement, reply.
  constexpr size_t kExpected = 3 + 3 + 12;
  ASSERT_TRUE(pumpUntil(
      [&] {
        return std::all_of(clients.begin(), clients.end(),
                           [&](const FakeClient* c) { return c->received.size() >= kExpected; });
      },
      std::chrono::seconds(30)));
  const auto served = std::chrono::steady_clock::now() - start;
  for (int i = 0; i < kClients; ++i) {
    const FakeClient& client = *clients[static_cast<size_t>(i)];
    const uint8_t id = static_cast<uint8_t>(boards[static_cast<size_t>(i)]->boardId);
    Bytes expected{0x7F, 0x71, 0x00, 0x7F, 0x73, 0x00};
    const Bytes reply = boardReply(id, 0x93, 4);
    expected.insert(expected.end(), reply.begin(), reply.end());
    ASSERT_EQ(client.received, expected) << "client " << i;
  }

  // The device list names the first 63 connected boards in table order.
  FakeClient& query = *clients.front();
  query.received.clear();
  query.send({0x7F, 0x75});
  const Bytes list = take(query, 4 + 63 * 16);
  ASSERT_EQ(list.size(), 4u + 63 * 16);
  EXPECT_EQ(list[2] | list[3] << 8, 63 * 16);
  for (size_t i = 0; i < 63; ++i) {
    const engine::BoardRecord& record = relay->boards()[i];
    EXPECT_EQ(list[4 + i * 16], static_cast<uint8_t>(record.boardId));
    EXPECT_EQ(list[4 + i * 16 + 1], static_cast<uint8_t>(record.typeCode));
  }
  settle();
  EXPECT_TRUE(query.received.empty());

  const auto tickStart = std::chrono::steady_clock::now();
  for (int i = 0; i < 10; ++i) relay->onTick();
  const auto tenTicks = std::chrono::steady_clock::now() - tickStart;
  // Generous bounds for a loaded, sanitised build; a per-frame table walk or
  // per-tick work that grows with clients shows up far beyond them.
  EXPECT_LT(served, std::chrono::seconds(20));
  EXPECT_LT(tenTicks, std::chrono::milliseconds(500));
  RecordProperty("served_ms", static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(served).count()));
}

}  // namespace
}  // namespace engine_test
