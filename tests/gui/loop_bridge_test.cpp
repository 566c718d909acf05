// The relay's readiness loop driven from Qt's loop: descriptor readiness and
// the loop's own timers both reach their callbacks while Qt runs.
#include "lanrelay/gui/loop_bridge.h"

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>

#include "gui_test_app.h"

namespace gui {
namespace {

using namespace std::chrono_literals;

class GuiLoopBridge : public ::testing::Test {
 protected:
  void SetUp() override {
    gui_test::application();
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair_), 0);
  }
  void TearDown() override {
    close(pair_[0]);
    close(pair_[1]);
  }
  int pair_[2] = {-1, -1};
  platform::EventLoop loop_;
};

TEST_F(GuiLoopBridge, NextTimerAndDescriptorAreReported) {
  EXPECT_GE(loop_.descriptor(), 0);
  EXPECT_EQ(loop_.timeUntilNextTimer(1000ms), 1000ms);  // no timer: the ceiling
  platform::TimerId id = loop_.addTimer(200ms, [] {});
  EXPECT_GT(loop_.timeUntilNextTimer(1000ms), 150ms);
  EXPECT_LE(loop_.timeUntilNextTimer(1000ms), 200ms);
  EXPECT_EQ(loop_.timeUntilNextTimer(50ms), 50ms);
  loop_.cancelTimer(id);
  EXPECT_EQ(loop_.timeUntilNextTimer(1000ms), 1000ms);
}

TEST_F(GuiLoopBridge, ReadinessAndTimersRunInsideQtsLoop) {
  std::string received;
  loop_.watch(pair_[0], true, false, [&](platform::Readiness) {
    char buffer[16];
    ssize_t n = read(pair_[0], buffer, sizeof buffer);
    if (n > 0) received.append(buffer, static_cast<size_t>(n));
  });
  int ticks = 0;
  loop_.addTimer(10ms, [&] { ++ticks; });

  LoopBridge bridge(loop_);
  bridge.start();
  ASSERT_EQ(write(pair_[1], "ping", 4), 4);
  EXPECT_TRUE(gui_test::processUntil([&] { return received == "ping"; }, 5s));
  EXPECT_TRUE(gui_test::processUntil([&] { return ticks >= 3; }, 5s));

  // Stopped: nothing more is dispatched.
  bridge.stop();
  const int ticksWhenStopped = ticks;
  ASSERT_EQ(write(pair_[1], "more", 4), 4);
  gui_test::processUntil([] { return false; }, 100ms);
  EXPECT_EQ(received, "ping");
  EXPECT_EQ(ticks, ticksWhenStopped);
}

}  // namespace
}  // namespace gui
