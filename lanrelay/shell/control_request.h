// Requests to a running relay over its per-user control socket. Each request
// is 12 bytes, three 32-bit little-endian values: a message number and two
// parameters, the same triple a windowed relay takes as a window message.
//
//   close request  0x9609, 0x3240, 0x7312: the relay ends as on Exit; the
//                  same message with any other parameters is ignored.
//   status request 0x960A, 0, 0: the relay answers with its status list as a
//                  text table (headings and one line per board) and closes.
//
// Any other message is ignored. The relay closes the connection after each
// request, so a client reads until the end of the stream.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace shell {

constexpr uint32_t kCloseRequestMessage = 0x9609;
constexpr uint32_t kCloseRequestWParam = 0x3240;
constexpr uint32_t kCloseRequestLParam = 0x7312;
constexpr uint32_t kStatusRequestMessage = 0x960A;

constexpr size_t kControlRequestSize = 12;

struct ControlRequest {
  uint32_t message = 0;
  uint32_t wParam = 0;
  uint32_t lParam = 0;
};

enum class ControlAction {
  Close,    // a valid close request
  Status,   // send the status table
  Ignore,   // anything else
};

std::array<uint8_t, kControlRequestSize> encodeControlRequest(const ControlRequest& request);
ControlRequest decodeControlRequest(const uint8_t* bytes);  // exactly kControlRequestSize bytes
ControlAction classifyControlRequest(const ControlRequest& request);

constexpr ControlRequest kCloseRequest{kCloseRequestMessage, kCloseRequestWParam, kCloseRequestLParam};
constexpr ControlRequest kStatusRequest{kStatusRequestMessage, 0, 0};

}  // namespace shell
