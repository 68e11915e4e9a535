#pragma once

// Draws one frame of a panel's layers with Cairo's image backend, inside the
// damaged rectangles only, over whatever the target already holds there.

#include <cairo.h>

#include <span>
#include <vector>

#include "Platform/linux/layers/ReducedContents.h"
#include "Platform/linux/layers/ShownLayers.h"
#include "Platform/linux/painter/ShadowTiles.h"

namespace zoba::platform::linux_backend {

class LayerPainter {
 public:
  // `cr` draws in panel pixels (y down).
  void paint(cairo_t* cr, const std::vector<ShownLayer>& layers, std::span<const PixelRect> clip);
  // Drops the reduced copies of images no longer in `tree`.
  void retainContentsOf(const RenderTree& tree);

  const ShadowTiles& shadows() const { return shadows_; }
  const ReducedContents& reducedContents() const { return contents_; }

 private:
  void drawLayer(cairo_t* cr, std::size_t index);
  void drawContents(cairo_t* cr, const ShownLayer& layer, double alpha, bool roundedFill);

  // Per paint: the layers and each one's sublayers.
  const std::vector<ShownLayer>* layers_ = nullptr;
  std::vector<std::vector<std::size_t>> sublayers_;
  PixelRect clipBox_;

  ShadowTiles shadows_;
  ReducedContents contents_;
};

}  // namespace zoba::platform::linux_backend
