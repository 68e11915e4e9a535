#pragma once

// Printing a benchmark's timings: median, p90 and range, beside the goal they serve.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace zoba::bench {

inline double milliseconds(std::chrono::steady_clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

inline void printDistribution(const char* what, std::vector<double> values, const char* goal = "") {
  if (values.empty()) {
    std::printf("  %-38s (none)\n", what);
    return;
  }
  std::sort(values.begin(), values.end());
  const auto n = values.size();
  std::printf("  %-38s median %7.2f ms  p90 %7.2f ms  min %7.2f  max %7.2f  (n=%zu)  %s\n", what,
              values[n / 2], values[n * 9 / 10], values.front(), values.back(), n, goal);
}

}  // namespace zoba::bench
