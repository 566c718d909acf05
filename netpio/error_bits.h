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

static_assert(linkErrorBit(-1) == NPIO_SOCKET_FAILURE);
static_assert(linkErrorBit(-3) == NPIO_TIMEOUT);
static_assert(linkErrorBit(-6) == NPIO_REFUSED);

}  // namespace netpio
