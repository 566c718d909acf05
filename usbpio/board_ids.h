// Vendor and product IDs of the two pipe-link board variants. They belong to
// the boards, so a user can set them with USBPIO_BOARD_IDS="VVVV:AAAA,VVVV:BBBB"
// (hex, the first pair for variant A, the second for variant B).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace usbpio {

struct BoardIdPair {
  uint16_t vendor;
  uint16_t product;
};

struct BoardIds {
  // Pair 0: endpoints 0x02 OUT, 0x86 IN. Pair 1: 0x81 IN, 0x02 OUT.
  BoardIdPair pair[2];
};

BoardIds defaultBoardIds();
// Both pairs, or nothing when the text does not have that form.
std::optional<BoardIds> parseBoardIds(std::string_view text);
// From USBPIO_BOARD_IDS, or the defaults when it is unset or malformed.
BoardIds boardIdsFromEnvironment();

// Entries of a comma-separated list, empty ones dropped, blanks trimmed.
std::vector<std::string> splitPortList(std::string_view text);
// From USBPIO_SERIAL_PORTS.
std::vector<std::string> serialPortsFromEnvironment();

}  // namespace usbpio
