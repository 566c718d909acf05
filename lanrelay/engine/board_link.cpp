// Board connections: connecting, identifying and supervising each board, the
// one request in flight per board, and matching its replies.
#include <algorithm>

#include "lanrelay/engine/engine_core.h"
#include "protocol/byte_order.h"

namespace engine {
namespace {

constexpr uint8_t kMaxReplyUnit = 0x0F;
constexpr uint32_t kDuplicateReportTicks = 75;
constexpr std::array<uint8_t, 3> kNoReply = {0x7F, 0x74, 0xFD};
// Event words of a stray notification in the debug log.
constexpr uint32_t kReadEvent = 1;
constexpr uint32_t kConnectEvent = 16;

bool validPort(int32_t port) { return port >= 0 && port <= 0xFFFF; }

}  // namespace

bool EngineCore::watchBoard(size_t index) {
  const SocketHandle socket = boardTable_[index].socket;
  // A pending connect reports its end as writability.
  const bool connecting = boardTable_[index].state == BoardState::Connecting;
  return loop_.watch(socket, !connecting, connecting,
                     [this, socket](platform::Readiness readiness) { onBoardReady(socket, readiness); });
}

bool EngineCore::connectBoard(size_t index) {
  BoardRecord& board = boardTable_[index];
  board.missCount = 0;
  board.aliveFailures = 0;
  board.aliveCountdown = 0;
  // The record may still hold a connection (re-targeted while connected, or
  // a connect still pending): close it rather than leak it.
  dropBoardSocket(board);

  const auto fail = [&] {
    dropBoardSocket(board);
    board.state = BoardState::NoDevice;
    return false;
  };
  if (!validPort(settings_.boardPort)) return fail();
  board.socket = platform::openTcpSocket();
  if (board.socket == kInvalidSocket) return fail();
  boardBySocket_[board.socket] = index;

  const platform::SocketAddress to{board.ip, static_cast<uint16_t>(settings_.boardPort)};
  switch (platform::startConnect(board.socket, to)) {
    case platform::ConnectStart::Pending:
      board.state = BoardState::Connecting;
      if (!watchBoard(index)) return fail();
      debugCode(kTagControl, {}, board.ip, debug_code::kConnecting);
      return true;
    case platform::ConnectStart::Failed:
      return fail();
    case platform::ConnectStart::Connected:
      break;
  }
  board.state = BoardState::Information;
  if (!watchBoard(index)) return fail();
  queueAliveRequest(index);
  shell_.refreshStatusList();
  debugCode(kTagControl, {}, board.ip, debug_code::kConnect);
  return true;
}

void EngineCore::onBoardReady(SocketHandle socket, platform::Readiness readiness) {
  auto found = boardBySocket_.find(socket);
  if (found == boardBySocket_.end()) {
    // Only possible if a watch outlived its board's socket; log it as the
    // notification of an unknown socket and drop the watch.
    if (shell_.debugLogEnabled()) {
      std::array<uint8_t, 16> note{};
      protocol::writeLe32(note.data(), static_cast<uint32_t>(socket));
      protocol::writeLe32(note.data() + 8, readiness.readable ? kReadEvent : kConnectEvent);
      shell_.writeDebugLog(kTagControl, {}, {}, note.data(), debug_code::kSixteenBytes);
    }
    loop_.unwatch(socket);
    return;
  }
  const size_t index = found->second;
  if (boardTable_[index].state == BoardState::Connecting) {
    onBoardConnectDone(index, platform::connectError(socket));
    return;
  }
  if (readiness.writable) flushOutput(socket);
  if (!readiness.readable || boardTable_[index].socket != socket) return;
  const platform::IoResult r = platform::receiveSome(socket, readBuffer_.data(), readBuffer_.size());
  switch (r.outcome) {
    case platform::IoOutcome::Done:
      onBoardData(index, readBuffer_.data(), r.bytes);
      break;
    case platform::IoOutcome::Closed:
    case platform::IoOutcome::Failed:
      boardConnectionLost(index);
      break;
    case platform::IoOutcome::WouldBlock:
      break;
  }
}

void EngineCore::onBoardConnectDone(size_t index, int error) {
  BoardRecord& board = boardTable_[index];
  if (error == 0) {
    board.state = BoardState::Information;
    if (loop_.setInterest(board.socket, true, pendingOutput(board.socket) > 0)) {
      queueAliveRequest(index);
      shell_.refreshStatusList();
      debugCode(kTagControl, {}, board.ip, debug_code::kConnect);
      return;
    }
  }
  disconnectBoard(index);
  debugCode(kTagControl, {}, boardTable_[index].ip, debug_code::kConnectError);
  // With no board reachable, another relay on the network may hold them.
  if (error != 0 && !stopped_ && countConnectedBoards() == 0) sendRelayProbe();
}

void EngineCore::boardConnectionLost(size_t index) {
  BoardRecord& board = boardTable_[index];
  if (board.state == BoardState::Connected) shell_.raiseEvent(EventIndex::Disconnect, &board, std::string());
  debugCode(board.boardId, {}, board.ip, debug_code::kTimeout);
  disconnectBoard(index);
}

void EngineCore::disconnectBoard(size_t index) {
  BoardRecord& board = boardTable_[index];
  dropBoardSocket(board);
  board.state = BoardState::Disconnected;
  board.aliveCountdown = 0;
  board.boardId = -1;
  shell_.refreshStatusList();
}

void EngineCore::dropBoardSocket(BoardRecord& board) {
  if (board.socket == kInvalidSocket) return;
  boardBySocket_.erase(board.socket);
  forgetSocket(board.socket);
  board.socket = kInvalidSocket;
  // A reply half gathered on the old connection must not be completed by
  // bytes of the next one.
  if (!board.requests.empty()) board.requests.front().replyCount = 0;
}

void EngineCore::queueAliveRequest(size_t index) {
  BoardRecord& board = boardTable_[index];
  const bool sendNow = board.requests.empty();
  RequestEntry& entry = board.requests.pushBack();
  uint8_t* frame = entry.requestBytes.data();
  frame[0] = board.state == BoardState::Information ? kAliveTag : static_cast<uint8_t>(board.boardId);
  frame[2] = 16;  // payload length, low byte first
  frame[8] = kAliveTag;
  std::copy(board.mac.begin(), board.mac.end(), frame + 10);
  std::copy(board.ip.octets.begin(), board.ip.octets.end(), frame + 16);
  entry.clientSocket = kInvalidSocket;
  entry.tag = kAliveTag;
  entry.requestLength = static_cast<int32_t>(kAliveRequestSize);
  entry.responseCountdown = responseTicks();
  if (sendNow) {
    board.aliveCountdown = aliveTicks();
    sendBytes(board.socket, frame, kAliveRequestSize);
    debugBytes(board.boardId, {}, board.ip, frame, kAliveRequestSize);
  }
}

void EngineCore::sendFrontRequest(size_t index) {
  BoardRecord& board = boardTable_[index];
  RequestEntry& front = board.requests.front();
  front.responseCountdown = responseTicks();
  const size_t length = static_cast<size_t>(front.requestLength);
  sendBytes(board.socket, front.requestBytes.data(), length);
  debugBytes(board.boardId, {}, board.ip, front.requestBytes.data(), length);
}

void EngineCore::popFrontRequest(BoardRecord& board) {
  const RequestEntry& front = board.requests.front();
  const SocketHandle client = front.clientSocket;
  const uint64_t serial = front.clientSerial;
  board.requests.popFront();
  requestFinished(client, serial);
}

void EngineCore::clearRequests(BoardRecord& board) {
  // A client's request dropped before the board answered it still gets its
  // one answer, the time-out message; its client would otherwise wait for
  // nothing.
  while (!board.requests.empty()) {
    const RequestEntry& front = board.requests.front();
    if (ClientRecord* client = liveClient(front.clientSocket, front.clientSerial)) {
      sendBytes(front.clientSocket, kNoReply.data(), kNoReply.size());
      debugBytes(kTagControl, {}, client->ip, kNoReply.data(), kNoReply.size());
    }
    popFrontRequest(board);
  }
}

void EngineCore::onBoardData(size_t index, const uint8_t* bytes, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    BoardRecord& board = boardTable_[index];
    if (board.requests.empty()) return;  // nothing asked: the rest is discarded
    RequestEntry& front = board.requests.front();
    const uint8_t b = bytes[i];
    const int32_t g = front.replyCount;
    if (g == 0) {
      if (b > kMaxReplyUnit) continue;
    } else if (g == 1) {
      if (b != front.tag) {
        front.replyCount = 0;
        continue;
      }
    } else if ((g == 6 || g == 7) && b != 0) {
      front.replyCount = 0;
      continue;
    }
    if (g < static_cast<int32_t>(kAssemblyBufferSize)) board.replyBytes[static_cast<size_t>(g)] = b;
    front.replyCount = g + 1;
    if (front.replyCount == 4) front.replyPayloadLength = protocol::readLe16(board.replyBytes.data() + 2);
    if (front.replyCount < 8 || front.replyCount < front.replyPayloadLength + 8) continue;
    if (front.replyCount > static_cast<int32_t>(kAssemblyBufferSize)) {
      // Too long to hold or forward whole: skipped to its end so the next
      // reply is read in step; the request ends by its time-out.
      front.replyCount = 0;
      continue;
    }
    if (!onBoardReplyComplete(index)) return;
  }
}

