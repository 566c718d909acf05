// The single-threaded readiness loop every program of the suite runs in:
// file-descriptor readiness callbacks (level-triggered) and a few periodic
// timers on a monotonic clock.
//
// Thread: one. Create, use and destroy the loop on the thread that runs it;
// callbacks run on that thread, one at a time and to completion. Callbacks may
// add or remove watches and timers (including their own); a watch removed
// during dispatch gets no further callback, even from the same epoll batch.
//
// Ownership: the loop never owns or closes descriptors. Call unwatch() before
// closing a watched descriptor.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

struct Readiness {
  // Data (or an error, or the peer's close: EPOLLERR/EPOLLHUP are reported as
  // readable, so the handler learns of them from its read) can be read.
  bool readable = false;
  // Room to write, or a pending connect has finished (check its SO_ERROR).
  bool writable = false;
  // EPOLLERR or EPOLLHUP. Reported (together with readable) even while read
  // interest is off, since the kernel reports them regardless: a handler that
  // paused reading must act on it or the loop keeps waking.
  bool hangup = false;
};

using ReadyCallback = std::function<void(Readiness)>;
using TimerCallback = std::function<void()>;
using TimerId = uint32_t;
constexpr TimerId kNoTimer = 0;

class EventLoop {
 public:
  EventLoop();
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // False when the kernel refused the epoll instance; nothing works then.
  bool valid() const;

  // Starts watching `fd` with the given interests, replacing any earlier watch
  // of the same fd. Returns false when the kernel refuses it.
  bool watch(int fd, bool wantRead, bool wantWrite, ReadyCallback onReady);
  // Changes the interests of a watched fd. Returns false if not watched or refused.
  bool setInterest(int fd, bool wantRead, bool wantWrite);
  // Stops watching; unknown fds are ignored.
  void unwatch(int fd);

  // Periodic timer: first run one period from now, then every period. The
  // period must be at least 1 ms (smaller values are raised to 1 ms).
  TimerId addTimer(std::chrono::milliseconds period, TimerCallback onExpiry);
  // Restarts a timer with a new period, counted from now.
  void restartTimer(TimerId id, std::chrono::milliseconds period);
  void cancelTimer(TimerId id);

  // Waits at most `maxWait` for readiness or a due timer and dispatches what
  // is ready. Returns false when the wait itself failed (not for EINTR).
  bool runOnce(std::chrono::milliseconds maxWait);
  // Dispatches until stop() has been called.
  void run();
  // Asks run() to return after the current dispatch. Safe from a callback.
  void stop();
  bool stopRequested() const;
  // Clears the stop flag so the loop can be run again.
  void resetStop();

  // For a program whose own loop drives this one (a GUI toolkit's): the epoll
  // descriptor, readable while any watch has something to report (call
  // runOnce with zero wait then), and the time until the earliest timer is
  // due: zero when one is overdue, `ceiling` when none is nearer.
  int descriptor() const;
  std::chrono::milliseconds timeUntilNextTimer(std::chrono::milliseconds ceiling) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
