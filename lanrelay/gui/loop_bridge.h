// Drives the relay's readiness loop from Qt's event loop on the one GUI
// thread: a socket notifier on the loop's epoll descriptor wakes it for I/O,
// and a single-shot timer wakes it when its next timer is due. Each wake-up
// runs one non-blocking pass of the relay loop, so the engine's handlers run
// one at a time, to completion, between Qt's own events.
//
// Ownership: the bridge borrows the loop, which must outlive it.
// Thread: the GUI thread.
#pragma once

#include <QSocketNotifier>
#include <QTimer>

#include "platform/event_loop.h"

namespace gui {

class LoopBridge {
 public:
  explicit LoopBridge(platform::EventLoop& loop);
  LoopBridge(const LoopBridge&) = delete;
  LoopBridge& operator=(const LoopBridge&) = delete;

  // Starts driving: runs one pass at once, then on every wake-up.
  void start();
  void stop();
  bool running() const { return running_; }

 private:
  void pass();

  platform::EventLoop& loop_;
  QSocketNotifier notifier_;
  QTimer deadline_;
  bool running_ = false;
  bool inPass_ = false;
};

}  // namespace gui
