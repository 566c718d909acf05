#include "tools/upio/result_text.h"

#include "usbpio.h"

namespace upio {

const char* resultMeaning(uint32_t result) {
  switch (result) {
    case UPIO_OK: return "success";
    case UPIO_NO_UNIT: return "no unit: none was found when the library loaded, or none matches";
    case UPIO_ALREADY_OPEN: return "the unit is already open";
    case UPIO_BAD_LENGTH: return "transfer length is 0 or above the link's limit";
    case UPIO_BAD_UNIT:
      return "unit number above 15, unit not open, operation not offered on this link, "
             "or a pipe transfer failed while the board is attached";
    case UPIO_NOT_OPEN: return "the unit is closed, or the board is no longer attached";
    case UPIO_UNKNOWN_BOARD: return "unknown board type";
    case UPIO_TIMEOUT: return "the board did not answer in time, or the serial port failed";
    case UPIO_BAD_ARGUMENT: return "argument out of range";
    case UPIO_PIPE_HALTED: return "the USB endpoint was halted and has been reset; try again";
    default: return "unknown result code";
  }
}

}  // namespace upio
