#include "Platform/linux/layers/ShadowTiles.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "Platform/linux/layers/RoundedRect.h"
#include "Platform/linux/layers/ShownLayers.h"

namespace zoba::platform::linux_backend {

namespace {

// A separable Gaussian blur of an A8 surface, in place.
void blur(cairo_surface_t* surface, double sigma, int reach) {
  if (sigma <= 0 || reach <= 0) return;
  cairo_surface_flush(surface);
  const int width = cairo_image_surface_get_width(surface), height = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  unsigned char* data = cairo_image_surface_get_data(surface);
  std::vector<double> kernel(static_cast<std::size_t>(2 * reach + 1));
  double sum = 0;
  for (int i = -reach; i <= reach; ++i) sum += kernel[static_cast<std::size_t>(i + reach)] = std::exp(-i * i / (2 * sigma * sigma));
  for (auto& weight : kernel) weight /= sum;

  std::vector<double> in(static_cast<std::size_t>(width * height)), out(in.size());
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) in[static_cast<std::size_t>(y * width + x)] = data[y * stride + x];
  }
  auto pass = [&](int dx, int dy) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        double value = 0;
        for (int i = -reach; i <= reach; ++i) {
          const int sx = x + i * dx, sy = y + i * dy;
          if (sx < 0 || sy < 0 || sx >= width || sy >= height) continue;
          value += kernel[static_cast<std::size_t>(i + reach)] * in[static_cast<std::size_t>(sy * width + sx)];
        }
        out[static_cast<std::size_t>(y * width + x)] = value;
      }
    }
    std::swap(in, out);
  };
  pass(1, 0);
  pass(0, 1);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      data[y * stride + x] = static_cast<unsigned char>(std::clamp(std::lround(in[static_cast<std::size_t>(y * width + x)]), 0L, 255L));
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
  return tiles_.emplace(key, std::move(tile)).first->second;
}

void ShadowTiles::draw(cairo_t* cr, const Rect& rect, double cornerRadius, double blurRadius, double red,
                       double green, double blue, double alpha) {
  if (alpha <= 0 || rect.width() <= 0 || rect.height() <= 0) return;
  const int radius = static_cast<int>(std::lround(std::clamp(cornerRadius, 0.0, std::min(rect.width(), rect.height()) / 2)));
  const Tile& t = tile(radius, blurRadius);
  const double k = t.corner;
  const double left = rect.minX() - t.reach, top = rect.minY() - t.reach;
  const double width = rect.width() + 2 * t.reach, height = rect.height() + 2 * t.reach;

  CairoPatternPtr mask(cairo_pattern_create_for_surface(t.mask.get()));
  cairo_pattern_set_filter(mask.get(), CAIRO_FILTER_BILINEAR);
  cairo_pattern_set_extend(mask.get(), CAIRO_EXTEND_PAD);
  cairo_save(cr);
  cairo_set_source_rgba(cr, red, green, blue, alpha);
  // A shape smaller than the tile's corners: the whole tile, squeezed.
  if (width < 2 * k + 1 || height < 2 * k + 1) {
    cairo_matrix_t matrix;
    cairo_matrix_init_scale(&matrix, (2 * k + 1) / width, (2 * k + 1) / height);
    cairo_matrix_translate(&matrix, -left, -top);
    cairo_pattern_set_matrix(mask.get(), &matrix);
    cairo_rectangle(cr, left, top, width, height);
    cairo_clip(cr);
    cairo_mask(cr, mask.get());
    cairo_restore(cr);
    return;
  }
  // Nine slices: corners as they are, edges stretched from the middle pixel.
  const double sourceStart[3] = {0, k, k + 1}, sourceLength[3] = {k, 1, k};
  const double xs[3] = {left, left + k, left + width - k}, ws[3] = {k, width - 2 * k, k};
  const double ys[3] = {top, top + k, top + height - k}, hs[3] = {k, height - 2 * k, k};
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      cairo_save(cr);
      cairo_rectangle(cr, xs[column], ys[row], ws[column], hs[row]);
      if (row == 1 && column == 1) {
        // Fully inside the shape: the tile's centre is solid.
        cairo_fill(cr);
      } else {
        cairo_clip(cr);
        cairo_matrix_t matrix;
        cairo_matrix_init_translate(&matrix, sourceStart[column], sourceStart[row]);
        cairo_matrix_scale(&matrix, sourceLength[column] / ws[column], sourceLength[row] / hs[row]);
        cairo_matrix_translate(&matrix, -xs[column], -ys[row]);
        cairo_pattern_set_matrix(mask.get(), &matrix);
        cairo_mask(cr, mask.get());
      }
      cairo_restore(cr);
    }
  }
  cairo_restore(cr);
}

}  // namespace zoba::platform::linux_backend
