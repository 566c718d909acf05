#include "tools/boardsim/search_answer.h"

#include <algorithm>

namespace boardsim {

bool isBoardSearch(std::span<const uint8_t> datagram) {
  return datagram.size() >= 4 && datagram[0] == 0x00 && datagram[1] == 0x00 && datagram[2] == 0x00 &&
         datagram[3] == 0xF6;
}

SearchAnswer buildSearchAnswer(const BoardIdentity& identity) {
  SearchAnswer answer{};
  answer[3] = 0xF7;
  std::copy(identity.address.octets.begin(), identity.address.octets.end(), answer.begin() + 4);
  answer[8] = identity.typeCode;
  answer[9] = identity.boardId;
  std::copy(identity.mac.begin(), identity.mac.end(), answer.begin() + 24);
  return answer;
}

}  // namespace boardsim
