// The few socket operations the relay client needs, on POSIX sockets. Every
// wait is a poll() bounded by a WaitBudget, so data are seen as soon as they
// arrive instead of at the next millisecond step.
#pragma once

#include <cstddef>
#include <cstdint>

#include "relaylink/wait_budget.h"

namespace relaylink {

// Connected TCP socket to host:port (host: dotted IPv4 text), TCP_NODELAY set,
// back in blocking mode; -1 when the socket cannot be made or connected
// before the deadline. A socket that is readable before it is known to be
// connected counts as failed, as does one whose SO_ERROR is set.
int connectWithTimeout(const char* host, int port, const WaitBudget& budget);

enum class Readiness { Ready, NotYet, Failed };
// Waits until fd is readable (or hung up, so that the next recv reports it)
// or the budget's time is up.
Readiness waitReadable(int fd, const WaitBudget& budget);

// One recv of at most n bytes: the count, or -1 when the peer closed the
// stream or the read failed; 0 only when nothing was there after all.
long receiveOnce(int fd, uint8_t* buffer, size_t n);

// Sends all n bytes (one send call unless the kernel takes fewer); false on
// failure, or when a relay that stopped reading leaves no room for them
// before the deadline (a blocking send would wait for ever). Never raises
// SIGPIPE.
bool sendAll(int fd, const uint8_t* data, size_t n, const WaitBudget& budget);

}  // namespace relaylink
