// Thirty hotkey captures in one helper: each ends and lands, ids never repeat, and
// what the helper holds (descriptors, threads, X windows, shared memory) after the
// last capture is what it held after the first. bench/soak runs the long version.
#include <gtest/gtest.h>

#include "tests/support/DesktopWindow.h"
#include "tests/support/Soak.h"

namespace zoba::testing {
namespace {

TEST(DesktopSoak, ThirtyCapturesEndLandAndLeakNothing) {
  if (!desktopAvailable()) GTEST_SKIP() << "needs an X display";
  auto result = soak(ZOBA_CAPTURE_PATH, 30, 10);
  for (const auto& problem : result.problems) ADD_FAILURE() << problem;
  EXPECT_EQ(result.captures, 30);
  EXPECT_EQ(result.ended, 30);
  EXPECT_EQ(result.landed, result.animated - result.failed);
  EXPECT_EQ(result.duplicateIds, 0);
  EXPECT_EQ(result.last.descriptors, result.first.descriptors);
  // Idle worker threads may end; none may pile up.
  EXPECT_LE(result.last.threads, result.first.threads);
  EXPECT_EQ(result.last.xWindows, result.first.xWindows);
  EXPECT_EQ(result.last.shmSegments, result.first.shmSegments);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // Twenty captures settle in well under 5 MB (a leak of one screenshot each would
  // not). A sanitizer's quarantine and shadow memory grow on their own.
  EXPECT_LT(result.last.residentKiB - result.atSample.residentKiB, 5 * 1024);
#endif
}

}  // namespace
}  // namespace zoba::testing
