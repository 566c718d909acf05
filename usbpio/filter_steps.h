// Turning a filter time into the board's filter step (0..15) and the port mask
// into groups: the serial link's input filter request. Pure code.
#pragma once

#include <cstdint>

namespace usbpio {

// Step index for a filter time (time x 100 against the step table, the nearer
// step winning, a midpoint going up).
uint8_t filterStepForTime(uint32_t time);
// Ports 0..3 to groups: port p covers groups 2p and 2p+1.
uint8_t groupMaskForPorts(uint16_t portMask);

}  // namespace usbpio
