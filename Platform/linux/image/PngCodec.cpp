// PNG through libpng, tuned for speed: the screenshot of a large window goes
// through here on every capture. The scanlines take the Up filter and compression
// level 1 (about a quarter of the default settings' time for a file a fifth larger),
// and a large image is deflated in stripes on every core at once into one standard
// zlib stream, which libpng frames as the image data.
#include <png.h>

#include <algorithm>
#include <bit>
#include <csetjmp>
#include <cstring>
#include <thread>

#include "Platform/Image.h"
#include "Platform/linux/image/ZlibStripes.h"

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

// One row as the PNG's bytes: R, G, B from the opaque B, G, R, X words, or straight
// R, G, B, A.
void pngRow(const Image& image, std::int64_t y, std::uint8_t* out) {
  const std::uint8_t* source = image.row(y);
  if (image.format() != Image::Format::opaque) {
    unpremultiplyRow(source, image.width(), out);
    return;
  }
  for (std::int64_t x = 0; x < image.width(); ++x) {
    std::uint32_t word;
    std::memcpy(&word, source + x * 4, 4);
    out[x * 3 + 0] = static_cast<std::uint8_t>(word >> 16);
    out[x * 3 + 1] = static_cast<std::uint8_t>(word >> 8);
    out[x * 3 + 2] = static_cast<std::uint8_t>(word);
  }
}

// Appends rows [begin, end) as scanlines with the Up filter: the filter's byte, then
// each byte less the one above it (the row before `begin` counts, zeros above the
// first).
void appendScanlines(const Image& image, std::int64_t begin, std::int64_t end, image::StripeBytes& out) {
  const std::size_t rowBytes =
      static_cast<std::size_t>(image.width()) * (image.format() == Image::Format::opaque ? 3 : 4);
  constexpr std::uint8_t upFilter = 2;
  std::vector<std::uint8_t> above(rowBytes, 0), row(rowBytes);
  if (begin > 0) pngRow(image, begin - 1, above.data());
  const std::size_t start = out.size();
  out.resize(start + static_cast<std::size_t>(end - begin) * (rowBytes + 1));
  std::uint8_t* line = out.data() + start;
  for (std::int64_t y = begin; y < end; ++y) {
    pngRow(image, y, row.data());
    line[0] = upFilter;
    for (std::size_t i = 0; i < rowBytes; ++i) line[i + 1] = static_cast<std::uint8_t>(row[i] - above[i]);
    line += rowBytes + 1;
    std::swap(row, above);
  }
}

// Stripes worth a thread each: one below a quarter megapixel, where a thread's start
// costs more than it saves.
std::size_t stripeCount(const Image& image) {
  constexpr std::int64_t pixelsPerStripe = 1 << 18;
  const std::int64_t byPixels = image.width() * image.height() / pixelsPerStripe;
  const std::int64_t cores = std::clamp<std::int64_t>(std::thread::hardware_concurrency(), 1, 4);
  return static_cast<std::size_t>(std::max<std::int64_t>(std::min(byPixels, cores), 1));
}

// libpng reports errors by longjmp: nothing with a destructor may live in this
// frame, so every buffer belongs to the caller.
bool writePng(png_structp png, png_infop info, const Image& image, const image::StripeBytes& data,
              Bytes& out) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, &out, appendToBytes, flushNothing);
  const bool opaque = image.format() == Image::Format::opaque;
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width()), static_cast<png_uint_32>(image.height()),
               8, opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  // The image data in chunks of at most 256 KiB, as libpng's own writer makes them.
  constexpr std::size_t chunkBytes = 1 << 18;
  static constexpr png_byte idat[5] = "IDAT";
  static constexpr png_byte iend[5] = "IEND";
  for (std::size_t at = 0; at < data.size(); at += chunkBytes) {
    png_write_chunk(png, idat, data.data() + at, std::min(chunkBytes, data.size() - at));
  }
  png_write_chunk(png, iend, nullptr, 0);
  return true;
}

}  // namespace

std::optional<Bytes> encodePNG(const Image& image) {
  if (image.empty() || image.width() > PNG_USER_WIDTH_MAX || image.height() > PNG_USER_HEIGHT_MAX) {
    return std::nullopt;
  }
  auto data = image::zlibStripes(image.height(), stripeCount(image), 1,
                                 [&](std::int64_t begin, std::int64_t end, image::StripeBytes& out) {
                                   appendScanlines(image, begin, end, out);
                                 });
  if (!data) return std::nullopt;
  PngWriter writer;
  if (!writer.png || !writer.info) return std::nullopt;
  Bytes out;
  out.reserve(data->size() + 1024);
  if (!writePng(writer.png, writer.info, image, *data, out)) return std::nullopt;
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
