#include "lanrelay/shell/control_server.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace shell {
namespace {

// A client that connects and never sends keeps a slot; beyond this many the
// oldest connection is dropped, so stalled clients cannot pile up.
constexpr size_t kMaxConnections = 8;

bool sameUser(int fd) {
  ucred peer{};
  socklen_t length = sizeof peer;
  return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == getuid();
}

}  // namespace

ControlServer::ControlServer(platform::EventLoop& loop, Handlers handlers)
    : loop_(loop), handlers_(std::move(handlers)) {}

ControlServer::~ControlServer() {
  while (!connections_.empty()) closeConnection(connections_.begin()->first);
  if (listener_ >= 0) {
    loop_.unwatch(listener_);
    close(listener_);
    unlink(socketPath_.c_str());
  }
}

bool ControlServer::open(const std::string& socketPath, std::string& why) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof address.sun_path) {
    why = "control socket path too long: " + socketPath;
    return false;
  }
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    why = std::string("control socket: ") + std::strerror(errno);
    return false;
  }
  unlink(socketPath.c_str());
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(fd, 8) != 0 ||
      !loop_.watch(fd, true, false, [this](platform::Readiness) { onListenerReady(); })) {
    why = "control socket " + socketPath + ": " + std::strerror(errno);
    close(fd);
    return false;
  }
  listener_ = fd;
  socketPath_ = socketPath;
  return true;
}

void ControlServer::onListenerReady() {
  int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  if (!sameUser(fd)) {
    close(fd);
    return;
  }
  if (connections_.size() >= kMaxConnections) {
    auto oldest = std::min_element(connections_.begin(), connections_.end(),
                                   [](const auto& a, const auto& b) { return a.second.age < b.second.age; });
    closeConnection(oldest->first);
  }
  if (!loop_.watch(fd, true, false, [this, fd](platform::Readiness r) { onConnectionReady(fd, r); })) {
    close(fd);
    return;
  }
  connections_[fd].age = accepted_++;
}

void ControlServer::onConnectionReady(int fd, platform::Readiness readiness) {
  auto found = connections_.find(fd);
  if (found == connections_.end()) return;
  Connection& connection = found->second;

  if (connection.gathered < kControlRequestSize) {
    if (!readiness.readable) return;
    ssize_t n = recv(fd, connection.request.data() + connection.gathered, kControlRequestSize - connection.gathered, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
      closeConnection(fd);
      return;
    }
    connection.gathered += static_cast<size_t>(n);
    if (connection.gathered == kControlRequestSize) handleRequest(fd, connection);
    return;
  }

  // Sending the answer.
  ssize_t n = send(fd, connection.output.data() + connection.sent, connection.output.size() - connection.sent,
                   MSG_NOSIGNAL);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n < 0) {
    closeConnection(fd);
    return;
  }
  connection.sent += static_cast<size_t>(n);
  if (connection.sent == connection.output.size()) closeConnection(fd);
}

void ControlServer::handleRequest(int fd, Connection& connection) {
  switch (classifyControlRequest(decodeControlRequest(connection.request.data()))) {
    case ControlAction::Status:
      connection.output = handlers_.statusTable ? handlers_.statusTable() : std::string();
      if (connection.output.empty() || !loop_.setInterest(fd, false, true)) closeConnection(fd);
      return;
    case ControlAction::Close:
      closeConnection(fd);
      if (handlers_.closeRequested) handlers_.closeRequested();
      return;
    case ControlAction::Ignore:
      closeConnection(fd);
      return;
  }
}

void ControlServer::closeConnection(int fd) {
  loop_.unwatch(fd);
  close(fd);
  connections_.erase(fd);
}

}  // namespace shell
