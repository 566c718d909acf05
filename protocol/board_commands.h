// The board command set: bare payloads (what the USB serial link sends as is),
// the request frames the network board library wraps them in, and the checks
// applied to a board's reply. Pure code, no I/O.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace protocol {

// Command code = payload bytes 0 and 1 read as one little-endian value.
enum class BoardCommand : uint16_t {
  ReadInputs = 0x0193,       // 403
  ReadOutputs = 0x0091,      // 145
  ReadVersion = 0x00F1,      // 241
  WriteOutputs = 0x0090,     // 144
  WriteMasked = 0x0092,      // 146: keep mask + data
  ExchangeOutputs = 0x0195,  // 405: write outputs, read inputs and outputs
  SetFilter = 0x00A2,        // 162: byte 1 is the group mask, not fixed
  Identify = 0x00F3,         // 243, USB serial link only
  PortProbe = 0x0081,        // 129, USB serial link only
};

constexpr uint8_t commandByte(BoardCommand c) { return static_cast<uint8_t>(static_cast<uint16_t>(c)); }

constexpr size_t kMaxCommandPayload = 10;
constexpr size_t kMaxRequestFrame = 8 + kMaxCommandPayload;

// Reply payload lengths per command.
constexpr uint16_t kReadReplyPayload = 4;      // 403, 145, 241
constexpr uint16_t kWriteReplyPayload = 0;     // 144, 146, 162
constexpr uint16_t kExchangeReplyPayload = 8;  // 405

struct CommandPayload {
  std::array<uint8_t, kMaxCommandPayload> bytes{};
  uint8_t size = 0;
  std::span<const uint8_t> view() const { return {bytes.data(), size}; }
};

struct RequestFrame {
  std::array<uint8_t, kMaxRequestFrame> bytes{};
  uint8_t size = 0;
  std::span<const uint8_t> view() const { return {bytes.data(), size}; }
};

// Bare payloads.
CommandPayload readInputsPayload();                              // 93 01
CommandPayload readOutputsPayload();                             // 91 00
CommandPayload readVersionPayload();                             // F1 00
CommandPayload writeOutputsPayload(uint32_t outputs);            // 90 00 + u32
CommandPayload writeMaskedPayload(uint32_t keepMask, uint32_t data);  // 92 00 + mask + data
CommandPayload exchangePayload(uint32_t outputs);                // 95 01 00 00 00 00 + u32
CommandPayload filterPayload(uint8_t groupMask, uint32_t nibbles);  // A2 mask + u32
CommandPayload identifyPayload();                                // F3 00
CommandPayload portProbePayload();                               // 81 00 10 00 C0 00 20 00

// Keep masks of command 146: 1 bits keep their output. Position 0..3.
uint32_t byteKeepMask(unsigned port);
uint32_t wordKeepMask(unsigned position);
// Data of command 146 for a byte or word write at a position; a word at
// position 3 keeps only its low byte, since port 3 is the last port.
uint32_t byteWriteData(unsigned port, uint8_t value);
uint32_t wordWriteData(unsigned position, uint16_t value);
// Filter setting (0..15) repeated into the nibble of every selected group.
uint32_t filterNibbles(uint8_t groupMask, uint8_t setting);

// Wraps a payload into a request frame: unit = boardId, byte 1 = 0, L, zeros.
RequestFrame requestFrame(uint8_t boardId, const CommandPayload& payload);

// Request frames of the network board operations.
RequestFrame readInputsFrame(uint8_t boardId);
RequestFrame readOutputsFrame(uint8_t boardId);
RequestFrame readVersionFrame(uint8_t boardId);
RequestFrame writeOutputsFrame(uint8_t boardId, uint32_t outputs);
RequestFrame writeByteFrame(uint8_t boardId, unsigned port, uint8_t value);
RequestFrame writeWordFrame(uint8_t boardId, unsigned position, uint16_t value);
RequestFrame exchangeFrame(uint8_t boardId, uint32_t outputs);
RequestFrame filterFrame(uint8_t boardId, uint8_t groupMask, uint8_t setting);

// Reply acceptance. `received` is what the receive call returned (frame length
// or a negative error); expectedLength < 0 means the length is not compared
// (write replies are read into an 8-byte buffer, so a longer one already failed).
struct ReplyShape {
  int expectedLength;
  uint16_t payloadLength;
};
constexpr ReplyShape kReadReply{12, kReadReplyPayload};
constexpr ReplyShape kWriteReply{-1, kWriteReplyPayload};
constexpr ReplyShape kExchangeReply{16, kExchangeReplyPayload};

bool replyAccepted(const uint8_t* reply, int received, uint8_t boardId, ReplyShape shape);

// Values taken from a reply's data bytes (ports 0..3 in bytes 0..3).
uint16_t portByte(const uint8_t* data, unsigned port);
// Word from bytes i and i+1; at position 3 byte 3 alone.
uint16_t portWord(const uint8_t* data, unsigned position);

}  // namespace protocol
