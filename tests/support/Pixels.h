#pragma once

// Pixels of a screenshot counted by colour, for tests that look for a window or an
// overlay on screen.

#include <cstdint>

#include "Platform/Image.h"

namespace zoba::testing {

// How many pixels of `image` are within `tolerance` of `rgb` in each channel.
std::int64_t pixelsNear(const platform::Image& image, std::uint32_t rgb, int tolerance = 2);

}  // namespace zoba::testing
