// A long run of hotkey captures in one helper on the desktop (not in CI):
//   scripts/headless-desktop.sh run -- build/default/bench/soak/soak_bench [COUNT]
// Prints whether every capture ended and landed, and what the helper held after
// capture 1, capture 100 and the last one, and the captures per minute.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/Soak.h"

namespace {

void print(const char* when, const zoba::testing::ProcessResources& r) {
  std::printf("%-14s rss %7.1f MB  fds %3d  threads %2d  X windows %2d  shm segments %d\n", when,
              static_cast<double>(r.residentKiB) / 1024, r.descriptors, r.threads, r.xWindows, r.shmSegments);
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
  const int sampleAt = std::min(100, count);
  auto result = zoba::testing::soak(ZOBA_CAPTURE_PATH, count, sampleAt, [](int round) {
    if (round % 50 == 0) std::fprintf(stderr, "%d captures\n", round);
  });
  std::printf("captures %d, ended %d (failed %d), animated %d, landed %d, duplicate ids %d\n",
              result.captures, result.ended, result.failed, result.animated, result.landed,
              result.duplicateIds);
  print("after 1", result.first);
  print(("after " + std::to_string(sampleAt)).c_str(), result.atSample);
  print(("after " + std::to_string(count)).c_str(), result.last);
  std::printf("rss growth %d→%d: %.2f MB\n", sampleAt, count,
              static_cast<double>(result.last.residentKiB - result.atSample.residentKiB) / 1024);
  std::printf("%.1f captures per minute (%.0f s)\n", result.captures / result.seconds * 60, result.seconds);
  for (const auto& problem : result.problems) std::printf("problem: %s\n", problem.c_str());
  return result.problems.empty() ? 0 : 1;
}
