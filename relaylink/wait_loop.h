// The wait shared by every relaylink call that expects a unit from the relay:
// wait for readability (up to the deadline), read once, feed the scanner,
// repeat. The scanner keeps its state across the reads of one call, so a unit
// that TCP delivers in pieces is still assembled; bytes of a read that follow
// a completed unit are dropped, as the relay never sends two units at once
// for one request.
//
// Results: the scanner's result once it has completed (or failed); -1 when a
// wait or read fails or the relay closed the connection; -3 when the deadline
// passes first. On a single-pass budget (time-out 0) the call is one
// readiness test and at most one read, and the result is -3 whatever was read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/client_scanners.h"
#include "relaylink/socket_ops.h"
#include "relaylink/wait_budget.h"

namespace relaylink {

constexpr int kSocketFailure = -1;
constexpr int kTimedOut = -3;

// Largest single read: one reply frame of the relay (8 + 512 bytes).
constexpr size_t kLargeRead = 520;
// Reads of the short control answers (open result, version).
constexpr size_t kShortRead = 16;

template <class Scanner, class ReadSize>
int waitForUnit(int fd, Scanner& scanner, ReadSize readSize, const WaitBudget& budget) {
  uint8_t chunk[kLargeRead];
  for (;;) {
    const Readiness ready = waitReadable(fd, budget);
    if (ready == Readiness::Failed) return kSocketFailure;
    if (ready == Readiness::Ready) {
      const long got = receiveOnce(fd, chunk, readSize());
      if (got < 0) return kSocketFailure;
      if (got > 0 && scanner.feed(chunk, static_cast<size_t>(got)).state != protocol::ScanState::NeedMore &&
          !budget.singlePass()) {
        return scanner.result();
      }
    }
    if (budget.expired()) return kTimedOut;
  }
}

template <class Scanner>
int waitForUnit(int fd, Scanner& scanner, size_t readSize, const WaitBudget& budget) {
  return waitForUnit(fd, scanner, [readSize] { return readSize; }, budget);
}

}  // namespace relaylink
