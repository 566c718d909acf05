// A simulated serial-link board: bytes of bare command payloads in, reply
// payloads out, exactly as a board behind the USB-to-UART bridge answers.
// Pure code; pty_board_server.h puts it on a pseudo-terminal.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace usbsim {

struct SerialBoardSettings {
  uint8_t boardId = 1;
  uint8_t typeCode = 0x12;
  uint32_t inputs = 0;
  uint32_t outputs = 0;
  uint16_t version[2] = {0x0102, 0x0304};
  // Faults a test can ask for.
  bool silent = false;           // answers nothing at all
  bool wrongSignature = false;   // answers the port probe with another device's bytes
  bool silentIdentify = false;   // does not answer the identify command
  bool truncateReplies = false;  // sends only the first half of every reply but the probe's
};

class SerialBoard {
 public:
  explicit SerialBoard(SerialBoardSettings settings = {}) : settings_(settings) {}

  // Takes received bytes; returns the reply bytes to send back.
  std::vector<uint8_t> feed(const uint8_t* data, size_t length);

  // Every complete request received, in order (unknown bytes as 1-byte requests).
  const std::vector<std::vector<uint8_t>>& requests() const { return requests_; }
  const SerialBoardSettings& settings() const { return settings_; }
  SerialBoardSettings& settings() { return settings_; }
  // Last filter request: group mask and nibbles.
  uint8_t filterGroups() const { return filterGroups_; }
  uint32_t filterNibbles() const { return filterNibbles_; }

 private:
  std::vector<uint8_t> answer(const std::vector<uint8_t>& request);

  SerialBoardSettings settings_;
  std::vector<uint8_t> pending_;
  std::vector<std::vector<uint8_t>> requests_;
  uint8_t filterGroups_ = 0;
  uint32_t filterNibbles_ = 0;
};

// The 17 bytes the bridge's board answers the port probe with.
std::array<uint8_t, 17> portSignature();

}  // namespace usbsim
