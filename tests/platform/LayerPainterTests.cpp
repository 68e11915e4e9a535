// The painter drawing a panel's layers into a Cairo image: geometry, group
// opacity, rounded clipping, contents cropping and shadows, pixel by pixel. No
// display needed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Platform/linux/handles/CairoPtr.h"
#include "Platform/linux/painter/LayerPainter.h"

namespace zoba::platform::linux_backend {
namespace {

struct Rgb {
  int r, g, b;
};

RenderLayer layerAt(const Rect& frame, int parent) {
  RenderLayer layer;
  layer.model.position = Point{frame.midX(), frame.midY()};
  layer.model.bounds = Rect(0, 0, frame.width(), frame.height());
  layer.parent = parent;
  return layer;
}

// An opaque image whose rows above `split` (from the top) are `top`, the rest `bottom`.
Image twoBandImage(int width, int height, int split, std::uint32_t top, std::uint32_t bottom) {
  std::vector<std::uint32_t> words(std::size_t(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) words[std::size_t(y) * width + x] = y < split ? top : bottom;
  }
  return Image::fromWords(width, height, Image::Format::opaque, std::move(words));
}

// A panel-sized RGB image filled with a background colour, painted into.
class Canvas {
 public:
  Canvas(int width, int height, Rgb background = {255, 255, 255})
      : width_(width),
        height_(height),
        surface_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height)),
        cr_(cairo_create(surface_.get())) {
    cairo_set_source_rgb(cr_.get(), background.r / 255.0, background.g / 255.0, background.b / 255.0);
    cairo_paint(cr_.get());
  }
  // Paints `layers` (the first is the root, the panel's size) inside `clip`, or everywhere.
  void paint(std::vector<RenderLayer> layers, std::vector<PixelRect> clip = {}) {
    RenderPanel panel;
    panel.frame = Rect(0, 0, width_, height_);
    panel.layers = std::move(layers);
    if (clip.empty()) clip.push_back({0, 0, width_, height_});
    painter_.paint(cr_.get(), showLayers(panel, 0), clip);
    cairo_surface_flush(surface_.get());
  }
  Rgb at(int x, int y) const {
    const auto* row =
        cairo_image_surface_get_data(surface_.get()) + y * cairo_image_surface_get_stride(surface_.get());
    std::uint32_t word;
    std::memcpy(&word, row + x * 4, 4);
    return {int(word >> 16 & 0xFF), int(word >> 8 & 0xFF), int(word & 0xFF)};
  }
  const LayerPainter& painter() const { return painter_; }

 private:
  int width_, height_;
  CairoSurfacePtr surface_;
  CairoPtr cr_;
  LayerPainter painter_;
};

testing::AssertionResult near(Rgb got, Rgb expected, int tolerance = 2) {
  if (std::abs(got.r - expected.r) <= tolerance && std::abs(got.g - expected.g) <= tolerance &&
      std::abs(got.b - expected.b) <= tolerance) {
    return testing::AssertionSuccess();
  }
  return testing::AssertionFailure() << "got (" << got.r << ", " << got.g << ", " << got.b << "), expected ("
                                     << expected.r << ", " << expected.g << ", " << expected.b << ")";
}

RenderLayer root(int width, int height) { return layerAt(Rect(0, 0, width, height), -1); }

TEST(LayerPainter, AFrameYUpLandsOnPixelsYDown) {
  struct Case {
    Rect frame;  // y up in the 100 × 80 panel
    PixelRect pixels;
  };
  for (const auto& c : {Case{Rect(10, 20, 30, 10), {10, 50, 30, 10}}, Case{Rect(0, 0, 5, 5), {0, 75, 5, 5}},
                        Case{Rect(60, 70, 40, 10), {60, 0, 40, 10}}}) {
    SCOPED_TRACE(testing::Message() << c.frame.minX() << "," << c.frame.minY());
    Canvas canvas(100, 80);
    auto box = layerAt(c.frame, 0);
    box.model.backgroundColor = Color{1, 0, 0, 1};
    canvas.paint({root(100, 80), box});
    const PixelRect& p = c.pixels;
    for (auto [x, y] :
         {std::pair{p.x, p.y}, {p.maxX() - 1, p.maxY() - 1}, {p.x + p.width / 2, p.y + p.height / 2}}) {
      EXPECT_TRUE(near(canvas.at(x, y), {255, 0, 0})) << x << "," << y;
    }
    for (auto [x, y] : {std::pair{p.x - 1, p.y}, {p.maxX(), p.y}, {p.x, p.y - 1}, {p.x, p.maxY()}}) {
      if (x < 0 || y < 0 || x >= 100 || y >= 80) continue;
      EXPECT_TRUE(near(canvas.at(x, y), {255, 255, 255})) << x << "," << y;
    }
  }
}

