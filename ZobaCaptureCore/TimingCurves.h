#pragma once

// The two timing curves the overlay animates with: the ease-out cubic Bézier and a
// damped spring. Pure functions of time, evaluated on the main thread for
// presentation values and on the render thread for every frame.

namespace zoba {

// The cubic Bézier from (0, 0) to (1, 1) with control points (x1, y1) and (x2, y2),
// solved for y at a given x the way browser engines do it (Newton, then bisection).
class CubicBezier {
 public:
  constexpr CubicBezier(double x1, double y1, double x2, double y2)
      : cx_(3 * x1),
        bx_(3 * (x2 - x1) - 3 * x1),
        ax_(1 - 3 * x1 - (3 * (x2 - x1) - 3 * x1)),
        cy_(3 * y1),
        by_(3 * (y2 - y1) - 3 * y1),
        ay_(1 - 3 * y1 - (3 * (y2 - y1) - 3 * y1)) {}

  // y for x in [0, 1]; x outside is clamped.
  double solve(double x) const;

  // The platform's ease-out: control points (0, 0) and (0.58, 1).
  static constexpr CubicBezier easeOut() { return CubicBezier(0, 0, 0.58, 1); }

 private:
  double sampleX(double t) const { return ((ax_ * t + bx_) * t + cx_) * t; }
  double sampleY(double t) const { return ((ay_ * t + by_) * t + cy_) * t; }
  double sampleDerivativeX(double t) const { return (3 * ax_ * t + 2 * bx_) * t + cx_; }
  double solveT(double x) const;

  double cx_, bx_, ax_, cy_, by_, ay_;
};

// A spring of mass 1 released at rest, as made from a perceptual duration and a
// bounce: stiffness (2π/d)², damping (1 − bounce)·4π/d.
class SpringCurve {
 public:
  SpringCurve(double perceptualDuration, double bounce);
  SpringCurve(double mass, double stiffness, double damping);

  double stiffness() const { return stiffness_; }
  double damping() const { return damping_; }
  // Progress from 0 towards 1 after `seconds`; overshoots 1 when under-damped.
  double progress(double seconds) const;
  // When the remaining motion stays below a thousandth of the distance.
  double settlingDuration() const;

 private:
  double mass_, stiffness_, damping_;
  double omega0_;  // undamped angular frequency
  double zeta_;    // damping ratio
};

}  // namespace zoba
