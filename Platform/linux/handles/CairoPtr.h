#pragma once

// Owning handles for Cairo's reference-counted objects.

#include <cairo.h>

#include <memory>

namespace zoba::platform::linux_backend {

struct CairoSurfaceDestroy {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using CairoSurfacePtr = std::unique_ptr<cairo_surface_t, CairoSurfaceDestroy>;

struct CairoDestroy {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
using CairoPtr = std::unique_ptr<cairo_t, CairoDestroy>;

struct CairoPatternDestroy {
  void operator()(cairo_pattern_t* pattern) const { cairo_pattern_destroy(pattern); }
};
using CairoPatternPtr = std::unique_ptr<cairo_pattern_t, CairoPatternDestroy>;

}  // namespace zoba::platform::linux_backend
