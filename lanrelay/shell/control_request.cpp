#include "lanrelay/shell/control_request.h"

#include "protocol/byte_order.h"

namespace shell {

std::array<uint8_t, kControlRequestSize> encodeControlRequest(const ControlRequest& request) {
  std::array<uint8_t, kControlRequestSize> bytes{};
  protocol::writeLe32(bytes.data(), request.message);
  protocol::writeLe32(bytes.data() + 4, request.wParam);
  protocol::writeLe32(bytes.data() + 8, request.lParam);
  return bytes;
}

ControlRequest decodeControlRequest(const uint8_t* bytes) {
  return {protocol::readLe32(bytes), protocol::readLe32(bytes + 4), protocol::readLe32(bytes + 8)};
}

ControlAction classifyControlRequest(const ControlRequest& request) {
  if (request.message == kCloseRequestMessage) {
    bool valid = request.wParam == kCloseRequestWParam && request.lParam == kCloseRequestLParam;
    return valid ? ControlAction::Close : ControlAction::Ignore;
  }
  if (request.message == kStatusRequestMessage) return ControlAction::Status;
  return ControlAction::Ignore;
}

}  // namespace shell
