#pragma once

// Plain geometry values in screen points. Every accessor reads the standardised
// rectangle: a negative width or height counts as positive, with the origin moved
// to the other edge.

namespace zoba {

struct Point {
  double x = 0;
  double y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  double width = 0;
  double height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
  Point origin;
  Size size;

  constexpr Rect() = default;
  constexpr Rect(double x, double y, double width, double height) : origin{x, y}, size{width, height} {}

  Rect standardized() const;
  double minX() const;
  double minY() const;
  double maxX() const;
  double maxY() const;
  double midX() const;
  double midY() const;
  double width() const;   // |size.width|
  double height() const;  // |size.height|
  // Moves every edge inwards by dx and dy on the standardised rectangle.
  Rect insetBy(double dx, double dy) const;
  // Whether the two share any area: rectangles that only touch do not.
  bool intersects(const Rect& other) const;

  friend bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace zoba
