// PNG files read through libpng: icons and, in tests, our own screenshots.
#include <png.h>

#include <cstring>

#include "Platform/Image.h"

namespace zoba::platform {

namespace {

struct PngImage {
  png_image image{};
  PngImage() { image.version = PNG_IMAGE_VERSION; }
  ~PngImage() { png_image_free(&image); }
  PngImage(const PngImage&) = delete;
  PngImage& operator=(const PngImage&) = delete;
};

}  // namespace

std::optional<Image> decodePNG(std::span<const std::uint8_t> png) {
  PngImage reader;
  if (!png_image_begin_read_from_memory(&reader.image, png.data(), png.size())) return std::nullopt;
  reader.image.format = PNG_FORMAT_BGRA;
  const std::int64_t width = reader.image.width, height = reader.image.height;
  std::vector<std::uint32_t> words(static_cast<std::size_t>(width * height));
  if (!png_image_finish_read(&reader.image, nullptr, words.data(), static_cast<png_int_32>(width * 4),
                             nullptr)) {
    return std::nullopt;
  }
  // B, G, R, A bytes read as native words; premultiply for the house layout.
  for (auto& word : words) {
    std::uint8_t bytes[4];
    std::memcpy(bytes, &word, 4);
    const std::uint32_t a = bytes[3];
    auto scale = [a](std::uint32_t c) { return (c * a + 127) / 255; };
    word = (a << 24) | (scale(bytes[2]) << 16) | (scale(bytes[1]) << 8) | scale(bytes[0]);
  }
  return Image::fromWords(width, height, Image::Format::premultiplied, std::move(words));
}

}  // namespace zoba::platform
