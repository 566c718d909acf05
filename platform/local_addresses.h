// The machine's local IPv4 addresses, in the order the system lists them.
// Used by the relay to broadcast its board search from every address and by
// the relay search of the client library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/relay_messages.h"

namespace platform {

struct LocalAddress {
  protocol::Ipv4Address address;
  protocol::Ipv4Address netmask;
  std::string interfaceName;
  bool loopback = false;
};

// Interfaces that are up and carry an IPv4 address. Returns false when the
// table cannot be read (the list is then empty).
bool listLocalAddresses(std::vector<LocalAddress>& out);

}  // namespace platform
