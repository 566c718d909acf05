// Names of the netpio error bits, as npio prints them.
#pragma once

#include <cstdint>
#include <string>

namespace npio_tool {

// "time-out (0x40000)"; the names of the relay search's own meanings where
// the search gives a bit another meaning.
std::string errorText(uint32_t result, bool fromSearch = false);

}  // namespace npio_tool
