// One application doing npio_rInB in a loop through a running relay: the
// whole path application -> netpio -> relaylink -> relay -> board and back.
// Prints one line of `key=value` figures for scripts/bench.
//
// usage: relay_netpio_client RELAY_ADDR PORT TYPE ID [SECONDS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/relay/latency_summary.h"
#include "netpio.h"

int main(int argc, char** argv) {
  using Clock = std::chrono::steady_clock;
  if (argc < 5) {
    std::fprintf(stderr, "usage: relay_netpio_client RELAY_ADDR PORT TYPE ID [SECONDS]\n");
    return 2;
  }
  const auto port = static_cast<uint16_t>(std::strtoul(argv[2], nullptr, 0));
  const int type = static_cast<int>(std::strtol(argv[3], nullptr, 0));
  const int id = static_cast<int>(std::strtol(argv[4], nullptr, 0));
  const double seconds = argc > 5 ? std::atof(argv[5]) : 2.0;
  if (npio_SetProgLink(argv[1], port, 3000) != 0 || npio_OpenDevice(type, id) != 0) {
    std::fprintf(stderr, "relay_netpio_client: cannot open board %d type 0x%02x at the relay\n", id, type);
    return 1;
  }
  std::vector<double> us;
  us.reserve(1 << 20);
  size_t failures = 0;
  size_t total = 0;  // warm-up included: what the relay did
  const auto warmUpEnd = Clock::now() + std::chrono::milliseconds(200);
  const auto end = warmUpEnd + std::chrono::duration<double>(seconds);
  for (;;) {
    const auto start = Clock::now();
    if (start >= end) break;
    uint16_t value = 0;
    if (npio_rInB(type, id, 0, &value) != 0) ++failures;
    ++total;
    if (start >= warmUpEnd) us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  npio_CloseDevice(type, id);
  const bench::LatencySummary s = bench::summarise(us);
  std::printf("frames=%zu total=%zu seconds=%.3f rate=%.0f median_us=%.2f p99_us=%.2f failures=%zu\n", s.count,
              total, seconds, static_cast<double>(s.count) / seconds, s.median, s.p99, failures);
  return failures == 0 ? 0 : 1;
}
