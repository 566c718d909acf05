// The relay engine: finds the network boards by UDP broadcast, keeps one TCP
// connection to each and supervises it, relays the frames of any number of
// client programs to the boards, answers relay queries and watches for
// another relay program.
//
// Ownership: the shell owns the one Engine object. The engine keeps references
// to the ShellServices, the RelaySettings and the EventLoop it is given, all of
// which must outlive it. It owns every socket it opens and closes them all
// when destroyed.
//
// Thread: one. Construct, call and destroy the engine on the thread that runs
// the event loop; the engine registers its sockets and its two timers with that
// loop and does all its work from the loop's callbacks.
//
// Settings: the engine reads the shell's RelaySettings object at each use, so
// the shell changes values in place and then calls onConfigChanged().
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "lanrelay/engine/records.h"
#include "lanrelay/engine/relay_settings.h"
#include "lanrelay/engine/shell_services.h"
#include "platform/event_loop.h"

namespace engine {

class EngineCore;

// Well-known UDP ports of the board search and of the relay query and probe.
constexpr uint16_t kBoardSearchPort = 30718;
constexpr uint16_t kRelayPort = 30720;

// Knobs that are not settings: defaults fit the program; tests narrow them.
struct EngineOptions {
  // Address the client listener binds to; 0.0.0.0 (any) for the program.
  Ipv4Address listenAddress{};
  // UDP ports and the broadcast destination of the search and the probe.
  uint16_t boardSearchPort = kBoardSearchPort;
  uint16_t relayPort = kRelayPort;
  Ipv4Address broadcastAddress{{255, 255, 255, 255}};
  // Address the relay-query socket binds to; 0.0.0.0 (any) for the program.
  Ipv4Address relayQueryAddress{};
  // False: no board search, no relay responder and no probe; nothing is
  // broadcast and no UDP port is bound. For tests outside a private network.
  bool useUdp = true;
  // False: startEngine() starts no timers; the caller drives onTick() and
  // onSearchTimer() itself (tests).
  bool startTimers = true;
  // Source of the local IPv4 addresses (127.0.0.1 is always left out by the
  // engine). Empty: the machine's interfaces (platform/local_addresses.h).
  // Returns false when the table cannot be read.
  std::function<bool(std::vector<Ipv4Address>&)> localAddresses;
  // A client with this many requests waiting in board queues is not read
  // until it is down to half of it; bounds the memory a flooding client takes.
  int32_t clientQueueLimit = 64;
  // A client whose unsent output passes this many bytes is not read until it
  // has drained (it is not reading its answers).
  size_t clientOutputLimit = 256 * 1024;
};

class Engine {
 public:
  Engine(ShellServices& shell, const RelaySettings& settings, platform::EventLoop& loop,
         EngineOptions options = {});
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // The start sequence: local-address table, client listener, first board
  // search, relay responder and first probe, then the 100 ms tick and the
  // search timer. Call once. A listener failure is reported through
  // ShellServices::listenerFailed() and the engine runs on without it.
  void startEngine();

  // After the shell stored accepted configuration values in its settings
  // object (`newSettings`, the object the engine reads): restarts the search
  // timer if ALIVE_TIME changed and reopens the listener if the server port
  // changed. Board and client connections stay open.
  void onConfigChanged(const RelaySettings& oldSettings, const RelaySettings& newSettings);

  // Shutdown: closes both sockets of every local-address entry and empties
  // the table.
  void closeNicSockets();

  // Timer work, normally run by the engine's own timers; tests with
  // EngineOptions::startTimers false call them directly. Both do nothing once
  // another relay has been found.
  void onTick();         // every 100 ms
  void onSearchTimer();  // every ALIVE_TIME seconds

  // Read access for the status list and tests. References are valid until the
  // next engine call; board indexes stay valid for the engine's life.
  const std::vector<BoardRecord>& boards() const;
  const std::vector<NicEntry>& nics() const;
  size_t clientCount() const;
  // Null when no such client connection exists.
  const ClientRecord* findClient(SocketHandle socket) const;
  // Every client connection, in no particular order.
  void forEachClient(const std::function<void(SocketHandle, const ClientRecord&)>& visit) const;
  // Set once another relay program answered the probe.
  bool stopped() const;
  // The port the client listener is bound to (useful with server port 0), or
  // 0 while there is no listener.
  uint16_t listenerPort() const;
  // The relay's own packed version as answered to 7F 76 (3.1.0.0 -> 0x3100).
  static uint16_t packedVersion();

 private:
  std::unique_ptr<EngineCore> core_;
};

}  // namespace engine
