#include "Platform/linux/wayland/ShmFrame.h"

#include <wayland-client-protocol.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace zoba::platform::linux_backend::wayland {

namespace {

// Little-endian words 0xAARRGGBB: the Image's own layout.
bool imageLayout(std::uint32_t format) {
  return format == WL_SHM_FORMAT_ARGB8888 || format == WL_SHM_FORMAT_XRGB8888;
}

bool swapsRedAndBlue(std::uint32_t format) {
  return format == WL_SHM_FORMAT_ABGR8888 || format == WL_SHM_FORMAT_XBGR8888;
}

bool near(double a, double b) { return std::abs(a - b) < 0.5; }

}  // namespace

bool readableFormat(std::uint32_t format) { return imageLayout(format) || swapsRedAndBlue(format); }

std::optional<Image> frameImage(const ShmFrame& frame) {
  if (!readableFormat(frame.format) || !frame.pixels || frame.width <= 0 || frame.height <= 0 ||
      frame.stride < frame.width * 4)
    return std::nullopt;
  const auto stride = static_cast<std::size_t>(frame.stride);
  if (imageLayout(frame.format) && !frame.yInvert) {
    return Image(frame.width, frame.height, stride, Image::Format::opaque, frame.owner, frame.pixels);
  }
  const auto width = static_cast<std::size_t>(frame.width);
  std::vector<std::uint32_t> words(width * static_cast<std::size_t>(frame.height));
  for (std::int32_t y = 0; y < frame.height; ++y) {
    const std::int32_t sourceRow = frame.yInvert ? frame.height - 1 - y : y;
    const std::uint8_t* source = frame.pixels + static_cast<std::size_t>(sourceRow) * stride;
    std::uint32_t* target = words.data() + static_cast<std::size_t>(y) * width;
    std::memcpy(target, source, width * 4);
    if (swapsRedAndBlue(frame.format)) {
      for (std::size_t x = 0; x < width; ++x) {
        const std::uint32_t word = target[x];
        target[x] = (word & 0xFF00FF00u) | ((word & 0xFFu) << 16) | ((word >> 16) & 0xFFu);
      }
    }
  }
  return Image::fromWords(frame.width, frame.height, Image::Format::opaque, std::move(words));
}

std::optional<Image> windowImage(const ShmFrame& frame, const Rect& copied, const Size& window,
                                 std::int64_t width, std::int64_t height) {
  auto image = frameImage(frame);
  if (!image || window.width <= 0 || window.height <= 0) return std::nullopt;
  const bool whole = near(copied.minX(), 0) && near(copied.minY(), 0) && near(copied.width(), window.width) &&
                     near(copied.height(), window.height);
  if (whole && image->width() == width && image->height() == height) return image;
  auto context = BitmapContext::create(width, height, Image::Format::opaque);
  if (!context) return std::nullopt;
  const double sx = static_cast<double>(width) / window.width,
               sy = static_cast<double>(height) / window.height;
  if (!whole) context->fill(Rect(0, 0, double(width), double(height)), Color{0, 0, 0, 1});
  context->draw(*image,
                Rect(copied.minX() * sx, copied.minY() * sy, copied.width() * sx, copied.height() * sy));
  return std::move(*context).makeImage();
}

}  // namespace zoba::platform::linux_backend::wayland
