// Unsent bytes per socket. Most sends go out whole at once and never touch
// this table; only a socket whose peer reads slowly gets an entry, and the
// loop watches it for writability only while the entry exists.
#include "lanrelay/engine/engine_core.h"

namespace engine {

void EngineCore::sendBytes(SocketHandle socket, const uint8_t* data, size_t size) {
  if (socket == kInvalidSocket || size == 0) return;
  auto it = pendingOutput_.find(socket);
  if (it != pendingOutput_.end()) {
    // Order matters: never let new bytes overtake queued ones.
    it->second.bytes.insert(it->second.bytes.end(), data, data + size);
  } else {
    const platform::IoResult r = platform::sendSome(socket, data, size);
    if (r.outcome == platform::IoOutcome::Failed) return;
    const size_t taken = r.outcome == platform::IoOutcome::Done ? r.bytes : 0;
    if (taken == size) return;
    PendingOutput& pending = pendingOutput_[socket];
    pending.bytes.assign(data + taken, data + size);
    updateInterest(socket);
  }
  auto client = clientMap_.find(socket);
  if (client != clientMap_.end()) updateClientReading(socket, client->second);
}

void EngineCore::flushOutput(SocketHandle socket) {
  auto it = pendingOutput_.find(socket);
  if (it == pendingOutput_.end()) {
    updateInterest(socket);
    return;
  }
  PendingOutput& pending = it->second;
  while (pending.size() > 0) {
    const platform::IoResult r = platform::sendSome(socket, pending.bytes.data() + pending.sent, pending.size());
    if (r.outcome != platform::IoOutcome::Done || r.bytes == 0) break;
    pending.sent += r.bytes;
  }
  if (pending.size() == 0) {
    pendingOutput_.erase(it);
    updateInterest(socket);
  } else if (pending.sent > pending.bytes.size() / 2) {
    pending.bytes.erase(pending.bytes.begin(), pending.bytes.begin() + static_cast<std::ptrdiff_t>(pending.sent));
    pending.sent = 0;
  }
  auto client = clientMap_.find(socket);
  if (client != clientMap_.end()) updateClientReading(socket, client->second);
}

size_t EngineCore::pendingOutput(SocketHandle socket) const {
  auto it = pendingOutput_.find(socket);
  return it == pendingOutput_.end() ? 0 : it->second.size();
}

void EngineCore::forgetSocket(SocketHandle socket) {
  if (socket == kInvalidSocket) return;
  loop_.unwatch(socket);
  pendingOutput_.erase(socket);
  platform::closeSocket(socket);
}

void EngineCore::updateInterest(SocketHandle socket) {
  const bool hasOutput = pendingOutput_.count(socket) != 0;
  if (auto board = boardBySocket_.find(socket); board != boardBySocket_.end()) {
    // A pending connect reports its end as writability.
    const bool connecting = boardTable_[board->second].state == BoardState::Connecting;
    loop_.setInterest(socket, !connecting, connecting || hasOutput);
    return;
  }
  if (auto client = clientMap_.find(socket); client != clientMap_.end()) {
    loop_.setInterest(socket, !client->second.readingPaused, hasOutput);
    return;
  }
  loop_.setInterest(socket, true, hasOutput);
}

}  // namespace engine
