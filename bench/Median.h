// What the benchmarks measure with: the clock, and the median of a run's rounds.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace tolvan::bench {

using Clock = std::chrono::steady_clock;

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace tolvan::bench
