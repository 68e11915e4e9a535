#pragma once

// The figures both walk benchmarks print for one walk, so that their tables read alike:
// our processor time per D-Bus call, and the application's processor time beside the wall.

#include <sys/resource.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace zoba::bench {

// This process's own processor time: how much of a walk is ours, not the application's.
inline double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The processor time of the application that answers (all its threads), in the
// kernel's ticks: whether the walk waits for it or for us.
inline double processCpuSeconds(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(file, line);
  const auto close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(line.substr(close + 2));
  std::string field;
  unsigned long long user = 0, system = 0;
  for (int index = 3; fields >> field; ++index) {
    if (index == 14) user = std::stoull(field);
    if (index == 15) {
      system = std::stoull(field);
      break;
    }
  }
  return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

inline void printWalkHeader() {
  std::printf("(cpu/call: this process's CPU per accessibility call, goal <= 20 us)\n");
  std::printf("%-8s %9s %9s %9s %10s %9s %9s %10s %9s\n", "walk", "elements", "ms", "timedOut", "calls/elem",
              "elem/s", "cpu ms", "cpu/call", "app ms");
}

inline void printWalkRow(const char* label, std::size_t elements, double seconds, bool timedOut,
                         std::uint64_t calls, double cpu, double appCpu) {
  const double count = static_cast<double>(elements);
  std::printf("%-8s %9zu %9.1f %9s %10.2f %9.0f %9.1f %7.1f us %9.0f\n", label, elements, seconds * 1000.0,
              timedOut ? "yes" : "no", count > 0 ? static_cast<double>(calls) / count : 0.0,
              seconds > 0 ? count / seconds : 0.0, cpu * 1000.0,
              calls > 0 ? cpu * 1e6 / static_cast<double>(calls) : 0.0, appCpu * 1000.0);
}

}  // namespace zoba::bench
