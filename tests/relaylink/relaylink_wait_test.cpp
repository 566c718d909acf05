// The wait loop on its own, over a socket pair: what a pass returns when the
// deadline has already passed, the single pass of time-out 0, and a unit
// that arrives in pieces.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "protocol/client_scanners.h"
#include "relaylink/wait_loop.h"

namespace {

using relaylink::Clock;
using relaylink::WaitBudget;

class RelaylinkWait : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0); }
  void TearDown() override {
    close(fds_[0]);
    close(fds_[1]);
  }
  void relaySends(std::initializer_list<uint8_t> bytes) {
    const std::vector<uint8_t> v(bytes);
    ASSERT_EQ(write(fds_[1], v.data(), v.size()), static_cast<ssize_t>(v.size()));
  }
  int client() const { return fds_[0]; }

 private:
  int fds_[2] = {-1, -1};
};

TEST_F(RelaylinkWait, UnitCompletedInThePassThatMeetsTheDeadlineIsReturned) {
  relaySends({0x7F, 0x76, 0x00, 0x31});
  // A 5 ms budget that ran out before the first pass began.
  const WaitBudget late(5, Clock::now() - std::chrono::milliseconds(50));
  protocol::VersionScanner scanner;
  EXPECT_EQ(relaylink::waitForUnit(client(), scanner, relaylink::kShortRead, late), 0x3100);
}

TEST_F(RelaylinkWait, TimeOutZeroAndNegativeAreOnePassEndingInTimeOut) {
  for (uint32_t timeout : {0u, 0x80000000u}) {
    relaySends({0x7F, 0x76, 0x00, 0x31});
    protocol::VersionScanner scanner;
    EXPECT_EQ(relaylink::waitForUnit(client(), scanner, relaylink::kShortRead, WaitBudget::startingNow(timeout)), -3);
    // The pass did read: nothing is left.
    protocol::VersionScanner again;
    EXPECT_EQ(relaylink::waitForUnit(client(), again, relaylink::kShortRead, WaitBudget::startingNow(0)), -3);
    EXPECT_EQ(again.skipped(), 0u);
  }
}

TEST_F(RelaylinkWait, UnitInPiecesIsAssembledAcrossReads) {
  relaySends({0x7F, 0x76});
  std::thread later([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    relaySends({0x34, 0x12});
  });
  protocol::VersionScanner scanner;
  EXPECT_EQ(relaylink::waitForUnit(client(), scanner, relaylink::kShortRead, WaitBudget::startingNow(2000)), 0x1234);
  later.join();
}

TEST_F(RelaylinkWait, ClosedStreamEndsTheWaitWithSocketFailure) {
  relaySends({0x7F});
  shutdown(client(), SHUT_RD);
  protocol::VersionScanner scanner;
  EXPECT_EQ(relaylink::waitForUnit(client(), scanner, relaylink::kShortRead, WaitBudget::startingNow(2000)), -1);
}

}  // namespace