TEST(LayerPainter, ASuperlayersOpacityFadesItsSublayersAsOnePicture) {
  // Red and blue overlap; at half opacity together the overlap is half blue over
  // white, with no red showing through the blue.
  Canvas canvas(100, 100);
  auto group = layerAt(Rect(0, 0, 100, 100), 0);
  group.model.opacity = 0.5;
  auto red = layerAt(Rect(10, 10, 50, 50), 1);
  red.model.backgroundColor = Color{1, 0, 0, 1};
  auto blue = layerAt(Rect(30, 30, 50, 50), 1);
  blue.model.backgroundColor = Color{0, 0, 1, 1};
  canvas.paint({root(100, 100), group, red, blue});
  EXPECT_TRUE(near(canvas.at(50, 50), {128, 128, 255}));  // the overlap
  EXPECT_TRUE(near(canvas.at(15, 85), {255, 128, 128}));  // red alone
  EXPECT_TRUE(near(canvas.at(75, 25), {128, 128, 255}));  // blue alone
  EXPECT_TRUE(near(canvas.at(95, 5), {255, 255, 255}));
}

TEST(LayerPainter, MasksToBoundsClipsSublayersToTheRoundedBounds) {
  Canvas canvas(200, 200);
  auto clipper = layerAt(Rect(50, 50, 100, 100), 0);  // pixels 50..150
  clipper.model.masksToBounds = true;
  clipper.model.cornerRadius = 30;
  auto fill = layerAt(Rect(-40, -40, 200, 200), 1);  // far past the clipper
  fill.model.backgroundColor = Color{0, 0.5, 0, 1};
  canvas.paint({root(200, 200), clipper, fill});
  struct Case {
    int x, y;
    bool green;
  };
  for (const auto& c : {Case{100, 100, true}, Case{51, 100, true}, Case{100, 148, true}, Case{52, 52, false},
                        Case{147, 147, false}, Case{56, 144, false}, Case{40, 100, false},
                        Case{100, 160, false}, Case{62, 62, true}}) {
    EXPECT_TRUE(near(canvas.at(c.x, c.y), c.green ? Rgb{0, 128, 0} : Rgb{255, 255, 255}))
        << c.x << "," << c.y;
  }
}

