// Drawing through Cairo. Images share their pixels with Cairo surfaces in both
// directions: our word layout is Cairo's RGB24 and ARGB32.
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "Platform/Image.h"
#include "Platform/linux/handles/CairoPtr.h"

namespace zoba::platform {

namespace {

using linux_backend::CairoPtr;
using linux_backend::CairoSurfacePtr;

cairo_format_t cairoFormat(Image::Format format) {
  return format == Image::Format::opaque ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32;
}

// Rounded quotients of channel sums by one pixel count, by a multiplication: a
// division per channel took most of a preview's time. Exact for counts below 2^12
// (sums below 2^20); larger counts divide.
class BlockDivider {
 public:
  explicit BlockDivider(std::uint32_t count)
      : count_(count), magic_(count < 4096 ? (std::uint64_t{1} << 40) / count + 1 : 0) {}
  std::uint8_t rounded(std::uint32_t sum) const {
    const std::uint32_t half = sum + count_ / 2;
    return static_cast<std::uint8_t>(magic_ ? (half * magic_) >> 40 : half / count_);
  }

 private:
  std::uint32_t count_;
  std::uint64_t magic_;
};

// The average of every k × k block, each channel byte on its own (right for
// premultiplied words; an opaque image's undefined top byte stays undefined).
// Blocks at the right and bottom edges average the pixels they have.
Image averageBlocks(const Image& image, std::int64_t k) {
  const std::int64_t width = image.width(), height = image.height();
  const std::int64_t outWidth = (width + k - 1) / k, outHeight = (height + k - 1) / k;
  std::vector<std::uint32_t> out(static_cast<std::size_t>(outWidth * outHeight));
  // The block row's rows are summed per channel byte first, a loop the compiler
  // vectorises, then each block's columns.
  const auto rowBytes = static_cast<std::size_t>(width * 4);
  std::vector<std::uint32_t> columns(rowBytes);
  std::vector<std::uint32_t> sums(static_cast<std::size_t>(outWidth * 4));
  for (std::int64_t oy = 0; oy < outHeight; ++oy) {
    std::fill(columns.begin(), columns.end(), 0u);
    const std::int64_t y0 = oy * k, y1 = std::min(height, y0 + k);
    for (std::int64_t y = y0; y < y1; ++y) {
      const std::uint8_t* row = image.row(y);
      std::uint32_t* column = columns.data();
      for (std::size_t i = 0; i < rowBytes; ++i) column[i] += row[i];
    }
    std::fill(sums.begin(), sums.end(), 0u);
    const std::uint32_t* column = columns.data();
    std::uint32_t* sum = sums.data();
    for (std::int64_t x0 = 0; x0 < width; x0 += k, sum += 4) {
      for (std::int64_t x = x0; x < std::min(width, x0 + k); ++x, column += 4) {
        for (int c = 0; c < 4; ++c) sum[c] += column[c];
      }
    }
    // Every block of the row but a narrower last one has the same count.
    const BlockDivider whole(static_cast<std::uint32_t>((y1 - y0) * k));
    const BlockDivider last(static_cast<std::uint32_t>((y1 - y0) * (width - (outWidth - 1) * k)));
    for (std::int64_t ox = 0; ox < outWidth; ++ox) {
      const BlockDivider& divider = ox + 1 < outWidth ? whole : last;
      std::uint8_t bytes[4];
      for (int c = 0; c < 4; ++c) bytes[c] = divider.rounded(sums[ox * 4 + c]);
      std::memcpy(&out[static_cast<std::size_t>(oy * outWidth + ox)], bytes, 4);
    }
  }
  return Image::fromWords(outWidth, outHeight, image.format(), std::move(out));
}

}  // namespace

struct BitmapContext::Surface {
  CairoSurfacePtr surface;
  CairoPtr cr;  // destroyed first: it references the surface
  Image::Format format = Image::Format::opaque;
};

BitmapContext::BitmapContext(std::unique_ptr<Surface> surface) : surface_(std::move(surface)) {}
BitmapContext::BitmapContext(BitmapContext&&) noexcept = default;
BitmapContext& BitmapContext::operator=(BitmapContext&&) noexcept = default;
BitmapContext::~BitmapContext() = default;

std::optional<BitmapContext> BitmapContext::create(std::int64_t width, std::int64_t height,
                                                   Image::Format format) {
  if (width <= 0 || height <= 0 || width > 32767 || height > 32767) return std::nullopt;
  auto surface = std::make_unique<Surface>();
  surface->format = format;
  surface->surface.reset(
      cairo_image_surface_create(cairoFormat(format), static_cast<int>(width), static_cast<int>(height)));
  if (cairo_surface_status(surface->surface.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;
  surface->cr.reset(cairo_create(surface->surface.get()));
  if (cairo_status(surface->cr.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;
  return BitmapContext(std::move(surface));
}

std::int64_t BitmapContext::width() const { return cairo_image_surface_get_width(surface_->surface.get()); }
std::int64_t BitmapContext::height() const { return cairo_image_surface_get_height(surface_->surface.get()); }

void BitmapContext::fill(const Rect& rect, const Color& color) {
  cairo_t* cr = surface_->cr.get();
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha);
  cairo_rectangle(cr, rect.minX(), rect.minY(), rect.width(), rect.height());
  cairo_fill(cr);
  cairo_restore(cr);
}

void BitmapContext::draw(const Image& original, const Rect& rect) {
  if (original.empty() || rect.width() <= 0 || rect.height() <= 0) return;
  // Cairo's box filter costs about as much per source pixel as a screenshot's
  // PNG does; shrinking by two or more, plain block averages take the whole
  // blocks first (a few milliseconds) and Cairo filters what is left.
  const double shrink = std::min(static_cast<double>(original.width()) / rect.width(),
                                 static_cast<double>(original.height()) / rect.height());
  std::int64_t block = 1;
  std::optional<Image> reduced;
  if (shrink >= 2 && std::isfinite(shrink)) {
    block = static_cast<std::int64_t>(shrink);
    // Cairo filters a shrink below 4/3 bilinearly and a larger one by a costly
    // convolution (8 ms more for a 1916-pixel-wide screenshot): larger blocks
    // leave the smaller rest.
    if (shrink / static_cast<double>(block) > 4.0 / 3.0) ++block;
    reduced = averageBlocks(original, block);
  }
  const Image& image = reduced ? *reduced : original;
  // The source's extent in block units: a partial edge block is only as wide as
  // the pixels it averages, and the clip cuts the rest.
  const double extentX = static_cast<double>(original.width()) / static_cast<double>(block);
  const double extentY = static_cast<double>(original.height()) / static_cast<double>(block);
  // Cairo only reads this surface; the image's pixels stay immutable.
  const CairoSurfacePtr source(cairo_image_surface_create_for_data(
      const_cast<unsigned char*>(image.row(0)), cairoFormat(image.format()), static_cast<int>(image.width()),
      static_cast<int>(image.height()), static_cast<int>(image.bytesPerRow())));
  cairo_t* cr = surface_->cr.get();
  if (cairo_surface_status(source.get()) != CAIRO_STATUS_SUCCESS) {
    // Leaves the context in an error state, so makeImage() reports the failure.
    cairo_set_source_surface(cr, source.get(), 0, 0);
    return;
  }
  cairo_save(cr);
  cairo_rectangle(cr, rect.minX(), rect.minY(), rect.width(), rect.height());
  cairo_clip(cr);
  cairo_translate(cr, rect.minX(), rect.minY());
  cairo_scale(cr, rect.width() / extentX, rect.height() / extentY);
  cairo_set_source_surface(cr, source.get(), 0, 0);
  cairo_pattern_t* pattern = cairo_get_source(cr);
  cairo_pattern_set_filter(pattern, CAIRO_FILTER_GOOD);
  // Edge pixels repeat outward, so the border is not faded towards transparency.
  cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
  cairo_paint(cr);
  cairo_restore(cr);
  // Cairo may still hold the source in its snapshot cache; let go of it now, as
  // the image's pixels are only borrowed.
  cairo_surface_finish(source.get());
}

std::optional<Image> BitmapContext::makeImage() && {
  if (cairo_status(surface_->cr.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;
  surface_->cr.reset();
  cairo_surface_t* surface = surface_->surface.release();
  cairo_surface_flush(surface);
  const auto format = surface_->format;
  std::shared_ptr<const void> owner(surface, [](const void* s) {
    cairo_surface_destroy(static_cast<cairo_surface_t*>(const_cast<void*>(s)));
  });
  return Image(cairo_image_surface_get_width(surface), cairo_image_surface_get_height(surface),
               static_cast<std::size_t>(cairo_image_surface_get_stride(surface)), format, std::move(owner),
               cairo_image_surface_get_data(surface));
}

}  // namespace zoba::platform
