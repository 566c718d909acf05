#include "tools/boardsim/sim_loop.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <vector>

namespace boardsim {

uint64_t monotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

SimLoop::SimLoop() : epollFd_(epoll_create1(EPOLL_CLOEXEC)) {}

SimLoop::~SimLoop() {
  if (epollFd_ >= 0) close(epollFd_);
}

bool SimLoop::watch(int fd, FdHandler handler) {
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = fd;
  if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &event) != 0) return false;
  handlers_[fd] = std::move(handler);
  return true;
}

void SimLoop::unwatch(int fd) {
  epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
  handlers_.erase(fd);
}

SimLoop::TimerId SimLoop::after(uint32_t delayMs, std::function<void()> callback) {
  const TimerId id = nextTimerId_++;
  timers_.emplace(std::make_pair(monotonicMs() + delayMs, id), std::move(callback));
  return id;
}

void SimLoop::cancel(TimerId id) {
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (it->first.second == id) {
      timers_.erase(it);
      return;
    }
  }
}

int SimLoop::nextTimeoutMs() const {
  if (timers_.empty()) return -1;
  const uint64_t now = monotonicMs();
  const uint64_t due = timers_.begin()->first.first;
  return due <= now ? 0 : static_cast<int>(due - now);
}

void SimLoop::fireDueTimers() {
  const uint64_t now = monotonicMs();
  // Take each due timer out before calling it: the callback may add or cancel timers.
  while (!timers_.empty() && timers_.begin()->first.first <= now) {
    auto callback = std::move(timers_.begin()->second);
    timers_.erase(timers_.begin());
    callback();
  }
}

void SimLoop::run() {
  running_ = true;
  std::vector<epoll_event> events(32);
  while (running_) {
    const int n = epoll_wait(epollFd_, events.data(), static_cast<int>(events.size()), nextTimeoutMs());
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < n && running_; ++i) {
      // A handler earlier in this batch may have removed this fd.
      auto it = handlers_.find(events[i].data.fd);
      if (it == handlers_.end()) continue;
      FdHandler handler = it->second;  // copy: the handler may unwatch itself
      handler(events[i].events);
    }
    if (running_) fireDueTimers();
  }
}

}  // namespace boardsim
