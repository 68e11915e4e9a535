#pragma once

// Reading a drawable's pixels from the X server into an Image that owns them.

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>

#include "Platform/Image.h"

namespace zoba::platform::linux_backend {

// Through a shared-memory segment (MIT-SHM): one copy fewer for large windows.
std::optional<Image> readPixelsShm(xcb_connection_t* c, xcb_drawable_t drawable, std::int16_t x,
                                   std::int16_t y, std::uint16_t width, std::uint16_t height,
                                   Image::Format format);

// Through the plain GetImage request, where shared memory is not available.
std::optional<Image> readPixelsPlain(xcb_connection_t* c, xcb_drawable_t drawable, std::int16_t x,
                                     std::int16_t y, std::uint16_t width, std::uint16_t height,
                                     Image::Format format);

}  // namespace zoba::platform::linux_backend
