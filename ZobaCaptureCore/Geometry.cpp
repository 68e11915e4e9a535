#include "ZobaCaptureCore/Geometry.h"

#include <algorithm>
#include <cmath>

namespace zoba {

namespace WindowMatch {

namespace {
double area(const Rect& r) { return r.width() * r.height(); }

double distance(const Rect& c, const Rect& t) {
  return std::fabs(c.minX() - t.minX()) + std::fabs(c.minY() - t.minY()) + std::fabs(c.width() - t.width()) +
         std::fabs(c.height() - t.height());
}
}  // namespace

std::optional<std::size_t> best(const std::optional<Rect>& target, std::span<const Rect> candidates) {
  if (candidates.empty()) return std::nullopt;
  if (candidates.size() == 1) return 0;
  std::size_t bestIndex = 0;
  if (!target) {
    for (std::size_t i = 1; i < candidates.size(); ++i) {
      if (area(candidates[bestIndex]) < area(candidates[i])) bestIndex = i;
    }
    return bestIndex;
  }
  double bestDistance = distance(candidates[0], *target);
  for (std::size_t i = 1; i < candidates.size(); ++i) {
    const double d = distance(candidates[i], *target);
    if (d < bestDistance) {
      bestIndex = i;
      bestDistance = d;
    }
  }
  return bestIndex;
}

}  // namespace WindowMatch

namespace CaptureSizing {

namespace {
// 2^53: every integer up to it is exact in a double, and it is far inside int64.
constexpr double largestExtent = 9007199254740992.0;

// Rounds half away from zero and keeps the result inside [1, 2^53]; NaN gives 1.
std::int64_t extent(double value) {
  const double rounded = std::round(value);
  if (!(rounded >= 1)) return 1;
  return static_cast<std::int64_t>(std::min(rounded, largestExtent));
}

// fmax/fmin ignore a NaN operand, as the sizing rules want.
double atLeastOne(double v) { return std::isnan(v) ? v : std::max(v, 1.0); }
}  // namespace

PixelSize pixels(Size points, double scale, double maxEdge) {
  const double w = atLeastOne(points.width);
  const double h = atLeastOne(points.height);
  const double s = atLeastOne(scale);
  const double pw = w * s;
  const double ph = h * s;
  const double longest = std::fmax(pw, ph);
  const double f = std::fmin(maxEdge / longest, 1.0);
  return PixelSize{extent(pw * f), extent(ph * f)};
}

}  // namespace CaptureSizing

}  // namespace zoba
