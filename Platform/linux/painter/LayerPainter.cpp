#include "Platform/linux/painter/LayerPainter.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "Platform/linux/handles/CairoPtr.h"
#include "Platform/linux/painter/RoundedRect.h"

namespace zoba::platform::linux_backend {

namespace {

bool overlaps(const PixelRect& a, const PixelRect& b) { return !intersection(a, b).empty(); }

// Whether some pixel of the subtree at `index` may fall in `box`.
bool subtreeTouches(const std::vector<ShownLayer>& layers,
                    const std::vector<std::vector<std::size_t>>& sublayers, std::size_t index,
                    const PixelRect& box) {
  if (layers[index].hidden) return false;
  if (overlaps(layers[index].extent, box)) return true;
  for (auto sub : sublayers[index]) {
    if (subtreeTouches(layers, sublayers, sub, box)) return true;
  }
  return false;
}

bool isWhole(double value) { return std::abs(value - std::round(value)) < 1e-6; }

}  // namespace

void LayerPainter::paint(cairo_t* cr, const std::vector<ShownLayer>& layers,
                         std::span<const PixelRect> clip) {
  if (clip.empty() || layers.empty()) return;
  layers_ = &layers;
  sublayers_.assign(layers.size(), {});
  std::vector<std::size_t> roots;
  for (std::size_t i = 0; i < layers.size(); ++i) {
    const int parent = layers[i].parent;
    if (parent >= 0 && static_cast<std::size_t>(parent) < i) {
      sublayers_[static_cast<std::size_t>(parent)].push_back(i);
    } else {
      roots.push_back(i);
    }
  }
  clipBox_ = {};
  cairo_save(cr);
  cairo_new_path(cr);
  for (const auto& rect : clip) {
    cairo_rectangle(cr, rect.x, rect.y, rect.width, rect.height);
    clipBox_ = unionOf(clipBox_, rect);
  }
  cairo_clip(cr);
  for (auto root : roots) drawLayer(cr, root);
  cairo_restore(cr);
  layers_ = nullptr;
}

void LayerPainter::drawLayer(cairo_t* cr, std::size_t index) {
  const auto& layers = *layers_;
  const ShownLayer& layer = layers[index];
  if (!subtreeTouches(layers, sublayers_, index, clipBox_)) return;
  const auto& shown = layer.shown;
  const double opacity = std::clamp(shown.opacity, 0.0, 1.0);
  const auto& subs = sublayers_[index];
  // Sublayers fade as one picture with their superlayer, not one by one.
  const bool group = opacity < 1 && !subs.empty();
  const double alpha = group ? 1.0 : opacity;
  const Rect& frame = layer.frame;

  cairo_save(cr);
  if (group) cairo_push_group(cr);

  if (auto shadow = shadowShape(layers, index)) {
    // The shape's own layer paints over the middle of its shadow right after:
    // no need to fill what it hides.
    PixelRect covered;
    if (drawsItself(shown)) {
      covered = opaqueInterior(layer);
    } else if (!subs.empty() && subs.front() == index + 1) {
      covered = opaqueInterior(layers[index + 1]);
      if (shown.masksToBounds) {
        const auto inside = interiorBoxes(frame, shown.cornerRadius);
        covered = inside.empty() ? PixelRect{} : intersection(covered, inside.front());
      }
    }
    const auto& color = shown.shadowColor;
    Rect cast(shadow->rect.minX() + shown.shadowOffset.width, shadow->rect.minY() - shown.shadowOffset.height,
              shadow->rect.width(), shadow->rect.height());
    shadows_.draw(cr, cast, shadow->cornerRadius, shown.shadowRadius, color.red, color.green, color.blue,
                  color.alpha * std::clamp(shown.shadowOpacity, 0.0, 1.0) * alpha, covered);
  }
  if (shown.backgroundColor && shown.backgroundColor->alpha > 0) {
    const auto& color = *shown.backgroundColor;
    cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha * alpha);
    cairo_new_path(cr);
    roundedRectangle(cr, frame.minX(), frame.minY(), frame.width(), frame.height(), shown.cornerRadius);
    cairo_fill(cr);
  }
  const bool hasContents = shown.contents && !shown.contents->empty();
  const bool rounded = shown.masksToBounds && shown.cornerRadius > 0;
  if (shown.masksToBounds && !subs.empty()) {
    cairo_new_path(cr);
    roundedRectangle(cr, frame.minX(), frame.minY(), frame.width(), frame.height(), shown.cornerRadius);
    cairo_clip(cr);
  }
  // Without sublayers the rounded mask is the contents' own fill path: cheaper
  // than an antialiased clip.
  if (hasContents) drawContents(cr, layer, alpha, rounded && subs.empty());
  for (auto sub : subs) drawLayer(cr, sub);

