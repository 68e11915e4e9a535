#include "tests/support/Pixels.h"

#include <cstdlib>

namespace zoba::testing {

std::int64_t pixelsNear(const platform::Image& image, std::uint32_t rgb, int tolerance) {
  std::int64_t count = 0;
  auto near = [&](std::uint32_t a, std::uint32_t b, int shift) {
    return std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) <=
           tolerance;
  };
  for (std::int64_t y = 0; y < image.height(); ++y) {
    for (std::int64_t x = 0; x < image.width(); ++x) {
      std::uint32_t pixel = image.pixel(x, y);
      if (near(pixel, rgb, 16) && near(pixel, rgb, 8) && near(pixel, rgb, 0)) ++count;
    }
  }
  return count;
}

}  // namespace zoba::testing
