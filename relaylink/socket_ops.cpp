#include "relaylink/socket_ops.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>

namespace relaylink {
namespace {

// poll() that resumes after signals with the time still left.
int pollUntil(pollfd* fds, nfds_t n, const WaitBudget& budget) {
  for (;;) {
    const timespec wait = budget.remainingTimespec();
    const int r = ppoll(fds, n, &wait, nullptr);
    if (r >= 0 || errno != EINTR) return r;
  }
}

bool setBlocking(int fd, bool blocking) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  return fcntl(fd, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK)) == 0;
}

int failAndClose(int fd) {
  close(fd);
  return -1;
}

}  // namespace

int connectWithTimeout(const char* host, int port, const WaitBudget& budget) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (!setBlocking(fd, false)) return failAndClose(fd);
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = inet_addr(host);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    if (errno != EINPROGRESS) return failAndClose(fd);
    pollfd p{fd, POLLOUT | POLLIN, 0};
    if (pollUntil(&p, 1, budget) != 1) return failAndClose(fd);
    // The relay speaks only when spoken to: data before the open is not a relay.
    if ((p.revents & POLLOUT) == 0 || (p.revents & POLLIN) != 0) return failAndClose(fd);
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) return failAndClose(fd);
  }
  if (!setBlocking(fd, true)) return failAndClose(fd);
  return fd;
}

Readiness waitReadable(int fd, const WaitBudget& budget) {
  pollfd p{fd, POLLIN, 0};
  const int r = pollUntil(&p, 1, budget);
  if (r < 0 || (p.revents & POLLNVAL) != 0) return Readiness::Failed;
  return r == 0 ? Readiness::NotYet : Readiness::Ready;
}

long receiveOnce(int fd, uint8_t* buffer, size_t n) {
  for (;;) {
    const ssize_t got = recv(fd, buffer, n, MSG_DONTWAIT);
    if (got > 0) return got;
    if (got == 0) return -1;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return -1;
  }
}

bool sendAll(int fd, const uint8_t* data, size_t n, const WaitBudget& budget) {
  size_t sent = 0;
  while (sent < n) {
    const ssize_t r = send(fd, data + sent, n - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (r >= 0) {
      sent += static_cast<size_t>(r);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
    pollfd p{fd, POLLOUT, 0};
    if (pollUntil(&p, 1, budget) <= 0) return false;
  }
  return true;
}

}  // namespace relaylink
