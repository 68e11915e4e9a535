#include "Platform/linux/wayland/OutputGeometry.h"

#include <algorithm>

namespace zoba::platform::linux_backend::wayland {

Rect intersection(const Rect& a, const Rect& b) {
  const double left = std::max(a.minX(), b.minX()), right = std::min(a.maxX(), b.maxX());
  const double top = std::max(a.minY(), b.minY()), bottom = std::min(a.maxY(), b.maxY());
  if (right <= left || bottom <= top) return {};
  return Rect(left, top, right - left, bottom - top);
}

const OutputGeometry* outputHolding(std::span<const OutputGeometry> outputs, const Rect& rect) {
  const OutputGeometry* best = nullptr;
  double bestArea = 0;
  for (const auto& output : outputs) {
    const Rect common = intersection(layoutFrame(output), rect);
    const double area = common.width() * common.height();
    if (area > bestArea) {
      bestArea = area;
      best = &output;
    }
  }
  return best;
}

}  // namespace zoba::platform::linux_backend::wayland
