#include "usbpio/filter_steps.h"

#include <array>

namespace usbpio {
namespace {

constexpr std::array<uint32_t, 16> kStepValues = {0,    5,    10,   20,    40,    80,    100,   200,
                                                  400,  800,  1000, 4000,  8000,  16000, 32000, 64000};

}  // namespace

uint8_t filterStepForTime(uint32_t time) {
  const uint64_t scaled = static_cast<uint64_t>(time) * 100;
  if (scaled >= kStepValues[15]) return 15;
  if (scaled == 0) return 0;
  unsigned i = 1;
  while (kStepValues[i] < scaled) ++i;
  if (kStepValues[i] == scaled) return static_cast<uint8_t>(i);
  // A time exactly between two steps takes the upper one; the half difference
  // drops its fraction.
  const uint64_t midpoint = kStepValues[i - 1] + (kStepValues[i] - kStepValues[i - 1]) / 2;
  return static_cast<uint8_t>(scaled < midpoint ? i - 1 : i);
}

uint8_t groupMaskForPorts(uint16_t portMask) {
  uint8_t groups = 0;
  for (unsigned port = 0; port < 4; ++port) {
    if (portMask & (1u << port)) groups = static_cast<uint8_t>(groups | (3u << (2 * port)));
  }
  return groups;
}

}  // namespace usbpio
