#pragma once

// Bitmaps and their encodings: the immutable image that screenshots, icons and
// overlay contents travel in, PNG and JPEG encoding, Base64, and drawing into a
// fresh bitmap.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ZobaCaptureCore/Rect.h"

namespace zoba::platform {

// An immutable bitmap. Each pixel is one native-endian 32-bit word 0xAARRGGBB
// (bytes B, G, R, A on little-endian machines), the layout X servers and Cairo
// use, so screenshots need no conversion. Copies share the pixels.
class Image {
 public:
  enum class Format {
    opaque,         // the top byte is undefined and ignored
    premultiplied,  // the top byte is alpha; colours are premultiplied by it
  };

  // The empty image, 0 × 0.
  Image() = default;
  // `pixels` holds `height` rows of `bytesPerRow` bytes each (at least width × 4);
  // `owner` keeps them alive (a vector, a shared-memory mapping, a drawing surface).
  Image(std::int64_t width, std::int64_t height, std::size_t bytesPerRow, Format format,
        std::shared_ptr<const void> owner, const std::uint8_t* pixels)
      : width_(width),
        height_(height),
        bytesPerRow_(bytesPerRow),
        format_(format),
        owner_(std::move(owner)),
        pixels_(pixels) {}

  // An image that owns a copy of tightly packed 0xAARRGGBB words.
  static Image fromWords(std::int64_t width, std::int64_t height, Format format,
                         std::vector<std::uint32_t> words) {
    auto owned = std::make_shared<std::vector<std::uint32_t>>(std::move(words));
    auto* bytes = reinterpret_cast<const std::uint8_t*>(owned->data());
    return Image(width, height, static_cast<std::size_t>(width) * 4, format, std::move(owned), bytes);
  }

  std::int64_t width() const { return width_; }
  std::int64_t height() const { return height_; }
  std::size_t bytesPerRow() const { return bytesPerRow_; }
  Format format() const { return format_; }
  bool empty() const { return width_ <= 0 || height_ <= 0 || pixels_ == nullptr; }
  const std::uint8_t* row(std::int64_t y) const {
    return pixels_ + static_cast<std::size_t>(y) * bytesPerRow_;
  }
  // The pixel word at (x, y), top-left origin; alpha forced to 0xFF for opaque images.
  std::uint32_t pixel(std::int64_t x, std::int64_t y) const {
    std::uint32_t word;
    std::memcpy(&word, row(y) + static_cast<std::size_t>(x) * 4, 4);
    return format_ == Format::opaque ? (word | 0xFF000000u) : word;
  }

 private:
  std::int64_t width_ = 0;
  std::int64_t height_ = 0;
  std::size_t bytesPerRow_ = 0;
  Format format_ = Format::opaque;
  std::shared_ptr<const void> owner_;
  const std::uint8_t* pixels_ = nullptr;
};

using Bytes = std::vector<std::uint8_t>;

// PNG of the image at its own size (RGB for opaque images, RGBA otherwise), tuned
// for speed over size. Absent when the image is empty or the encoder fails.
std::optional<Bytes> encodePNG(const Image& image);
// The image of a PNG file, premultiplied; absent when it is not a readable PNG.
std::optional<Image> decodePNG(std::span<const std::uint8_t> png);

// Baseline JPEG, 4:2:0 chroma subsampling, `quality` 1–100. Alpha is ignored: draw
// a transparent image over a background first. Absent when the encoder fails.
std::optional<Bytes> encodeJPEG(const Image& image, int quality);
// Width and height of a JPEG file; absent when it is not one.
std::optional<std::pair<std::int64_t, std::int64_t>> jpegSize(std::span<const std::uint8_t> jpeg);
// The image of a JPEG file (opaque); absent when it is not one.
std::optional<Image> decodeJPEG(std::span<const std::uint8_t> jpeg);

// Standard alphabet, padded, no line breaks.
std::string base64Encode(std::span<const std::uint8_t> bytes);
// Absent when the text is not padded standard Base64.
std::optional<Bytes> base64Decode(std::string_view text);

struct Color {
  double red = 0, green = 0, blue = 0, alpha = 1;
};

// A fresh bitmap to draw into, top-left origin, in pixels. Dropped work is freed
// with it; makeImage() hands the pixels over without copying.
class BitmapContext {
 public:
  // Absent when the size is not positive or no memory is left.
  static std::optional<BitmapContext> create(std::int64_t width, std::int64_t height, Image::Format format);

  BitmapContext(BitmapContext&&) noexcept;
  BitmapContext& operator=(BitmapContext&&) noexcept;
  ~BitmapContext();

  std::int64_t width() const;
  std::int64_t height() const;
  void fill(const Rect& rect, const Color& color);
  // Draws the whole image stretched into `rect`, with a good (box-averaging)
  // filter when shrinking and bilinear when enlarging; transparent parts blend
  // over what is there.
  void draw(const Image& image, const Rect& rect);
  // The drawn pixels as an image; the context is used up.
  std::optional<Image> makeImage() &&;

 private:
  struct Surface;
  explicit BitmapContext(std::unique_ptr<Surface> surface);
  std::unique_ptr<Surface> surface_;
};

}  // namespace zoba::platform
