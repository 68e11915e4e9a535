#include "ZobaCaptureCore/Rect.h"

#include <cmath>

namespace zoba {

Rect Rect::standardized() const {
  Rect r = *this;
  if (r.size.width < 0) {
    r.origin.x += r.size.width;
    r.size.width = -r.size.width;
  }
  if (r.size.height < 0) {
    r.origin.y += r.size.height;
    r.size.height = -r.size.height;
  }
  return r;
}

double Rect::minX() const { return standardized().origin.x; }
double Rect::minY() const { return standardized().origin.y; }
double Rect::maxX() const { return minX() + width(); }
double Rect::maxY() const { return minY() + height(); }
double Rect::midX() const { return minX() + width() / 2; }
double Rect::midY() const { return minY() + height() / 2; }
double Rect::width() const { return std::fabs(size.width); }
double Rect::height() const { return std::fabs(size.height); }

Rect Rect::insetBy(double dx, double dy) const {
  Rect r = standardized();
  return Rect(r.origin.x + dx, r.origin.y + dy, r.size.width - 2 * dx, r.size.height - 2 * dy);
}

bool Rect::intersects(const Rect& other) const {
  if (!(width() > 0 && height() > 0 && other.width() > 0 && other.height() > 0)) return false;
  return minX() < other.maxX() && other.minX() < maxX() && minY() < other.maxY() && other.minY() < maxY();
}

}  // namespace zoba
