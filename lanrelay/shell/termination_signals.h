// SIGTERM and SIGINT delivered through the event loop: the signals are
// blocked and read from a signalfd watched like any socket, so no code runs
// in signal context and the loop decides when to stop.
//
// Ownership: owns the signalfd; restores the signal mask when destroyed.
// Thread: the loop thread; create it before any other thread exists, since
// the mask is inherited.
#pragma once

#include <csignal>
#include <functional>

#include "platform/event_loop.h"

namespace shell {

class TerminationSignals {
 public:
  TerminationSignals(platform::EventLoop& loop, std::function<void(int signalNumber)> onSignal);
  ~TerminationSignals();
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

  // False when the signals could not be routed to the loop; they then keep
  // their default action (the process ends without the orderly shutdown).
  bool active() const { return fd_ >= 0; }

 private:
  void onReadable();

  platform::EventLoop& loop_;
  std::function<void(int)> onSignal_;
  sigset_t previousMask_{};
  int fd_ = -1;
};

}  // namespace shell
