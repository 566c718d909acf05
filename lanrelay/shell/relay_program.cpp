#include "lanrelay/shell/relay_program.h"

#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "lanrelay/shell/control_client.h"
#include "lanrelay/shell/control_server.h"
#include "lanrelay/shell/headless_front.h"
#include "lanrelay/shell/relay_shell.h"
#include "lanrelay/shell/runtime_folder.h"
#include "lanrelay/shell/settings_file.h"
#include "lanrelay/shell/termination_signals.h"
#include "lanrelay/shell/text_folder.h"
#include "platform/event_loop.h"
#include "platform/process_lock.h"

namespace shell {
namespace {

// The name of the per-user single-instance lock.
constexpr const char* kInstanceLockName = "lanrelay-instance";

void complain(const std::string& text) { std::cerr << messageLine(kProgramCaption, text) << std::flush; }

// Holds the lock for the life of the relay; the kernel frees it if we die.
std::unique_ptr<platform::ProcessLock> takeInstanceLock(bool& anotherRuns) {
  anotherRuns = false;
  auto lock = platform::ProcessLock::open(kInstanceLockName);
  if (!lock) return nullptr;
  platform::LockAttempt attempt = lock->tryLock();
  // A relay that died holding it left it free again: take it now.
  if (attempt == platform::LockAttempt::Abandoned) attempt = lock->tryLock();
  if (attempt != platform::LockAttempt::Acquired) {
    anotherRuns = true;
    return nullptr;
  }
  return lock;
}

}  // namespace

int runRelay(const ResidentFrontFactory& makeFront) {
  // A reader of our output that went away must not end the relay.
  std::signal(SIGPIPE, SIG_IGN);

  bool anotherRuns = false;
  auto instanceLock = takeInstanceLock(anotherRuns);
  if (anotherRuns) return 0;  // silently: the running relay is left alone
  if (!instanceLock) {
    complain("cannot create the single-instance lock in " + platform::processLockDirectory());
    return 1;
  }
  std::setlocale(LC_ALL, "");

  platform::EventLoop loop;
  if (!loop.valid()) {
    complain("cannot create the event loop");
    return 1;
  }
  std::unique_ptr<ResidentFront> resident = makeFront ? makeFront(loop) : nullptr;
  HeadlessFront headless(loop, STDOUT_FILENO, STDERR_FILENO);
  ShellFront& front = resident ? static_cast<ShellFront&>(*resident) : headless;
  RelayShell relay(front, loop,
                   ShellPaths{settingsFolderFor(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")),
                              programFolder(), currentFolder()});
  TerminationSignals signals(loop, [&front](int) { front.requestExit(); });

  // The control socket is how `--status` and `--close` find this relay.
  ControlServer control(loop, {[&relay] { return formatStatusTable(relay.statusRows()); },
                               [&front] { front.requestExit(); }});
  std::string why;
  std::string folder = runtimeFolder();
  if (!prepareRuntimeFolder(folder, why) || !control.open(controlSocketPath(folder), why)) {
    complain(why + "; --status and --close will not reach this relay");
  }

  if (resident) resident->attach(relay);
  relay.start();
  if (resident) {
    resident->run();
  } else {
    loop.run();
  }
  relay.shutdown();
  return 0;
}

int runStatusCommand() {
  std::string answer;
  switch (sendControlRequest(controlSocketPath(runtimeFolder()), kStatusRequest, answer)) {
    case ControlOutcome::Done:
      std::cout << answer << std::flush;
      return 0;
    case ControlOutcome::NotRunning:
      complain("no relay is running");
      return 1;
    case ControlOutcome::Failed:
      break;
  }
  complain("the relay did not answer");
  return 1;
}

int runCloseCommand() {
  std::string answer;
  switch (sendControlRequest(controlSocketPath(runtimeFolder()), kCloseRequest, answer)) {
    case ControlOutcome::Done:
      return 0;
    case ControlOutcome::NotRunning:
      complain("no relay is running");
      return 1;
    case ControlOutcome::Failed:
      break;
  }
  complain("the relay did not answer");
  return 1;
}

}  // namespace shell
