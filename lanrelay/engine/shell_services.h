// What the engine asks of the program around it. The shell implements this
// interface and hands it to the Engine, which keeps a reference for its whole
// life (the shell outlives the engine).
//
// Thread: every call comes from the event-loop thread, from inside an engine
// handler (socket readiness or a timer). Implementations must not call back
// into the Engine's mutating entry points from these calls; reading the
// board table (Engine::boards()) is fine.
#pragma once

#include <cstdint>
#include <string>

#include "lanrelay/engine/event_index.h"
#include "lanrelay/engine/records.h"
#include "protocol/relay_messages.h"

namespace engine {

// Debug-log state words, passed as `count` with no bytes.
namespace debug_code {
constexpr int kClose = 0;          // ",close"
constexpr int kTimeout = -1;       // ",timeout"
constexpr int kConnecting = -2;    // ",connecting"
constexpr int kConnect = -3;       // ",connect"
constexpr int kConnectError = -4;  // ",connect error"
constexpr int kSixteenBytes = -8;  // with bytes: print 16 of them
}  // namespace debug_code

// Debug-log tags besides a board's ID.
constexpr int kTagControl = -1;   // printed "-": connection and control traffic
constexpr int kTagDatagram = -2;  // printed "udp"

class ShellServices {
 public:
  virtual ~ShellServices() = default;

  // The board table changed (a state, an identity or the openers): rebuild
  // the status list from Engine::boards().
  virtual void refreshStatusList() = 0;

  // Pop-up and system-log line for an event. `board` is null for events
  // without a board (SystemError); it points into the engine's table and is
  // valid only during the call. `extra` as documented per EventIndex.
  virtual void raiseEvent(EventIndex event, const BoardRecord* board, const std::string& extra) = 0;

  // Whether debug-log lines are wanted; the engine asks before building one.
  virtual bool debugLogEnabled() const = 0;

  // One debug-log line. `tag`: a board's ID, kTagControl or kTagDatagram.
  // `from`/`to`: 0.0.0.0 stands for this program. With `bytes` non-null,
  // `count` bytes are printed (kSixteenBytes prints 16); with `bytes` null,
  // `count` selects a state word from debug_code.
  virtual void writeDebugLog(int tag, const Ipv4Address& from, const Ipv4Address& to,
                             const uint8_t* bytes, int count) = 0;

  // The listener for client programs could not be opened on the server port
  // ("Can not wait for connection"). The relay keeps running without it until
  // the server port is changed.
  virtual void listenerFailed(int32_t serverPort) = 0;

  // Another relay program answered this relay's probe from `other`. The engine
  // has already stopped its timer work and ignores board answers from now on.
  // The shell reports the DUPLICATE_LANRELAY texts (title, CR LF, message;
  // {duplicate} = other's address; no balloon, no system-log line) and then
  // ends the program, normally by stopping the event loop.
  virtual void anotherRelayFound(const Ipv4Address& other) = 0;
};

}  // namespace engine
