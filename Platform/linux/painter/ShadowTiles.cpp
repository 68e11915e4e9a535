#include "Platform/linux/painter/ShadowTiles.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "Platform/linux/layers/ShownLayers.h"
#include "Platform/linux/painter/RoundedRect.h"

namespace zoba::platform::linux_backend {

namespace {

// Four floats, added and scaled as one (GCC and Clang vector extensions).
constexpr std::size_t kLanes = 4;
using Lanes = float __attribute__((vector_size(kLanes * sizeof(float))));
Lanes load(const float* from) {
  Lanes lanes;
  std::memcpy(&lanes, from, sizeof lanes);
  return lanes;
}
void store(float* to, Lanes lanes) { std::memcpy(to, &lanes, sizeof lanes); }

// A separable Gaussian blur of an A8 surface, in place, in a zero-padded float
// copy four columns at a time: a tile is made on the frame that first needs it,
// and an animated corner radius needs a new one every frame.
void blur(cairo_surface_t* surface, double sigma, int reach) {
  if (sigma <= 0 || reach <= 0) return;
  cairo_surface_flush(surface);
  const int width = cairo_image_surface_get_width(surface), height = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  unsigned char* data = cairo_image_surface_get_data(surface);
  std::vector<float> kernel(static_cast<std::size_t>(2 * reach + 1));
  double sum = 0;
  for (int i = -reach; i <= reach; ++i) sum += std::exp(-i * i / (2 * sigma * sigma));
  for (int i = -reach; i <= reach; ++i) {
    kernel[static_cast<std::size_t>(i + reach)] =
        static_cast<float>(std::exp(-i * i / (2 * sigma * sigma)) / sum);
  }

  // Rows of the padded buffer: `reach` zeros either side and above and below,
  // and whole blocks of four columns, each summed in one vector register.
  const auto r = static_cast<std::size_t>(reach);
  const auto w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
  const std::size_t blocks = (w + kLanes - 1) / kLanes;
  const std::size_t paddedWidth = blocks * kLanes + 2 * r;
  std::vector<float> in(paddedWidth * (h + 2 * r), 0.f), out(in.size(), 0.f);
  for (int y = 0; y < height; ++y) {
    float* row = &in[(static_cast<std::size_t>(y) + r) * paddedWidth + r];
    for (int x = 0; x < width; ++x) row[x] = data[y * stride + x];
  }
  // Horizontal, into the same padded places of `out`.
  for (std::size_t y = r; y < r + h; ++y) {
    const float* source = &in[y * paddedWidth];
    for (std::size_t x = 0; x < blocks * kLanes; x += kLanes) {
      Lanes sum{};
      for (std::size_t tap = 0; tap < kernel.size(); ++tap) sum += kernel[tap] * load(source + x + tap);
      store(&out[y * paddedWidth + r + x], sum);
    }
  }
  // Vertical, back into `in`.
  for (std::size_t y = 0; y < h; ++y) {
    for (std::size_t x = 0; x < blocks * kLanes; x += kLanes) {
      Lanes sum{};
      for (std::size_t tap = 0; tap < kernel.size(); ++tap) {
        sum += kernel[tap] * load(&out[(y + tap) * paddedWidth + r + x]);
      }
      store(&in[(y + r) * paddedWidth + r + x], sum);
    }
  }
  for (int y = 0; y < height; ++y) {
    const float* row = &in[(static_cast<std::size_t>(y) + r) * paddedWidth + r];
    for (int x = 0; x < width; ++x) {
      data[y * stride + x] = static_cast<unsigned char>(std::clamp(std::lround(row[x]), 0L, 255L));
    }
  }
  cairo_surface_mark_dirty(surface);
}

}  // namespace

const ShadowTiles::Tile& ShadowTiles::tile(int cornerRadius, double blurRadius) {
  const std::pair key{cornerRadius, static_cast<int>(std::lround(blurRadius * 10))};
  if (auto found = tiles_.find(key); found != tiles_.end()) return found->second;
  Tile tile;
  tile.reach = shadowReach(blurRadius);
  // The straight middle must lie a full blur reach away from both corners, so
  // that its one-pixel row and column are the profile of an endless edge.
  const int shape = 2 * cornerRadius + 2 * tile.reach + 1;
  tile.corner = tile.reach + cornerRadius + tile.reach;
  const int size = 2 * tile.corner + 1;
  tile.mask.reset(cairo_image_surface_create(CAIRO_FORMAT_A8, size, size));
  {
    CairoPtr cr(cairo_create(tile.mask.get()));
    roundedRectangle(cr.get(), tile.reach, tile.reach, shape, shape, cornerRadius);
    cairo_fill(cr.get());
  }
  blur(tile.mask.get(), blurRadius / 2, tile.reach);
  // The edges as unscaled masks: the middle column (and row) repeated along a
  // strip, so that drawing an edge is a plain masked fill, a few strips long.
  cairo_surface_flush(tile.mask.get());
  const unsigned char* pixels = cairo_image_surface_get_data(tile.mask.get());
  const int tileStride = cairo_image_surface_get_stride(tile.mask.get());
  tile.across.reset(cairo_image_surface_create(CAIRO_FORMAT_A8, kStripLength, size));
  tile.down.reset(cairo_image_surface_create(CAIRO_FORMAT_A8, size, kStripLength));
  unsigned char* across = cairo_image_surface_get_data(tile.across.get());
  unsigned char* down = cairo_image_surface_get_data(tile.down.get());
  const int acrossStride = cairo_image_surface_get_stride(tile.across.get());
  const int downStride = cairo_image_surface_get_stride(tile.down.get());
  for (int y = 0; y < size; ++y) {
    std::fill_n(across + y * acrossStride, kStripLength, pixels[y * tileStride + tile.corner]);
  }
  for (int y = 0; y < kStripLength; ++y) {
    std::copy_n(pixels + tile.corner * tileStride, size, down + y * downStride);
  }
  cairo_surface_mark_dirty(tile.across.get());
  cairo_surface_mark_dirty(tile.down.get());
  return tiles_.emplace(key, std::move(tile)).first->second;
}

void ShadowTiles::draw(cairo_t* cr, const Rect& rect, double cornerRadius, double blurRadius, double red,
                       double green, double blue, double alpha, const PixelRect& covered) {
  if (alpha <= 0 || rect.width() <= 0 || rect.height() <= 0) return;
  const int radius =
      static_cast<int>(std::lround(std::clamp(cornerRadius, 0.0, std::min(rect.width(), rect.height()) / 2)));
  const Tile& t = tile(radius, blurRadius);
  const int k = t.corner;
  // Whole pixels: every slice is then an unscaled mask, which pixman fills
  // directly; half a pixel of a blurred edge is not to be seen.
  const int left = static_cast<int>(std::lround(rect.minX())) - t.reach;
  const int top = static_cast<int>(std::lround(rect.minY())) - t.reach;
  const int width = static_cast<int>(std::lround(rect.width())) + 2 * t.reach;
  const int height = static_cast<int>(std::lround(rect.height())) + 2 * t.reach;

  cairo_save(cr);
  cairo_set_source_rgba(cr, red, green, blue, alpha);
  // A shape smaller than the tile's corners: the whole tile, squeezed.
  if (width < 2 * k + 1 || height < 2 * k + 1) {
    CairoPatternPtr mask(cairo_pattern_create_for_surface(t.mask.get()));
    cairo_pattern_set_filter(mask.get(), CAIRO_FILTER_BILINEAR);
    cairo_pattern_set_extend(mask.get(), CAIRO_EXTEND_PAD);
    cairo_matrix_t matrix;
    cairo_matrix_init_scale(&matrix, (2.0 * k + 1) / width, (2.0 * k + 1) / height);
    cairo_matrix_translate(&matrix, -left, -top);
    cairo_pattern_set_matrix(mask.get(), &matrix);
    cairo_rectangle(cr, left, top, width, height);
    cairo_clip(cr);
    cairo_mask(cr, mask.get());
    cairo_restore(cr);
    return;
  }
  // `surface` placed at (x, y), masking the source inside `box` only.
  auto maskIn = [cr](cairo_surface_t* surface, int x, int y, const PixelRect& box) {
    if (box.empty()) return;
    cairo_save(cr);
    cairo_rectangle(cr, box.x, box.y, box.width, box.height);
    cairo_clip(cr);
    cairo_mask_surface(cr, surface, x, y);
    cairo_restore(cr);
  };
  const int right = left + width, bottom = top + height, size = 2 * k + 1;
  // Corners as they are.
  maskIn(t.mask.get(), left, top, {left, top, k, k});
  maskIn(t.mask.get(), right - size, top, {right - k, top, k, k});
  maskIn(t.mask.get(), left, bottom - size, {left, bottom - k, k, k});
  maskIn(t.mask.get(), right - size, bottom - size, {right - k, bottom - k, k, k});
  // Edges, a strip at a time.
  for (int x = left + k; x < right - k; x += kStripLength) {
    const int length = std::min(kStripLength, right - k - x);
    maskIn(t.across.get(), x, top, {x, top, length, k});
    maskIn(t.across.get(), x, bottom - size, {x, bottom - k, length, k});
  }
  for (int y = top + k; y < bottom - k; y += kStripLength) {
    const int length = std::min(kStripLength, bottom - k - y);
    maskIn(t.down.get(), left, y, {left, y, k, length});
    maskIn(t.down.get(), right - size, y, {right - k, y, k, length});
  }
  // The solid middle, less what the caller paints over opaquely.
  const PixelRect middle{left + k, top + k, width - 2 * k, height - 2 * k};
  cairo_new_path(cr);
  for (const auto& band : difference(middle, covered))
    cairo_rectangle(cr, band.x, band.y, band.width, band.height);
  cairo_fill(cr);
  cairo_restore(cr);
}

}  // namespace zoba::platform::linux_backend
