// Host strings as the exports take them: narrow text, or UTF-16 narrowed by
// taking the low byte of each code unit (no code-page conversion), at most 20
// of them, as callers of the wide forms have always been served.
#pragma once

#include <array>
#include <cstddef>

namespace relaylink {

constexpr size_t kWideHostLimit = 20;
using NarrowHost = std::array<char, 24>;

// Narrowed copy of a non-null wide host, NUL-terminated.
NarrowHost narrowWideHost(const char16_t* wide);

}  // namespace relaylink
