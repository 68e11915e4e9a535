#pragma once

// One frame of a panel as plain values: every layer's presentation at the frame's
// time placed in the panel's pixels (top-left origin, y down), the pixels each
// layer can touch, and what changed between two frames.

#include <cstddef>
#include <vector>

#include "Platform/Layers.h"

namespace zoba::platform::linux_backend {

struct PixelRect {
  int x = 0, y = 0, width = 0, height = 0;

  bool empty() const { return width <= 0 || height <= 0; }
  int maxX() const { return x + width; }
  int maxY() const { return y + height; }
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// The smallest pixel rectangle holding `rect`.
PixelRect enclosing(const Rect& rect);
PixelRect intersection(const PixelRect& a, const PixelRect& b);
PixelRect unionOf(const PixelRect& a, const PixelRect& b);  // the bounding box
// The pixels of `from` outside `hole`: up to four bands, above, below, left and right.
std::vector<PixelRect> difference(const PixelRect& from, const PixelRect& hole);
// Rectangles that cover at least the same pixels: overlapping or touching ones
// merged, and at most `maxCount` of them (the bounding box past that).
std::vector<PixelRect> simplified(std::vector<PixelRect> rects, std::size_t maxCount);

struct ShownLayer {
  LayerProperties shown;  // the presentation at the frame's time
  Rect frame;             // panel pixels, y down
  int parent = -1;
  bool hidden = false;  // it or an ancestor is fully transparent
  double alpha = 1;     // the product of its own and its ancestors' opacity
  PixelRect extent;     // the pixels its own drawing (shadow included) may touch
};

// The shadow a layer casts: its own rounded bounds, or its first sublayer's when it
// draws nothing itself. Absent when it casts none.
struct ShadowShape {
  Rect rect;  // panel pixels, y down, before the offset
  double cornerRadius = 0;
};

// Blur reaches three standard deviations, with σ = radius / 2.
int shadowReach(double shadowRadius);
bool drawsItself(const LayerProperties& layer);
std::optional<ShadowShape> shadowShape(const std::vector<ShownLayer>& layers, std::size_t index);

// The whole-pixel boxes inside `frame` with corners of `radius` (clamped to half
// the shorter side): a full-width middle band first, then the bands between the
// corners above and below it.
std::vector<PixelRect> interiorBoxes(const Rect& frame, double radius);
// The largest whole-pixel box a layer fills with opaque pixels of its own (its
// contents or background), whatever lies beneath; empty when it has none.
PixelRect opaqueInterior(const ShownLayer& layer);
// The largest box some layer paints opaquely on screen (no faded ancestor, inside
// every masking ancestor): what lies beneath it never shows.
PixelRect opaqueCover(const std::vector<ShownLayer>& layers);

std::vector<ShownLayer> showLayers(const RenderPanel& panel, double time);

// The pixels whose picture differs between two frames of a panel of `bounds`.
std::vector<PixelRect> damageBetween(const std::vector<ShownLayer>& before,
                                     const std::vector<ShownLayer>& after, const PixelRect& bounds);
// The pixels the layers cover (the panel's shape when nothing composites it).
std::vector<PixelRect> coverage(const std::vector<ShownLayer>& layers, const PixelRect& bounds);

}  // namespace zoba::platform::linux_backend
