// The `lanrelay` program's runs: the resident relay itself and the two
// commands that talk to it. Each returns the process exit status.
#pragma once

#include <functional>
#include <memory>

#include "lanrelay/shell/shell_front.h"
#include "platform/event_loop.h"

namespace shell {

class RelayShell;

// A front with a loop of its own (a GUI toolkit's) that drives the relay's
// event loop from inside it. It is made on the relay's loop, handed the shell
// before the start order runs, and runs until requestExit() has taken effect.
class ResidentFront : public ShellFront {
 public:
  virtual void attach(RelayShell& relay) = 0;
  virtual void run() = 0;
};
using ResidentFrontFactory = std::function<std::unique_ptr<ResidentFront>(platform::EventLoop&)>;

// Runs the relay until Exit, a close request, SIGTERM/SIGINT or another relay
// found on the network: single-instance check (a second relay of the same
// user ends at once, silently, status 0), then the start order, the loop,
// and the orderly shutdown. 0 on an orderly end, 1 when it could not start.
// Without a factory the relay runs headless; with one, its front runs the loop.
int runRelay(const ResidentFrontFactory& makeFront = nullptr);

// Prints the running relay's status list. 0, or 1 when no relay answers.
int runStatusCommand();

// Sends the close request. 0 once delivered, or 1 when no relay answers.
int runCloseCommand();

}  // namespace shell
