#include "ZobaCapture/CaptureTarget.h"

#include <array>

#include "ZobaCaptureCore/TransitionGeometry.h"

namespace zoba::CaptureTarget {

namespace {

std::optional<double> number(const Message& value) {
  if (value.is_boolean()) return value.get<bool>() ? 1.0 : 0.0;
  if (value.is_number()) return value.get<double>();
  return std::nullopt;
}

}  // namespace

std::optional<Rect> rect(const Message& frame) {
  if (!frame.is_object()) return std::nullopt;
  std::array<double, 4> values{};
  std::size_t i = 0;
  for (const char* key : {"x", "y", "width", "height"}) {
    auto entry = frame.find(key);
    if (entry == frame.end()) return std::nullopt;
    auto value = number(*entry);
    if (!value) return std::nullopt;
    values[i++] = *value;
  }
  auto [x, y, width, height] = values;
  if (!(width > 0) || !(height > 0)) return std::nullopt;
  return Rect(x, y, width, height);
}

Target of(const Message& request, double primaryScreenHeight) {
  Target target;
  if (auto frame = request.find("frame"); frame != request.end()) {
    if (auto topLeft = rect(*frame))
      target.frame = TransitionGeometry::appKitRect(*topLeft, primaryScreenHeight);
  }
  if (auto radius = request.find("radius"); radius != request.end()) {
    if (auto value = number(*radius)) target.radius = *value;
  }
  return target;
}

}  // namespace zoba::CaptureTarget
