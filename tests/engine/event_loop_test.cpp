// The readiness loop on its own: level-triggered reads, write interest only
// on demand, hang-ups reported as readable, removal during dispatch, timers.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/event_loop.h"

namespace {

using namespace std::chrono_literals;

struct SocketPair {
  int fds[2] = {-1, -1};
  SocketPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0); }
  ~SocketPair() {
    for (int fd : fds)
      if (fd >= 0) ::close(fd);
  }
};

TEST(EngineEventLoop, ReadinessRepeatsUntilDataIsRead) {
  platform::EventLoop loop;
  SocketPair pair;
  int calls = 0;
  ASSERT_TRUE(loop.watch(pair.fds[0], true, false, [&](platform::Readiness r) {
    EXPECT_TRUE(r.readable);
    ++calls;
  }));
  ASSERT_EQ(write(pair.fds[1], "ab", 2), 2);
  loop.runOnce(100ms);
  loop.runOnce(100ms);
  EXPECT_EQ(calls, 2) << "level-triggered: unread data wakes the loop again";
  char buffer[2];
  ASSERT_EQ(read(pair.fds[0], buffer, 2), 2);
  loop.runOnce(0ms);
  EXPECT_EQ(calls, 2);
}

TEST(EngineEventLoop, WriteInterestOnlyWhenAsked) {
  platform::EventLoop loop;
  SocketPair pair;
  int writable = 0;
  ASSERT_TRUE(loop.watch(pair.fds[0], true, false, [&](platform::Readiness r) { writable += r.writable; }));
  loop.runOnce(0ms);
  EXPECT_EQ(writable, 0);
  ASSERT_TRUE(loop.setInterest(pair.fds[0], true, true));
  loop.runOnce(100ms);
  EXPECT_EQ(writable, 1);
}

TEST(EngineEventLoop, HangupIsReportedAsReadableEvenWithoutReadInterest) {
  platform::EventLoop loop;
  SocketPair pair;
  platform::Readiness seen;
  ASSERT_TRUE(loop.watch(pair.fds[0], false, false, [&](platform::Readiness r) { seen = r; }));
  ::close(pair.fds[1]);
  pair.fds[1] = -1;
  loop.runOnce(100ms);
  EXPECT_TRUE(seen.readable);
  EXPECT_TRUE(seen.hangup);
}

TEST(EngineEventLoop, WatchRemovedDuringDispatchGetsNoCallback) {
  platform::EventLoop loop;
  SocketPair a, b;
  int calls = 0;
  // Whichever runs first removes the other; the batch holds both events.
  ASSERT_TRUE(loop.watch(a.fds[0], true, false, [&](platform::Readiness) {
    ++calls;
    loop.unwatch(b.fds[0]);
    loop.unwatch(a.fds[0]);
  }));
  ASSERT_TRUE(loop.watch(b.fds[0], true, false, [&](platform::Readiness) {
    ++calls;
    loop.unwatch(a.fds[0]);
    loop.unwatch(b.fds[0]);
  }));
  ASSERT_EQ(write(a.fds[1], "x", 1), 1);
  ASSERT_EQ(write(b.fds[1], "x", 1), 1);
  loop.runOnce(100ms);
  EXPECT_EQ(calls, 1);
}

TEST(EngineEventLoop, TimersRunPeriodicallyAndStopWhenCancelled) {
  platform::EventLoop loop;
  int ticks = 0;
  platform::TimerId id = loop.addTimer(5ms, [&] {
    if (++ticks == 3) loop.cancelTimer(id);
  });
  const auto deadline = std::chrono::steady_clock::now() + 2s;
  while (ticks < 3 && std::chrono::steady_clock::now() < deadline) loop.runOnce(50ms);
  EXPECT_EQ(ticks, 3);
  loop.runOnce(20ms);
  EXPECT_EQ(ticks, 3);
}

TEST(EngineEventLoop, StopEndsRun) {
  platform::EventLoop loop;
  loop.addTimer(1ms, [&] { loop.stop(); });
  loop.run();
  EXPECT_TRUE(loop.stopRequested());
  loop.resetStop();
  EXPECT_FALSE(loop.stopRequested());
}

}  // namespace
