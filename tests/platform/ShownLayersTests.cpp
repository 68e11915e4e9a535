// A panel's frame as plain values: pixel geometry, what each layer can touch,
// what changed between frames and what covers the screen. No display needed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "Platform/linux/layers/ShownLayers.h"

namespace zoba::platform::linux_backend {
namespace {

// A layer whose frame in its superlayer (y up) is `frame`.
RenderLayer layerAt(const Rect& frame, int parent) {
  RenderLayer layer;
  layer.model.position = Point{frame.midX(), frame.midY()};
  layer.model.bounds = Rect(0, 0, frame.width(), frame.height());
  layer.parent = parent;
  return layer;
}

RenderPanel panelOf(double width, double height, std::vector<RenderLayer> layers) {
  RenderPanel panel;
  panel.id = 1;
  panel.frame = Rect(0, 0, width, height);
  panel.layers = std::move(layers);
  return panel;
}

Image solidImage(int width, int height, Image::Format format, std::uint32_t word = 0xFF336699u) {
  return Image::fromWords(width, height, format,
                          std::vector<std::uint32_t>(std::size_t(width) * height, word));
}

// Every pixel of `inner` lies in `outer`.
bool within(const PixelRect& inner, const PixelRect& outer) { return intersection(inner, outer) == inner; }

TEST(ShownLayers, FramesBecomePanelPixelsWithTheOriginAtTheTop) {
  struct Case {
    std::string name;
    Rect parent, child;  // y up, the child in its parent
    Rect expected;       // panel pixels, y down
  };
  const Case cases[] = {
      {"at the panel's bottom-left", Rect(0, 0, 200, 100), Rect(0, 0, 10, 10), Rect(0, 90, 10, 10)},
      {"raised inside a raised parent", Rect(20, 30, 100, 50), Rect(5, 10, 20, 10), Rect(25, 50, 20, 10)},
      {"at the parent's top edge", Rect(0, 0, 200, 100), Rect(50, 90, 10, 10), Rect(50, 0, 10, 10)},
      {"fractional", Rect(10.5, 0, 100, 40.5), Rect(0.25, 0.5, 3, 4), Rect(10.75, 95.5, 3, 4)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto root = layerAt(Rect(0, 0, 200, 100), -1);
    auto layers = showLayers(panelOf(200, 100, {root, layerAt(c.parent, 0), layerAt(c.child, 1)}), 0);
    ASSERT_EQ(layers.size(), 3u);
    EXPECT_EQ(layers[2].frame, c.expected);
  }
}

TEST(ShownLayers, OpacityMultipliesDownTheTreeAndATransparentAncestorHidesItsSubtree) {
  struct Case {
    double parentOpacity, childOpacity, alpha;
    bool hidden;
  };
  for (const auto& c :
       {Case{0.5, 0.5, 0.25, false}, Case{1, 0.3, 0.3, false}, Case{0, 1, 0, true}, Case{1, 0, 0, true}}) {
    SCOPED_TRACE(testing::Message() << c.parentOpacity << " × " << c.childOpacity);
    auto parent = layerAt(Rect(10, 10, 50, 50), 0);
    parent.model.opacity = c.parentOpacity;
    auto child = layerAt(Rect(0, 0, 20, 20), 1);
    child.model.backgroundColor = Color{1, 0, 0, 1};
    child.model.opacity = c.childOpacity;
    auto layers = showLayers(panelOf(100, 100, {layerAt(Rect(0, 0, 100, 100), -1), parent, child}), 0);
    EXPECT_DOUBLE_EQ(layers[2].alpha, c.alpha);
    EXPECT_EQ(layers[2].hidden, c.hidden);
    EXPECT_EQ(layers[2].extent.empty(), c.hidden) << "a hidden layer touches no pixel";
  }
}

TEST(ShownLayers, ExtentHoldsTheShadowCastDownwardAndStaysInsideMaskingAncestors) {
  auto root = layerAt(Rect(0, 0, 400, 300), -1);
  // A card 100 × 50 with its top-left at pixel (100, 100).
  auto host = layerAt(Rect(100, 150, 100, 50), 0);
  host.model.shadowOpacity = 0.5;
  host.model.shadowRadius = 4;
  host.model.shadowOffset = Size{0, -6};
  auto card = layerAt(Rect(0, 0, 100, 50), 1);
  card.model.backgroundColor = Color{1, 1, 1, 1};
  auto layers = showLayers(panelOf(400, 300, {root, host, card}), 0);
  const int reach = shadowReach(4);
  const PixelRect extent = layers[1].extent;
  // The shadow takes the card's shape, moved 6 pixels down, blurred by `reach`.
  EXPECT_EQ(extent.maxY(), 150 + 6 + reach + 1);
  EXPECT_EQ(extent.y, 100 + 6 - reach - 1);
  EXPECT_EQ(extent.x, 100 - reach - 1);
  EXPECT_TRUE(within(layers[2].extent, PixelRect{99, 99, 102, 52}));

  // Inside a masking ancestor the same layers touch nothing outside it.
  auto clipper = layerAt(Rect(0, 0, 400, 300), 0);
  clipper.model.masksToBounds = true;
  clipper.model.bounds = Rect(0, 0, 150, 300);
  clipper.model.position = Point{75, 150};
  host.parent = 1;
  card.parent = 2;
  layers = showLayers(panelOf(400, 300, {root, clipper, host, card}), 0);
  EXPECT_EQ(layers[2].extent.maxX(), 150);
  EXPECT_EQ(layers[3].extent.maxX(), 150);
}

TEST(ShownLayers, DamageIsWhereSomethingChanged) {
  auto root = layerAt(Rect(0, 0, 300, 200), -1);
  auto box = layerAt(Rect(10, 10, 40, 30), 0);
  box.model.backgroundColor = Color{0, 0, 1, 1};
  auto other = layerAt(Rect(200, 100, 20, 20), 0);
  other.model.backgroundColor = Color{0, 1, 0, 1};
  const PixelRect bounds{0, 0, 300, 200};
  const auto before = showLayers(panelOf(300, 200, {root, box, other}), 0);

  struct Case {
    std::string name;
    std::function<void(RenderLayer& box, std::vector<RenderLayer>& all)> change;
    std::vector<PixelRect> expected;
  };
  const PixelRect boxExtent = before[1].extent;
  const Case cases[] = {
      {"nothing", [](RenderLayer&, std::vector<RenderLayer>&) {}, {}},
      {"opacity", [](RenderLayer& b, std::vector<RenderLayer>&) { b.model.opacity = 0.5; }, {boxExtent}},
      {"colour",
       [](RenderLayer& b, std::vector<RenderLayer>&) {
         b.model.backgroundColor = Color{1, 0, 0, 1};
       },
       {boxExtent}},
      {"moved right by 100, old and new place",
       [](RenderLayer& b, std::vector<RenderLayer>&) { b.model.position.x += 100; },
       {boxExtent, PixelRect{boxExtent.x + 100, boxExtent.y, boxExtent.width, boxExtent.height}}},
      {"moved off the panel, clipped to it",
       [](RenderLayer& b, std::vector<RenderLayer>&) { b.model.position.x -= 40; },
       {PixelRect{0, boxExtent.y, boxExtent.maxX(), boxExtent.height}}},
      {"a layer added: everything drawn before and after",
       [](RenderLayer&, std::vector<RenderLayer>& all) { all.push_back(layerAt(Rect(0, 0, 1, 1), 0)); },
       {boxExtent, before[2].extent}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<RenderLayer> all{root, box, other};
    c.change(all[1], all);
    const auto after = showLayers(panelOf(300, 200, all), 0);
    auto damage = damageBetween(before, after, bounds);
    // Same pixels, whatever the order and merging.
    EXPECT_EQ(simplified(damage, 100), simplified(c.expected, 100));
  }
}

TEST(ShownLayers, SimplifiedMergesTouchingRectanglesAndCapsTheirNumber) {
  struct Case {
    std::string name;
    std::vector<PixelRect> rects;
    std::size_t maxCount;
    std::vector<PixelRect> expected;
  };
  const Case cases[] = {
      {"empty ones dropped", {{0, 0, 0, 5}, {1, 1, 2, 2}}, 8, {{1, 1, 2, 2}}},
      {"apart stay apart", {{0, 0, 2, 2}, {10, 10, 2, 2}}, 8, {{0, 0, 2, 2}, {10, 10, 2, 2}}},
      {"touching merge", {{0, 0, 2, 2}, {2, 0, 2, 2}}, 8, {{0, 0, 4, 2}}},
      {"chains merge", {{0, 0, 2, 2}, {10, 0, 2, 2}, {1, 0, 10, 1}}, 8, {{0, 0, 12, 2}}},
      {"too many: the bounding box", {{0, 0, 1, 1}, {5, 5, 1, 1}, {9, 0, 1, 1}}, 2, {{0, 0, 10, 6}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(simplified(c.rects, c.maxCount), c.expected);
  }
}

TEST(ShownLayers, DifferenceLeavesTheBandsAroundAHole) {
  auto area = [](const std::vector<PixelRect>& rects) {
    long sum = 0;
    for (const auto& r : rects) sum += long(r.width) * r.height;
    return sum;
  };
  struct Case {
    std::string name;
    PixelRect from, hole;
    long area;
  };
  const Case cases[] = {
      {"hole inside", {0, 0, 10, 10}, {2, 3, 4, 5}, 100 - 20},
      {"hole across an edge", {0, 0, 10, 10}, {5, -5, 20, 10}, 100 - 25},
      {"hole apart", {0, 0, 10, 10}, {20, 20, 5, 5}, 100},
      {"hole covering", {0, 0, 10, 10}, {-1, -1, 12, 12}, 0},
      {"no hole", {0, 0, 10, 10}, {}, 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto rest = difference(c.from, c.hole);
    EXPECT_EQ(area(rest), c.area);
    for (std::size_t i = 0; i < rest.size(); ++i) {
      EXPECT_TRUE(within(rest[i], c.from));
      EXPECT_TRUE(intersection(rest[i], c.hole).empty());
      for (std::size_t j = i + 1; j < rest.size(); ++j) EXPECT_TRUE(intersection(rest[i], rest[j]).empty());
    }
  }
}

TEST(ShownLayers, InteriorBoxesAreWholePixelsInsideTheRoundedShape) {
  struct Case {
    Rect frame;
    double radius;
    long area;  // of the boxes together
  };
  const Case cases[] = {
      {Rect(0, 0, 10, 10), 0, 100},
      {Rect(0.5, 0.25, 10, 10), 0, 9 * 9},
      {Rect(0, 0, 100, 60), 10, 100 * 40 + 2 * 80 * 10},
      {Rect(3.3, 7.7, 50.2, 30.1), 6.5, -1},
      {Rect(0, 0, 20, 8), 50, -1},  // the radius is limited to half the shorter side
      {Rect(0, 0, 0.5, 0.5), 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.frame.minX() << "," << c.frame.minY() << " r " << c.radius);
    const auto boxes = interiorBoxes(c.frame, c.radius);
    const double r = std::min(c.radius, std::min(c.frame.width(), c.frame.height()) / 2);
    long area = 0;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      const auto& box = boxes[i];
      area += long(box.width) * box.height;
      for (std::size_t j = i + 1; j < boxes.size(); ++j) EXPECT_TRUE(intersection(box, boxes[j]).empty());
      // Every pixel corner lies in the rounded rectangle.
      for (int x : {box.x, box.maxX()}) {
        for (int y : {box.y, box.maxY()}) {
          const double cx = std::clamp(double(x), c.frame.minX() + r, c.frame.maxX() - r);
          const double cy = std::clamp(double(y), c.frame.minY() + r, c.frame.maxY() - r);
          EXPECT_LE(std::hypot(x - cx, y - cy), r + 1e-9) << x << "," << y;
          EXPECT_GE(x, c.frame.minX());
          EXPECT_LE(x, c.frame.maxX());
          EXPECT_GE(y, c.frame.minY());
          EXPECT_LE(y, c.frame.maxY());
        }
      }
    }
    if (c.area >= 0) {
      EXPECT_EQ(area, c.area);
    }
    // Beyond a pixel's rim and the corners, everything is inside a box.
    if (c.frame.width() > 2 * r + 2 && c.frame.height() > 2 * r + 2) {
      EXPECT_GE(area, long((c.frame.width() - 2) * (c.frame.height() - 2) - 4 * (r + 1) * (r + 1)));
    }
  }
}

TEST(ShownLayers, OpaqueCoverIsWhereOnlyTheLayersPixelsShow) {
  struct Case {
    std::string name;
    std::function<void(RenderLayer& clipper, RenderLayer& card)> setUp;
    PixelRect expected;
  };
  // The card: 100 × 50 at pixel (100, 100), inside a clipper the size of the panel.
  const Case cases[] = {
      {"opaque contents", [](RenderLayer&, RenderLayer&) {}, {100, 100, 100, 50}},
      {"rounded: the middle band",
       [](RenderLayer&, RenderLayer& card) { card.model.cornerRadius = 10; },
       {100, 110, 100, 30}},
      {"opaque background",
       [](RenderLayer&, RenderLayer& card) {
         card.model.contents.reset();
         card.model.backgroundColor = Color{0, 0, 0, 1};
       },
       {100, 100, 100, 50}},
      {"translucent background",
       [](RenderLayer&, RenderLayer& card) {
         card.model.contents.reset();
         card.model.backgroundColor = Color{0, 0, 0, 0.99};
       },
       {}},
      {"contents with alpha",
       [](RenderLayer&, RenderLayer& card) {
         card.model.contents = solidImage(4, 4, Image::Format::premultiplied);
       },
       {}},
      {"an empty contents rectangle draws nothing",
       [](RenderLayer&, RenderLayer& card) { card.model.contentsRect = Rect(0, 0, 0, 1); },
       {}},
      {"faded itself", [](RenderLayer&, RenderLayer& card) { card.model.opacity = 0.99; }, {}},
      {"faded ancestor", [](RenderLayer& clipper, RenderLayer&) { clipper.model.opacity = 0.5; }, {}},
      {"clipped by a masking ancestor",
       [](RenderLayer& clipper, RenderLayer&) {
         clipper.model.masksToBounds = true;
         clipper.model.bounds = Rect(0, 0, 150, 300);
         clipper.model.position = Point{75, 150};
       },
       {100, 100, 50, 50}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto root = layerAt(Rect(0, 0, 400, 300), -1);
    auto clipper = layerAt(Rect(0, 0, 400, 300), 0);
    auto card = layerAt(Rect(100, 150, 100, 50), 1);
    card.model.contents = solidImage(8, 8, Image::Format::opaque);
    c.setUp(clipper, card);
    const auto layers = showLayers(panelOf(400, 300, {root, clipper, card}), 0);
    EXPECT_EQ(opaqueCover(layers), c.expected);
  }
}

TEST(ShownLayers, CoverageIsWhatTheLayersTouchInsideThePanel) {
  auto root = layerAt(Rect(0, 0, 300, 200), -1);
  auto a = layerAt(Rect(10, 150, 20, 20), 0);  // pixels (10, 30) to (30, 50)
  a.model.backgroundColor = Color{1, 0, 0, 1};
  auto b = layerAt(Rect(290, 0, 40, 10), 0);  // past the right edge
  b.model.backgroundColor = Color{0, 1, 0, 1};
  auto hidden = layerAt(Rect(100, 100, 10, 10), 0);
  hidden.model.backgroundColor = Color{0, 0, 1, 1};
  hidden.model.opacity = 0;
  const auto covered = coverage(showLayers(panelOf(300, 200, {root, a, b, hidden}), 0), {0, 0, 300, 200});
  // A pixel of antialiasing around each, nothing for the hidden one.
  EXPECT_EQ(simplified(covered, 100), simplified({{9, 29, 22, 22}, {289, 189, 11, 11}}, 100));
}

}  // namespace
}  // namespace zoba::platform::linux_backend
