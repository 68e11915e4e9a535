// PNG through libpng, tuned for speed: the screenshot of a large window goes
// through here on every capture. Compression level 1 with the Up filter takes
// about a quarter of the default settings' time for a file a fifth larger.
#include <png.h>

#include <bit>
#include <csetjmp>
#include <cstring>

#include "Platform/Image.h"

namespace zoba::platform {

namespace {

struct PngWriter {
  png_structp png = nullptr;
  png_infop info = nullptr;
  PngWriter() {
    png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png) info = png_create_info_struct(png);
  }
  ~PngWriter() { png_destroy_write_struct(&png, &info); }
  PngWriter(const PngWriter&) = delete;
  PngWriter& operator=(const PngWriter&) = delete;
};

struct PngImage {
  png_image image{};
  PngImage() { image.version = PNG_IMAGE_VERSION; }
  ~PngImage() { png_image_free(&image); }
  PngImage(const PngImage&) = delete;
  PngImage& operator=(const PngImage&) = delete;
};

void appendToBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
void flushNothing(png_structp) {}

// Straight (not premultiplied) R, G, B, A bytes of one premultiplied row.
void unpremultiplyRow(const std::uint8_t* source, std::int64_t width, std::uint8_t* out) {
  for (std::int64_t x = 0; x < width; ++x) {
    std::uint32_t word;
    std::memcpy(&word, source + x * 4, 4);
    const std::uint32_t a = word >> 24;
    std::uint32_t r = (word >> 16) & 0xFF, g = (word >> 8) & 0xFF, b = word & 0xFF;
    if (a != 0 && a != 255) {
      r = (r * 255 + a / 2) / a;
      g = (g * 255 + a / 2) / a;
      b = (b * 255 + a / 2) / a;
    }
    out[x * 4 + 0] = static_cast<std::uint8_t>(r > 255 ? 255 : r);
    out[x * 4 + 1] = static_cast<std::uint8_t>(g > 255 ? 255 : g);
    out[x * 4 + 2] = static_cast<std::uint8_t>(b > 255 ? 255 : b);
    out[x * 4 + 3] = static_cast<std::uint8_t>(a);
  }
}

// libpng reports errors by longjmp: nothing with a destructor may live in this
// frame, so every buffer belongs to the caller.
bool writePng(png_structp png, png_infop info, const Image& image, Bytes& out, std::uint8_t* rowBuffer) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, &out, appendToBytes, flushNothing);
  const bool opaque = image.format() == Image::Format::opaque;
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width()), static_cast<png_uint_32>(image.height()),
               8, opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 1);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
  png_set_compression_buffer_size(png, 1 << 18);  // fewer, larger IDAT chunks
  png_write_info(png, info);
  if (opaque) {
    // The 32-bit words in memory are B, G, R, X (little-endian) or X, R, G, B.
    if constexpr (std::endian::native == std::endian::little) {
      png_set_bgr(png);
      png_set_filler(png, 0, PNG_FILLER_AFTER);
    } else {
      png_set_filler(png, 0, PNG_FILLER_BEFORE);
    }
  }
  for (std::int64_t y = 0; y < image.height(); ++y) {
    if (opaque) {
      png_write_row(png, const_cast<png_bytep>(image.row(y)));
    } else {
      unpremultiplyRow(image.row(y), image.width(), rowBuffer);
      png_write_row(png, rowBuffer);
    }
  }
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

std::optional<Bytes> encodePNG(const Image& image) {
  if (image.empty() || image.width() > PNG_USER_WIDTH_MAX || image.height() > PNG_USER_HEIGHT_MAX) {
    return std::nullopt;
  }
  PngWriter writer;
  if (!writer.png || !writer.info) return std::nullopt;
  Bytes out;
  // Screens compress well; a tenth of the raw size avoids most regrowth.
  out.reserve(static_cast<std::size_t>(image.width() * image.height() * 4 / 10) + 1024);
  std::vector<std::uint8_t> rowBuffer(image.format() == Image::Format::opaque ? 0 : image.width() * 4);
  if (!writePng(writer.png, writer.info, image, out, rowBuffer.data())) return std::nullopt;
  return out;
}

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
