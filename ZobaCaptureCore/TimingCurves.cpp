#include "ZobaCaptureCore/TimingCurves.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zoba {

namespace {
// Below this error in x a Bézier solution is exact enough for any screen.
constexpr double kBezierEpsilon = 1e-7;
constexpr int kNewtonIterations = 8;
// The remaining motion, as a share of the distance, at which a spring counts as settled.
constexpr double kSettledShare = 0.001;
}  // namespace

double CubicBezier::solveT(double x) const {
  // Newton's method converges in a few steps on most of the curve...
  double t = x;
  for (int i = 0; i < kNewtonIterations; ++i) {
    const double error = sampleX(t) - x;
    if (std::fabs(error) < kBezierEpsilon) return t;
    const double slope = sampleDerivativeX(t);
    if (std::fabs(slope) < 1e-6) break;
    t -= error / slope;
  }
  // ...and bisection finishes where the slope is flat.
  double low = 0, high = 1;
  t = x;
  while (low < high) {
    const double value = sampleX(t);
    if (std::fabs(value - x) < kBezierEpsilon) return t;
    if (x > value) {
      low = t;
    } else {
      high = t;
    }
    const double next = (high - low) / 2 + low;
    if (next == t) break;
    t = next;
  }
  return t;
}

double CubicBezier::solve(double x) const {
  if (!(x > 0)) return 0;
  if (x >= 1) return 1;
  return sampleY(solveT(x));
}

SpringCurve::SpringCurve(double perceptualDuration, double bounce)
    : SpringCurve(1, std::pow(2 * std::numbers::pi / perceptualDuration, 2),
                  (1 - bounce) * 4 * std::numbers::pi / perceptualDuration) {}

SpringCurve::SpringCurve(double mass, double stiffness, double damping)
    : mass_(mass), stiffness_(stiffness), damping_(damping) {
  omega0_ = std::sqrt(stiffness_ / mass_);
  zeta_ = damping_ / (2 * std::sqrt(stiffness_ * mass_));
}

double SpringCurve::progress(double t) const {
  if (!(t > 0)) return 0;
  if (!std::isfinite(omega0_) || !(omega0_ > 0)) return 1;  // no spring: already there
  const double decay = zeta_ * omega0_;
  if (zeta_ < 1) {
    const double omegaD = omega0_ * std::sqrt(1 - zeta_ * zeta_);
    return 1 - std::exp(-decay * t) * (std::cos(omegaD * t) + (decay / omegaD) * std::sin(omegaD * t));
  }
  if (zeta_ == 1) return 1 - std::exp(-omega0_ * t) * (1 + omega0_ * t);
  // Over-damped: the sum of two decaying exponentials, starting at rest.
  const double root = omega0_ * std::sqrt(zeta_ * zeta_ - 1);
  const double r1 = -decay + root, r2 = -decay - root;
  return 1 - (r2 * std::exp(r1 * t) - r1 * std::exp(r2 * t)) / (r2 - r1);
}

double SpringCurve::settlingDuration() const {
  if (!std::isfinite(omega0_) || !(omega0_ > 0) || !(zeta_ > 0)) return 0;
  const double decay = zeta_ * omega0_;
  if (zeta_ < 1) {
    const double omegaD = omega0_ * std::sqrt(1 - zeta_ * zeta_);
    return std::log((1 + std::fabs(decay / omegaD)) / kSettledShare) / decay;
  }
  // Critically or over-damped: the motion only approaches 1, so bisect for the time
  // it comes within the share.
  double low = 0, high = 1 / decay;
  while (1 - progress(high) > kSettledShare) high *= 2;
  for (int i = 0; i < 60; ++i) {
    const double middle = (low + high) / 2;
    (1 - progress(middle) > kSettledShare ? low : high) = middle;
  }
  return high;
}

}  // namespace zoba
