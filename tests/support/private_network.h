// Moves the calling test process into a network namespace of its own, with
// loopback up, so tests that add interfaces or broadcast cannot disturb each
// other (CTest runs test programs in parallel) or the machine's real network.
// Only allowed inside the namespace that scripts/in-netns creates, where the
// process has the rights to do so.
#pragma once

#include <string>

namespace testsupport {

// True inside scripts/in-netns (LANRELAY_NETNS=1).
bool insideTestNamespace();

// Unshares the network namespace of this process and brings loopback up.
// Returns false (with the reason in `why`) when that is not possible.
bool enterPrivateNetwork(std::string& why);

// Runs a shell command (ip link/addr ...) in the current namespace; true on exit status 0.
bool runCommand(const std::string& command);

}  // namespace testsupport
