// Median and 99th percentile of round-trip times, for the bench programs.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace bench {

struct LatencySummary {
  size_t count = 0;
  double median = 0;  // µs
  double p99 = 0;     // µs
};

// Sorts `us` in place.
inline LatencySummary summarise(std::vector<double>& us) {
  LatencySummary s;
  s.count = us.size();
  if (us.empty()) return s;
  std::sort(us.begin(), us.end());
  s.median = us[us.size() / 2];
  s.p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
  return s;
}

}  // namespace bench
