#include "tools/boardsim/frame_assembler.h"

#include "protocol/byte_order.h"
#include "protocol/relay_messages.h"

namespace boardsim {

bool FrameAssembler::headerPlausible() const {
  // The unit byte is a Board ID (0..15) or 0xFF, the relay's identification
  // request; bytes 6-7 are always zero on this connection.
  const uint8_t unit = pending_[0];
  if (unit > protocol::kMaxUnitByte && unit != 0xFF) return false;
  if (pending_.size() >= 4 && protocol::readLe16(pending_.data() + 2) > kMaxPayload) return false;
  if (pending_.size() >= 7 && pending_[6] != 0) return false;
  if (pending_.size() >= 8 && pending_[7] != 0) return false;
  return true;
}

std::vector<std::vector<uint8_t>> FrameAssembler::feed(std::span<const uint8_t> bytes) {
  std::vector<std::vector<uint8_t>> frames;
  for (uint8_t b : bytes) {
    pending_.push_back(b);
    // Resynchronise byte by byte: drop the oldest byte until what is left
    // could still be the start of a frame.
    while (!pending_.empty() && !headerPlausible()) {
      pending_.erase(pending_.begin());
      ++discarded_;
    }
    if (pending_.size() < protocol::kFrameHeaderSize) continue;
    const size_t total = protocol::kFrameHeaderSize + protocol::readLe16(pending_.data() + 2);
    if (pending_.size() == total) {
      frames.push_back(std::move(pending_));
      pending_.clear();
    }
  }
  return frames;
}

}  // namespace boardsim
