// Where the library finds its relay: dotted host text, port and the time-out
// of every wait for the relay.
#pragma once

#include <array>
#include <cstdint>

namespace netpio {

struct RelayAddress {
  std::array<char, 16> host{'0', '.', '0', '.', '0', '.', '0'};  // NUL-filled
  uint16_t port = 10010;
  uint16_t timeoutMs = 3000;
};

// The host test of npio_SetProgLink: 7 to 15 characters, and no field between
// dots that strtol reads as more than 255. Nothing else is tested (the number
// of fields, signs, letters), as applications have always been allowed.
bool acceptableRelayHost(const char* host);

}  // namespace netpio
