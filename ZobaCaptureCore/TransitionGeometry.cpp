#include "ZobaCaptureCore/TransitionGeometry.h"

#include <cmath>

namespace zoba::TransitionGeometry {

Rect appKitRect(const Rect& topLeft, double primaryScreenHeight) {
  return Rect(topLeft.minX(), primaryScreenHeight - topLeft.maxY(), topLeft.width(), topLeft.height());
}

Rect coverContentsRect(Size imageSize, Size boxSize) {
  if (!(imageSize.width > 0) || !(imageSize.height > 0) || !(boxSize.width > 0) || !(boxSize.height > 0)) {
    return Rect(0, 0, 1, 1);
  }
  const double sx = boxSize.width / imageSize.width;
  const double sy = boxSize.height / imageSize.height;
  const double scale = sx <= sy ? sy : sx;
  const double w = std::fmin(boxSize.width / (imageSize.width * scale), 1.0);
  const double h = std::fmin(boxSize.height / (imageSize.height * scale), 1.0);
  return Rect(0, 1 - h, w, h);
}

double springResponse(const Rect& from, const Rect& to) {
  const double d = std::hypot(to.midX() - from.midX(), to.midY() - from.midY());
  const double r = d * 0.0001 + 0.3;
  return std::fmin(std::fmax(r, 0.32), 0.5);
}

Rect liftedRect(const Rect& rect) { return rect.insetBy(0.03 * rect.width(), 0.03 * rect.height()); }

}  // namespace zoba::TransitionGeometry
