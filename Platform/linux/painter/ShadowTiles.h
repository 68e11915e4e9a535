#pragma once

// Blurred rounded-rectangle shadows drawn from a nine-slice alpha tile made once
// per corner radius and blur radius; a frame only scales its alpha. Shadows land
// on whole pixels, so every slice is an unscaled mask.

#include <cairo.h>

#include <map>
#include <utility>

#include "Platform/linux/handles/CairoPtr.h"
#include "Platform/linux/layers/ShownLayers.h"
#include "ZobaCaptureCore/Rect.h"

namespace zoba::platform::linux_backend {

class ShadowTiles {
 public:
  // Paints the blurred shadow of the rounded `rect` (y down, pixels) in one
  // colour at `alpha`, leaving out the part of its solid middle in `covered`,
  // which the caller paints over opaquely.
  void draw(cairo_t* cr, const Rect& rect, double cornerRadius, double blurRadius, double red, double green,
            double blue, double alpha, const PixelRect& covered = {});

  std::size_t tileCount() const { return tiles_.size(); }

 private:
  struct Tile {
    CairoSurfacePtr mask;    // A8, (2 × corner + 1) square
    CairoSurfacePtr across;  // A8, the middle column repeated: strip length × tile size
    CairoSurfacePtr down;    // A8, the middle row repeated: tile size × strip length
    int corner = 0;          // the slice from the tile's edge to its one-pixel middle
    int reach = 0;           // how far the blur reaches outside the shape
  };
  static constexpr int kStripLength = 256;
  const Tile& tile(int cornerRadius, double blurRadius);

  std::map<std::pair<int, int>, Tile> tiles_;  // by corner radius and blur radius (tenths)
};

}  // namespace zoba::platform::linux_backend
