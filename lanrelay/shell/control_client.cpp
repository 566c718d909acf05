#include "lanrelay/shell/control_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace shell {
namespace {

class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Waits for `events` until `deadline`; false on time-out or error.
bool waitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd entry{fd, events, 0};
    int ready = poll(&entry, 1, static_cast<int>(left.count()));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

}  // namespace

ControlOutcome sendControlRequest(const std::string& socketPath, const ControlRequest& request, std::string& answer,
                                  std::chrono::milliseconds timeout) {
  answer.clear();
  auto deadline = std::chrono::steady_clock::now() + timeout;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof address.sun_path) return ControlOutcome::NotRunning;
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);

  ScopedFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.get() < 0) return ControlOutcome::Failed;
  if (connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    // A missing or stale socket file means no relay; a full backlog means one
    // that is too busy to answer now.
    return (errno == ENOENT || errno == ECONNREFUSED) ? ControlOutcome::NotRunning : ControlOutcome::Failed;
  }

  auto bytes = encodeControlRequest(request);
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(fd.get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      if (!waitFor(fd.get(), POLLOUT, deadline)) return ControlOutcome::Failed;
    } else if (!(n < 0 && errno == EINTR)) {
      return ControlOutcome::Failed;
    }
  }

  char buffer[4096];
  for (;;) {
    ssize_t n = recv(fd.get(), buffer, sizeof buffer, 0);
    if (n > 0) {
      answer.append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      return ControlOutcome::Done;
    } else if (errno == EAGAIN) {
      if (!waitFor(fd.get(), POLLIN, deadline)) return ControlOutcome::Failed;
    } else if (errno == ECONNRESET) {
      // The relay closed without reading everything; the request was taken.
      return ControlOutcome::Done;
    } else if (errno != EINTR) {
      return ControlOutcome::Failed;
    }
  }
}

}  // namespace shell
