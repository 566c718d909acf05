// Unit locks: the cross-process lock itself, and what a second thread or a
// second process finds while a unit is busy, or after its holder died.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "netpio_fixture.h"
#include "platform/process_lock.h"

extern char** environ;

namespace {

using fake::Bytes;
using netpio_test::kBoard;
using netpio_test::kType;
using netpio_test::NetpioUnit;
using platform::LockAttempt;
using platform::ProcessLock;
using Clock = std::chrono::steady_clock;

// Fresh per call, so repeated runs never meet a lock an earlier run left.
std::string uniqueName(const char* base) {
  static int serial = 0;
  return std::string(base) + std::to_string(getpid()) + "-" + std::to_string(++serial);
}

// Runs `body` in a child process and returns its exit status; the child
// reports over `ready` (a pipe) when it has done its part.
pid_t forkChild(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

int exitStatusOf(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(NetpioProcessLock, ExclusivePerThreadAndFreeAfterUnlock) {
  netpio_test::privateLockDirectory();
  const std::string name = uniqueName("thread");
  auto lock = ProcessLock::open(name);
  ASSERT_TRUE(lock);
  ASSERT_EQ(lock->tryLock(), LockAttempt::Acquired);
  EXPECT_EQ(lock->tryLock(), LockAttempt::Busy);  // not recursive either
  EXPECT_EQ(std::async(std::launch::async, [&] { return lock->tryLock(); }).get(), LockAttempt::Busy);
  // A second handle on the same name, as another library instance would have.
  auto other = ProcessLock::open(name);
  EXPECT_EQ(other->tryLock(), LockAttempt::Busy);
  lock->unlock();
  // Released by the thread that took it, as every holder must.
  EXPECT_EQ(std::async(std::launch::async,
                       [&] {
                         const LockAttempt a = other->tryLock();
                         if (a == LockAttempt::Acquired) other->unlock();
                         return a;
                       })
                .get(),
            LockAttempt::Acquired);
}

TEST(NetpioProcessLock, OtherProcessIsRefusedWhileHeld) {
  netpio_test::privateLockDirectory();
  const std::string name = uniqueName("process");
  auto lock = ProcessLock::open(name);
  ASSERT_EQ(lock->tryLock(), LockAttempt::Acquired);
  auto childAttempt = [&] {
    auto mine = ProcessLock::open(name);
    if (!mine) return 99;
    const LockAttempt a = mine->tryLock();
    if (a == LockAttempt::Acquired) mine->unlock();
    return static_cast<int>(a);
  };
  EXPECT_EQ(exitStatusOf(forkChild(childAttempt)), static_cast<int>(LockAttempt::Busy));
  lock->unlock();
  EXPECT_EQ(exitStatusOf(forkChild(childAttempt)), static_cast<int>(LockAttempt::Acquired));
}

TEST(NetpioProcessLock, HolderThatDiesLeavesAnAbandonedLockReportedOnce) {
  netpio_test::privateLockDirectory();
  const std::string name = uniqueName("abandoned");
  const pid_t holder = forkChild([&] {
    auto mine = ProcessLock::open(name);
    return mine && mine->tryLock() == LockAttempt::Acquired ? 0 : 1;  // exits holding it
  });
  ASSERT_EQ(exitStatusOf(holder), 0);
  auto lock = ProcessLock::open(name);
  EXPECT_EQ(lock->tryLock(), LockAttempt::Abandoned);
  EXPECT_EQ(lock->tryLock(), LockAttempt::Acquired);
  lock->unlock();
  EXPECT_EQ(lock->tryLock(), LockAttempt::Acquired);
  lock->unlock();
}

TEST(NetpioProcessLock, NamesWithSlashesAreRefused) {
  netpio_test::privateLockDirectory();
  EXPECT_FALSE(ProcessLock::open("../escape"));
  EXPECT_FALSE(ProcessLock::open(""));
}

// A relay whose board answers input reads only after `delay`, so that a
// first caller holds the unit for that long.
void slowInputs(fake::FakeRelay& relay, std::chrono::milliseconds delay) {
  relay.setFrameHandler([&relay, delay](const Bytes& f) {
    fake::Answer a = relay.board().answer(f);
    if (f[8] == 0x93) a.replyDelay = delay;
    return a;
  });
}

// Waits (bounded) until the relay has received `n` frames.
bool waitForFrames(const fake::FakeRelay& relay, size_t n) {
  const auto limit = Clock::now() + std::chrono::seconds(5);
  while (relay.frames().size() < n) {
    if (Clock::now() > limit) return false;
  }
  return true;
}

TEST_F(NetpioUnit, SecondThreadIsRefusedWhileTheFirstWaits) {
  slowInputs(relay, std::chrono::milliseconds(800));
  auto first = std::async(std::launch::async, [] {
    uint32_t v = 0;
    return npio_rInDW(kType, kBoard, &v);
  });
  ASSERT_TRUE(waitForFrames(relay, 1));
  const auto start = Clock::now();
  EXPECT_EQ(npio_wOutDW(kType, kBoard, 5), NPIO_BUSY);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));  // at once, not queued
  EXPECT_EQ(first.get(), 0u);
  EXPECT_EQ(frames().size(), 1u);  // the refused call sent nothing
  EXPECT_EQ(npio_wOutDW(kType, kBoard, 5), 0u);
}

pid_t spawnHolder(uint16_t port) {
  const std::string portText = std::to_string(port);
  const std::string typeText = std::to_string(kType);
  const std::string boardText = std::to_string(kBoard);
  char* argv[] = {const_cast<char*>(HOLD_UNIT_PROGRAM), const_cast<char*>(portText.c_str()),
                  const_cast<char*>(typeText.c_str()), const_cast<char*>(boardText.c_str()), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, HOLD_UNIT_PROGRAM, nullptr, nullptr, argv, environ) != 0) return -1;
  return pid;
}

TEST_F(NetpioUnit, SecondProcessHoldsTheUnitAndWeAreRefused) {
  slowInputs(relay, std::chrono::milliseconds(800));
  const pid_t holder = spawnHolder(relay.port());
  ASSERT_GT(holder, 0);
  ASSERT_TRUE(waitForFrames(relay, 1));  // the holder has sent its request
  uint32_t value = 0;
  EXPECT_EQ(npio_rInDW(kType, kBoard, &value), NPIO_BUSY);
  EXPECT_EQ(exitStatusOf(holder), 0);  // its own call completed normally
  EXPECT_EQ(npio_rInDW(kType, kBoard, &value), 0u);
}

TEST_F(NetpioUnit, HolderKilledMidRequestIsReportedBusyOnceThenFree) {
  slowInputs(relay, std::chrono::seconds(30));
  const pid_t holder = spawnHolder(relay.port());
  ASSERT_GT(holder, 0);
  ASSERT_TRUE(waitForFrames(relay, 1));
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  relay.setFrameHandler([this](const Bytes& f) { return relay.board().answer(f); });
  EXPECT_EQ(npio_wOutDW(kType, kBoard, 1), NPIO_BUSY);  // abandoned: handed over, released, busy
  EXPECT_EQ(npio_wOutDW(kType, kBoard, 1), 0u);
}

}  // namespace
