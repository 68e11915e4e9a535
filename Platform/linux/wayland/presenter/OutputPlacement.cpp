#include "Platform/linux/wayland/presenter/OutputPlacement.h"

#include <algorithm>
#include <cmath>

namespace zoba::platform::linux_backend::wayland {

namespace {

const OutputGeometry* primaryOutput(std::span<const OutputGeometry> outputs) {
  if (outputs.empty()) return nullptr;
  auto origin = std::find_if(outputs.begin(), outputs.end(), [](const OutputGeometry& output) {
    return output.logical.x == 0 && output.logical.y == 0;
  });
  return origin != outputs.end() ? &*origin : &outputs.front();
}

long long area(const PixelRect& rect) {
  return rect.empty() ? 0 : static_cast<long long>(rect.width) * rect.height;
}

}  // namespace

PixelRect layoutRect(const Rect& frame, std::span<const OutputGeometry> outputs) {
  const OutputGeometry* primary = primaryOutput(outputs);
  const int bottom = primary ? primary->logical.maxY() : 0;
  const int x = static_cast<int>(std::lround(frame.minX()));
  const int width = static_cast<int>(std::lround(frame.width()));
  const int height = static_cast<int>(std::lround(frame.height()));
  const int y = bottom - static_cast<int>(std::lround(frame.minY())) - height;
  return {x, y, width, height};
}

std::optional<Placement> placePanel(const Rect& frame, std::span<const OutputGeometry> outputs) {
  const PixelRect rect = layoutRect(frame, outputs);
  std::optional<Placement> best;
  long long bestArea = 0;
  for (std::size_t index = 0; index < outputs.size(); ++index) {
    const PixelRect& output = outputs[index].logical;
    const PixelRect shared = intersection(rect, output);
    if (area(shared) <= bestArea) continue;
    bestArea = area(shared);
    best = Placement{index, shared,
                     Margins{shared.y - output.y, output.maxX() - shared.maxX(),
                             output.maxY() - shared.maxY(), shared.x - output.x},
                     shared.x - rect.x, shared.y - rect.y};
  }
  return best;
}

PixelRect bufferRegion(const PixelRect& rect, int scale, const PixelRect& bufferBounds) {
  const int s = std::max(1, scale);
  return intersection({rect.x * s, rect.y * s, rect.width * s, rect.height * s}, bufferBounds);
}

}  // namespace zoba::platform::linux_backend::wayland
