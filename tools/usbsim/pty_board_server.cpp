#include "tools/usbsim/pty_board_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace usbsim {

PtyBoardServer::PtyBoardServer(SerialBoardSettings settings) : board_(settings) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) return;
  const char* name = ptsname(master_);
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 || name == nullptr) {
    ::close(master_);
    master_ = -1;
    return;
  }
  path_ = name;
  keeper_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  stopFd_ = eventfd(0, EFD_CLOEXEC);
}

PtyBoardServer::~PtyBoardServer() {
  stop();
  if (stopFd_ >= 0) ::close(stopFd_);
  if (keeper_ >= 0) ::close(keeper_);
  if (master_ >= 0) ::close(master_);
}

void PtyBoardServer::start() {
  if (!ok() || thread_.joinable()) return;
  thread_ = std::thread([this] { serve(); });
}

void PtyBoardServer::stop() {
  if (!thread_.joinable()) return;
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(stopFd_, &one, sizeof one);
  thread_.join();
}

void PtyBoardServer::serve() {
  pollfd fds[2] = {{master_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    uint8_t buffer[256];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0) continue;
    std::vector<uint8_t> reply;
    {
      std::lock_guard<std::mutex> hold(lock_);
      reply = board_.feed(buffer, static_cast<size_t>(n));
    }
    received_.notify_all();
    size_t sent = 0;
    while (sent < reply.size()) {
      const ssize_t w = ::write(master_, reply.data() + sent, reply.size() - sent);
      if (w <= 0) break;
      sent += static_cast<size_t>(w);
    }
  }
}

std::vector<std::vector<uint8_t>> PtyBoardServer::requests() {
  std::lock_guard<std::mutex> hold(lock_);
  const auto& all = board_.requests();
  return {all.begin() + static_cast<long>(requestsSeen_), all.end()};
}

bool PtyBoardServer::waitForRequests(size_t count, int timeoutMs) {
  std::unique_lock<std::mutex> hold(lock_);
  return received_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                            [&] { return board_.requests().size() >= requestsSeen_ + count; });
}

void PtyBoardServer::clearRequests() {
  std::lock_guard<std::mutex> hold(lock_);
  requestsSeen_ = board_.requests().size();
}

SerialBoardSettings PtyBoardServer::settings() {
  std::lock_guard<std::mutex> hold(lock_);
  return board_.settings();
}

void PtyBoardServer::changeSettings(const SerialBoardSettings& settings) {
  std::lock_guard<std::mutex> hold(lock_);
  board_.settings() = settings;
}

}  // namespace usbsim
