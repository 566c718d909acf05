// Board discovery: the search broadcast from every local address, aging of
// boards that stopped answering, and the answers that create, re-target or
// reconnect board records and reveal boards sharing an address.
#include <algorithm>
#include <cstdio>
#include <string>

#include "lanrelay/engine/engine_core.h"

namespace engine {
namespace {

constexpr std::array<uint8_t, 4> kBoardSearch = {0x00, 0x00, 0x00, 0xF6};
// The MAC address sits at bytes 24-29 of a board's answer.
constexpr size_t kMacOffset = 24;
constexpr size_t kShortestAnswer = kMacOffset + 6;
// Ticks between two reports of boards sharing an address (7.5 s).
constexpr uint32_t kDuplicateReportTicks = 75;
// Any host can answer the search, each time with a new MAC address; past this
// many records a new board takes the place of one given up (no connection, no
// opener, nothing queued), or is ignored, so answers cannot grow memory
// without end.
constexpr size_t kBoardTableLimit = 4096;

bool reusable(const BoardRecord& board) {
  return board.state == BoardState::NoDevice && board.openers.empty() && board.requests.empty();
}

}  // namespace

void EngineCore::searchBoards() {
  const int32_t agingLimit = settings_.errorCount + 1;
  for (BoardRecord& board : boardTable_) {
    if (board.state == BoardState::Information || board.state == BoardState::Connected) continue;
    if (board.missCount >= agingLimit) continue;
    if (++board.missCount < agingLimit) continue;
    // A connect still pending on a board that is given up would otherwise
    // complete later on a record that no longer expects it.
    dropBoardSocket(board);
    board.state = BoardState::NoDevice;
    board.boardId = -1;
    board.typeCode = -1;
    board.openCount = 0;
    shell_.refreshStatusList();
    debugCode(kTagControl, {}, board.ip, debug_code::kConnectError);
  }

  if (!options_.useUdp) return;
  const platform::SocketAddress broadcast{options_.broadcastAddress, options_.boardSearchPort};
  for (NicEntry& entry : nicTable_) {
    if (entry.discoverySocket == kInvalidSocket) {
      const SocketHandle socket = platform::openUdpSocket({entry.ip, options_.boardSearchPort}, true);
      if (socket == kInvalidSocket) continue;
      if (!loop_.watch(socket, true, false, [this, socket](platform::Readiness) { onBoardSearchReadable(socket); })) {
        platform::closeSocket(socket);
        continue;
      }
      entry.discoverySocket = socket;
    }
    platform::sendDatagram(entry.discoverySocket, broadcast, kBoardSearch.data(), kBoardSearch.size());
    debugBytes(kTagDatagram, {}, entry.ip, kBoardSearch.data(), kBoardSearch.size());
  }
}

void EngineCore::onBoardSearchReadable(SocketHandle socket) {
  for (;;) {
    platform::SocketAddress from;
    const platform::IoResult r = platform::receiveDatagram(socket, readBuffer_.data(), readBuffer_.size(), from);
    if (r.outcome != platform::IoOutcome::Done) return;
    // Answers are drained even while stopped, so the socket does not keep
    // waking the loop; they are just not looked at.
    if (stopped_) continue;
    handleBoardAnswer(from.ip, readBuffer_.data(), r.bytes);
  }
}

void EngineCore::handleBoardAnswer(const Ipv4Address& from, const uint8_t* bytes, size_t size) {
  // An answer too short to hold the whole MAC field cannot be told apart from
  // other boards; it is only logged.
  if (size >= kShortestAnswer) {
    MacAddress mac;
    std::copy(bytes + kMacOffset, bytes + kMacOffset + 6, mac.begin());

    // 1. A known (address, MAC) pair that is not connected is reconnected.
    // MAC addresses are unique in the table, so the pair is the record with
    // this MAC, if it is at this address.
    bool known = false;
    if (const long i = addressIndex_.findMac(boardTable_, mac); i >= 0 && boardTable_[static_cast<size_t>(i)].ip == from) {
      BoardRecord& board = boardTable_[static_cast<size_t>(i)];
      known = true;
      if (board.state == BoardState::NoDevice || board.state == BoardState::Disconnected) {
        clearRequests(board);
        connectBoard(static_cast<size_t>(i));
        shell_.refreshStatusList();
      }
    }

    // 2. Live records sharing this address, and the first record with this MAC.
    const int liveAtAddress = addressIndex_.countLiveAt(boardTable_, from);
    const long firstWithMac = addressIndex_.findMac(boardTable_, mac);
    // The entry is the same for every record at this address, so it is looked
    // up once per answer, not once per record: answers with ever new MAC
    // addresses from one host would otherwise cost time growing with the
    // square of the table. The list is bounded like the table.
    if (liveAtAddress >= 2 && duplicateList_.size() < kBoardTableLimit) {
      const DuplicateEntry entry{from, mac};
      if (std::find(duplicateList_.begin(), duplicateList_.end(), entry) == duplicateList_.end()) {
        duplicateList_.push_back(entry);
      }
    }

    // 3. Boards sharing an address are reported at most every 7.5 s.
    if (duplicateList_.empty()) {
      duplicateIpTicks_ = 0;
    } else if (duplicateIpTicks_ >= kDuplicateReportTicks) {
      reportDuplicateAddresses();
    }

    // 4. New board, or a known board answering from a new address.
    if (!known) {
      if (firstWithMac >= 0) {
        const size_t index = static_cast<size_t>(firstWithMac);
        BoardRecord& board = boardTable_[index];
        board.state = BoardState::NoDevice;
        board.boardId = -1;
        board.typeCode = -1;
        board.openCount = 0;
        board.ip = from;
        board.mac = mac;
        connectBoard(index);
        shell_.refreshStatusList();
      } else if (boardTable_.size() < kBoardTableLimit) {
        BoardRecord& board = boardTable_.emplace_back();
        board.ip = from;
        board.mac = mac;
        connectBoard(boardTable_.size() - 1);
        shell_.refreshStatusList();
      } else {
        const auto spare = std::find_if(boardTable_.begin(), boardTable_.end(), reusable);
        if (spare != boardTable_.end()) {
          const size_t index = static_cast<size_t>(spare - boardTable_.begin());
          addressIndex_.forget(boardTable_, index);
          boardTable_[index] = BoardRecord{};
          boardTable_[index].ip = from;
          boardTable_[index].mac = mac;
          connectBoard(index);
          shell_.refreshStatusList();
        }
      }
      indexAnsweredBoard(mac, firstWithMac);
    }
  }
  debugBytes(kTagDatagram, from, {}, bytes, size);
}

void EngineCore::indexAnsweredBoard(const MacAddress& mac, long retargeted) {
  // The record step 4 gave this MAC: the re-targeted one, the one just added,
  // or (rarely, at the table limit) a reused one found by a walk.
  if (retargeted >= 0) {
    addressIndex_.note(boardTable_, static_cast<size_t>(retargeted));
    return;
  }
  for (size_t i = boardTable_.size(); i-- > 0;) {
    if (boardTable_[i].mac == mac) {
      addressIndex_.note(boardTable_, i);
      return;
    }
  }
}

void EngineCore::reportDuplicateAddresses() {
  // Line breaks are written as the two characters backslash and n, the event
  // texts' own line-break mark: the shell turns them into CR LF for the pop-up
  // and into spaces for the system log, so the report stays one log line.
  std::string text = "Duplicate IP address.\\nIt's necessary to turn off and turn on power all device. Duplicate device=" +
                     std::to_string(duplicateList_.size()) + "\\n";
  for (const DuplicateEntry& entry : duplicateList_) {
    text += "ADR:" + entry.ip.toString() + "/" + protocol::macToString(entry.mac) + "\\n";
  }
  shell_.raiseEvent(EventIndex::SystemError, nullptr, text);
  duplicateList_.clear();
  duplicateIpTicks_ = 0;
}

}  // namespace engine