  if (group) {
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, opacity);
  }
  cairo_restore(cr);
}

void LayerPainter::drawContents(cairo_t* cr, const ShownLayer& layer, double alpha, bool roundedFill) {
  const auto& shown = layer.shown;
  const Image& image = *shown.contents;
  const Rect source = contentsSourceRect(shown.contentsRect, static_cast<double>(image.width()),
                                         static_cast<double>(image.height()));
  const Rect& frame = layer.frame;
  if (source.width() <= 0 || source.height() <= 0 || frame.width() <= 0 || frame.height() <= 0) return;
  const double scaleX = frame.width() / source.width(), scaleY = frame.height() / source.height();
  const int level = ReducedContents::levelFor(std::max(scaleX, scaleY));
  const Image& copy = contents_.reduced(image, level);
  const double factor = static_cast<double>(copy.width()) / static_cast<double>(image.width());
  const double factorY = static_cast<double>(copy.height()) / static_cast<double>(image.height());

  // Cairo only reads a source surface; the image stays immutable.
  CairoSurfacePtr surface(cairo_image_surface_create_for_data(
      const_cast<unsigned char*>(copy.row(0)),
      copy.format() == Image::Format::opaque ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32,
      static_cast<int>(copy.width()), static_cast<int>(copy.height()), static_cast<int>(copy.bytesPerRow())));
  CairoPatternPtr pattern(cairo_pattern_create_for_surface(surface.get()));
  cairo_matrix_t matrix;
  cairo_matrix_init_translate(&matrix, source.minX() * factor, source.minY() * factorY);
  cairo_matrix_scale(&matrix, source.width() * factor / frame.width(),
                     source.height() * factorY / frame.height());
  cairo_matrix_translate(&matrix, -frame.minX(), -frame.minY());
  cairo_pattern_set_matrix(pattern.get(), &matrix);
  const bool oneToOne = std::abs(matrix.xx - 1) < 1e-9 && std::abs(matrix.yy - 1) < 1e-9 &&
                        isWhole(matrix.x0) && isWhole(matrix.y0);
  // Whole-pixel copies take pixman's plain blit; anything scaled is at most
  // halved after the reduction, where bilinear sampling looks right.
  cairo_pattern_set_filter(pattern.get(), oneToOne ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_BILINEAR);
  cairo_pattern_set_extend(pattern.get(), CAIRO_EXTEND_PAD);

  // Whole pixels inside the rounded frame are plain boxes, which pixman scales
  // straight into the target. The antialiased rim goes through the rasteriser
  // in small pieces: one path over the whole frame would make a mask of all of
  // it, and masked bilinear compositing costs several times more a pixel.
  const double radius =
      roundedFill ? std::clamp(shown.cornerRadius, 0.0, std::min(frame.width(), frame.height()) / 2) : 0;
  const auto inner = interiorBoxes(frame, radius);
  std::vector<PixelRect> rim{enclosing(frame)};
  for (const auto& box : inner) {
    std::vector<PixelRect> rest;
    for (const auto& piece : rim) {
      auto parts = difference(piece, box);
      rest.insert(rest.end(), parts.begin(), parts.end());
    }
    rim = std::move(rest);
  }
  cairo_set_source(cr, pattern.get());
  auto fill = [&] {
    if (alpha >= 1) {
      cairo_fill(cr);
    } else {
      cairo_save(cr);
      cairo_clip(cr);
      cairo_paint_with_alpha(cr, alpha);
      cairo_restore(cr);
    }
  };
  cairo_new_path(cr);
  for (const auto& box : inner) cairo_rectangle(cr, box.x, box.y, box.width, box.height);
  fill();
  for (const auto& piece : rim) {
    cairo_save(cr);
    cairo_new_path(cr);
    cairo_rectangle(cr, piece.x, piece.y, piece.width, piece.height);
    cairo_clip(cr);
    roundedRectangle(cr, frame.minX(), frame.minY(), frame.width(), frame.height(), radius);
    fill();
    cairo_restore(cr);
  }
}

void LayerPainter::retainContentsOf(const RenderTree& tree) {
  std::set<const std::uint8_t*> keep;
  for (const auto& panel : tree.panels) {
    for (const auto& layer : panel.layers) {
      if (layer.model.contents && !layer.model.contents->empty()) keep.insert(layer.model.contents->row(0));
    }
  }
  contents_.retainOnly(keep);
}

}  // namespace zoba::platform::linux_backend
