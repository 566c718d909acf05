// The simulator's single-threaded readiness loop: level-triggered epoll for
// the sockets and the control channel, plus one-shot timers on the monotonic
// clock for delayed and split replies and input counters. Not thread-safe:
// every call runs on the thread that calls run().
#pragma once

#include <cstdint>
#include <functional>
#include <map>

namespace boardsim {

class SimLoop {
 public:
  using FdHandler = std::function<void(uint32_t events)>;
  using TimerId = uint64_t;

  SimLoop();
  ~SimLoop();
  SimLoop(const SimLoop&) = delete;
  SimLoop& operator=(const SimLoop&) = delete;

  bool valid() const { return epollFd_ >= 0; }

  // Watches fd for EPOLLIN (and EPOLLOUT when asked). The loop does not own fd;
  // remove it before closing it. Returns false if epoll refuses it.
  bool watch(int fd, FdHandler handler);
  void unwatch(int fd);

  // Runs callback once, delayMs from now. Cancelling an expired or unknown id is harmless.
  TimerId after(uint32_t delayMs, std::function<void()> callback);
  void cancel(TimerId id);

  // Dispatches until stop() is called from a handler.
  void run();
  void stop() { running_ = false; }

 private:
  int nextTimeoutMs() const;
  void fireDueTimers();

  int epollFd_ = -1;
  bool running_ = false;
  std::map<int, FdHandler> handlers_;
  // Keyed by (deadline, id) so the earliest deadline is first and ids stay unique.
  std::map<std::pair<uint64_t, TimerId>, std::function<void()>> timers_;
  TimerId nextTimerId_ = 1;
};

uint64_t monotonicMs();

}  // namespace boardsim
