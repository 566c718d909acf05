#include "platform/net_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

sockaddr_in toSockaddr(const SocketAddress& a) {
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_port = htons(a.port);
  // The octets are already in wire order; copy them as they lie.
  std::memcpy(&in.sin_addr.s_addr, a.ip.octets.data(), 4);
  return in;
}

SocketAddress fromSockaddr(const sockaddr_in& in) {
  SocketAddress a;
  std::memcpy(a.ip.octets.data(), &in.sin_addr.s_addr, 4);
  a.port = ntohs(in.sin_port);
  return a;
}

bool setIntOption(int fd, int level, int name, int value) {
  return setsockopt(fd, level, name, &value, sizeof value) == 0;
}

// Room for the answers of some ten thousand hosts to one broadcast.
constexpr int kBroadcastReceiveBuffer = 8 * 1024 * 1024;

bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

}  // namespace

SocketHandle openTcpListener(const SocketAddress& bindTo, int backlog) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return kInvalidSocket;
  setIntOption(fd, SOL_SOCKET, SO_REUSEADDR, 1);
  setIntOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
  const sockaddr_in in = toSockaddr(bindTo);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&in), sizeof in) != 0 || listen(fd, backlog) != 0) {
    ::close(fd);
    return kInvalidSocket;
  }
  return fd;
}

SocketHandle acceptConnection(SocketHandle listener, SocketAddress& peer) {
  sockaddr_in in{};
  socklen_t length = sizeof in;
  const int fd = accept4(listener, reinterpret_cast<sockaddr*>(&in), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return kInvalidSocket;
  // Linux does not hand TCP_NODELAY down from the listener; set it again.
  setIntOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
  peer = fromSockaddr(in);
  return fd;
}

SocketHandle openTcpSocket() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return kInvalidSocket;
  setIntOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
  return fd;
}

ConnectStart startConnect(SocketHandle socket, const SocketAddress& to) {
  const sockaddr_in in = toSockaddr(to);
  if (connect(socket, reinterpret_cast<const sockaddr*>(&in), sizeof in) == 0) return ConnectStart::Connected;
  return errno == EINPROGRESS ? ConnectStart::Pending : ConnectStart::Failed;
}

int connectError(SocketHandle socket) {
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

IoResult receiveSome(SocketHandle socket, uint8_t* buffer, size_t capacity) {
  for (;;) {
    const ssize_t n = recv(socket, buffer, capacity, 0);
    if (n > 0) return {IoOutcome::Done, static_cast<size_t>(n)};
    if (n == 0) return {IoOutcome::Closed, 0};
    if (errno == EINTR) continue;
    return {wouldBlock(errno) ? IoOutcome::WouldBlock : IoOutcome::Failed, 0};
  }
}

IoResult sendSome(SocketHandle socket, const uint8_t* data, size_t size) {
  for (;;) {
    const ssize_t n = send(socket, data, size, MSG_NOSIGNAL);
    if (n >= 0) return {IoOutcome::Done, static_cast<size_t>(n)};
    if (errno == EINTR) continue;
    return {wouldBlock(errno) ? IoOutcome::WouldBlock : IoOutcome::Failed, 0};
  }
}

SocketHandle openUdpSocket(const SocketAddress& bindTo, bool broadcast) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return kInvalidSocket;
  setIntOption(fd, SOL_SOCKET, SO_REUSEADDR, 1);
  if (broadcast) {
    setIntOption(fd, SOL_SOCKET, SO_BROADCAST, 1);
    // Every host that hears a broadcast answers it at once; the default
    // queue holds only a few hundred small datagrams and the kernel drops the
    // rest of such a burst. The kernel caps the request at net.core.rmem_max.
    setIntOption(fd, SOL_SOCKET, SO_RCVBUF, kBroadcastReceiveBuffer);
  }
  const sockaddr_in in = toSockaddr(bindTo);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&in), sizeof in) != 0) {
    ::close(fd);
    return kInvalidSocket;
  }
  return fd;
}

bool sendDatagram(SocketHandle socket, const SocketAddress& to, const uint8_t* data, size_t size) {
  const sockaddr_in in = toSockaddr(to);
  for (;;) {
    const ssize_t n = sendto(socket, data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&in), sizeof in);
    if (n >= 0) return static_cast<size_t>(n) == size;
    if (errno != EINTR) return false;
  }
}

IoResult receiveDatagram(SocketHandle socket, uint8_t* buffer, size_t capacity, SocketAddress& from) {
  for (;;) {
    sockaddr_in in{};
    socklen_t length = sizeof in;
    const ssize_t n = recvfrom(socket, buffer, capacity, 0, reinterpret_cast<sockaddr*>(&in), &length);
    if (n >= 0) {
      from = fromSockaddr(in);
      return {IoOutcome::Done, static_cast<size_t>(n)};
    }
    if (errno == EINTR) continue;
    return {wouldBlock(errno) ? IoOutcome::WouldBlock : IoOutcome::Failed, 0};
  }
}

SocketAddress localAddress(SocketHandle socket) {
  sockaddr_in in{};
  socklen_t length = sizeof in;
  if (getsockname(socket, reinterpret_cast<sockaddr*>(&in), &length) != 0) return {};
  return fromSockaddr(in);
}

void closeSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) ::close(socket);
}

}  // namespace platform
