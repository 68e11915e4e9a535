#include <gtest/gtest.h>
#include <zlib.h>

#include <optional>
#include <string>
#include <vector>

#include "Platform/Image.h"
#include "Platform/linux/image/PngEncoder.h"

namespace zoba::platform::linux_backend {
namespace {

// Screen-like pixels: runs of equal rows and flat areas, with every channel
// stepping between neighbours so a band that starts from the wrong row above shows.
Image screenLike(std::int64_t width, std::int64_t height, Image::Format format) {
  std::vector<std::uint32_t> words;
  for (std::int64_t y = 0; y < height; ++y) {
    for (std::int64_t x = 0; x < width; ++x) {
      const std::uint32_t band = static_cast<std::uint32_t>(y / 3), r = (x * 37 + band * 11) & 0xFF,
                          g = (band * 53) & 0xFF, b = (x / 4 + y) & 0xFF;
      std::uint32_t a = 0xFF;
      if (format == Image::Format::premultiplied) a = (x * 29 + y * 7) & 0xFF;
      auto pre = [a](std::uint32_t c) { return c * a / 255; };
      words.push_back(a << 24 | pre(r) << 16 | pre(g) << 8 | pre(b));
    }
  }
  return Image::fromWords(width, height, format, std::move(words));
}

std::uint32_t bigEndian(const std::uint8_t* p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// The data of all IDAT chunks laid end to end: the zlib stream.
std::vector<std::uint8_t> zlibStream(const Bytes& png) {
  std::vector<std::uint8_t> stream;
  for (std::size_t at = 8; at + 12 <= png.size();) {
    const std::uint32_t size = bigEndian(&png[at]);
    if (std::string(png.begin() + at + 4, png.begin() + at + 8) == "IDAT") {
      stream.insert(stream.end(), png.begin() + at + 8, png.begin() + at + 8 + size);
    }
    at += 12 + size;
  }
  return stream;
}

struct BandCase {
  const char* name;
  std::int64_t width, height;
  Image::Format format;
  std::size_t stripes;
};

class PngBands : public testing::TestWithParam<BandCase> {};

TEST_P(PngBands, BandsMakeOneStandardStreamOfTheSamePixels) {
  const BandCase& c = GetParam();
  const auto image = screenLike(c.width, c.height, c.format);
  const auto png = encodePNGInStripes(image, c.stripes, 2);
  ASSERT_TRUE(png);

  // One zlib stream whose Adler-32 and end zlib checks, of exactly the filtered rows.
  const auto stream = zlibStream(*png);
  const std::size_t rowBytes =
      1 + static_cast<std::size_t>(c.width) * (c.format == Image::Format::opaque ? 3 : 4);
  std::vector<std::uint8_t> rows(rowBytes * static_cast<std::size_t>(c.height) + 1);
  uLongf size = rows.size();
  ASSERT_EQ(uncompress(rows.data(), &size, stream.data(), stream.size()), Z_OK);
  EXPECT_EQ(size, rows.size() - 1);

  auto decoded = decodePNG(*png);
  ASSERT_TRUE(decoded);
  ASSERT_EQ(decoded->width(), c.width);
  ASSERT_EQ(decoded->height(), c.height);
  for (std::int64_t y = 0; y < c.height; ++y) {
    for (std::int64_t x = 0; x < c.width; ++x) {
      const auto want = image.pixel(x, y), got = decoded->pixel(x, y);
      ASSERT_EQ(got >> 24, want >> 24) << x << "," << y;
      for (int shift : {0, 8, 16}) {
        ASSERT_NEAR(int((got >> shift) & 0xFF), int((want >> shift) & 0xFF), 1) << x << "," << y;
      }
    }
  }

  // The file is the same whichever thread deflated which band.
  EXPECT_EQ(encodePNGInStripes(image, c.stripes, 1), png);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PngBands,
    testing::Values(BandCase{"OnePixelManyBands", 1, 1, Image::Format::opaque, 4},
                    BandCase{"FewerRowsThanBands", 9, 3, Image::Format::opaque, 8},
                    BandCase{"OddWidth", 13, 17, Image::Format::opaque, 3},
                    BandCase{"Translucent", 31, 19, Image::Format::premultiplied, 4},
                    BandCase{"TranslucentOneRowABand", 7, 5, Image::Format::premultiplied, 5},
                    BandCase{"TallAndNarrow", 1, 3000, Image::Format::opaque, 7},
                    // Bands larger than the rows deflated at once, and than one IDAT chunk.
                    BandCase{"Large", 1441, 901, Image::Format::opaque, 8}),
    [](const testing::TestParamInfo<BandCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zoba::platform::linux_backend
