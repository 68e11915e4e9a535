#pragma once

// A screen copy as the compositor wrote it into shared memory, and its turning into
// the window's image: the pixel layout changed to the Image's where the compositor
// chose another, the rows put top-down, and the copied part placed and scaled into
// the size asked for.

#include <cstdint>
#include <memory>
#include <optional>

#include "Platform/Image.h"

namespace zoba::platform::linux_backend::wayland {

struct ShmFrame {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t stride = 0;
  std::uint32_t format = 0;           // a wl_shm format
  bool yInvert = false;               // the rows run bottom to top
  std::shared_ptr<const void> owner;  // keeps `pixels` mapped
  const std::uint8_t* pixels = nullptr;
};

// Whether the frame's format is one we read: ARGB8888, XRGB8888, ABGR8888, XBGR8888.
bool readableFormat(std::uint32_t format);

// The frame as an opaque Image; no copy when it already has the Image's layout.
// Absent for unreadable formats or sizes.
std::optional<Image> frameImage(const ShmFrame& frame);

// The window's image of `width` × `height` pixels from a copy of part of it:
// `copied` is where the copied region lies in the window, in the window's points
// (the whole window, `window`, unless it reaches past its output); what was not
// copied stays black. The frame itself when it fills the image at its own size.
std::optional<Image> windowImage(const ShmFrame& frame, const Rect& copied, const Size& window,
                                 std::int64_t width, std::int64_t height);

}  // namespace zoba::platform::linux_backend::wayland
