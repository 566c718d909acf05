#include "protocol/board_commands.h"

#include <algorithm>

#include "protocol/byte_order.h"
#include "protocol/relay_messages.h"

namespace protocol {
namespace {

CommandPayload payloadOf(BoardCommand command) {
  CommandPayload p;
  writeLe16(p.bytes.data(), static_cast<uint16_t>(command));
  p.size = 2;
  return p;
}

void appendLe32(CommandPayload& p, uint32_t value) {
  writeLe32(p.bytes.data() + p.size, value);
  p.size = static_cast<uint8_t>(p.size + 4);
}

}  // namespace

CommandPayload readInputsPayload() { return payloadOf(BoardCommand::ReadInputs); }
CommandPayload readOutputsPayload() { return payloadOf(BoardCommand::ReadOutputs); }
CommandPayload readVersionPayload() { return payloadOf(BoardCommand::ReadVersion); }
CommandPayload identifyPayload() { return payloadOf(BoardCommand::Identify); }

CommandPayload writeOutputsPayload(uint32_t outputs) {
  CommandPayload p = payloadOf(BoardCommand::WriteOutputs);
  appendLe32(p, outputs);
  return p;
}

CommandPayload writeMaskedPayload(uint32_t keepMask, uint32_t data) {
  CommandPayload p = payloadOf(BoardCommand::WriteMasked);
  appendLe32(p, keepMask);
  appendLe32(p, data);
  return p;
}

CommandPayload exchangePayload(uint32_t outputs) {
  CommandPayload p = payloadOf(BoardCommand::ExchangeOutputs);
  appendLe32(p, 0);
  appendLe32(p, outputs);
  return p;
}

CommandPayload filterPayload(uint8_t groupMask, uint32_t nibbles) {
  CommandPayload p = payloadOf(BoardCommand::SetFilter);
  p.bytes[1] = groupMask;  // the parameter byte carries the group mask
  appendLe32(p, nibbles);
  return p;
}

CommandPayload portProbePayload() {
  CommandPayload p = payloadOf(BoardCommand::PortProbe);
  const uint8_t rest[] = {0x10, 0x00, 0xC0, 0x00, 0x20, 0x00};
  std::copy(std::begin(rest), std::end(rest), p.bytes.begin() + 2);
  p.size = 8;
  return p;
}

uint32_t byteKeepMask(unsigned port) { return ~(0xFFu << (8 * (port & 3))); }

uint32_t wordKeepMask(unsigned position) {
  // At position 3 only port 3 exists, so only its byte is written.
  const uint32_t written = position >= 3 ? 0xFF000000u : 0xFFFFu << (8 * position);
  return ~written;
}

uint32_t byteWriteData(unsigned port, uint8_t value) { return static_cast<uint32_t>(value) << (8 * (port & 3)); }

uint32_t wordWriteData(unsigned position, uint16_t value) {
  if (position >= 3) return static_cast<uint32_t>(value & 0xFF) << 24;
  return static_cast<uint32_t>(value) << (8 * position);
}

uint32_t filterNibbles(uint8_t groupMask, uint8_t setting) {
  uint32_t nibbles = 0;
  for (unsigned group = 0; group < 8; ++group) {
    if (groupMask & (1u << group)) nibbles |= static_cast<uint32_t>(setting & 0x0F) << (4 * group);
  }
  return nibbles;
}

RequestFrame requestFrame(uint8_t boardId, const CommandPayload& payload) {
  RequestFrame f;
  FrameHeader header;
  header.unit = boardId;
  header.payloadLength = payload.size;
  header.write(f.bytes.data());
  std::copy(payload.bytes.begin(), payload.bytes.begin() + payload.size, f.bytes.begin() + kFrameHeaderSize);
  f.size = static_cast<uint8_t>(kFrameHeaderSize + payload.size);
  return f;
}

RequestFrame readInputsFrame(uint8_t boardId) { return requestFrame(boardId, readInputsPayload()); }
RequestFrame readOutputsFrame(uint8_t boardId) { return requestFrame(boardId, readOutputsPayload()); }
RequestFrame readVersionFrame(uint8_t boardId) { return requestFrame(boardId, readVersionPayload()); }

RequestFrame writeOutputsFrame(uint8_t boardId, uint32_t outputs) {
  return requestFrame(boardId, writeOutputsPayload(outputs));
}

RequestFrame writeByteFrame(uint8_t boardId, unsigned port, uint8_t value) {
  return requestFrame(boardId, writeMaskedPayload(byteKeepMask(port), byteWriteData(port, value)));
}

RequestFrame writeWordFrame(uint8_t boardId, unsigned position, uint16_t value) {
  return requestFrame(boardId, writeMaskedPayload(wordKeepMask(position), wordWriteData(position, value)));
}

RequestFrame exchangeFrame(uint8_t boardId, uint32_t outputs) {
  return requestFrame(boardId, exchangePayload(outputs));
}

RequestFrame filterFrame(uint8_t boardId, uint8_t groupMask, uint8_t setting) {
  return requestFrame(boardId, filterPayload(groupMask, filterNibbles(groupMask, setting)));
}

bool replyAccepted(const uint8_t* reply, int received, uint8_t boardId, ReplyShape shape) {
  if (received < static_cast<int>(kFrameHeaderSize)) return false;
  if (shape.expectedLength >= 0 && received != shape.expectedLength) return false;
  const FrameHeader header = FrameHeader::parse(reply);
  return header.unit == boardId && header.payloadLength == shape.payloadLength;
}

uint16_t portByte(const uint8_t* data, unsigned port) { return data[port & 3]; }

uint16_t portWord(const uint8_t* data, unsigned position) {
  if (position >= 3) return data[3];
  return readLe16(data + position);
}

}  // namespace protocol
