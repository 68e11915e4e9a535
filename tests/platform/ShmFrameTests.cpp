// Screen copies turned into window images: the pixel formats a compositor may
// choose, rows stored bottom-up, and a window copied only in part.
#include <gtest/gtest.h>
#include <wayland-client-protocol.h>

#include <cstring>
#include <vector>

#include "Platform/linux/wayland/ShmFrame.h"

namespace zoba::platform::linux_backend::wayland {
namespace {

// A frame of `width` × `height` whose pixel at (x, y) holds `word(x, y)` as the
// 32-bit little-endian word of `format`, with 8 bytes of padding per row.
template <typename Word>
ShmFrame makeFrame(std::int32_t width, std::int32_t height, std::uint32_t format, bool yInvert, Word word) {
  const std::int32_t stride = width * 4 + 8;
  auto bytes = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(stride * height), 0xEE);
  for (std::int32_t y = 0; y < height; ++y)
    for (std::int32_t x = 0; x < width; ++x) {
      const std::uint32_t value = word(x, y);
      std::memcpy(bytes->data() + y * stride + x * 4, &value, 4);
    }
  ShmFrame frame{width, height, stride, format, yInvert, bytes, bytes->data()};
  return frame;
}

// Red at the top-left pixel, green at the top-right, blue along the bottom row.
std::uint32_t rgbAt(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height) {
  if (y == height - 1) return 0x0000FF;
  if (y == 0 && x == 0) return 0xFF0000;
  if (y == 0 && x == width - 1) return 0x00FF00;
  return 0x808080;
}

std::uint32_t swapRedBlue(std::uint32_t rgb) {
  return (rgb & 0x00FF00u) | ((rgb & 0xFFu) << 16) | ((rgb >> 16) & 0xFFu);
}

TEST(ShmFrame, FormatsAndRowOrderGiveTheSamePicture) {
  struct Case {
    const char* name;
    std::uint32_t format;
    bool swap;     // the words hold 0xAABBGGRR
    bool yInvert;  // stored bottom row first
  };
  const Case cases[] = {
      {"XRGB8888", WL_SHM_FORMAT_XRGB8888, false, false},
      {"ARGB8888", WL_SHM_FORMAT_ARGB8888, false, false},
      {"XBGR8888", WL_SHM_FORMAT_XBGR8888, true, false},
      {"ABGR8888", WL_SHM_FORMAT_ABGR8888, true, false},
      {"XRGB8888 bottom-up", WL_SHM_FORMAT_XRGB8888, false, true},
      {"XBGR8888 bottom-up", WL_SHM_FORMAT_XBGR8888, true, true},
  };
  constexpr std::int32_t width = 5, height = 3;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto frame = makeFrame(width, height, c.format, c.yInvert, [&](std::int32_t x, std::int32_t y) {
      const std::int32_t shownRow = c.yInvert ? height - 1 - y : y;
      const std::uint32_t rgb = rgbAt(x, shownRow, width, height);
      // The X formats leave the top byte undefined: garbage must not show.
      return 0x5A000000u | (c.swap ? swapRedBlue(rgb) : rgb);
    });
    auto image = frameImage(frame);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), width);
    EXPECT_EQ(image->height(), height);
    EXPECT_EQ(image->format(), Image::Format::opaque);
    EXPECT_EQ(image->pixel(0, 0), 0xFFFF0000u);
    EXPECT_EQ(image->pixel(width - 1, 0), 0xFF00FF00u);
    EXPECT_EQ(image->pixel(2, height - 1), 0xFF0000FFu);
    EXPECT_EQ(image->pixel(2, 1), 0xFF808080u);
  }
}

TEST(ShmFrame, UnreadableFramesGiveNoImage) {
  auto word = [](std::int32_t, std::int32_t) { return 0u; };
  auto rgb565 = makeFrame(4, 4, WL_SHM_FORMAT_RGB565, false, word);
  EXPECT_FALSE(frameImage(rgb565));
  auto narrow = makeFrame(4, 4, WL_SHM_FORMAT_XRGB8888, false, word);
  narrow.stride = 12;  // shorter than a row
  EXPECT_FALSE(frameImage(narrow));
  auto empty = makeFrame(4, 4, WL_SHM_FORMAT_XRGB8888, false, word);
  empty.height = 0;
  EXPECT_FALSE(frameImage(empty));
}

TEST(ShmFrame, WholeWindowAtItsOwnSizeIsTheFrameItself) {
  auto frame =
      makeFrame(6, 4, WL_SHM_FORMAT_XRGB8888, false, [](std::int32_t, std::int32_t) { return 0x123456u; });
  auto image = windowImage(frame, Rect(0, 0, 3, 2), Size{3, 2}, 6, 4);  // scale 2
  ASSERT_TRUE(image);
  EXPECT_EQ(image->row(0), frame.pixels);  // no copy
  EXPECT_EQ(image->pixel(5, 3), 0xFF123456u);
}

TEST(ShmFrame, WindowImageScalesAndPlacesTheCopiedPart) {
  struct Case {
    const char* name;
    Rect copied;  // in the window's points
    Size window;
    std::int64_t width, height;   // the image asked for
    std::int32_t frameW, frameH;  // what the compositor copied
    std::int64_t probeX, probeY;  // a pixel of the copied part
    std::int64_t blackX, blackY;  // a pixel outside it (-1: none)
  };
  const Case cases[] = {
      // A window of 100 × 50 points at scale 1 asked for at half size.
      {"shrunk", Rect(0, 0, 100, 50), Size{100, 50}, 50, 25, 100, 50, 25, 12, -1, -1},
      // Its right half past the output's edge: the left half copied, the rest black.
      {"right half off the output", Rect(0, 0, 50, 50), Size{100, 50}, 100, 50, 50, 50, 10, 25, 90, 25},
      // Its top quarter above the output.
      {"top off the output", Rect(0, 25, 100, 75), Size{100, 100}, 200, 200, 200, 150, 100, 150, 100, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto frame = makeFrame(c.frameW, c.frameH, WL_SHM_FORMAT_XRGB8888, false,
                           [](std::int32_t, std::int32_t) { return 0x40C080u; });
    auto image = windowImage(frame, c.copied, c.window, c.width, c.height);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), c.width);
    EXPECT_EQ(image->height(), c.height);
    EXPECT_EQ(image->pixel(c.probeX, c.probeY), 0xFF40C080u);
    if (c.blackX >= 0) {
      EXPECT_EQ(image->pixel(c.blackX, c.blackY), 0xFF000000u);
    }
  }
}

}  // namespace
}  // namespace zoba::platform::linux_backend::wayland
