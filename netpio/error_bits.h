// The result values of the netpio exports: 0 or one error bit.
#pragma once

#include <cstdint>

#include "netpio.h"

namespace netpio {

// relaylink's negative results -1..-16 become bits 16..31: -1 -> 0x10000,
// -2 -> 0x20000, -3 -> 0x40000, -4 -> 0x80000, -5 -> 0x100000, -6 -> 0x200000.
constexpr uint32_t linkErrorBit(int rc) {
  return (1u << (~static_cast<uint32_t>(rc) & 31u)) << 16;
}

// The bit of a relaylink call that failed with `rc`. A positive open or
// acknowledgement status is one no relay sends; through linkErrorBit it would
// come out as 0, success with nothing done, so it counts as an unexpected
// answer instead.
constexpr uint32_t failureBit(int rc) { return rc < 0 ? linkErrorBit(rc) : NPIO_UNEXPECTED; }

static_assert(linkErrorBit(-1) == NPIO_SOCKET_FAILURE);
static_assert(linkErrorBit(-3) == NPIO_TIMEOUT);
static_assert(linkErrorBit(-6) == NPIO_REFUSED);

}  // namespace netpio
