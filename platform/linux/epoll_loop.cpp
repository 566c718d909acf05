#include "platform/event_loop.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <unordered_map>
#include <vector>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

struct Watch {
  ReadyCallback onReady;
  uint32_t generation = 0;
  bool wantRead = false;
  bool wantWrite = false;
};

struct Timer {
  TimerId id = kNoTimer;
  std::chrono::milliseconds period{1};
  Clock::time_point due;
  TimerCallback onExpiry;
  bool cancelled = false;
};

uint32_t epollEvents(bool wantRead, bool wantWrite) {
  // Level-triggered: a handler may read once per wake-up and be called again
  // while data remain.
  return (wantRead ? EPOLLIN | EPOLLRDHUP : 0u) | (wantWrite ? EPOLLOUT : 0u);
}

// The epoll cookie carries the fd and the generation of its watch, so that an
// event fetched in the same batch for a watch removed (or replaced) meanwhile
// is recognised as stale and dropped.
uint64_t cookie(int fd, uint32_t generation) {
  return (static_cast<uint64_t>(generation) << 32) | static_cast<uint32_t>(fd);
}

}  // namespace

struct EventLoop::State {
  int epollFd = -1;
  std::unordered_map<int, Watch> watches;
  uint32_t nextGeneration = 1;
  std::vector<Timer> timers;
  TimerId nextTimerId = 1;
  bool stopFlag = false;
};

EventLoop::EventLoop() : state_(std::make_unique<State>()) {
  state_->epollFd = epoll_create1(EPOLL_CLOEXEC);
}

EventLoop::~EventLoop() {
  if (state_->epollFd >= 0) ::close(state_->epollFd);
}

bool EventLoop::valid() const { return state_->epollFd >= 0; }

bool EventLoop::watch(int fd, bool wantRead, bool wantWrite, ReadyCallback onReady) {
  if (fd < 0 || !valid()) return false;
  const uint32_t generation = state_->nextGeneration++;
  epoll_event ev{};
  ev.events = epollEvents(wantRead, wantWrite);
  ev.data.u64 = cookie(fd, generation);
  const bool known = state_->watches.count(fd) != 0;
  if (epoll_ctl(state_->epollFd, known ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &ev) != 0) {
    // A closed-and-reused fd may still be registered under the old watch's
    // name in our table but not in the kernel's (or the other way round).
    const int op = known ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
    if (epoll_ctl(state_->epollFd, op, fd, &ev) != 0) return false;
  }
  state_->watches[fd] = Watch{std::move(onReady), generation, wantRead, wantWrite};
  return true;
}

bool EventLoop::setInterest(int fd, bool wantRead, bool wantWrite) {
  auto it = state_->watches.find(fd);
  if (it == state_->watches.end()) return false;
  if (it->second.wantRead == wantRead && it->second.wantWrite == wantWrite) return true;
  epoll_event ev{};
  ev.events = epollEvents(wantRead, wantWrite);
  ev.data.u64 = cookie(fd, it->second.generation);
  if (epoll_ctl(state_->epollFd, EPOLL_CTL_MOD, fd, &ev) != 0) return false;
  it->second.wantRead = wantRead;
  it->second.wantWrite = wantWrite;
  return true;
}

void EventLoop::unwatch(int fd) {
  auto it = state_->watches.find(fd);
  if (it == state_->watches.end()) return;
  epoll_ctl(state_->epollFd, EPOLL_CTL_DEL, fd, nullptr);
  state_->watches.erase(it);
}

TimerId EventLoop::addTimer(std::chrono::milliseconds period, TimerCallback onExpiry) {
  period = std::max(period, std::chrono::milliseconds(1));
  Timer t;
  t.id = state_->nextTimerId++;
  t.period = period;
  t.due = Clock::now() + period;
  t.onExpiry = std::move(onExpiry);
  state_->timers.push_back(std::move(t));
  return state_->timers.back().id;
}

