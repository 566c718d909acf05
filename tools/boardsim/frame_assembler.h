// Cuts the byte stream a board receives from the relay into frames: an 8-byte
// header (unit, tag, payload length low byte first, four more bytes) and its
// payload. Resumable: bytes may arrive split anywhere. After garbage the
// assembler resynchronises on the next plausible header; that is best effort
// (zeros look like a header), as on a real board, since the relay only ever
// forwards whole frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace boardsim {

class FrameAssembler {
 public:
  // Largest payload the relay forwards from a client; a header announcing more
  // cannot be a frame, so the assembler drops its first byte and looks again.
  static constexpr size_t kMaxPayload = 512;

  // Appends bytes. Complete frames are returned in arrival order.
  std::vector<std::vector<uint8_t>> feed(std::span<const uint8_t> bytes);

  // Bytes discarded while looking for a plausible header.
  size_t discardedBytes() const { return discarded_; }

 private:
  bool headerPlausible() const;

  std::vector<uint8_t> pending_;
  size_t discarded_ = 0;
};

}  // namespace boardsim