bool EngineCore::onBoardReplyComplete(size_t index) {
  BoardRecord& board = boardTable_[index];
  RequestEntry& front = board.requests.front();
  const size_t length = static_cast<size_t>(front.replyCount);
  board.aliveCountdown = aliveTicks();
  debugBytes(board.boardId, board.ip, {}, board.replyBytes.data(), length);
  // Only the relay's own request is answered to the relay. A client that
  // chose the identification tag for a frame of its own still gets the reply,
  // or its acknowledged request would never be answered.
  const bool ownRequest = front.clientSocket == kInvalidSocket;
  if (board.replyBytes[1] == kAliveTag) {
    board.missCount = 0;
    board.aliveFailures = 0;
  }
  if (board.replyBytes[1] == kAliveTag && ownRequest) {
    if (board.state != BoardState::Connected) {
      // A reply too short to carry them reads the missing bytes as zero.
      const uint8_t idByte = length > 8 ? board.replyBytes[8] : 0;
      const uint8_t typeByte = length > 9 ? board.replyBytes[9] : 0;
      if (!identifyBoard(index, static_cast<int8_t>(idByte), typeByte)) return false;
    }
  } else if (ClientRecord* client = liveClient(front.clientSocket, front.clientSerial)) {
    sendBytes(front.clientSocket, board.replyBytes.data(), length);
    debugBytes(board.boardId, {}, client->ip, board.replyBytes.data(), length);
  }
  popFrontRequest(boardTable_[index]);
  if (boardTable_[index].requests.empty()) return false;
  sendFrontRequest(index);
  return true;
}

