#include "relaylink/host_text.h"

namespace relaylink {

NarrowHost narrowWideHost(const char16_t* wide) {
  NarrowHost narrow{};
  for (size_t i = 0; i < kWideHostLimit && wide[i] != 0; ++i) narrow[i] = static_cast<char>(wide[i] & 0xFF);
  return narrow;
}

}  // namespace relaylink
