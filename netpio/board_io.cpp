// Exports of the I/O operations on an open unit. Each checks its arguments
// (before any lock or traffic), builds its request frame and runs the unit
// transaction; outputs are written only on success.
#include "netpio.h"
#include "netpio/unit_transaction.h"
#include "protocol/board_commands.h"
#include "protocol/byte_order.h"
#include "protocol/relay_messages.h"

namespace netpio {
namespace {

constexpr unsigned kPorts = 4;
constexpr size_t kReadReplySize = 12;
constexpr size_t kWriteReplySize = 8;
constexpr size_t kExchangeReplySize = 16;

const uint8_t* payloadOf(const uint8_t* frame) { return frame + protocol::kFrameHeaderSize; }

// Runs a read command (reply payload 4 bytes) and hands its data to `take`.
template <class Take>
uint32_t readFromBoard(int typeCode, int boardId, bool argumentsOk,
                       protocol::RequestFrame (*build)(uint8_t), Take take) {
  const auto unit = unitFromArguments(typeCode, boardId);
  if (!unit || !argumentsOk) return NPIO_BAD_ARGUMENT;
  const protocol::RequestFrame request = build(unit->boardId);
  uint8_t reply[kReadReplySize] = {};
  const uint32_t result = exchangeWithBoard(*unit, request.view(), reply, sizeof reply, protocol::kReadReply);
  if (result == NPIO_OK) take(payloadOf(reply));
  return result;
}

uint32_t writeToBoard(int typeCode, int boardId, bool argumentsOk,
                      protocol::RequestFrame (*build)(uint8_t, uint32_t, uint32_t), uint32_t a, uint32_t b) {
  const auto unit = unitFromArguments(typeCode, boardId);
  if (!unit || !argumentsOk) return NPIO_BAD_ARGUMENT;
  const protocol::RequestFrame request = build(unit->boardId, a, b);
  uint8_t reply[kWriteReplySize] = {};
  return exchangeWithBoard(*unit, request.view(), reply, sizeof reply, protocol::kWriteReply);
}

protocol::RequestFrame byteWrite(uint8_t id, uint32_t port, uint32_t value) {
  return protocol::writeByteFrame(id, port, static_cast<uint8_t>(value));
}
protocol::RequestFrame wordWrite(uint8_t id, uint32_t position, uint32_t value) {
  return protocol::writeWordFrame(id, position, static_cast<uint16_t>(value));
}
protocol::RequestFrame allWrite(uint8_t id, uint32_t value, uint32_t) { return protocol::writeOutputsFrame(id, value); }
protocol::RequestFrame filterWrite(uint8_t id, uint32_t mask, uint32_t setting) {
  return protocol::filterFrame(id, static_cast<uint8_t>(mask), static_cast<uint8_t>(setting));
}

}  // namespace
}  // namespace netpio

using namespace netpio;
using protocol::readInputsFrame;
using protocol::readOutputsFrame;

extern "C" {

uint32_t npio_rInB(int typeCode, int boardId, uint16_t port, uint16_t* value) {
  return readFromBoard(typeCode, boardId, port < kPorts && value != nullptr, readInputsFrame,
                       [&](const uint8_t* data) { *value = protocol::portByte(data, port); });
}

uint32_t npio_rInW(int typeCode, int boardId, uint16_t position, uint16_t* value) {
  return readFromBoard(typeCode, boardId, position < kPorts && value != nullptr, readInputsFrame,
                       [&](const uint8_t* data) { *value = protocol::portWord(data, position); });
}

uint32_t npio_rInDW(int typeCode, int boardId, uint32_t* value) {
  return readFromBoard(typeCode, boardId, value != nullptr, readInputsFrame,
                       [&](const uint8_t* data) { *value = protocol::readLe32(data); });
}

uint32_t npio_rOutB(int typeCode, int boardId, uint16_t port, uint16_t* value) {
  return readFromBoard(typeCode, boardId, port < kPorts && value != nullptr, readOutputsFrame,
                       [&](const uint8_t* data) { *value = protocol::portByte(data, port); });
}

uint32_t npio_rOutW(int typeCode, int boardId, uint16_t position, uint16_t* value) {
  return readFromBoard(typeCode, boardId, position < kPorts && value != nullptr, readOutputsFrame,
                       [&](const uint8_t* data) { *value = protocol::portWord(data, position); });
}

uint32_t npio_rOutDW(int typeCode, int boardId, uint32_t* value) {
  return readFromBoard(typeCode, boardId, value != nullptr, readOutputsFrame,
                       [&](const uint8_t* data) { *value = protocol::readLe32(data); });
}

uint32_t npio_rVersion(int typeCode, int boardId, uint16_t* versions) {
  return readFromBoard(typeCode, boardId, versions != nullptr, protocol::readVersionFrame,
                       [&](const uint8_t* data) {
                         versions[0] = protocol::readLe16(data);
                         versions[1] = protocol::readLe16(data + 2);
                       });
}

uint32_t npio_wOutB(int typeCode, int boardId, uint16_t port, uint8_t value) {
  return writeToBoard(typeCode, boardId, port < kPorts, byteWrite, port, value);
}

uint32_t npio_wOutW(int typeCode, int boardId, uint16_t position, uint16_t value) {
  return writeToBoard(typeCode, boardId, position < kPorts, wordWrite, position, value);
}

uint32_t npio_wOutDW(int typeCode, int boardId, uint32_t value) {
  return writeToBoard(typeCode, boardId, true, allWrite, value, 0);
}

uint32_t npio_SetFilter(int typeCode, int boardId, uint16_t groupMask, uint16_t setting) {
  return writeToBoard(typeCode, boardId, groupMask <= 0xFF && setting <= 0x0F, filterWrite, groupMask, setting);
}

uint32_t npio_InOutDW(int typeCode, int boardId, uint32_t* inputs, uint32_t outputs) {
  const auto unit = unitFromArguments(typeCode, boardId);
  if (!unit || inputs == nullptr) return NPIO_BAD_ARGUMENT;
  const protocol::RequestFrame request = protocol::exchangeFrame(unit->boardId, outputs);
  uint8_t reply[kExchangeReplySize] = {};
  const uint32_t result = exchangeWithBoard(*unit, request.view(), reply, sizeof reply, protocol::kExchangeReply);
  if (result == NPIO_OK) *inputs = protocol::readLe32(payloadOf(reply));
  return result;
}

uint32_t npio_EtnSend(int typeCode, int boardId, const uint8_t* frame, uint16_t* length) {
  const auto unit = unitFromArguments(typeCode, boardId);
  if (!unit || frame == nullptr || length == nullptr) return NPIO_BAD_ARGUMENT;
  return passFrameToBoard(*unit, frame, *length);
}

uint32_t npio_EtnRecv(int typeCode, int boardId, uint8_t* buffer, uint16_t* size) {
  const auto unit = unitFromArguments(typeCode, boardId);
  if (!unit || buffer == nullptr || size == nullptr) return NPIO_BAD_ARGUMENT;
  return passReplyFromBoard(*unit, buffer, size);
}

}  // extern "C"
