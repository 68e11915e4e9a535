#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "ZobaCaptureCore/Rect.h"

namespace zoba {

namespace WindowMatch {
// The candidate nearest to `target` (sum of edge and extent differences), or the
// largest one without a target; the first wins ties. NaN never wins.
std::optional<std::size_t> best(const std::optional<Rect>& target, std::span<const Rect> candidates);
}  // namespace WindowMatch

struct PixelSize {
  std::int64_t width = 1;
  std::int64_t height = 1;
  friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

namespace CaptureSizing {
// Pixel size of a screenshot of `points` at `scale`, shrunk so that its longer edge
// is at most `maxEdge`. Never below 1×1. Inputs without a finite result (NaN,
// infinities, products beyond 2^53) are clamped: a NaN extent gives 1, and every
// extent is at most 2^53, so the conversion to an integer is always defined.
PixelSize pixels(Size points, double scale, double maxEdge);
}  // namespace CaptureSizing

}  // namespace zoba
