// Client connections: the listener, the per-connection byte-stream parser,
// the answers to open, device list and version, the checks on each command
// frame before it is queued on its board, and the clean-up at close.
#include <algorithm>

#include "lanrelay/engine/engine_core.h"
#include "protocol/byte_order.h"

namespace engine {
namespace {

// Deeper than the classic 5 so that a burst of client programs starting at
// once is queued rather than left to SYN retransmission (seconds).
constexpr int kListenBacklog = 128;
// Connections taken per listener wake-up; the rest wait for the next one so
// a burst of connects cannot starve the boards.
constexpr int kAcceptsPerWake = 32;
constexpr uint8_t kStatusOk = 0x00;
constexpr uint8_t kStatusUnknownBoard = 0xFE;
constexpr uint8_t kStatusRefused = 0xFA;
// The device list stops once the answer has reached this many bytes (63 entries).
constexpr size_t kDeviceListStop = 1008;

}  // namespace

void EngineCore::openListener() {
  const int32_t port = settings_.serverPort;
  SocketHandle socket = kInvalidSocket;
  if (port >= 0 && port <= 0xFFFF) {
    socket = platform::openTcpListener({options_.listenAddress, static_cast<uint16_t>(port)}, kListenBacklog);
  }
  if (socket != kInvalidSocket &&
      !loop_.watch(socket, true, false, [this](platform::Readiness) { onListenerReady(); })) {
    platform::closeSocket(socket);
    socket = kInvalidSocket;
  }
  listenSocket_ = socket;
  if (socket == kInvalidSocket) shell_.listenerFailed(port);
}

void EngineCore::closeListener() {
  forgetSocket(listenSocket_);
  listenSocket_ = kInvalidSocket;
}

void EngineCore::onListenerReady() {
  for (int i = 0; i < kAcceptsPerWake && listenSocket_ != kInvalidSocket; ++i) {
    platform::SocketAddress peer;
    const SocketHandle socket = platform::acceptConnection(listenSocket_, peer);
    if (socket == kInvalidSocket) return;
    if (!loop_.watch(socket, true, false,
                     [this, socket](platform::Readiness readiness) { onClientReady(socket, readiness); })) {
      platform::closeSocket(socket);
      continue;
    }
    ClientRecord& client = clientMap_[socket];
    client = ClientRecord{};
    client.ip = peer.ip;
    client.serial = nextClientSerial_++;
  }
}

void EngineCore::onClientReady(SocketHandle socket, platform::Readiness readiness) {
  auto it = clientMap_.find(socket);
  if (it == clientMap_.end()) return;
  if (readiness.writable) flushOutput(socket);
  if (!readiness.readable) return;
  ClientRecord& client = it->second;
  if (client.readingPaused) {
    // Woken only by an error or hang-up while paused: the peer is gone.
    if (readiness.hangup) closeClient(socket);
    return;
  }
  const platform::IoResult r = platform::receiveSome(socket, readBuffer_.data(), readBuffer_.size());
  switch (r.outcome) {
    case platform::IoOutcome::Done:
      parseClientBytes(socket, client, readBuffer_.data(), r.bytes);
      break;
    case platform::IoOutcome::Closed:
    case platform::IoOutcome::Failed:
      closeClient(socket);
      break;
    case platform::IoOutcome::WouldBlock:
      break;
  }
}

void EngineCore::parseClientBytes(SocketHandle socket, ClientRecord& client, const uint8_t* bytes, size_t size) {
  uint8_t* buffer = client.buffer.data();
  for (size_t i = 0; i < size; ++i) {
    const uint8_t b = bytes[i];
    const int32_t g = client.gathered;
    if (g == 0) {
      // Idle: only a control mark or a unit byte starts something.
      if (b == protocol::kControlMark || b <= protocol::kMaxUnitByte) {
        buffer[0] = b;
        client.gathered = 1;
      }
      continue;
    }

    if (buffer[0] == protocol::kControlMark) {
      buffer[g] = b;
      client.gathered = g + 1;
      const uint8_t letter = buffer[1];
      if (client.gathered == 2 && letter != static_cast<uint8_t>(protocol::ControlLetter::Open)) {
        debugBytes(kTagControl, client.ip, {}, buffer, 2);
        if (letter == static_cast<uint8_t>(protocol::ControlLetter::DeviceList)) sendDeviceList(socket, client);
        if (letter == static_cast<uint8_t>(protocol::ControlLetter::Version)) sendVersion(socket, client);
        client.gathered = 0;  // any other letter ends the message silently
      } else if (client.gathered == 4) {
        debugBytes(kTagControl, client.ip, {}, buffer, 4);
        client.gathered = 0;
        openBoardForClient(static_cast<int8_t>(buffer[2]), buffer[3], socket, client);
      }
      continue;
    }

    // A data frame.
    if (g == 1 && b != 0) {
      client.gathered = 0;
      continue;
    }
    if ((g == 6 || g == 7) && b != 0) {
      client.gathered = 0;
      continue;
    }
    if (g < static_cast<int32_t>(kAssemblyBufferSize)) buffer[g] = b;
    client.gathered = g + 1;
    if (client.gathered == 4) client.frameLength = protocol::readLe16(buffer + 2);
    // A frame is complete with its (L + 8)th byte. One with L = 0 carries no
    // tag to match a reply by; it is refused as soon as its header is in.
    if (client.gathered >= 8 && client.gathered >= client.frameLength + 8) {
      completeFrame(socket, client);
      client.gathered = 0;
    }
  }
}

void EngineCore::completeFrame(SocketHandle socket, ClientRecord& client) {
  const size_t length = static_cast<size_t>(client.gathered);
  const uint8_t* frame = client.buffer.data();
  uint8_t status = kStatusUnknownBoard;
  if (client.boardIndex >= 0 && boardTable_[static_cast<size_t>(client.boardIndex)].socket != kInvalidSocket) {
    const size_t index = static_cast<size_t>(client.boardIndex);
    BoardRecord& board = boardTable_[index];
    debugBytes(board.boardId, client.ip, {}, frame, std::min(length, kAssemblyBufferSize));
    if (static_cast<int8_t>(frame[0]) != board.boardId || client.frameLength == 0 ||
        client.frameLength > static_cast<int32_t>(protocol::kMaxRelayPayload)) {
      status = kStatusRefused;
    } else {
      const bool sendNow = board.requests.empty();
      RequestEntry& entry = board.requests.pushBack();
      entry.clientSocket = socket;
      entry.clientSerial = client.serial;
      entry.tag = frame[8];
      entry.requestLength = static_cast<int32_t>(length);
      std::copy(frame, frame + length, entry.requestBytes.begin());
      entry.responseCountdown = responseTicks();
      if (sendNow) {
        sendBytes(board.socket, frame, length);
        debugBytes(board.boardId, {}, board.ip, frame, length);
      }
      ++client.queuedRequests;
      status = kStatusOk;
    }
  }
  const std::array<uint8_t, 3> answer = {protocol::kControlMark,
                                         static_cast<uint8_t>(protocol::ControlLetter::Acknowledge), status};
  sendBytes(socket, answer.data(), answer.size());
  debugBytes(kTagControl, {}, client.ip, answer.data(), answer.size());
  updateClientReading(socket, client);
}

void EngineCore::sendDeviceList(SocketHandle socket, const ClientRecord& client) {
  std::vector<uint8_t>& answer = deviceListBuffer_;
  answer.assign({protocol::kControlMark, static_cast<uint8_t>(protocol::ControlLetter::DeviceList), 0, 0});
  for (const BoardRecord& board : boardTable_) {
    if (board.state == BoardState::Connected) {
      protocol::DeviceListRecord record;
      record.boardId = static_cast<uint8_t>(board.boardId);
      record.typeCode = static_cast<uint8_t>(board.typeCode);
      record.address = board.ip;
      record.mac = board.mac;
      record.openCount = static_cast<uint8_t>(board.openCount);
      const size_t at = answer.size();
      answer.resize(at + protocol::kDeviceListRecordSize);
      record.write(answer.data() + at);
    }
    if (answer.size() >= kDeviceListStop) break;
  }
  protocol::writeLe16(answer.data() + 2, static_cast<uint16_t>(answer.size() - 4));
  sendBytes(socket, answer.data(), answer.size());
  debugBytes(kTagControl, {}, client.ip, answer.data(), answer.size());
}

void EngineCore::sendVersion(SocketHandle socket, const ClientRecord& client) {
  const std::array<uint8_t, 4> answer = protocol::buildVersionAnswer(Engine::packedVersion());
  sendBytes(socket, answer.data(), answer.size());
  debugBytes(kTagControl, {}, client.ip, answer.data(), answer.size());
}

void EngineCore::openBoardForClient(int32_t id, int32_t type, SocketHandle socket, ClientRecord& client) {
  uint8_t status = kStatusUnknownBoard;
  bool gainedOpener = false;
  // Every matching record takes the connection; it ends up bound to the last.
  for (size_t i = 0; i < boardTable_.size(); ++i) {
    BoardRecord& board = boardTable_[i];
    if (board.boardId != id || board.typeCode != type) continue;
    client.boardIndex = static_cast<int32_t>(i);
    if (board.openers.emplace(socket, client.ip).second) {
      ++board.openCount;
      shell_.raiseEvent(EventIndex::Open, &board, client.ip.toString());
      gainedOpener = true;
    }
    if (std::find(client.openedBoards.begin(), client.openedBoards.end(), static_cast<int32_t>(i)) ==
        client.openedBoards.end()) {
      client.openedBoards.push_back(static_cast<int32_t>(i));
    }
    status = kStatusOk;
  }
  const std::array<uint8_t, 3> answer = {protocol::kControlMark, static_cast<uint8_t>(protocol::ControlLetter::Open),
                                         status};
  sendBytes(socket, answer.data(), answer.size());
  if (gainedOpener) shell_.refreshStatusList();
  debugBytes(kTagControl, {}, client.ip, answer.data(), answer.size());
}

void EngineCore::closeClient(SocketHandle socket) {
  auto it = clientMap_.find(socket);
  if (it != clientMap_.end()) {
    const ClientRecord& client = it->second;
    const std::string address = client.ip.toString();
    bool changed = false;
    // The bound board first, as the operator expects; then any board the
    // connection opened before rebinding, which would otherwise list a
    // connection that no longer exists (and whose socket number the kernel
    // will hand to the next client).
    std::vector<int32_t> order;
    if (client.boardIndex >= 0) order.push_back(client.boardIndex);
    for (int32_t index : client.openedBoards) {
      if (index != client.boardIndex) order.push_back(index);
    }
    for (int32_t index : order) {
      BoardRecord& board = boardTable_[static_cast<size_t>(index)];
      if (index != client.boardIndex && board.openers.count(socket) == 0) continue;
      shell_.raiseEvent(EventIndex::Close, &board, address);
      board.openers.erase(socket);
      // Aging may have reset the count while the connection stayed open.
      if (board.openCount > 0) --board.openCount;
      changed = true;
      debugCode(board.boardId, {}, client.ip, debug_code::kClose);
    }
    if (changed) shell_.refreshStatusList();
    clientMap_.erase(it);
  }
  forgetSocket(socket);
}

ClientRecord* EngineCore::liveClient(SocketHandle socket, uint64_t serial) {
  if (socket == kInvalidSocket) return nullptr;
  auto it = clientMap_.find(socket);
  if (it == clientMap_.end() || it->second.serial != serial) return nullptr;
  return &it->second;
}

void EngineCore::requestFinished(SocketHandle socket, uint64_t serial) {
  ClientRecord* client = liveClient(socket, serial);
  if (client == nullptr) return;
  if (client->queuedRequests > 0) --client->queuedRequests;
  updateClientReading(socket, *client);
}

void EngineCore::updateClientReading(SocketHandle socket, ClientRecord& client) {
  const int32_t queueLimit = options_.clientQueueLimit;
  const size_t outputLimit = options_.clientOutputLimit;
  const size_t output = pendingOutput(socket);
  bool paused = client.readingPaused;
  if (!paused) {
    paused = (queueLimit > 0 && client.queuedRequests >= queueLimit) || (outputLimit > 0 && output > outputLimit);
  } else {
    // Resume only well below the limits, so reading does not flap on and off.
    const bool queueLow = queueLimit <= 0 || client.queuedRequests <= queueLimit / 2;
    const bool outputLow = outputLimit == 0 || output <= outputLimit / 2;
    paused = !(queueLow && outputLow);
  }
  if (paused == client.readingPaused) return;
  client.readingPaused = paused;
  updateInterest(socket);
}

}  // namespace engine
