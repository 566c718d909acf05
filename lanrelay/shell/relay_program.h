// The `lanrelay` program's runs: the resident relay itself and the two
// commands that talk to it. Each returns the process exit status.
#pragma once

namespace shell {

// Runs the relay until Exit, a close request, SIGTERM/SIGINT or another relay
// found on the network: single-instance check (a second relay of the same
// user ends at once, silently, status 0), then the start order, the loop,
// and the orderly shutdown. 0 on an orderly end, 1 when it could not start.
int runRelay();

// Prints the running relay's status list. 0, or 1 when no relay answers.
int runStatusCommand();

// Sends the close request. 0 once delivered, or 1 when no relay answers.
int runCloseCommand();

}  // namespace shell
