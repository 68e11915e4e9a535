#include <gtest/gtest.h>

#include "ZobaCaptureCore/TimingCurves.h"

namespace zoba {
namespace {

TEST(TimingCurves, EaseOutMatchesTheReferenceSolver) {
  const auto easeOut = CubicBezier::easeOut();
  struct Case {
    double x, y;
  };
  for (const Case& c : {Case{0, 0}, Case{0.25, 0.37814}, Case{0.5, 0.68464}, Case{0.75, 0.90654}, Case{1, 1},
                        Case{-0.5, 0}, Case{2, 1}}) {
    EXPECT_NEAR(easeOut.solve(c.x), c.y, 5e-5) << "x = " << c.x;
  }
}

TEST(TimingCurves, EaseOutRisesMonotonically) {
  const auto easeOut = CubicBezier::easeOut();
  double previous = 0;
  for (int i = 1; i <= 1000; ++i) {
    const double y = easeOut.solve(i / 1000.0);
    EXPECT_GE(y, previous - 1e-9);
    previous = y;
  }
}

TEST(TimingCurves, SpringFromPerceptualDuration) {
  struct Case {
    double duration, stiffness, damping, settling;
  };
  for (const Case& c :
       {Case{0.32, 385.53, 36.91, 0.446}, Case{0.4, 246.74, 29.53, 0.557}, Case{0.5, 157.91, 23.62, 0.697}}) {
    SpringCurve spring(c.duration, 0.06);
    EXPECT_NEAR(spring.stiffness(), c.stiffness, 0.01) << c.duration;
    EXPECT_NEAR(spring.damping(), c.damping, 0.01) << c.duration;
    EXPECT_NEAR(spring.settlingDuration(), c.settling, 0.001) << c.duration;
  }
}

TEST(TimingCurves, SpringSettlingMatchesPublishedValues) {
  EXPECT_NEAR(SpringCurve(1, 100, 5).settlingDuration(), 2.855, 0.001);
  EXPECT_NEAR(SpringCurve(1, 100, 15).settlingDuration(), 1.022, 0.001);
}

TEST(TimingCurves, SpringProgress) {
  SpringCurve spring(0.4, 0.06);
  EXPECT_EQ(spring.progress(0), 0);
  EXPECT_EQ(spring.progress(-1), 0);
  // Under-damped with a small bounce: a slight overshoot, then rest at 1.
  double peak = 0;
  for (int i = 1; i <= 1000; ++i) peak = std::max(peak, spring.progress(i / 1000.0));
  EXPECT_GT(peak, 1.0);
  EXPECT_LT(peak, 1.001);
  EXPECT_NEAR(spring.progress(spring.settlingDuration()), 1, 0.001);
  EXPECT_NEAR(spring.progress(10), 1, 1e-9);
  // Starting at rest: the first millisecond barely moves.
  EXPECT_LT(spring.progress(0.001), 0.001);
}

TEST(TimingCurves, CriticalAndOverDampedSpringsReachTheirTarget) {
  for (double damping : {20.0, 40.0}) {  // ζ = 1 and ζ = 2 for stiffness 100
    SpringCurve spring(1, 100, damping);
    double previous = 0;
    for (int i = 1; i <= 3000; ++i) {
      const double x = spring.progress(i / 1000.0);
      EXPECT_GE(x, previous - 1e-12);  // no overshoot
      previous = x;
    }
    EXPECT_NEAR(spring.progress(spring.settlingDuration()), 1, 0.0011);
  }
}

}  // namespace
}  // namespace zoba
