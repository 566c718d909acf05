// The relay's second UDP port: answering relay queries from client programs,
// and probing for another relay program, which must not run beside this one.
#include <algorithm>

#include "lanrelay/engine/engine_core.h"

namespace engine {
namespace {

constexpr uint8_t kQueryMark = 0x91;
constexpr uint8_t kQueryKind = 0x00;
constexpr uint8_t kProbeKind = 0x01;
constexpr uint8_t kQueryAnswer = 0x92;
constexpr uint8_t kProbeAnswer = 0x93;

}  // namespace

void EngineCore::openRelayResponder() {
  if (!options_.useUdp) return;
  if (relayQuerySocket_ == kInvalidSocket) {
    const SocketHandle socket = platform::openUdpSocket({options_.relayQueryAddress, options_.relayPort}, true);
    if (socket != kInvalidSocket) {
      if (loop_.watch(socket, true, false, [this, socket](platform::Readiness) { onRelayQueryReadable(socket); })) {
        relayQuerySocket_ = socket;
      } else {
        platform::closeSocket(socket);
      }
    }
  }
  sendRelayProbe();
}

void EngineCore::sendRelayProbe() {
  if (!options_.useUdp) return;
  const std::array<uint8_t, 2> probe = {kQueryMark, kProbeKind};
  const platform::SocketAddress broadcast{options_.broadcastAddress, options_.relayPort};
  for (NicEntry& entry : nicTable_) {
    if (entry.probeSocket == kInvalidSocket) {
      const SocketHandle socket = platform::openUdpSocket({entry.ip, 0}, true);
      if (socket == kInvalidSocket) continue;
      if (!loop_.watch(socket, true, false, [this, socket](platform::Readiness) { onRelayProbeReadable(socket); })) {
        platform::closeSocket(socket);
        continue;
      }
      entry.probeSocket = socket;
    }
    platform::sendDatagram(entry.probeSocket, broadcast, probe.data(), probe.size());
  }
}

void EngineCore::onRelayQueryReadable(SocketHandle socket) {
  // Answered even while stopped: client programs may still be searching.
  for (;;) {
    platform::SocketAddress from;
    const platform::IoResult r = platform::receiveDatagram(socket, readBuffer_.data(), readBuffer_.size(), from);
    if (r.outcome != platform::IoOutcome::Done) return;
    if (r.bytes < 2 || readBuffer_[0] != kQueryMark || readBuffer_[1] != kQueryKind) continue;
    const auto port = static_cast<uint16_t>(settings_.serverPort);
    const std::array<uint8_t, 4> answer = {kQueryAnswer, static_cast<uint8_t>(countConnectedBoards()),
                                           static_cast<uint8_t>(port), static_cast<uint8_t>(port >> 8)};
    platform::sendDatagram(socket, from, answer.data(), answer.size());
  }
}

void EngineCore::onRelayProbeReadable(SocketHandle socket) {
  for (;;) {
    platform::SocketAddress from;
    const platform::IoResult r = platform::receiveDatagram(socket, readBuffer_.data(), readBuffer_.size(), from);
    if (r.outcome != platform::IoOutcome::Done) return;
    // Later answers are drained unread, so the socket does not keep waking
    // the loop while the shell winds down.
    if (stopped_ || r.bytes < 2 || readBuffer_[0] != kProbeAnswer) continue;
    stopped_ = true;
    shell_.anotherRelayFound(from.ip);
  }
}

int EngineCore::countConnectedBoards() const {
  return static_cast<int>(std::count_if(boardTable_.begin(), boardTable_.end(),
                                        [](const BoardRecord& b) { return b.state == BoardState::Connected; }));
}

}  // namespace engine
