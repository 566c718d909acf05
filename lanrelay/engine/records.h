// The relay engine's records: the board table, the queued requests, the client
// connections, the local-address table and the duplicate-address list.
//
// Ownership: every record is a value held by the one Engine object (engine.h);
// records refer to each other by index or socket, never by address, because the
// board table grows. The shell reads them (status list, event texts) through
// the Engine's const accessors, on the loop thread, and never keeps a pointer
// across a call back into the engine.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "lanrelay/engine/request_queue.h"
#include "platform/net_socket.h"
#include "protocol/relay_messages.h"

namespace engine {

using platform::SocketHandle;
using platform::kInvalidSocket;
using protocol::Ipv4Address;
using protocol::MacAddress;

// Client frames and board replies are assembled in buffers of this size.
constexpr size_t kAssemblyBufferSize = 2048;
// The relay's own identification/alive request is tagged with this byte; a
// reply carrying it in byte 1 answers that request.
constexpr uint8_t kAliveTag = 0xFF;
constexpr size_t kAliveRequestSize = 24;

enum class BoardState : int32_t {
  NoDevice = 0,      // record exists, board not present (row not shown)
  Connecting = 1,    // TCP connect pending
  Information = 2,   // connected, identification reply awaited
  Connected = 3,     // identified, usable by clients
  Disconnected = 4,  // connection closed, failed or refused
};

// One queued request. The front entry of a board's queue is in flight.
struct RequestEntry {
  SocketHandle clientSocket = kInvalidSocket;  // invalid for the relay's own request
  // Serial of that client connection (ClientRecord::serial): the kernel reuses
  // socket numbers, so a reply is delivered only if the connection at
  // clientSocket is still the one that sent the request.
  uint64_t clientSerial = 0;
  uint8_t tag = 0;                             // byte 8 of the frame; echoed in reply byte 1
  int32_t requestLength = 0;
  // The whole frame as sent to the board. Accepted client frames are at most
  // 8 + 512 bytes, so the request is held in place and queuing never allocates.
  std::array<uint8_t, protocol::kMaxRelayFrame> requestBytes{};
  int32_t replyCount = 0;          // reply bytes gathered so far
  int32_t replyPayloadLength = 0;  // from reply bytes 2-3
  int32_t responseCountdown = 0;   // 100 ms ticks; only the front entry's runs
  // The reply itself is assembled in BoardRecord::replyBytes: only the front
  // request ever gathers one, so one buffer per board is enough.
};

struct BoardRecord {
  BoardState state = BoardState::NoDevice;
  SocketHandle socket = kInvalidSocket;
  Ipv4Address ip;           // sender of its search answer
  int32_t boardId = -1;     // from the identification reply (signed byte); -1 when none
  int32_t typeCode = -1;    // 0..255 from the identification reply; -1 when none
  MacAddress mac{};         // from its search answer
  RequestQueue<RequestEntry> requests;
  std::map<SocketHandle, Ipv4Address> openers;  // client connections that opened it
  int32_t aliveCountdown = 0;  // 100 ms ticks until an alive request (Connected only)
  int32_t missCount = 0;       // search cycles while not connected
  int32_t aliveFailures = 0;   // identification/alive requests in a row that timed out
  int32_t openCount = 0;       // client opens (the device list's "open" byte)

  // Assembly buffer of the front request's reply. Bytes of an oversized reply
  // beyond it are counted in the front request's replyCount, not stored, so
  // the stream stays in step with the board.
  std::array<uint8_t, kAssemblyBufferSize> replyBytes{};
};

struct ClientRecord {
  Ipv4Address ip;            // peer address at accept
  int32_t boardIndex = -1;   // index into the board table; -1 until an open succeeds
  // Bytes of the message or frame being assembled. Bytes of an oversized
  // frame beyond the buffer are counted, not stored, and the frame is refused
  // once its last byte is in, so the stream stays in step.
  int32_t gathered = 0;
  int32_t frameLength = 0;   // payload length of the frame being assembled
  std::array<uint8_t, kAssemblyBufferSize> buffer{};

  // Requests of this connection still in some board queue. Reading pauses
  // while it is high so a flooding client cannot grow the queues without bound.
  int32_t queuedRequests = 0;
  bool readingPaused = false;
  // Unique for the engine's life (socket numbers are reused), never 0.
  uint64_t serial = 0;
  // Every board this connection opened, in order; a later open rebinds
  // boardIndex but the connection stays among the earlier board's openers
  // until it closes, and it is taken off all of them then.
  std::vector<int32_t> openedBoards;
};

// One local IPv4 address other than 127.0.0.1.
struct NicEntry {
  Ipv4Address ip;
  SocketHandle discoverySocket = kInvalidSocket;  // UDP on (ip, board search port)
  SocketHandle probeSocket = kInvalidSocket;      // UDP on (ip, any port)
};

// One (address, MAC) pair seen while two live board records share an address.
struct DuplicateEntry {
  Ipv4Address ip;
  MacAddress mac{};
  friend bool operator==(const DuplicateEntry&, const DuplicateEntry&) = default;
};

}  // namespace engine
