#pragma once

// Application icons from the _NET_WM_ICON window property. Pure: the property's
// words in, an image out, so the choice is tested without a display.

#include <cstdint>
#include <optional>
#include <span>

#include "Platform/Image.h"

namespace zoba::platform::linux_backend {

// The property holds icons one after another: width, height, then width × height
// non-premultiplied 0xAARRGGBB words. Picks the smallest icon at least `wanted`
// pixels both ways, else the largest; a truncated or empty entry ends the list.
// The image is premultiplied, as drawing expects.
std::optional<Image> bestWindowIcon(std::span<const std::uint32_t> property, std::int64_t wanted);

}  // namespace zoba::platform::linux_backend
