#include <gtest/gtest.h>

#include <vector>

#include "Platform/linux/x11/WindowIcon.h"

namespace zoba::platform::linux_backend {
namespace {

// One icon entry of `size` × `size` pixels, every pixel `word`.
void append(std::vector<std::uint32_t>& property, std::uint32_t size, std::uint32_t word) {
  property.push_back(size);
  property.push_back(size);
  property.insert(property.end(), std::size_t(size) * size, word);
}

TEST(WindowIcon, PicksTheSmallestAtLeastTheWantedSizeElseTheLargest) {
  struct Case {
    const char* name;
    std::vector<std::uint32_t> sizes;
    std::int64_t expected;
  };
  const Case cases[] = {
      {"exact size wins", {16, 64, 128}, 64},
      {"smallest above", {256, 16, 96, 128}, 96},
      {"all too small: the largest", {16, 48, 32}, 48},
      {"single icon", {22}, 22},
  };
  for (const auto& c : cases) {
    std::vector<std::uint32_t> property;
    for (auto size : c.sizes) append(property, size, 0xFF000000u | size);
    auto icon = bestWindowIcon(property, 64);
    ASSERT_TRUE(icon) << c.name;
    EXPECT_EQ(icon->width(), c.expected) << c.name;
    EXPECT_EQ(icon->pixel(0, 0), 0xFF000000u | std::uint32_t(c.expected)) << c.name;
  }
}

TEST(WindowIcon, PixelsArePremultiplied) {
  std::vector<std::uint32_t> property;
  append(property, 1, 0x80FF4020u);  // half-transparent orange
  auto icon = bestWindowIcon(property, 64);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->format(), Image::Format::premultiplied);
  EXPECT_EQ(icon->pixel(0, 0), 0x80802010u);
}

TEST(WindowIcon, MalformedPropertiesNeverReadPastTheEnd) {
  std::vector<std::uint32_t> good;
  append(good, 2, 0xFFFFFFFFu);
  const std::vector<std::vector<std::uint32_t>> broken = {
      {},                             // nothing
      {5},                            // half a header
      {4, 4, 1, 2, 3},                // fewer pixels than the header claims
      {0, 0},                         // an empty icon
      {0xFFFFFFFFu, 0xFFFFFFFFu, 1},  // an overflowing size
  };
  for (const auto& property : broken) EXPECT_FALSE(bestWindowIcon(property, 64));
  // A good icon followed by a truncated one keeps the good one.
  auto property = good;
  property.insert(property.end(), {100, 100, 1});
  auto icon = bestWindowIcon(property, 64);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->width(), 2);
}

}  // namespace
}  // namespace zoba::platform::linux_backend
