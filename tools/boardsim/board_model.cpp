#include "tools/boardsim/board_model.h"

#include "protocol/board_commands.h"
#include "protocol/byte_order.h"

namespace boardsim {
namespace {

using protocol::BoardCommand;
using protocol::readLe16;
using protocol::readLe32;
using protocol::writeLe32;

constexpr uint8_t kOwnRequestTag = 0xFF;
constexpr uint16_t kIdentificationPayload = 16;

// Request payload length each command takes; anything else is malformed.
int requestPayloadLength(uint16_t code) {
  switch (static_cast<BoardCommand>(code)) {
    case BoardCommand::ReadInputs:
    case BoardCommand::ReadOutputs:
    case BoardCommand::ReadVersion:
      return 2;
    case BoardCommand::WriteOutputs:
      return 6;
    case BoardCommand::WriteMasked:
    case BoardCommand::ExchangeOutputs:
      return 10;
    default:
      return -1;
  }
}

}  // namespace

BoardModel::BoardModel(BoardIdentity identity) : identity_(identity) {}

uint32_t BoardModel::inputs() const {
  return inputMode_ == InputMode::FollowOutputs ? outputs_ : inputValue_;
}

void BoardModel::onInputTick() {
  if (inputMode_ == InputMode::Counter) ++inputValue_;
}

std::vector<uint8_t> BoardModel::reply(uint8_t tag, std::span<const uint8_t> payload) {
  protocol::FrameHeader header;
  header.unit = identity_.boardId;
  header.tag = tag;
  header.payloadLength = static_cast<uint16_t>(payload.size());
  header.boardWord = replyCount_++;
  std::vector<uint8_t> bytes(protocol::kFrameHeaderSize + payload.size());
  header.write(bytes.data());
  std::copy(payload.begin(), payload.end(), bytes.begin() + protocol::kFrameHeaderSize);
  return bytes;
}

std::vector<uint8_t> BoardModel::identificationReply() {
  std::array<uint8_t, kIdentificationPayload> payload{};
  payload[0] = identity_.boardId;
  payload[1] = identity_.typeCode;
  std::copy(identity_.mac.begin(), identity_.mac.end(), payload.begin() + 2);
  std::copy(identity_.address.octets.begin(), identity_.address.octets.end(), payload.begin() + 8);
  return reply(kOwnRequestTag, payload);
}

FrameResult BoardModel::handleFrame(std::span<const uint8_t> frame) {
  FrameResult result;
  if (frame.size() < protocol::kFrameHeaderSize + 2) return result;
  const uint8_t unit = frame[0];
  const std::span<const uint8_t> payload = frame.subspan(protocol::kFrameHeaderSize);

  // The relay's own request: unit 0xFF while it identifies the board, the
  // board ID afterwards (alive request); payload byte 0 is its tag 0xFF.
  if (payload[0] == kOwnRequestTag) {
    if (unit != 0xFF && unit != identity_.boardId) {
      result.outcome = FrameOutcome::NotForUs;
      return result;
    }
    result.outcome = FrameOutcome::Replied;
    result.reply = identificationReply();
    return result;
  }
  if (unit != identity_.boardId) {
    result.outcome = FrameOutcome::NotForUs;
    return result;
  }

  const uint8_t command = payload[0];
  const uint16_t code = readLe16(payload.data());
  // The filter command carries its group mask in the parameter byte.
  if (command == protocol::commandByte(BoardCommand::SetFilter)) {
    if (payload.size() != 6) return result;
    const uint8_t groupMask = payload[1];
    const uint32_t nibbles = readLe32(payload.data() + 2);
    for (unsigned group = 0; group < 8; ++group) {
      if (groupMask & (1u << group)) filters_[group] = static_cast<uint8_t>((nibbles >> (4 * group)) & 0x0F);
    }
    result.outcome = FrameOutcome::Replied;
    result.reply = reply(command, {});
    return result;
  }
  if (requestPayloadLength(code) != static_cast<int>(payload.size())) return result;

  std::array<uint8_t, 8> data{};
  size_t dataSize = 0;
  switch (static_cast<BoardCommand>(code)) {
    case BoardCommand::ReadInputs:
      writeLe32(data.data(), inputs());
      dataSize = 4;
      break;
    case BoardCommand::ReadOutputs:
      writeLe32(data.data(), outputs_);
      dataSize = 4;
      break;
    case BoardCommand::ReadVersion:
      protocol::writeLe16(data.data(), version_[0]);
      protocol::writeLe16(data.data() + 2, version_[1]);
      dataSize = 4;
      break;
    case BoardCommand::WriteOutputs:
      outputs_ = readLe32(payload.data() + 2);
      break;
    case BoardCommand::WriteMasked: {
      const uint32_t keep = readLe32(payload.data() + 2);
      const uint32_t value = readLe32(payload.data() + 6);
      outputs_ = (outputs_ & keep) | (value & ~keep);
      break;
    }
    case BoardCommand::ExchangeOutputs:
      // Outputs first, so a loop-back board reports the new value at once.
      outputs_ = readLe32(payload.data() + 6);
      writeLe32(data.data(), inputs());
      writeLe32(data.data() + 4, outputs_);
      dataSize = 8;
      break;
    default:
      return result;
  }
  result.outcome = FrameOutcome::Replied;
  result.reply = reply(command, std::span<const uint8_t>(data.data(), dataSize));
  return result;
}

}  // namespace boardsim
