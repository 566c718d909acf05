#include "lanrelay/shell/termination_signals.h"

#include <sys/signalfd.h>
#include <unistd.h>

namespace shell {

TerminationSignals::TerminationSignals(platform::EventLoop& loop, std::function<void(int)> onSignal)
    : loop_(loop), onSignal_(std::move(onSignal)) {
  sigset_t wanted;
  sigemptyset(&wanted);
  sigaddset(&wanted, SIGTERM);
  sigaddset(&wanted, SIGINT);
  if (sigprocmask(SIG_BLOCK, &wanted, &previousMask_) != 0) return;
  fd_ = signalfd(-1, &wanted, SFD_NONBLOCK | SFD_CLOEXEC);
  if (fd_ >= 0 && !loop_.watch(fd_, true, false, [this](platform::Readiness) { onReadable(); })) {
    close(fd_);
    fd_ = -1;
  }
  if (fd_ < 0) sigprocmask(SIG_SETMASK, &previousMask_, nullptr);
}

TerminationSignals::~TerminationSignals() {
  if (fd_ < 0) return;
  loop_.unwatch(fd_);
  close(fd_);
  sigprocmask(SIG_SETMASK, &previousMask_, nullptr);
}

void TerminationSignals::onReadable() {
  signalfd_siginfo info{};
  while (read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    if (onSignal_) onSignal_(static_cast<int>(info.ssi_signo));
  }
}

}  // namespace shell
