// The deadline of one relaylink call. Callers pass time-outs in milliseconds;
// 0, or a value negative as a signed 32-bit number, means "look once": one
// readiness test, at most one read, then a time-out whatever was read. That
// single pass is what the board library's discard step relies on.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>

namespace relaylink {

using Clock = std::chrono::steady_clock;

class WaitBudget {
 public:
  WaitBudget(uint32_t timeoutMs, Clock::time_point start)
      : timeoutMs_(timeoutMs), deadline_(start + std::chrono::milliseconds(timeoutMs)) {}

  static WaitBudget startingNow(uint32_t timeoutMs) { return WaitBudget(timeoutMs, Clock::now()); }

  bool singlePass() const { return static_cast<int32_t>(timeoutMs_) <= 0; }
  bool expired() const { return singlePass() || Clock::now() >= deadline_; }
  // Time left before the deadline; zero once it has passed or on a single pass.
  Clock::duration remaining() const {
    if (singlePass()) return Clock::duration::zero();
    const auto left = deadline_ - Clock::now();
    return left > Clock::duration::zero() ? left : Clock::duration::zero();
  }
  // remaining() for ppoll() and nanosleep().
  timespec remainingTimespec() const {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(remaining()).count();
    return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
  }

 private:
  uint32_t timeoutMs_;
  Clock::time_point deadline_;
};

}  // namespace relaylink
