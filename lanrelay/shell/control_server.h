// The running relay's end of the control socket (control_request.h): a
// listening AF_UNIX stream socket served from the relay's event loop. Only
// connections from processes of the same user are served.
//
// Ownership: owns its listening socket, its connections and the socket file
// (removed when destroyed). Keeps a reference to the loop, which must outlive it.
// Thread: the loop thread only; the handlers run from loop callbacks.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <string>

#include "lanrelay/shell/control_request.h"
#include "platform/event_loop.h"

namespace shell {

class ControlServer {
 public:
  struct Handlers {
    std::function<std::string()> statusTable;  // text sent for a status request
    std::function<void()> closeRequested;      // a valid close request arrived
  };

  ControlServer(platform::EventLoop& loop, Handlers handlers);
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  // Listens at `socketPath`, replacing a stale socket file left by a relay
  // that died (the caller holds the single-instance lock, so no live relay
  // uses it). Returns false with the reason in `why`.
  bool open(const std::string& socketPath, std::string& why);

  size_t connectionCount() const { return connections_.size(); }

 private:
  struct Connection {
    std::array<uint8_t, kControlRequestSize> request{};
    size_t gathered = 0;
    std::string output;  // answer still to send
    size_t sent = 0;
    uint64_t age = 0;    // order of acceptance, to drop the oldest
  };

  void onListenerReady();
  void onConnectionReady(int fd, platform::Readiness readiness);
  void handleRequest(int fd, Connection& connection);
  void closeConnection(int fd);

  platform::EventLoop& loop_;
  Handlers handlers_;
  int listener_ = -1;
  std::string socketPath_;
  std::map<int, Connection> connections_;
  uint64_t accepted_ = 0;
};

}  // namespace shell
