// Reading and writing a board's inputs and outputs, its filters and its
// version, on whichever link the unit has. Byte and word writes send all four
// output bytes, taken from the unit's output cache with the addressed ones
// replaced.
#include "protocol/board_commands.h"
#include "protocol/byte_order.h"
#include "usbpio/filter_steps.h"
#include "usbpio/library.h"

namespace usbpio {
namespace {

using Bytes4 = std::array<uint8_t, 4>;

constexpr uint8_t kPipeFilter = 0x01;
constexpr uint8_t kPipeWrite = 0x02;
constexpr uint8_t kPipeExchange = 0x04;

std::array<uint8_t, 8> pipePacket(uint8_t code, const uint8_t* data) {
  return {code, 0, 0, 0, data[0], data[1], data[2], data[3]};
}

Bytes4 bytesOf(uint32_t value) {
  Bytes4 bytes;
  protocol::writeLe32(bytes.data(), value);
  return bytes;
}

// Errors checked before any I/O, in the order every export applies them.
uint32_t unitAndPortCheck(uint32_t unit, uint16_t port) {
  if (unit >= kUnitSlots) return UPIO_BAD_UNIT;
  if (port > 3) return UPIO_BAD_ARGUMENT;
  return UPIO_OK;
}

}  // namespace

// Inputs on the pipe link come with the outputs in one exchange, which also
// refreshes the cache; the serial link has a command of its own for them.
uint32_t Library::readInputs(unsigned unit, Bytes4* inputs) {
  UnitEntry& entry = units_[unit];
  if (entry.linkState == kPipeLinkOpen) {
    std::array<uint8_t, 8> reply{};
    const uint32_t result = pipeExchange(unit, pipePacket(kPipeExchange, entry.outputCache.data()), &reply);
    if (result != UPIO_OK) return result;
    std::copy(reply.begin() + 4, reply.end(), entry.outputCache.begin());
    std::copy(reply.begin(), reply.begin() + 4, inputs->begin());
    return UPIO_OK;
  }
  if (entry.linkState == kSerialLinkOpen) {
    const auto request = protocol::readInputsPayload();
    return serialCommand(unit, request.bytes.data(), request.size, inputs->data(), inputs->size());
  }
  return UPIO_NOT_OPEN;
}

uint32_t Library::readOutputs(unsigned unit, Bytes4* outputs) {
  UnitEntry& entry = units_[unit];
  uint32_t result;
  if (entry.linkState == kPipeLinkOpen) {
    std::array<uint8_t, 8> reply{};
    result = pipeExchange(unit, pipePacket(kPipeExchange, entry.outputCache.data()), &reply);
    if (result == UPIO_OK) std::copy(reply.begin() + 4, reply.end(), outputs->begin());
  } else if (entry.linkState == kSerialLinkOpen) {
    const auto request = protocol::readOutputsPayload();
    result = serialCommand(unit, request.bytes.data(), request.size, outputs->data(), outputs->size());
  } else {
    return UPIO_NOT_OPEN;
  }
  if (result == UPIO_OK) entry.outputCache = *outputs;
  return result;
}

uint32_t Library::writeOutputs(unsigned unit, const Bytes4& outputs) {
  UnitEntry& entry = units_[unit];
  uint32_t result;
  if (entry.linkState == kPipeLinkOpen) {
    const auto packet = pipePacket(kPipeWrite, outputs.data());
    result = pipeWrite(unit, packet.data(), packet.size());
  } else if (entry.linkState == kSerialLinkOpen) {
    const auto request = protocol::writeOutputsPayload(protocol::readLe32(outputs.data()));
    result = serialCommand(unit, request.bytes.data(), request.size, nullptr, 0);
  } else {
    return UPIO_NOT_OPEN;
  }
  if (result == UPIO_OK) entry.outputCache = outputs;
  return result;
}

uint32_t Library::rInB(uint32_t unit, uint16_t port, uint16_t* value) {
  if (uint32_t check = unitAndPortCheck(unit, port)) return check;
  Bytes4 inputs{};
  const uint32_t result = readInputs(unit, &inputs);
  if (result == UPIO_OK) *value = protocol::portByte(inputs.data(), port);
  return result;
}

uint32_t Library::rInW(uint32_t unit, uint16_t port, uint16_t* value) {
  if (uint32_t check = unitAndPortCheck(unit, port)) return check;
  Bytes4 inputs{};
  const uint32_t result = readInputs(unit, &inputs);
  if (result == UPIO_OK) *value = protocol::portWord(inputs.data(), port);
  return result;
}

uint32_t Library::rInDW(uint32_t unit, uint32_t* value) {
  if (unit >= kUnitSlots) return UPIO_BAD_UNIT;
  Bytes4 inputs{};
  const uint32_t result = readInputs(unit, &inputs);
  if (result == UPIO_OK) *value = protocol::readLe32(inputs.data());
  return result;
}

uint32_t Library::rOutB(uint32_t unit, uint16_t port, uint16_t* value) {
  if (uint32_t check = unitAndPortCheck(unit, port)) return check;
  Bytes4 outputs{};
  const uint32_t result = readOutputs(unit, &outputs);
  if (result == UPIO_OK) *value = protocol::portByte(outputs.data(), port);
  return result;
}

uint32_t Library::rOutW(uint32_t unit, uint16_t port, uint16_t* value) {
  if (uint32_t check = unitAndPortCheck(unit, port)) return check;
  Bytes4 outputs{};
  const uint32_t result = readOutputs(unit, &outputs);
  if (result == UPIO_OK) *value = protocol::portWord(outputs.data(), port);
  return result;
}

uint32_t Library::rOutDW(uint32_t unit, uint32_t* value) {
  if (unit >= kUnitSlots) return UPIO_BAD_UNIT;
  Bytes4 outputs{};
  const uint32_t result = readOutputs(unit, &outputs);
  if (result == UPIO_OK) *value = protocol::readLe32(outputs.data());
  return result;
}

uint32_t Library::wOutB(uint32_t unit, uint16_t port, uint16_t value) {
  if (uint32_t check = unitAndPortCheck(unit, port)) return check;
  Bytes4 outputs = units_[unit].outputCache;
  outputs[port] = static_cast<uint8_t>(value);
  return writeOutputs(unit, outputs);
}

uint32_t Library::wOutW(uint32_t unit, uint16_t port, uint16_t value) {
  if (uint32_t check = unitAndPortCheck(unit, port)) return check;
  Bytes4 outputs = units_[unit].outputCache;
  outputs[port] = static_cast<uint8_t>(value);
  // Port 3 is the last one: the high byte has nowhere to go.
  if (port < 3) outputs[port + 1u] = static_cast<uint8_t>(value >> 8);
  return writeOutputs(unit, outputs);
}

uint32_t Library::wOutDW(uint32_t unit, uint32_t value) {
  if (unit >= kUnitSlots) return UPIO_BAD_UNIT;
  return writeOutputs(unit, bytesOf(value));
}

uint32_t Library::inOutDW(uint32_t unit, uint32_t* inputs, uint32_t value) {
  if (unit >= kUnitSlots) return UPIO_BAD_UNIT;
  UnitEntry& entry = units_[unit];
  const Bytes4 outputs = bytesOf(value);
  std::array<uint8_t, 8> reply{};
  if (entry.linkState == kPipeLinkOpen) {
    const auto packet = pipePacket(kPipeExchange, outputs.data());
    const uint32_t sent = pipeWrite(unit, packet.data(), packet.size());
    if (sent != UPIO_OK) return sent;
    entry.outputCache = outputs;
    if (uint32_t got = pipeRead(unit, reply.data(), reply.size())) return got;
  } else if (entry.linkState == kSerialLinkOpen) {
    const auto request = protocol::exchangePayload(value);
    serial_.discardInput(tokenOf(entry.pipeHandle[0]));
    const uint32_t sent = serialWrite(unit, request.bytes.data(), request.size);
    if (sent != UPIO_OK) return sent;
    entry.outputCache = outputs;
    if (uint32_t got = serialRead(unit, reply.data(), reply.size())) return got;
  } else {
    return UPIO_NOT_OPEN;
  }
  std::copy(reply.begin() + 4, reply.end(), entry.outputCache.begin());
  *inputs = protocol::readLe32(reply.data());
  return UPIO_OK;
}

uint32_t Library::setFilter(uint32_t unit, uint16_t portMask, uint32_t time) {
  if (unit >= kUnitSlots) return UPIO_BAD_UNIT;
  if (portMask == 0 || portMask > 15 || time > 65535) return UPIO_BAD_ARGUMENT;
  const UnitEntry& entry = units_[unit];
  if (entry.linkState == kPipeLinkOpen) {
    std::array<uint8_t, 8> packet = {kPipeFilter, 0, 0, 0, 0, 0, 0, 0};
    protocol::writeLe16(packet.data() + 4, portMask);
    // 0 goes out as 1, the shortest filter time of the pipe-link boards.
    protocol::writeLe16(packet.data() + 6, static_cast<uint16_t>(time == 0 ? 1 : time));
    return pipeWrite(unit, packet.data(), packet.size());
  }
  if (entry.linkState == kSerialLinkOpen) {
    const uint8_t groups = groupMaskForPorts(portMask);
    const auto request = protocol::filterPayload(groups, protocol::filterNibbles(groups, filterStepForTime(time)));
    return serialCommand(unit, request.bytes.data(), request.size, nullptr, 0);
  }
  return UPIO_NOT_OPEN;
}

uint32_t Library::setFilterEx(uint32_t unit, uint16_t groupMask, uint16_t setting) {
  if (unit >= kUnitSlots) return UPIO_BAD_UNIT;
  if (groupMask == 0 || groupMask > 255 || setting > 15) return UPIO_BAD_ARGUMENT;
  if (units_[unit].linkState != kSerialLinkOpen) return UPIO_BAD_UNIT;
  const uint8_t groups = static_cast<uint8_t>(groupMask);
  const auto request =
      protocol::filterPayload(groups, protocol::filterNibbles(groups, static_cast<uint8_t>(setting)));
  return serialCommand(unit, request.bytes.data(), request.size, nullptr, 0);
}

uint32_t Library::rVersion(uint32_t unit, uint16_t* version) {
  if (unit >= kUnitSlots || units_[unit].linkState != kSerialLinkOpen) return UPIO_BAD_UNIT;
  const auto request = protocol::readVersionPayload();
  uint8_t reply[4] = {};
  const uint32_t result = serialCommand(unit, request.bytes.data(), request.size, reply, sizeof reply);
  if (result != UPIO_OK) return result;
  version[0] = protocol::readLe16(reply);
  version[1] = protocol::readLe16(reply + 2);
  return UPIO_OK;
}

}  // namespace usbpio
