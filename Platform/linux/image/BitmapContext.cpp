// Drawing through Cairo. Images share their pixels with Cairo surfaces in both
// directions: our word layout is Cairo's RGB24 and ARGB32.
#include <cairo.h>

#include <utility>

#include "Platform/Image.h"

namespace zoba::platform {

namespace {

struct SurfaceRef {
  cairo_surface_t* surface;
  ~SurfaceRef() { cairo_surface_destroy(surface); }
};

cairo_format_t cairoFormat(Image::Format format) {
  return format == Image::Format::opaque ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32;
}

}  // namespace

struct BitmapContext::Surface {
  cairo_surface_t* surface = nullptr;
  cairo_t* cr = nullptr;
  Image::Format format = Image::Format::opaque;
  ~Surface() {
    if (cr) cairo_destroy(cr);
    if (surface) cairo_surface_destroy(surface);
  }
};

BitmapContext::BitmapContext(std::unique_ptr<Surface> surface) : surface_(std::move(surface)) {}
BitmapContext::BitmapContext(BitmapContext&&) noexcept = default;
BitmapContext& BitmapContext::operator=(BitmapContext&&) noexcept = default;
BitmapContext::~BitmapContext() = default;

std::optional<BitmapContext> BitmapContext::create(std::int64_t width, std::int64_t height, Image::Format format) {
  if (width <= 0 || height <= 0 || width > 32767 || height > 32767) return std::nullopt;
  auto surface = std::make_unique<Surface>();
  surface->format = format;
  surface->surface = cairo_image_surface_create(cairoFormat(format), static_cast<int>(width), static_cast<int>(height));
  if (cairo_surface_status(surface->surface) != CAIRO_STATUS_SUCCESS) return std::nullopt;
  surface->cr = cairo_create(surface->surface);
  if (cairo_status(surface->cr) != CAIRO_STATUS_SUCCESS) return std::nullopt;
  return BitmapContext(std::move(surface));
}

std::int64_t BitmapContext::width() const { return cairo_image_surface_get_width(surface_->surface); }
std::int64_t BitmapContext::height() const { return cairo_image_surface_get_height(surface_->surface); }

void BitmapContext::fill(const Rect& rect, const Color& color) {
  cairo_t* cr = surface_->cr;
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha);
  cairo_rectangle(cr, rect.minX(), rect.minY(), rect.width(), rect.height());
  cairo_fill(cr);
  cairo_restore(cr);
}

void BitmapContext::draw(const Image& image, const Rect& rect) {
  if (image.empty() || rect.width() <= 0 || rect.height() <= 0) return;
  // Cairo only reads this surface; the image's pixels stay immutable.
  SurfaceRef source{cairo_image_surface_create_for_data(
      const_cast<unsigned char*>(image.row(0)), cairoFormat(image.format()), static_cast<int>(image.width()),
      static_cast<int>(image.height()), static_cast<int>(image.bytesPerRow()))};
  cairo_t* cr = surface_->cr;
  if (cairo_surface_status(source.surface) != CAIRO_STATUS_SUCCESS) {
    // Leaves the context in an error state, so makeImage() reports the failure.
    cairo_set_source_surface(cr, source.surface, 0, 0);
    return;
  }
  cairo_save(cr);
  cairo_rectangle(cr, rect.minX(), rect.minY(), rect.width(), rect.height());
  cairo_clip(cr);
  cairo_translate(cr, rect.minX(), rect.minY());
  cairo_scale(cr, rect.width() / static_cast<double>(image.width()), rect.height() / static_cast<double>(image.height()));
  cairo_set_source_surface(cr, source.surface, 0, 0);
  cairo_pattern_t* pattern = cairo_get_source(cr);
  cairo_pattern_set_filter(pattern, CAIRO_FILTER_GOOD);
  // Edge pixels repeat outward, so the border is not faded towards transparency.
  cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
  cairo_paint(cr);
  cairo_restore(cr);
  // Cairo may still hold the source in its snapshot cache; let go of it now, as
  // the image's pixels are only borrowed.
  cairo_surface_finish(source.surface);
}

std::optional<Image> BitmapContext::makeImage() && {
  if (cairo_status(surface_->cr) != CAIRO_STATUS_SUCCESS) return std::nullopt;
  cairo_destroy(surface_->cr);
  surface_->cr = nullptr;
  cairo_surface_t* surface = std::exchange(surface_->surface, nullptr);
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
