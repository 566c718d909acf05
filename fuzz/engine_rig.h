// A live relay engine inside the fuzzing process, on loopback addresses only:
// one board (127.0.0.3, Board ID 3, type 0x12) that the rig answers for, and
// plain sockets to play clients and strangers. Set up once per process and
// reused by every input, as starting an engine costs far more than a run.
// The engine's search and probe go to 127.0.0.99, where nobody listens; the
// rig still refuses to start outside scripts/in-netns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "lanrelay/engine/engine.h"
#include "platform/event_loop.h"
#include "platform/net_socket.h"

namespace fuzzing {

using Bytes = std::vector<uint8_t>;

class QuietShell : public engine::ShellServices {
 public:
  void refreshStatusList() override {}
  void raiseEvent(engine::EventIndex, const engine::BoardRecord*, const std::string&) override {}
  // On, so that every frame also goes through the debug-line helpers.
  bool debugLogEnabled() const override { return true; }
  void writeDebugLog(int, const protocol::Ipv4Address&, const protocol::Ipv4Address&, const uint8_t*, int) override {}
  void listenerFailed(int32_t) override {}
  void anotherRelayFound(const protocol::Ipv4Address&) override { otherRelayFound = true; }
  bool otherRelayFound = false;
};

// How the rig's board answers the requests the relay forwards.
enum class BoardAnswers {
  Properly,  // a 4-byte payload with the tag echoed
  Scripted,  // `script` bytes, whatever was asked (identification still proper)
};

class EngineRig {
 public:
  EngineRig();
  ~EngineRig();

  // Runs the loop and the rig's board until `done` or `rounds` passed; a tick
  // every `tickEvery` rounds (0: none) lets response time-outs happen.
  bool pump(const std::function<bool()>& done, int rounds, int tickEvery = 0);
  // A new client connection, accepted by the relay; kInvalidSocket on failure.
  platform::SocketHandle connectClient();
  // Writes all of `bytes` (pumping while the socket is full), true when done.
  bool sendAll(platform::SocketHandle socket, const uint8_t* bytes, size_t size);
  // Appends what the socket has; false once the peer closed it.
  bool drain(platform::SocketHandle socket, Bytes& into);
  // Closes the client and waits until the relay has let go of it.
  void closeClient(platform::SocketHandle socket);
  // The board connected and identified (it reconnects it when needed).
  bool boardReady();

  engine::Engine& relay() { return *relay_; }
  const platform::SocketAddress searchAnswerTarget() const { return {relayIp_, discoveryPort_}; }
  const platform::SocketAddress relayQueryTarget() const { return {relayIp_, relayPort_}; }
  // Builds the engine again (after a datagram made it stop for another relay).
  void restartEngine();

  BoardAnswers answers = BoardAnswers::Properly;
  Bytes script;
  size_t requestsSeen = 0;

 private:
  void startEngine();
  void pollBoard();
  void answer(const Bytes& frame);

  platform::EventLoop loop_;
  QuietShell shell_;
  engine::RelaySettings settings_;
  engine::EngineOptions options_;
  std::unique_ptr<engine::Engine> relay_;
  protocol::Ipv4Address relayIp_{{127, 0, 0, 2}};
  protocol::Ipv4Address boardIp_{{127, 0, 0, 3}};
  uint16_t discoveryPort_ = 0;
  uint16_t relayPort_ = 0;
  platform::SocketHandle boardListener_ = platform::kInvalidSocket;
  platform::SocketHandle boardConnection_ = platform::kInvalidSocket;
  platform::SocketHandle boardUdp_ = platform::kInvalidSocket;
  Bytes boardInbox_;
};

// The one rig of this process; aborts outside the test namespace.
EngineRig& engineRig();

}  // namespace fuzzing
