#pragma once

#include <cairo.h>

#include <algorithm>
#include <cmath>

namespace zoba::platform::linux_backend {

// Adds a rectangle with circular corners to the path; the radius is limited to
// half the shorter side.
inline void roundedRectangle(cairo_t* cr, double x, double y, double width, double height, double radius) {
  radius = std::clamp(radius, 0.0, std::min(width, height) / 2);
  if (radius <= 0) {
    cairo_rectangle(cr, x, y, width, height);
    return;
  }
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + width - radius, y + radius, radius, -M_PI / 2, 0);
  cairo_arc(cr, x + width - radius, y + height - radius, radius, 0, M_PI / 2);
  cairo_arc(cr, x + radius, y + height - radius, radius, M_PI / 2, M_PI);
  cairo_arc(cr, x + radius, y + radius, radius, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

}  // namespace zoba::platform::linux_backend