void EventLoop::restartTimer(TimerId id, std::chrono::milliseconds period) {
  period = std::max(period, std::chrono::milliseconds(1));
  for (Timer& t : state_->timers) {
    if (t.id == id && !t.cancelled) {
      t.period = period;
      t.due = Clock::now() + period;
    }
  }
}

void EventLoop::cancelTimer(TimerId id) {
  // Only marked here; the entry is dropped after dispatch so that cancelling
  // from inside a timer callback never invalidates the walk in progress.
  for (Timer& t : state_->timers) {
    if (t.id == id) t.cancelled = true;
  }
}

bool EventLoop::runOnce(std::chrono::milliseconds maxWait) {
  if (!valid()) return false;
  auto now = Clock::now();
  auto wait = std::max(maxWait, std::chrono::milliseconds(0));
  for (const Timer& t : state_->timers) {
    if (t.cancelled) continue;
    auto untilDue = std::chrono::ceil<std::chrono::milliseconds>(t.due - now);
    wait = std::min(wait, std::max(untilDue, std::chrono::milliseconds(0)));
  }

  epoll_event events[64];
  const int n = epoll_wait(state_->epollFd, events, 64, static_cast<int>(wait.count()));
  if (n < 0 && errno != EINTR) return false;

  for (int i = 0; i < n && !state_->stopFlag; ++i) {
    const int fd = static_cast<int>(static_cast<uint32_t>(events[i].data.u64));
    const uint32_t generation = static_cast<uint32_t>(events[i].data.u64 >> 32);
    auto it = state_->watches.find(fd);
    if (it == state_->watches.end() || it->second.generation != generation) continue;
    Readiness r;
    const uint32_t e = events[i].events;
    // Errors and hang-ups surface as readable: the handler's next read tells
    // it what happened, exactly as for an orderly close.
    r.hangup = (e & (EPOLLERR | EPOLLHUP)) != 0;
    r.readable = r.hangup || ((e & (EPOLLIN | EPOLLRDHUP)) != 0 && it->second.wantRead);
    r.writable = (e & EPOLLOUT) != 0 && it->second.wantWrite;
    if (!r.readable && !r.writable) continue;
    // Copy: the callback may replace or remove its own watch.
    ReadyCallback callback = it->second.onReady;
    callback(r);
  }

  now = Clock::now();
  // Index walk: callbacks may add timers (appended) while we run.
  for (size_t i = 0; i < state_->timers.size() && !state_->stopFlag; ++i) {
    if (state_->timers[i].cancelled || state_->timers[i].due > now) continue;
    // Next due time from the planned one, not from now, so the period keeps
    // its rate; after a long stall it restarts from now instead of bursting.
    Timer& t = state_->timers[i];
    t.due += t.period;
    if (t.due <= now) t.due = now + t.period;
    TimerCallback callback = t.onExpiry;
    callback();
  }
  std::erase_if(state_->timers, [](const Timer& t) { return t.cancelled; });
  return true;
}

void EventLoop::run() {
  while (!state_->stopFlag) {
    if (!runOnce(std::chrono::milliseconds(1000))) break;
  }
}

void EventLoop::stop() { state_->stopFlag = true; }

bool EventLoop::stopRequested() const { return state_->stopFlag; }

void EventLoop::resetStop() { state_->stopFlag = false; }

int EventLoop::descriptor() const { return state_->epollFd; }

std::chrono::milliseconds EventLoop::timeUntilNextTimer(std::chrono::milliseconds ceiling) const {
  const auto now = Clock::now();
  auto wait = std::max(ceiling, std::chrono::milliseconds(0));
  for (const Timer& t : state_->timers) {
    if (t.cancelled) continue;
    auto untilDue = std::chrono::ceil<std::chrono::milliseconds>(t.due - now);
    wait = std::min(wait, std::max(untilDue, std::chrono::milliseconds(0)));
  }
  return wait;
}

}  // namespace platform
