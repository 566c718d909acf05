// Splits what a client received from the relay into its units, so a test can
// count acknowledgements and answers: 7F 73 s (acknowledgement), 7F 74 FD
// (time-out), 7F 71 s (open result) and board reply frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/byte_order.h"

namespace reliability_test {

struct StreamCount {
  size_t accepted = 0;  // 7F 73 00
  size_t refused = 0;   // 7F 73 other
  size_t replies = 0;   // board reply frames
  size_t timeouts = 0;  // 7F 74 FD
  size_t opens = 0;     // 7F 71 s
  std::vector<uint8_t> replyTags;
  bool malformed = false;  // bytes that are none of these
  size_t answers() const { return replies + timeouts; }
};

// Counts the complete units of `bytes`; an incomplete unit at the end is left
// uncounted (`consumed` says where it starts).
inline StreamCount countUnits(const std::vector<uint8_t>& bytes, size_t* consumed = nullptr) {
  StreamCount c;
  size_t i = 0;
  while (i < bytes.size()) {
    const size_t left = bytes.size() - i;
    if (bytes[i] == 0x7F) {
      if (left < 3) break;
      const uint8_t letter = bytes[i + 1], status = bytes[i + 2];
      if (letter == 0x73) (status == 0 ? c.accepted : c.refused)++;
      else if (letter == 0x74 && status == 0xFD) c.timeouts++;
      else if (letter == 0x71) c.opens++;
      else c.malformed = true;
      i += 3;
    } else if (bytes[i] <= 0x0F) {
      if (left < 8) break;
      const size_t length = 8 + protocol::readLe16(bytes.data() + i + 2);
      if (left < length) break;
      c.replies++;
      c.replyTags.push_back(bytes[i + 1]);
      i += length;
    } else {
      c.malformed = true;
      ++i;
    }
  }
  if (consumed != nullptr) *consumed = i;
  return c;
}

}  // namespace reliability_test
