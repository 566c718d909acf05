// The engine's state and handlers, split by job over several files:
//   engine_core.cpp     start, configuration, local-address table, timers, dispatch
//   discovery.cpp       board search and its answers
//   board_link.cpp      board connections, identification, supervision, replies
//   client_link.cpp     listener, client parser, control messages, frames
//   relay_probe.cpp     relay query answers and the probe for another relay
//   socket_output.cpp   unsent bytes per socket
// Internal to the engine library; the shell uses engine.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "lanrelay/engine/board_address_index.h"
#include "lanrelay/engine/engine.h"
#include "lanrelay/engine/records.h"
#include "lanrelay/engine/relay_settings.h"
#include "lanrelay/engine/shell_services.h"
#include "lanrelay/engine/status_refresh_budget.h"
#include "platform/event_loop.h"
#include "platform/net_socket.h"

namespace engine {

// Bytes a socket could not take yet, sent when it becomes writable, so that a
// slow reader still gets an intact stream.
struct PendingOutput {
  std::vector<uint8_t> bytes;
  size_t sent = 0;
  size_t size() const { return bytes.size() - sent; }
};

class EngineCore {
 public:
  EngineCore(ShellServices& shell, const RelaySettings& settings, platform::EventLoop& loop,
             EngineOptions options);
  ~EngineCore();

  // --- engine_core.cpp ---
  void startEngine();
  void onConfigChanged(const RelaySettings& oldSettings, const RelaySettings& newSettings);
  void closeNicSockets();
  void onTick();
  void onSearchTimer();

  const std::vector<BoardRecord>& boards() const { return boardTable_; }
  const std::vector<NicEntry>& nics() const { return nicTable_; }
  size_t clientCount() const { return clientMap_.size(); }
  const ClientRecord* findClient(SocketHandle socket) const;
  void forEachClient(const std::function<void(SocketHandle, const ClientRecord&)>& visit) const {
    for (const auto& [socket, client] : clientMap_) visit(socket, client);
  }
  bool stopped() const { return stopped_; }
  uint16_t listenerPort() const;

 private:
  // --- engine_core.cpp ---
  void initNicTable();
  void refreshNicTable();
  bool readLocalAddresses(std::vector<Ipv4Address>& out) const;
  void startSearchTimer();
  int32_t responseTicks() const;
  int32_t aliveTicks() const;
  // Debug-log helpers: only build the line while the log is on.
  void debugBytes(int tag, const Ipv4Address& from, const Ipv4Address& to, const uint8_t* bytes, size_t count);
  void debugCode(int tag, const Ipv4Address& from, const Ipv4Address& to, int code);

  // --- discovery.cpp ---
  void searchBoards();
  void onBoardSearchReadable(SocketHandle socket);
  void handleBoardAnswer(const Ipv4Address& from, const uint8_t* bytes, size_t size);
  void reportDuplicateAddresses();
  // After step 4 of an answer gave a record this MAC (and the answer's address).
  void indexAnsweredBoard(const MacAddress& mac, long retargeted);

  // --- board_link.cpp ---
  bool connectBoard(size_t index);
  void onBoardReady(SocketHandle socket, platform::Readiness readiness);
  void onBoardConnectDone(size_t index, int error);
  void onBoardData(size_t index, const uint8_t* bytes, size_t size);
  // Returns false when the call must stop taking bytes (board refused).
  bool onBoardReplyComplete(size_t index);
  bool identifyBoard(size_t index, int32_t id, int32_t type);
  void boardConnectionLost(size_t index);
  void disconnectBoard(size_t index);
  void dropBoardSocket(BoardRecord& board);
  void queueAliveRequest(size_t index);
  void sendFrontRequest(size_t index);
  void popFrontRequest(BoardRecord& board);
  void clearRequests(BoardRecord& board);
  bool boardTickWork(size_t index);
  bool watchBoard(size_t index);

  // --- client_link.cpp ---
  void openListener();
  void closeListener();
  void onListenerReady();
  void onClientReady(SocketHandle socket, platform::Readiness readiness);
  void parseClientBytes(SocketHandle socket, ClientRecord& client, const uint8_t* bytes, size_t size);
  void completeFrame(SocketHandle socket, ClientRecord& client);
  void sendDeviceList(SocketHandle socket, const ClientRecord& client);
  void sendVersion(SocketHandle socket, const ClientRecord& client);
  void openBoardForClient(int32_t id, int32_t type, SocketHandle socket, ClientRecord& client);
  void closeClient(SocketHandle socket);
  // The client (if still the same connection) has one request fewer queued.
  void requestFinished(SocketHandle socket, uint64_t serial);
  ClientRecord* liveClient(SocketHandle socket, uint64_t serial);
  void updateClientReading(SocketHandle socket, ClientRecord& client);
  static std::string addressText(const Ipv4Address& ip) { return ip.toString(); }

  // --- relay_probe.cpp ---
  void openRelayResponder();
  void sendRelayProbe();
  void onRelayQueryReadable(SocketHandle socket);
  void onRelayProbeReadable(SocketHandle socket);
  int countConnectedBoards() const;

  // --- socket_output.cpp ---
  // Sends now what the socket takes and keeps the rest for later. Bytes for a
  // socket in error are dropped: its reader will see the error and close it.
  void sendBytes(SocketHandle socket, const uint8_t* data, size_t size);
  void flushOutput(SocketHandle socket);
  void forgetSocket(SocketHandle socket);  // unwatch, drop pending output, close
  size_t pendingOutput(SocketHandle socket) const;
  void updateInterest(SocketHandle socket);

  // Every call to the shell goes through the budget (status refreshes are
  // rationed when the board table is large); declared first, as shell_ refers to it.
  StatusRefreshBudget refreshBudget_;
  ShellServices& shell_;
  const RelaySettings& settings_;
  platform::EventLoop& loop_;
  EngineOptions options_;

  std::vector<BoardRecord> boardTable_;
  std::unordered_map<SocketHandle, ClientRecord> clientMap_;
  std::vector<NicEntry> nicTable_;
  std::vector<DuplicateEntry> duplicateList_;
  SocketHandle listenSocket_ = kInvalidSocket;
  SocketHandle relayQuerySocket_ = kInvalidSocket;
  uint32_t duplicateIpTicks_ = 0;
  uint32_t duplicateIdTicks_ = 0;
  bool stopped_ = false;

  // Constant-time lookups beside the ordered table.
  std::unordered_map<SocketHandle, size_t> boardBySocket_;
  BoardAddressIndex addressIndex_;
  std::unordered_map<SocketHandle, PendingOutput> pendingOutput_;
  uint64_t nextClientSerial_ = 1;

  platform::TimerId tickTimer_ = platform::kNoTimer;
  platform::TimerId searchTimer_ = platform::kNoTimer;
  bool started_ = false;

  // Scratch buffers reused by every read and answer, so that relaying a frame
  // allocates nothing.
  std::array<uint8_t, 1024> readBuffer_{};
  std::vector<uint8_t> deviceListBuffer_;
  std::vector<Ipv4Address> addressScratch_;
};

}  // namespace engine
