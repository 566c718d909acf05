// boardsim: network I/O boards without hardware, for trying the relay and the
// network board library. See usageText() or docs/boardsim.md.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "tools/boardsim/board_config.h"
#include "tools/boardsim/simulator.h"

int main(int argc, char** argv) {
  boardsim::SimulatorOptions options;
  std::string error;
  switch (boardsim::parseCommandLine(argc, argv, options, error)) {
    case boardsim::ParseOutcome::Help:
      std::cout << boardsim::usageText(argv[0]);
      return 0;
    case boardsim::ParseOutcome::Error:
      std::cerr << "boardsim: " << error << "\n";
      return 2;
    case boardsim::ParseOutcome::Run:
      break;
  }
  const char* netns = std::getenv("LANRELAY_NETNS");
  // The boards listen for broadcasts and answer them: on a real network they
  // would answer every relay there. Refuse unless inside a private namespace.
  if ((!netns || std::string(netns) != "1") && !options.anyNamespace) {
    std::cerr << "boardsim: refusing to run outside a private network namespace: start me through "
                 "scripts/in-netns (which sets LANRELAY_NETNS=1), or pass --any-namespace if you made "
                 "the namespace yourself\n";
    return 2;
  }

  // SIGINT and SIGTERM arrive as a readable descriptor, so the loop stops
  // between handlers and every socket is closed in order.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  const int stopFd = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
  signal(SIGPIPE, SIG_IGN);

  boardsim::Simulator simulator(options, STDIN_FILENO, STDOUT_FILENO);
  if (!simulator.start(error)) {
    std::cerr << "boardsim: " << error << "\n";
    return 1;
  }
  if (stopFd >= 0) simulator.addStopFd(stopFd);
  simulator.run();
  if (stopFd >= 0) close(stopFd);
  return 0;
}
