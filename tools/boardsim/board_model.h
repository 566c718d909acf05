// One simulated network board: its identity, its 32 outputs and 32 inputs,
// its filter settings, and the answer it gives to every frame the relay sends
// it. Pure code: frames in, reply bytes out, no I/O and no clock, so the
// command handling is testable without sockets.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "protocol/relay_messages.h"

namespace boardsim {

// Where a board's inputs come from.
enum class InputMode : uint8_t {
  Fixed,          // a value set by configuration or the control channel
  FollowOutputs,  // inputs read back what the outputs were set to (a loop-back cable)
  Counter,        // the value counts up by one on every input timer tick
};

struct BoardIdentity {
  protocol::Ipv4Address address;
  protocol::MacAddress mac{};
  uint8_t boardId = 0;      // 0..15, the unit byte of every frame
  uint8_t typeCode = 0x12;  // 0x12 wired, 0x13 wireless
};

// What the board makes of one complete frame.
enum class FrameOutcome : uint8_t {
  Replied,        // reply holds the answer
  NotForUs,       // unit byte names another board: a board stays quiet
  Unknown,        // command code or request length it does not know: no answer
};

struct FrameResult {
  FrameOutcome outcome = FrameOutcome::Unknown;
  std::vector<uint8_t> reply;
};

class BoardModel {
 public:
  explicit BoardModel(BoardIdentity identity);

  // Answers one complete frame (8-byte header + payload). Identification and
  // alive requests (payload byte 0 is 0xFF) are answered with the board's ID
  // and type code; every command of the board command set with its reply.
  FrameResult handleFrame(std::span<const uint8_t> frame);

  // Input timer tick: only a Counter board changes.
  void onInputTick();

  const BoardIdentity& identity() const { return identity_; }
  void setBoardId(uint8_t id) { identity_.boardId = id; }

  uint32_t outputs() const { return outputs_; }
  uint32_t inputs() const;
  InputMode inputMode() const { return inputMode_; }
  void setInputMode(InputMode mode) { inputMode_ = mode; }
  // Sets the value a Fixed or Counter board reports next.
  void setInputValue(uint32_t value) { inputValue_ = value; }

  // Filter setting (0..15) last written to group 0..7.
  uint8_t filterSetting(unsigned group) const { return filters_[group & 7]; }
  void setVersion(uint16_t first, uint16_t second) { version_ = {first, second}; }

  // Frames in the identification-reply shape: unit = board ID, tag 0xFF,
  // payload = ID, type code, MAC, IPv4 address, four zero bytes.
  std::vector<uint8_t> identificationReply();

 private:
  std::vector<uint8_t> reply(uint8_t tag, std::span<const uint8_t> payload);

  BoardIdentity identity_;
  uint32_t outputs_ = 0;
  uint32_t inputValue_ = 0;
  InputMode inputMode_ = InputMode::FollowOutputs;
  std::array<uint8_t, 8> filters_{};
  std::array<uint16_t, 2> version_{0x0105, 0x0200};
  // Bytes 4-5 of a reply are the board's own business; a running count makes
  // sure no client silently depends on them being zero.
  uint16_t replyCount_ = 0;
};

}  // namespace boardsim