TEST(LayerPainter, ContentsShowThePartTheContentsRectangleNames) {
  // Top 30 rows red, bottom 70 blue.
  const Image image = twoBandImage(50, 100, 30, 0xFFFF0000u, 0xFF0000FFu);
  struct Case {
    std::string name;
    Rect contentsRect;  // unit, y up
    Rgb top, bottom;    // at the layer's top and bottom rows
  };
  const Case cases[] = {
      {"the whole image", Rect(0, 0, 1, 1), {255, 0, 0}, {0, 0, 255}},
      {"the top 30%", Rect(0, 0.7, 1, 0.3), {255, 0, 0}, {255, 0, 0}},
      {"the bottom half", Rect(0, 0, 1, 0.5), {0, 0, 255}, {0, 0, 255}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Canvas canvas(120, 120);
    auto card = layerAt(Rect(10, 10, 100, 100), 0);  // pixels 10..110
    card.model.contents = image;
    card.model.contentsRect = c.contentsRect;
    canvas.paint({root(120, 120), card});
    EXPECT_TRUE(near(canvas.at(60, 12), c.top));
    EXPECT_TRUE(near(canvas.at(60, 107), c.bottom));
    EXPECT_TRUE(near(canvas.at(60, 5), {255, 255, 255}));
  }
}

TEST(LayerPainter, AScaledRoundedCardHasNoSeamsAndOpenCorners) {
  // A uniform image at fractional frames and radii: the inside is one colour
  // everywhere (a gap or a twice-painted strip between the card's pieces would
  // show at half opacity), the corners show what is beneath.
  struct Case {
    Rect frame;
    double radius, opacity;
  };
  const Case cases[] = {{Rect(10.3, 20.6, 150.5, 90.2), 10, 1},
                        {Rect(10.3, 20.6, 150.5, 90.2), 7.5, 0.5},
                        {Rect(12, 20, 150, 90), 0, 0.5},
                        {Rect(9.9, 9.1, 33.3, 44.4), 16.6, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "r " << c.radius << " opacity " << c.opacity);
    Canvas canvas(200, 140);
    auto card = layerAt(c.frame, 0);
    card.model.contents = twoBandImage(300, 200, 0, 0, 0xFF204080u);  // scaled down about half
    card.model.masksToBounds = true;
    card.model.cornerRadius = c.radius;
    card.model.opacity = c.opacity;
    canvas.paint({root(200, 140), card});
    const auto mix = [&](int value) { return int(std::lround(value * c.opacity + 255 * (1 - c.opacity))); };
    const Rgb inside{mix(0x20), mix(0x40), mix(0x80)};
    const int top = int(140 - c.frame.maxY()), left = int(c.frame.minX());
    const int r = int(std::ceil(c.radius));
    for (int y = top + 1; y < int(140 - c.frame.minY()) - 1; ++y) {
      for (int x = left + 1; x < int(c.frame.maxX()) - 1; ++x) {
        const bool inCornerSquare = (y < top + r + 1 || y > int(140 - c.frame.minY()) - r - 2) &&
                                    (x < left + r + 1 || x > int(c.frame.maxX()) - r - 2);
        if (inCornerSquare) continue;
        ASSERT_TRUE(near(canvas.at(x, y), inside)) << x << "," << y;
      }
    }
    if (c.radius >= 3) {
      EXPECT_TRUE(near(canvas.at(left + 1, top + 1), {255, 255, 255}));
      // Inside each rounded corner, halfway from its centre towards the corner.
      const double x0 = c.frame.minX() + c.radius, x1 = c.frame.maxX() - c.radius;
      const double y0 = 140 - c.frame.maxY() + c.radius, y1 = 140 - c.frame.minY() - c.radius;
      const double step = c.radius * 0.35;
      for (auto [x, y] : {std::pair{x0 - step, y0 - step},
                          {x1 + step, y0 - step},
                          {x0 - step, y1 + step},
                          {x1 + step, y1 + step}}) {
        EXPECT_TRUE(near(canvas.at(int(x), int(y)), inside)) << int(x) << "," << int(y);
      }
    }
  }
}

TEST(LayerPainter, AShadowFallsBelowTheCardAndShowsThroughTranslucentContents) {
  struct Case {
    std::string name;
    Image::Format format;
    std::uint32_t word;
    bool shadowUnderTheMiddle;
  };
  const Case cases[] = {{"opaque card", Image::Format::opaque, 0xFFFFFFFFu, false},
                        {"translucent card", Image::Format::premultiplied, 0x40404040u, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Canvas canvas(300, 300);
    auto host = layerAt(Rect(50, 100, 200, 100), 0);  // the card is pixels (50, 100) to (250, 200)
    host.model.shadowOpacity = 1;
    host.model.shadowRadius = 8;
    host.model.shadowOffset = Size{0, -6};
    auto card = layerAt(Rect(0, 0, 200, 100), 1);
    card.model.contents = Image::fromWords(4, 4, c.format, std::vector<std::uint32_t>(16, c.word));
    card.model.masksToBounds = true;
    card.model.cornerRadius = 8;
    canvas.paint({root(300, 300), host, card});
    // Offset (0, −6) casts it 6 pixels down: darker below the card than above it.
    for (int gap : {2, 5, 8}) {
      const Rgb below = canvas.at(150, 200 + gap), above = canvas.at(150, 99 - gap);
      EXPECT_LT(below.r + 10, above.r) << "gap " << gap;
    }
    EXPECT_TRUE(near(canvas.at(150, 280), {255, 255, 255}));
    EXPECT_TRUE(near(canvas.at(20, 150), {255, 255, 255}));
    // Under a translucent card the shadow's middle shows: a quarter-white card over black.
    EXPECT_TRUE(near(canvas.at(150, 150), c.shadowUnderTheMiddle ? Rgb{64, 64, 64} : Rgb{255, 255, 255}, 3));
  }
}

TEST(LayerPainter, PaintsOnlyInsideTheClip) {
  Canvas canvas(100, 100);
  auto box = layerAt(Rect(0, 0, 100, 100), 0);
  box.model.backgroundColor = Color{0, 0, 0, 1};
  canvas.paint({root(100, 100), box}, {{10, 10, 20, 20}, {60, 60, 5, 5}});
  EXPECT_TRUE(near(canvas.at(10, 10), {0, 0, 0}));
  EXPECT_TRUE(near(canvas.at(64, 64), {0, 0, 0}));
  EXPECT_TRUE(near(canvas.at(30, 30), {255, 255, 255}));
  EXPECT_TRUE(near(canvas.at(9, 10), {255, 255, 255}));
  EXPECT_TRUE(near(canvas.at(50, 50), {255, 255, 255}));
}

}  // namespace
}  // namespace zoba::platform::linux_backend
