// Non-blocking IPv4 sockets: TCP listen/accept/connect and UDP
// bind/broadcast/send/receive. Every socket made here is non-blocking and
// close-on-exec; readiness is learnt from the event loop (event_loop.h).
//
// Single-threaded: call from the thread that runs the event loop. The caller
// owns every handle it gets and releases it with closeSocket().
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/relay_messages.h"

namespace platform {

using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;

struct SocketAddress {
  protocol::Ipv4Address ip;  // 0.0.0.0 = any local address
  uint16_t port = 0;         // 0 = any free port (bind)
};

enum class IoOutcome {
  Done,        // `bytes` were moved (for recv, bytes > 0)
  WouldBlock,  // nothing to read / no room to write now; try again when ready
  Closed,      // the peer ended the TCP stream (recv returned 0)
  Failed,      // any other error; the connection is unusable
};

struct IoResult {
  IoOutcome outcome = IoOutcome::Failed;
  size_t bytes = 0;
};

enum class ConnectStart {
  Connected,  // completed at once (possible on loopback)
  Pending,    // in progress: wait for writability, then connectError()
  Failed,
};

// TCP listener with SO_REUSEADDR and TCP_NODELAY (accepted sockets inherit
// it). Returns kInvalidSocket when creating, binding or listening fails.
SocketHandle openTcpListener(const SocketAddress& bindTo, int backlog);

// Accepts one pending connection (non-blocking, TCP_NODELAY). Returns
// kInvalidSocket when none is pending or accept fails.
SocketHandle acceptConnection(SocketHandle listener, SocketAddress& peer);

// A fresh non-blocking TCP socket with TCP_NODELAY, or kInvalidSocket.
SocketHandle openTcpSocket();

// Starts a connect on a socket from openTcpSocket().
ConnectStart startConnect(SocketHandle socket, const SocketAddress& to);

// After a pending connect became writable: 0 when connected, else the
// socket's pending error (SO_ERROR), an errno value.
int connectError(SocketHandle socket);

// Reads at most `capacity` bytes. Done with bytes > 0, Closed, WouldBlock or Failed.
IoResult receiveSome(SocketHandle socket, uint8_t* buffer, size_t capacity);

// Writes what the kernel takes now (never raises SIGPIPE). Done with the
// count taken (possibly short), WouldBlock when nothing fits, or Failed.
IoResult sendSome(SocketHandle socket, const uint8_t* data, size_t size);

// UDP socket with SO_REUSEADDR (and SO_BROADCAST when asked, with a receive
// queue as large as the system allows, for the burst of answers), bound to
// `bindTo`. Returns kInvalidSocket when creating or binding fails.
SocketHandle openUdpSocket(const SocketAddress& bindTo, bool broadcast);

// One datagram to `to`. Returns false when the kernel refused it.
bool sendDatagram(SocketHandle socket, const SocketAddress& to, const uint8_t* data, size_t size);

// One datagram of at most `capacity` bytes (longer ones are cut). Done with
// the sender in `from`, WouldBlock when the queue is empty, or Failed.
IoResult receiveDatagram(SocketHandle socket, uint8_t* buffer, size_t capacity, SocketAddress& from);

// The locally bound address of a socket (port 0 on failure).
SocketAddress localAddress(SocketHandle socket);

// Closes a valid handle; invalid handles are ignored.
void closeSocket(SocketHandle socket);

}  // namespace platform
