// The Wayland presenter's logic that needs no compositor: which output a panel
// lands on and where, damage in buffer pixels, and which buffer a frame may use.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Platform/linux/wayland/presenter/BufferRing.h"
#include "Platform/linux/wayland/presenter/OutputPlacement.h"

namespace zoba::platform::linux_backend::wayland {
namespace {

OutputGeometry output(std::string name, PixelRect logical, int scale = 1) {
  OutputGeometry geometry;
  geometry.global = static_cast<std::uint32_t>(name.size());
  geometry.name = std::move(name);
  geometry.logical = logical;
  geometry.scale = scale;
  return geometry;
}

// Bottom-left space grows up from the bottom edge of the output at the layout's
// origin, whatever order the compositor lists its outputs in.
TEST(OutputPlacement, PanelsLandOnTheOutputTheirFrameLiesOn) {
  // A 2560 × 1440 output right of a 1920 × 1080 one, tops aligned, listed first;
  // a third, scaled, output below the first.
  const std::vector<OutputGeometry> outputs{output("DP-2", {1920, 0, 2560, 1440}),
                                            output("eDP-1", {0, 0, 1920, 1080}),
                                            output("HDMI-1", {0, 1080, 1280, 720}, 2)};
  struct Case {
    const char* what;
    Rect frame;
    std::size_t output;
    PixelRect rect;
    Margins margins;
    int offsetX = 0, offsetY = 0;
  };
  const Case cases[] = {
      {"the primary output whole", Rect(0, 0, 1920, 1080), 1, {0, 0, 1920, 1080}, {}},
      {"the taller output to the right whole", Rect(1920, -360, 2560, 1440), 0, {1920, 0, 2560, 1440}, {}},
      {"the output below", Rect(0, -720, 1280, 720), 2, {0, 1080, 1280, 720}, {}},
      {"a window-sized part of the right output",
       Rect(2020, 340, 800, 600),
       0,
       {2020, 140, 800, 600},
       {140, 1660, 700, 100}},
      {"mostly right of the seam: clipped to that output",
       Rect(1820, 0, 1000, 1080),
       0,
       {1920, 0, 900, 1080},
       {0, 1660, 360, 0},
       100,
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto placement = placePanel(c.frame, outputs);
    ASSERT_TRUE(placement.has_value());
    EXPECT_EQ(placement->output, c.output);
    EXPECT_EQ(placement->rect, c.rect);
    EXPECT_EQ(placement->margins, c.margins);
    EXPECT_EQ(placement->offsetX, c.offsetX);
    EXPECT_EQ(placement->offsetY, c.offsetY);
  }
  EXPECT_FALSE(placePanel(Rect(-3000, 0, 800, 600), outputs).has_value()) << "off every output";
  EXPECT_FALSE(placePanel(Rect(0, 0, 800, 600), {}).has_value()) << "no outputs";
}

TEST(OutputPlacement, WithoutAnOutputAtTheOriginTheFirstIsPrimary) {
  const std::vector<OutputGeometry> outputs{output("A", {100, 50, 1000, 800}),
                                            output("B", {1100, 0, 1000, 1000})};
  auto placement = placePanel(Rect(100, 0, 1000, 800), outputs);
  ASSERT_TRUE(placement.has_value());
  EXPECT_EQ(placement->output, 0u);
  EXPECT_EQ(placement->rect, (PixelRect{100, 50, 1000, 800}));
}

TEST(OutputPlacement, DamageBecomesBufferPixelsInsideTheBuffer) {
  const PixelRect buffer{0, 0, 200, 100};
  EXPECT_EQ(bufferRegion({10, 5, 20, 10}, 1, buffer), (PixelRect{10, 5, 20, 10}));
  EXPECT_EQ(bufferRegion({10, 5, 20, 10}, 2, buffer), (PixelRect{20, 10, 40, 20}));
  EXPECT_EQ(bufferRegion({90, 40, 20, 20}, 2, buffer), (PixelRect{180, 80, 20, 20}))
      << "clipped to the buffer";
  EXPECT_EQ(bufferRegion({10, 5, 20, 10}, 0, buffer), (PixelRect{10, 5, 20, 10})) << "no scale counts as 1";
  EXPECT_TRUE(bufferRegion({300, 0, 10, 10}, 1, buffer).empty());
}

const PixelRect kBounds{0, 0, 400, 300};

TEST(BufferRing, EveryBufferIsDrawnWholeFirst) {
  BufferRing ring(2, kBounds);
  for (std::size_t i = 0; i < ring.size(); ++i) EXPECT_EQ(ring.stale(i), std::vector{kBounds});
}

TEST(BufferRing, AHeldBufferIsNeverDrawnInto) {
  BufferRing ring(2, kBounds);
  auto first = ring.acquire();
  ASSERT_TRUE(first);
  ring.committed(*first);
  auto second = ring.acquire();
  ASSERT_TRUE(second);
  EXPECT_NE(*second, *first);
  ring.committed(*second);
  EXPECT_FALSE(ring.acquire()) << "the compositor holds both";
  ring.released(*first);
  EXPECT_EQ(ring.acquire(), first);
}

// The common case: the compositor holds the shown buffer and gives back the one
// before, which lacks the last frame's change as well as this one's.
TEST(BufferRing, AReusedBufferRedrawsTheFramesItMissed) {
  BufferRing ring(2, kBounds);
  const std::size_t a = *ring.acquire();
  ring.committed(a);
  const std::size_t b = *ring.acquire();
  ring.committed(b);  // both drawn whole once
  ring.released(a);

  const PixelRect moved{10, 10, 20, 20};
  ring.damage(std::vector{moved});
  ASSERT_EQ(ring.acquire(), a);
  EXPECT_EQ(ring.stale(a), std::vector{moved});
  ring.committed(a);
  ring.released(b);

  const PixelRect next{200, 100, 20, 20};
  ring.damage(std::vector{next});
  ASSERT_EQ(ring.acquire(), b);
  const auto stale = ring.stale(b);
  auto covers = [&](const PixelRect& rect) {
    for (const auto& s : stale) {
      if (intersection(s, rect) == rect) return true;
    }
    return false;
  };
  EXPECT_TRUE(covers(moved)) << "b missed the frame drawn into a";
  EXPECT_TRUE(covers(next));
  ring.committed(b);
  EXPECT_TRUE(ring.stale(b).empty());
}

TEST(BufferRing, TheFreeBufferDrawnLastIsPreferredAndDamageStaysInside) {
  BufferRing ring(3, kBounds);
  std::vector<std::size_t> order;
  for (int i = 0; i < 3; ++i) {
    const std::size_t index = *ring.acquire();
    ring.committed(index);
    order.push_back(index);
  }
  for (std::size_t index : order) ring.released(index);
  // All free: the one drawn last has the least to catch up on.
  EXPECT_EQ(ring.acquire(), order.back());

  ring.damage(std::vector{PixelRect{380, 290, 50, 50}, PixelRect{-10, -10, 5, 5}});
  for (std::size_t i = 0; i < ring.size(); ++i) {
    for (const auto& rect : ring.stale(i)) EXPECT_EQ(intersection(rect, kBounds), rect);
  }
}

TEST(BufferRing, ManyDamagedRectsStayFew) {
  BufferRing ring(2, kBounds);
  ring.committed(*ring.acquire());
  for (int i = 0; i < 40; ++i) ring.damage(std::vector{PixelRect{i * 9, i * 7, 4, 4}});
  const std::size_t other = *ring.acquire();
  EXPECT_LE(ring.stale(other).size(), 8u);
}

}  // namespace
}  // namespace zoba::platform::linux_backend::wayland
