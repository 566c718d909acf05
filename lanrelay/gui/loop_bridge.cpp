#include "lanrelay/gui/loop_bridge.h"

#include <chrono>

namespace gui {
namespace {
// With no timer nearer, look again after this long anyway; costs nothing.
constexpr std::chrono::milliseconds kLongestSleep{1000};
}  // namespace

LoopBridge::LoopBridge(platform::EventLoop& loop)
    : loop_(loop), notifier_(loop.descriptor(), QSocketNotifier::Read) {
  notifier_.setEnabled(false);
  QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { pass(); });
  deadline_.setSingleShot(true);
  // Coarse timers may fire early by a few percent; the relay's 100 ms tick
  // would then find nothing due and wake again at once.
  deadline_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&deadline_, &QTimer::timeout, [this] { pass(); });
}

void LoopBridge::start() {
  running_ = true;
  notifier_.setEnabled(true);
  pass();
}

void LoopBridge::stop() {
  running_ = false;
  notifier_.setEnabled(false);
  deadline_.stop();
}

void LoopBridge::pass() {
  // Nothing the relay's handlers call runs Qt's loop (message boxes are
  // deferred), so this never nests; the guard keeps it so if that changes.
  if (!running_ || inPass_) return;
  inPass_ = true;
  loop_.runOnce(std::chrono::milliseconds(0));
  inPass_ = false;
  if (running_) deadline_.start(loop_.timeUntilNextTimer(kLongestSleep));
}

}  // namespace gui
