#pragma once

// The figures both walk benchmarks print for one walk, so that their tables read alike.

#include <sys/resource.h>

#include <cstdint>
#include <cstdio>

namespace zoba::bench {

// This process's own processor time: how much of a walk is ours, not the application's.
inline double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline void printWalkHeader() {
  std::printf("%-8s %9s %9s %9s %10s %9s %9s %10s\n", "walk", "elements", "ms", "timedOut", "calls/elem", "elem/s",
              "cpu ms", "cpu/call");
}

inline void printWalkRow(const char* label, std::size_t elements, double seconds, bool timedOut, std::uint64_t calls,
                         double cpu) {
  const double count = static_cast<double>(elements);
  std::printf("%-8s %9zu %9.1f %9s %10.2f %9.0f %9.1f %7.1f us\n", label, elements, seconds * 1000.0,
              timedOut ? "yes" : "no", count > 0 ? static_cast<double>(calls) / count : 0.0,
              seconds > 0 ? count / seconds : 0.0, cpu * 1000.0,
              calls > 0 ? cpu * 1e6 / static_cast<double>(calls) : 0.0);
}

}  // namespace zoba::bench