bool EngineCore::identifyBoard(size_t index, int32_t id, int32_t type) {
  BoardRecord& board = boardTable_[index];
  for (const BoardRecord& other : boardTable_) {
    if (other.state != BoardState::Connected || other.boardId != id || other.typeCode != type) continue;
    board.boardId = id;  // so that the report can name it
    if (duplicateIdTicks_ >= kDuplicateReportTicks) {
      shell_.raiseEvent(EventIndex::Duplicate, &board, other.ip.toString() + "," + board.ip.toString());
      duplicateIdTicks_ = 0;
    }
    disconnectBoard(index);
    return false;
  }
  board.state = BoardState::Connected;
  board.boardId = id;
  board.typeCode = type;
  shell_.refreshStatusList();
  shell_.raiseEvent(EventIndex::Connect, &board, std::string());
  duplicateIdTicks_ = 0;
  return true;
}

bool EngineCore::boardTickWork(size_t index) {
  bool changed = false;
  {
    BoardRecord& board = boardTable_[index];
    if (board.state == BoardState::Connected && board.aliveCountdown > 0 && --board.aliveCountdown == 0) {
      queueAliveRequest(index);
    }
  }
  BoardRecord& board = boardTable_[index];
  if (board.requests.empty()) return false;
  RequestEntry& front = board.requests.front();
  if (front.responseCountdown <= 0 || --front.responseCountdown > 0) return false;

  // The request in flight timed out.
  if (front.tag == kAliveTag && board.aliveFailures < settings_.errorCount) {
    ++board.aliveFailures;
    if (board.aliveFailures >= settings_.errorCount) {
      dropBoardSocket(board);
      board.aliveCountdown = 0;
      if (board.state == BoardState::Connected) shell_.raiseEvent(EventIndex::Disconnect, &board, std::string());
      debugCode(board.boardId, {}, board.ip, debug_code::kTimeout);
      board.state = BoardState::Disconnected;
      changed = true;
    } else if (board.state == BoardState::Connecting || board.state == BoardState::Information) {
      dropBoardSocket(board);
      debugCode(board.boardId, {}, board.ip, debug_code::kTimeout);
      board.state = BoardState::Disconnected;
      changed = true;
    }
  }
  if (ClientRecord* client = liveClient(front.clientSocket, front.clientSerial)) {
    sendBytes(front.clientSocket, kNoReply.data(), kNoReply.size());
    debugBytes(kTagControl, {}, client->ip, kNoReply.data(), kNoReply.size());
  }
  popFrontRequest(board);
  // Sent even when the connection just closed: it then times out in turn,
  // and its client hears of it.
  if (!board.requests.empty()) sendFrontRequest(index);
  return changed;
}

}  // namespace engine
