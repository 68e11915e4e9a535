#pragma once

// Where a panel goes on Wayland: the output its frame lies on, and the margins that
// put a layer surface anchored to every edge of that output exactly over the frame.
// Panel frames are in bottom-left space, whose y grows upwards from the bottom edge
// of the primary output; Wayland has no primary output, so it is the one at the
// layout's origin (the first one when none is there), as the workspace counts it.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "Platform/linux/layers/ShownLayers.h"
#include "Platform/linux/wayland/OutputGeometry.h"

namespace zoba::platform::linux_backend::wayland {

struct Margins {
  int top = 0, right = 0, bottom = 0, left = 0;
  friend bool operator==(const Margins&, const Margins&) = default;
};

struct Placement {
  std::size_t output = 0;        // index into the outputs given
  PixelRect rect;                // the panel's part on that output, in the layout: logical pixels, y down
  Margins margins;               // of that part from the output's edges
  int offsetX = 0, offsetY = 0;  // the panel pixel at the part's top-left corner
  int width() const { return rect.width; }
  int height() const { return rect.height; }
};

// The panel's frame in the layout's top-left space.
PixelRect layoutRect(const Rect& bottomLeftFrame, std::span<const OutputGeometry> outputs);
// The output that holds most of the frame, and the panel's place on it; absent when
// the frame lies on none.
std::optional<Placement> placePanel(const Rect& bottomLeftFrame, std::span<const OutputGeometry> outputs);

// Panel pixels to buffer pixels at an integer scale, kept inside the buffer.
PixelRect bufferRegion(const PixelRect& rect, int scale, const PixelRect& bufferBounds);

}  // namespace zoba::platform::linux_backend::wayland
