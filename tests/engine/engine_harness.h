// Test harness for the relay engine: a shell that records what the engine
// reports, boards and clients written as plain non-blocking sockets on
// loopback addresses, and a fixture that pumps the engine's event loop until
// a condition holds (bounded, never sleeping for a fixed time).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lanrelay/engine/engine.h"
#include "platform/event_loop.h"
#include "platform/net_socket.h"

namespace engine_test {

using engine::BoardState;
using engine::EventIndex;
using protocol::Ipv4Address;
using protocol::MacAddress;
using Bytes = std::vector<uint8_t>;

struct DebugEntry {
  int tag;
  Ipv4Address from;
  Ipv4Address to;
  std::optional<Bytes> bytes;  // none: `count` is a state word
  int count;
};

struct RecordedEvent {
  EventIndex event;
  int32_t boardId;  // -1 without a board
  std::string extra;
};

class RecordingShell : public engine::ShellServices {
 public:
  void refreshStatusList() override { ++refreshes; }
  void raiseEvent(EventIndex event, const engine::BoardRecord* board, const std::string& extra) override {
    events.push_back({event, board ? board->boardId : -1, extra});
  }
  bool debugLogEnabled() const override { return debugEnabled; }
  void writeDebugLog(int tag, const Ipv4Address& from, const Ipv4Address& to, const uint8_t* bytes,
                     int count) override {
    ++debugLines;
    if (!keepDebugEntries) return;
    std::optional<Bytes> data;
    if (bytes != nullptr) data = Bytes(bytes, bytes + (count == engine::debug_code::kSixteenBytes ? 16 : std::max(count, 0)));
    debugEntries.push_back({tag, from, to, data, count});
  }
  void listenerFailed(int32_t port) override { failedListenerPort = port; }
  void anotherRelayFound(const Ipv4Address& other) override {
    otherRelay = other;
    if (loop != nullptr) loop->stop();
  }

  int count(EventIndex e) const {
    int n = 0;
    for (const auto& r : events) n += r.event == e ? 1 : 0;
    return n;
  }

  std::vector<RecordedEvent> events;
  int refreshes = 0;
  int debugLines = 0;
  bool keepDebugEntries = true;
  std::vector<DebugEntry> debugEntries;
  bool debugEnabled = true;
  std::optional<int32_t> failedListenerPort;
  std::optional<Ipv4Address> otherRelay;
  platform::EventLoop* loop = nullptr;
};

// A board: answers the search (unicast to the relay's discovery socket),
// accepts the relay's connection, answers the identification/alive request
// with its ID and type, and answers other requests with a 4-byte payload
// unless told to stay silent.
class FakeBoard {
 public:
  FakeBoard(Ipv4Address ip, uint16_t tcpPort, int8_t boardId, uint8_t typeCode, MacAddress mac);
  ~FakeBoard();

  bool listening() const { return listener_ != platform::kInvalidSocket; }
  uint16_t port() const { return platform::localAddress(listener_).port; }
  // Sends a search answer of `size` bytes (MAC at 24-29) to the relay.
  void announce(const platform::SocketAddress& relayDiscovery, size_t size = 30);
  // Accepts, reads and answers what is there. Call from the pump.
  void poll();
  bool connected() const { return conn_ != platform::kInvalidSocket; }
  void dropConnection();
  void sendRaw(const Bytes& bytes);

  Ipv4Address ip;
  int8_t boardId;
  uint8_t typeCode;
  MacAddress mac;
  bool answerIdentify = true;
  bool answerRequests = true;
  int accepted = 0;
  std::vector<Bytes> requests;  // every complete request frame received
  // Replies go out byte by byte in two writes split here (0: one write).
  size_t splitReplyAt = 0;

 private:
  void handleFrame(const Bytes& frame);
  platform::SocketHandle listener_ = platform::kInvalidSocket;
  platform::SocketHandle conn_ = platform::kInvalidSocket;
  platform::SocketHandle udp_ = platform::kInvalidSocket;
  Bytes inbox_;
};

// A client program: one TCP connection to the relay, raw bytes both ways.
class FakeClient {
 public:
  explicit FakeClient(uint16_t relayPort);
  ~FakeClient();
  void send(const Bytes& bytes);
  void poll();  // collects what arrived
  void close();
  // Keeps what this client sends in the relay's hands, not in its own
  // socket buffer. (A small receive buffer would stall the relay on TCP's
  // zero-window probes instead.)
  void setSmallSendBuffer();
  platform::SocketHandle socket() const { return socket_; }
  Bytes received;
  bool closedByPeer = false;
  bool reading = true;

 private:
  platform::SocketHandle socket_ = platform::kInvalidSocket;
};

class EngineFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Builds and starts the engine (call after adjusting settings/options).
  void startEngine();
  // Runs the loop (and polls the fakes) until `done` or about 3 s passed.
  bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::milliseconds(3000));
  // Runs the loop briefly so that anything already sent is handled.
  void settle(int rounds = 20);

  FakeBoard& addBoard(int8_t id, uint8_t type, uint8_t lastIpOctet);
  FakeBoard& addBoardAt(int8_t id, uint8_t type, Ipv4Address ip);
  // Announces the board and waits until it is Connected (identified).
  void connectBoard(FakeBoard& board);
  FakeClient& connectClient();
  const engine::BoardRecord* recordOf(const FakeBoard& board) const;
  platform::SocketAddress discoveryAddress() const { return {relayIp, discoveryPort}; }
  // Opens `board` on a new client and consumes the open answer.
  FakeClient& openClient(int8_t id, uint8_t type, uint8_t expectedStatus = 0);
  // Waits for exactly `n` bytes on the client and takes them.
  Bytes take(FakeClient& client, size_t n);

  platform::EventLoop loop;
  RecordingShell shell;
  engine::RelaySettings settings;
  engine::EngineOptions options;
  std::unique_ptr<engine::Engine> relay;
  std::vector<std::unique_ptr<FakeBoard>> fakeBoards;
  std::vector<std::unique_ptr<FakeClient>> fakeClients;
  Ipv4Address relayIp{{127, 0, 0, 2}};
  uint16_t discoveryPort = 0;
  uint16_t boardPort = 0;
};

Bytes requestFrame(uint8_t unit, uint8_t tag, size_t payloadLength);
Bytes boardReply(uint8_t unit, uint8_t tag, size_t payloadLength);

}  // namespace engine_test
