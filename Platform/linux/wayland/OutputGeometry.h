#pragma once

// What the helper knows of one Wayland output: where it sits in the compositor's
// layout, in logical pixels (the points window rectangles use), its scale and its
// refresh rate; and which output shows most of a rectangle.

#include <cstdint>
#include <span>
#include <string>

#include "Platform/linux/layers/ShownLayers.h"
#include "ZobaCaptureCore/Rect.h"

namespace zoba::platform::linux_backend::wayland {

struct OutputGeometry {
  std::uint32_t global = 0;  // the registry name of its wl_output
  std::string name;          // "HEADLESS-1", "DP-2"…
  PixelRect logical;         // in the layout, logical pixels, y down
  int scale = 1;             // buffer pixels per logical pixel
  // The output's pixels per logical pixel: fractional where the compositor scales so
  // (KWin at 150 %: 1.5, while `scale` says 2); `scale` without a mode or xdg-output.
  double pixelRatio = 1;
  double refreshRate = 60;  // Hz
};

inline Rect layoutFrame(const OutputGeometry& output) {
  return Rect(output.logical.x, output.logical.y, output.logical.width, output.logical.height);
}

// The output that shows most of `rect` (layout coordinates); null when none does.
const OutputGeometry* outputHolding(std::span<const OutputGeometry> outputs, const Rect& rect);

// The part of `a` inside `b`; an empty rectangle when they do not meet.
Rect intersection(const Rect& a, const Rect& b);

}  // namespace zoba::platform::linux_backend::wayland
