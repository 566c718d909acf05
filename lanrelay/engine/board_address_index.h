// Constant-time lookups of board records by MAC address and by IP address,
// for the search answers: every board answers every search, so walking the
// whole board table per answer costs the square of the table each cycle.
//
// The index trusts one rule of the board table: a record's address and MAC
// change only where a search answer creates or re-targets it, and that code
// calls note() afterwards. MAC addresses are unique in the table (an answer
// with a known MAC re-targets that record instead of adding one). Entries
// are checked against the table on every lookup, so an entry left behind by
// a record that changed since is ignored, never believed.
//
// Thread: the loop thread, as the engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <unordered_map>
#include <vector>

#include "lanrelay/engine/records.h"

namespace engine {

class BoardAddressIndex {
 public:
  // Index of the record with this MAC address, or -1.
  long findMac(const std::vector<BoardRecord>& table, const MacAddress& mac) const {
    const auto it = byMac_.find(macKey(mac));
    if (it == byMac_.end() || it->second >= table.size() || table[it->second].mac != mac) return -1;
    return static_cast<long>(it->second);
  }

  // Records at this address whose state is not NoDevice.
  int countLiveAt(const std::vector<BoardRecord>& table, const Ipv4Address& ip) const {
    int live = 0;
    const auto [first, last] = byIp_.equal_range(ipKey(ip));
    for (auto it = first; it != last; ++it) {
      const BoardRecord& board = table[it->second];
      if (board.ip == ip && board.state != BoardState::NoDevice) ++live;
    }
    return live;
  }

  // Records the address and MAC that record `index` holds now.
  void note(const std::vector<BoardRecord>& table, size_t index) {
    const BoardRecord& board = table[index];
    byMac_[macKey(board.mac)] = index;
    const auto [first, last] = byIp_.equal_range(ipKey(board.ip));
    for (auto it = first; it != last; ++it) {
      if (it->second == index) return;
    }
    // Entries of records that moved elsewhere are dropped on the way, so the
    // list for an address stays as long as the records really there.
    for (auto it = first; it != last;) {
      it = table[it->second].ip == board.ip ? std::next(it) : byIp_.erase(it);
    }
    byIp_.emplace(ipKey(board.ip), index);
  }

  // Drops what the index holds for record `index`, before the record is
  // given to another board; otherwise each reuse would leave an entry behind.
  void forget(const std::vector<BoardRecord>& table, size_t index) {
    const BoardRecord& board = table[index];
    const auto byMac = byMac_.find(macKey(board.mac));
    if (byMac != byMac_.end() && byMac->second == index) byMac_.erase(byMac);
    const auto [first, last] = byIp_.equal_range(ipKey(board.ip));
    for (auto it = first; it != last; ++it) {
      if (it->second == index) {
        byIp_.erase(it);
        break;
      }
    }
  }

 private:
  static uint64_t macKey(const MacAddress& mac) {
    uint64_t key = 0;
    for (uint8_t b : mac) key = (key << 8) | b;
    return key;
  }
  static uint32_t ipKey(const Ipv4Address& ip) {
    return (uint32_t{ip.octets[0]} << 24) | (uint32_t{ip.octets[1]} << 16) | (uint32_t{ip.octets[2]} << 8) |
           ip.octets[3];
  }

  std::unordered_map<uint64_t, size_t> byMac_;
  std::unordered_multimap<uint32_t, size_t> byIp_;
};

}  // namespace engine
