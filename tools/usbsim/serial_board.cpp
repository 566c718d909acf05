#include "tools/usbsim/serial_board.h"

#include "protocol/byte_order.h"

namespace usbsim {
namespace {

// Request length by command byte; 0 for bytes that start no command.
size_t requestLength(uint8_t command) {
  switch (command) {
    case 0x93: case 0x91: case 0xF1: case 0xF3: return 2;
    case 0x90: case 0xA2: return 6;
    case 0x81: return 8;
    case 0x92: case 0x95: return 10;
    default: return 0;
  }
}

void appendLe32(std::vector<uint8_t>& out, uint32_t value) {
  uint8_t bytes[4];
  protocol::writeLe32(bytes, value);
  out.insert(out.end(), bytes, bytes + 4);
}

}  // namespace

std::array<uint8_t, 17> portSignature() {
  std::array<uint8_t, 17> s{};
  s[0] = 0x81;
  s[1] = 'T';
  s[2] = 'P';
  s[4] = '2';
  s[5] = 'V';
  s[6] = '7';
  s[8] = '2';
  s[11] = 'K';
  return s;
}

std::vector<uint8_t> SerialBoard::feed(const uint8_t* data, size_t length) {
  pending_.insert(pending_.end(), data, data + length);
  std::vector<uint8_t> out;
  while (!pending_.empty()) {
    const size_t need = requestLength(pending_[0]);
    if (need == 0) {
      requests_.push_back({pending_[0]});
      pending_.erase(pending_.begin());
      continue;
    }
    if (pending_.size() < need) break;
    std::vector<uint8_t> request(pending_.begin(), pending_.begin() + static_cast<long>(need));
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(need));
    requests_.push_back(request);
    std::vector<uint8_t> reply = answer(request);
    if (settings_.silent) continue;
    if (settings_.truncateReplies && request[0] != 0x81) reply.resize(reply.size() / 2);
    out.insert(out.end(), reply.begin(), reply.end());
  }
  return out;
}

std::vector<uint8_t> SerialBoard::answer(const std::vector<uint8_t>& request) {
  std::vector<uint8_t> reply;
  switch (request[0]) {
    case 0x93:
      appendLe32(reply, settings_.inputs);
      break;
    case 0x91:
      appendLe32(reply, settings_.outputs);
      break;
    case 0xF1:
      reply = {static_cast<uint8_t>(settings_.version[0]), static_cast<uint8_t>(settings_.version[0] >> 8),
               static_cast<uint8_t>(settings_.version[1]), static_cast<uint8_t>(settings_.version[1] >> 8)};
      break;
    case 0xF3:
      if (settings_.silentIdentify) break;
      reply.assign(16, 0);
      reply[0] = settings_.boardId;
      reply[1] = settings_.typeCode;
      break;
    case 0x90:
      settings_.outputs = protocol::readLe32(request.data() + 2);
      break;
    case 0x92: {
      const uint32_t keep = protocol::readLe32(request.data() + 2);
      settings_.outputs = (settings_.outputs & keep) | (protocol::readLe32(request.data() + 6) & ~keep);
      break;
    }
    case 0x95:
      settings_.outputs = protocol::readLe32(request.data() + 6);
      appendLe32(reply, settings_.inputs);
      appendLe32(reply, settings_.outputs);
      break;
    case 0xA2:
      filterGroups_ = request[1];
      filterNibbles_ = protocol::readLe32(request.data() + 2);
      break;
    case 0x81: {
      if (settings_.wrongSignature) {
        reply.assign(17, 0x55);
      } else {
        const auto signature = portSignature();
        reply.assign(signature.begin(), signature.end());
      }
      break;
    }
    default:
      break;
  }
  return reply;
}

}  // namespace usbsim
