#include "error_names.h"

#include <cstdio>

#include "netpio.h"

namespace npio_tool {
namespace {

const char* nameOf(uint32_t result, bool fromSearch) {
  if (fromSearch && result == NPIO_UNKNOWN_BOARD) return "no relay answered";
  if (fromSearch && result == NPIO_UNEXPECTED) return "more relays than room";
  switch (result) {
    case NPIO_SOCKET_FAILURE: return "socket failure or unit not open";
    case NPIO_UNKNOWN_BOARD: return "unknown board or board not connected";
    case NPIO_TIMEOUT: return "time-out";
    case NPIO_UNEXPECTED: return "unexpected reply";
    case NPIO_BAD_ARGUMENT: return "bad argument";
    case NPIO_REFUSED: return "frame refused";
    case NPIO_REPLY_MISMATCH: return "reply does not match the request";
    case NPIO_DUPLICATE_BOARD: return "board listed twice by the relay";
    case NPIO_BUSY: return "unit busy";
    case NPIO_NO_CONNECTED_BOARD: return "no relay has a connected board";
    default: return "unknown error";
  }
}

}  // namespace

std::string errorText(uint32_t result, bool fromSearch) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%x", result);
  return std::string(nameOf(result, fromSearch)) + " (" + code + ")";
}

}  // namespace npio_tool
