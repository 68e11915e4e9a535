#include "Platform/linux/layers/ShownLayers.h"

#include <algorithm>
#include <cmath>

namespace zoba::platform::linux_backend {

namespace {

// Antialiased edges reach into the pixel beside a fractional edge.
constexpr double kAntialiasMargin = 1;

Rect outset(const Rect& rect, double by) {
  return Rect(rect.minX() - by, rect.minY() - by, rect.width() + 2 * by, rect.height() + 2 * by);
}

bool touches(const PixelRect& a, const PixelRect& b) {
  return a.x <= b.maxX() && b.x <= a.maxX() && a.y <= b.maxY() && b.y <= a.maxY();
}

bool sameColor(const Color& a, const Color& b) {
  return a.red == b.red && a.green == b.green && a.blue == b.blue && a.alpha == b.alpha;
}

bool sameContents(const std::optional<Image>& a, const std::optional<Image>& b) {
  if (a.has_value() != b.has_value()) return false;
  if (!a) return true;
  return a->width() == b->width() && a->height() == b->height() && (a->empty() || a->row(0) == b->row(0));
}

// Whether two frames of one layer put the same pixels on screen.
bool sameLook(const ShownLayer& a, const ShownLayer& b) {
  const auto &p = a.shown, &q = b.shown;
  const bool sameBackground = p.backgroundColor.has_value() == q.backgroundColor.has_value() &&
                              (!p.backgroundColor || sameColor(*p.backgroundColor, *q.backgroundColor));
  return a.frame == b.frame && a.hidden == b.hidden && a.alpha == b.alpha && a.extent == b.extent &&
         p.cornerRadius == q.cornerRadius && sameBackground && p.masksToBounds == q.masksToBounds &&
         sameContents(p.contents, q.contents) && p.contentsRect == q.contentsRect &&
         sameColor(p.shadowColor, q.shadowColor) && p.shadowOpacity == q.shadowOpacity &&
         p.shadowRadius == q.shadowRadius && p.shadowOffset == q.shadowOffset;
}

std::vector<PixelRect> extents(const std::vector<ShownLayer>& layers) {
  std::vector<PixelRect> rects;
  for (const auto& layer : layers) {
    if (!layer.extent.empty()) rects.push_back(layer.extent);
  }
  return rects;
}

}  // namespace

PixelRect enclosing(const Rect& rect) {
  const double left = std::floor(rect.minX()), top = std::floor(rect.minY());
  const double right = std::ceil(rect.maxX()), bottom = std::ceil(rect.maxY());
  // Far off-screen values are clamped before they meet int.
  static constexpr double limit = 1 << 24;
  auto clamp = [](double v) { return static_cast<int>(std::clamp(v, -limit, limit)); };
  return {clamp(left), clamp(top), clamp(right) - clamp(left), clamp(bottom) - clamp(top)};
}

PixelRect intersection(const PixelRect& a, const PixelRect& b) {
  const int left = std::max(a.x, b.x), top = std::max(a.y, b.y);
  const int right = std::min(a.maxX(), b.maxX()), bottom = std::min(a.maxY(), b.maxY());
  if (right <= left || bottom <= top) return {};
  return {left, top, right - left, bottom - top};
}

PixelRect unionOf(const PixelRect& a, const PixelRect& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  const int left = std::min(a.x, b.x), top = std::min(a.y, b.y);
  return {left, top, std::max(a.maxX(), b.maxX()) - left, std::max(a.maxY(), b.maxY()) - top};
}

std::vector<PixelRect> difference(const PixelRect& from, const PixelRect& hole) {
  if (from.empty()) return {};
  const PixelRect cut = intersection(from, hole);
  if (cut.empty()) return {from};
  const PixelRect bands[] = {{from.x, from.y, from.width, cut.y - from.y},
                             {from.x, cut.maxY(), from.width, from.maxY() - cut.maxY()},
                             {from.x, cut.y, cut.x - from.x, cut.height},
                             {cut.maxX(), cut.y, from.maxX() - cut.maxX(), cut.height}};
  std::vector<PixelRect> rest;
  for (const auto& band : bands) {
    if (!band.empty()) rest.push_back(band);
  }
  return rest;
}

std::vector<PixelRect> simplified(std::vector<PixelRect> rects, std::size_t maxCount) {
  std::erase_if(rects, [](const PixelRect& rect) { return rect.empty(); });
  bool merged = true;
  while (merged) {
    merged = false;
    for (std::size_t i = 0; i < rects.size() && !merged; ++i) {
      for (std::size_t j = i + 1; j < rects.size(); ++j) {
        if (!touches(rects[i], rects[j])) continue;
        rects[i] = unionOf(rects[i], rects[j]);
        rects.erase(rects.begin() + static_cast<std::ptrdiff_t>(j));
        merged = true;
        break;
      }
    }
  }
  if (rects.size() > maxCount) {
    PixelRect box;
    for (const auto& rect : rects) box = unionOf(box, rect);
    return {box};
  }
  return rects;
}

int shadowReach(double shadowRadius) {
  return static_cast<int>(std::ceil(1.5 * std::max(0.0, shadowRadius)));
}

bool drawsItself(const LayerProperties& layer) {
  return (layer.backgroundColor && layer.backgroundColor->alpha > 0) ||
         (layer.contents && !layer.contents->empty());
}

std::optional<ShadowShape> shadowShape(const std::vector<ShownLayer>& layers, std::size_t index) {
  const auto& layer = layers[index];
  if (layer.shown.shadowOpacity <= 0 || layer.shown.shadowColor.alpha <= 0) return std::nullopt;
  if (drawsItself(layer.shown)) return ShadowShape{layer.frame, layer.shown.cornerRadius};
  // Pre-order: a first sublayer comes right after its parent.
  const std::size_t first = index + 1;
  if (first < layers.size() && layers[first].parent == static_cast<int>(index)) {
    return ShadowShape{layers[first].frame, layers[first].shown.cornerRadius};
  }
  return std::nullopt;
}

std::vector<ShownLayer> showLayers(const RenderPanel& panel, double time) {
  std::vector<ShownLayer> layers;
  layers.reserve(panel.layers.size());
  std::vector<PixelRect> clips;  // what masking ancestors and the panel leave visible
  const PixelRect panelBounds{0, 0, static_cast<int>(std::lround(panel.frame.width())),
                              static_cast<int>(std::lround(panel.frame.height()))};
  for (const auto& source : panel.layers) {
    ShownLayer layer;
    layer.shown = presentation(source.model, source.animations, time);
    layer.parent = source.parent;
    const Rect local = layer.shown.frame();
    const bool valid = source.parent >= 0 && static_cast<std::size_t>(source.parent) < layers.size();
    PixelRect clip = panelBounds;
    if (valid) {
      const auto& parent = layers[static_cast<std::size_t>(source.parent)];
      const Rect& parentBounds = parent.shown.bounds;
      layer.frame = Rect(parent.frame.minX() + local.minX() - parentBounds.minX(),
                         parent.frame.minY() + parent.frame.height() - (local.maxY() - parentBounds.minY()),
                         local.width(), local.height());
      layer.hidden = parent.hidden;
      layer.alpha = parent.alpha;
      clip = clips[static_cast<std::size_t>(source.parent)];
      if (parent.shown.masksToBounds) clip = intersection(clip, enclosing(parent.frame));
    } else {
      layer.frame = Rect(local.minX(), panel.frame.height() - local.maxY(), local.width(), local.height());
    }
    layer.alpha *= std::clamp(layer.shown.opacity, 0.0, 1.0);
    layer.hidden = layer.hidden || layer.shown.opacity <= 0;
    layers.push_back(std::move(layer));
    clips.push_back(clip);
  }
  for (std::size_t i = 0; i < layers.size(); ++i) {
    auto& layer = layers[i];
    if (layer.hidden) continue;
    PixelRect extent;
    if (drawsItself(layer.shown)) extent = enclosing(outset(layer.frame, kAntialiasMargin));
    if (auto shadow = shadowShape(layers, i)) {
      const auto& s = layer.shown;
      Rect cast(shadow->rect.minX() + s.shadowOffset.width, shadow->rect.minY() - s.shadowOffset.height,
                shadow->rect.width(), shadow->rect.height());
      extent = unionOf(extent, enclosing(outset(cast, shadowReach(s.shadowRadius) + kAntialiasMargin)));
    }
    layer.extent = intersection(extent, clips[i]);
  }
  return layers;
}

std::vector<PixelRect> interiorBoxes(const Rect& frame, double radius) {
  radius = std::clamp(radius, 0.0, std::max(0.0, std::min(frame.width(), frame.height()) / 2));
  auto box = [](double left, double top, double right, double bottom) {
    const PixelRect inside = enclosing(Rect(std::ceil(left), std::ceil(top), 0, 0));
    return PixelRect{inside.x, inside.y, static_cast<int>(std::floor(right)) - inside.x,
                     static_cast<int>(std::floor(bottom)) - inside.y};
  };
  std::vector<PixelRect> boxes;
  const double left = frame.minX(), top = frame.minY(), right = frame.maxX(), bottom = frame.maxY();
  if (radius <= 0) {
    boxes.push_back(box(left, top, right, bottom));
  } else {
    const PixelRect middle = box(left, top + radius, right, bottom - radius);
    boxes.push_back(middle);
    if (!middle.empty()) {
      boxes.push_back(box(left + radius, top, right - radius, middle.y));
      boxes.push_back(box(left + radius, middle.maxY(), right - radius, bottom));
    }
  }
  std::erase_if(boxes, [](const PixelRect& b) { return b.empty(); });
  return boxes;
}

PixelRect opaqueInterior(const ShownLayer& layer) {
  const auto& shown = layer.shown;
  if (layer.hidden || shown.opacity < 1) return {};
  bool opaque = shown.backgroundColor && shown.backgroundColor->alpha >= 1;
  if (!opaque && shown.contents && !shown.contents->empty() &&
      shown.contents->format() == Image::Format::opaque) {
    const Image& image = *shown.contents;
    const Rect source = contentsSourceRect(shown.contentsRect, static_cast<double>(image.width()),
                                           static_cast<double>(image.height()));
    opaque = source.width() > 0 && source.height() > 0;
  }
  if (!opaque) return {};
  const auto boxes = interiorBoxes(layer.frame, shown.cornerRadius);
  return boxes.empty() ? PixelRect{} : boxes.front();
}

PixelRect opaqueCover(const std::vector<ShownLayer>& layers) {
  PixelRect best;
  for (const auto& layer : layers) {
    // A faded ancestor lets what lies beneath show through its whole group.
    if (layer.alpha < 1) continue;
    PixelRect cover = opaqueInterior(layer);
    for (int up = layer.parent; up >= 0 && !cover.empty(); up = layers[static_cast<std::size_t>(up)].parent) {
      const auto& ancestor = layers[static_cast<std::size_t>(up)];
      if (!ancestor.shown.masksToBounds) continue;
      const auto inside = interiorBoxes(ancestor.frame, ancestor.shown.cornerRadius);
      cover = inside.empty() ? PixelRect{} : intersection(cover, inside.front());
    }
    if (static_cast<long>(cover.width) * cover.height > static_cast<long>(best.width) * best.height)
      best = cover;
  }
  return best;
}

std::vector<PixelRect> damageBetween(const std::vector<ShownLayer>& before,
                                     const std::vector<ShownLayer>& after, const PixelRect& bounds) {
  // Past this many rectangles one bounding box draws faster than many clips.
  constexpr std::size_t kMaxDamageRects = 8;
  bool sameStructure = before.size() == after.size();
  for (std::size_t i = 0; sameStructure && i < before.size(); ++i) {
    sameStructure = before[i].parent == after[i].parent;
  }
  std::vector<PixelRect> damage;
  if (!sameStructure) {
    damage = extents(before);
    auto added = extents(after);
    damage.insert(damage.end(), added.begin(), added.end());
  } else {
    for (std::size_t i = 0; i < before.size(); ++i) {
      if (sameLook(before[i], after[i])) continue;
      damage.push_back(before[i].extent);
      damage.push_back(after[i].extent);
    }
  }
  for (auto& rect : damage) rect = intersection(rect, bounds);
  return simplified(std::move(damage), kMaxDamageRects);
}

std::vector<PixelRect> coverage(const std::vector<ShownLayer>& layers, const PixelRect& bounds) {
  // The X server keeps shapes as band lists; a few dozen rectangles stay cheap.
  constexpr std::size_t kMaxShapeRects = 32;
  auto rects = extents(layers);
  for (auto& rect : rects) rect = intersection(rect, bounds);
  return simplified(std::move(rects), kMaxShapeRects);
}

}  // namespace zoba::platform::linux_backend
