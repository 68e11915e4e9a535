#pragma once

// The PNG writer behind encodePNG, with its division of the work open to tests.

#include <cstddef>
#include <optional>

#include "Platform/Image.h"

namespace zoba::platform::linux_backend {

// PNG of the image made of `stripes` bands of rows (fewer when the image has
// fewer rows) deflated on at most `threads` threads, the caller's among them.
std::optional<Bytes> encodePNGInStripes(const Image& image, std::size_t stripes, std::size_t threads);

}  // namespace zoba::platform::linux_backend
