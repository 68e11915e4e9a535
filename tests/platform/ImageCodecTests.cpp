#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Image.h"

namespace zoba::platform {
namespace {

// A small image whose every pixel differs, so a swapped channel or row shows.
Image gradient(std::int64_t width, std::int64_t height, Image::Format format) {
  std::vector<std::uint32_t> words;
  for (std::int64_t y = 0; y < height; ++y) {
    for (std::int64_t x = 0; x < width; ++x) {
      const std::uint32_t r = (x * 7) & 0xFF, g = (y * 13) & 0xFF, b = (x + y) & 0xFF;
      std::uint32_t a = 0xFF;
      if (format == Image::Format::premultiplied) a = (x * 31 + y) & 0xFF;
      auto pre = [a](std::uint32_t c) { return c * a / 255; };
      words.push_back(a << 24 | pre(r) << 16 | pre(g) << 8 | pre(b));
    }
  }
  return Image::fromWords(width, height, format, std::move(words));
}

TEST(PngCodec, OpaqueImageDecodesToTheSamePixels) {
  auto image = gradient(67, 41, Image::Format::opaque);
  auto png = encodePNG(image);
  ASSERT_TRUE(png);
  ASSERT_EQ(std::string(png->begin() + 1, png->begin() + 4), "PNG");
  auto decoded = decodePNG(*png);
  ASSERT_TRUE(decoded);
  ASSERT_EQ(decoded->width(), 67);
  ASSERT_EQ(decoded->height(), 41);
  for (std::int64_t y = 0; y < 41; ++y)
    for (std::int64_t x = 0; x < 67; ++x) ASSERT_EQ(decoded->pixel(x, y), image.pixel(x, y)) << x << "," << y;
}

TEST(PngCodec, OpaqueImageIgnoresTheUndefinedTopByte) {
  auto image = Image::fromWords(2, 1, Image::Format::opaque, {0x12345678, 0x00ABCDEF});
  auto decoded = decodePNG(*encodePNG(image));
  EXPECT_EQ(decoded->pixel(0, 0), 0xFF345678u);
  EXPECT_EQ(decoded->pixel(1, 0), 0xFFABCDEFu);
}

TEST(PngCodec, TranslucentImageKeepsItsAlphaWithinRounding) {
  auto image = gradient(40, 30, Image::Format::premultiplied);
  auto decoded = decodePNG(*encodePNG(image));
  ASSERT_TRUE(decoded);
  for (std::int64_t y = 0; y < 30; ++y) {
    for (std::int64_t x = 0; x < 40; ++x) {
      const auto want = image.pixel(x, y), got = decoded->pixel(x, y);
      ASSERT_EQ(got >> 24, want >> 24);
      for (int shift : {0, 8, 16}) {
        ASSERT_NEAR(int((got >> shift) & 0xFF), int((want >> shift) & 0xFF), 1) << x << "," << y;
      }
    }
  }
}

TEST(PngCodec, RowsWithPaddingAreReadByTheirStride) {
  // 3 pixels a row, stored 5 words apart, as shared-memory screenshots may be.
  auto storage = std::make_shared<std::vector<std::uint32_t>>(
      std::vector<std::uint32_t>{0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xDEADBEEF, 0xDEADBEEF,  //
                                 0xFF111111, 0xFF222222, 0xFF333333, 0xDEADBEEF, 0xDEADBEEF});
  Image image(3, 2, 20, Image::Format::opaque, storage,
              reinterpret_cast<const std::uint8_t*>(storage->data()));
  auto decoded = decodePNG(*encodePNG(image));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->pixel(2, 0), 0xFF0000FFu);
  EXPECT_EQ(decoded->pixel(0, 1), 0xFF111111u);
}

TEST(PngCodec, EmptyImageAndGarbageGiveNothing) {
  EXPECT_FALSE(encodePNG(Image()));
  const std::vector<std::uint8_t> garbage{1, 2, 3, 4};
  EXPECT_FALSE(decodePNG(garbage));
}

// The chunks of a PNG file: type and data, each CRC checked here with a bitwise
// CRC-32 of its own rather than the encoder's.
struct Chunk {
  std::string type;
  std::vector<std::uint8_t> data;
};
std::uint32_t bigEndian(const std::uint8_t* p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}
std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}
std::optional<std::vector<Chunk>> chunksOf(const std::vector<std::uint8_t>& png) {
  static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (png.size() < 8 || !std::equal(signature, signature + 8, png.begin())) return std::nullopt;
  std::vector<Chunk> chunks;
  for (std::size_t at = 8; at < png.size();) {
    if (png.size() - at < 12) return std::nullopt;
    const std::uint32_t size = bigEndian(&png[at]);
    if (png.size() - at - 12 < size) return std::nullopt;
    if (crc32(&png[at + 4], size + 4) != bigEndian(&png[at + 8 + size])) return std::nullopt;
    chunks.push_back({std::string(png.begin() + at + 4, png.begin() + at + 8),
                      std::vector<std::uint8_t>(png.begin() + at + 8, png.begin() + at + 8 + size)});
    at += 12 + size;
  }
  return chunks;
}

// Pixels from a seeded generator: incompressible, every channel value occurs.
Image noise(std::int64_t width, std::int64_t height, Image::Format format, std::uint32_t seed) {
  std::vector<std::uint32_t> words(static_cast<std::size_t>(width * height));
  for (auto& word : words) {
    seed = seed * 1664525u + 1013904223u;
    word = seed;
    if (format == Image::Format::premultiplied) {
      const std::uint32_t a = word >> 24;
      auto pre = [a](std::uint32_t c) { return c * a / 255; };
      word = a << 24 | pre((word >> 16) & 0xFF) << 16 | pre((word >> 8) & 0xFF) << 8 | pre(word & 0xFF);
    }
  }
  return Image::fromWords(width, height, format, std::move(words));
}

// Straight colour channels survive the trip exactly for opaque images, and
// within premultiplication's rounding for translucent ones.
void expectSamePixels(const Image& image, const Image& decoded) {
  ASSERT_EQ(decoded.width(), image.width());
  ASSERT_EQ(decoded.height(), image.height());
  for (std::int64_t y = 0; y < image.height(); ++y) {
    for (std::int64_t x = 0; x < image.width(); ++x) {
      const auto want = image.pixel(x, y), got = decoded.pixel(x, y);
      if (image.format() == Image::Format::opaque) {
        ASSERT_EQ(got, want) << x << "," << y;
        continue;
      }
      ASSERT_EQ(got >> 24, want >> 24) << x << "," << y;
      for (int shift : {0, 8, 16}) {
        ASSERT_NEAR(int((got >> shift) & 0xFF), int((want >> shift) & 0xFF), 1) << x << "," << y;
      }
    }
  }
}

struct ShapeCase {
  const char* name;
  std::int64_t width, height;
  Image::Format format;
};

class PngShape : public testing::TestWithParam<ShapeCase> {};

TEST_P(PngShape, HeaderAndPixelsSurviveTheTrip) {
  const ShapeCase& c = GetParam();
  auto image = noise(c.width, c.height, c.format, std::uint32_t(c.width * 7919 + c.height));
  auto png = encodePNG(image);
  ASSERT_TRUE(png);
  auto chunks = chunksOf(*png);
  ASSERT_TRUE(chunks) << "bad signature, length or CRC";
  ASSERT_GE(chunks->size(), 3u);
  const Chunk& header = chunks->front();
  ASSERT_EQ(header.type, "IHDR");
  ASSERT_EQ(header.data.size(), 13u);
  EXPECT_EQ(bigEndian(&header.data[0]), std::uint32_t(c.width));
  EXPECT_EQ(bigEndian(&header.data[4]), std::uint32_t(c.height));
  EXPECT_EQ(header.data[8], 8);                                          // bits per channel
  EXPECT_EQ(header.data[9], c.format == Image::Format::opaque ? 2 : 6);  // RGB or RGBA
  EXPECT_EQ(chunks->back().type, "IEND");
  for (std::size_t i = 1; i + 1 < chunks->size(); ++i) EXPECT_EQ((*chunks)[i].type, "IDAT");
  auto decoded = decodePNG(*png);
  ASSERT_TRUE(decoded);
  expectSamePixels(image, *decoded);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PngShape,
    testing::Values(ShapeCase{"OnePixel", 1, 1, Image::Format::opaque},
                    ShapeCase{"OnePixelTranslucent", 1, 1, Image::Format::premultiplied},
                    ShapeCase{"OddWidth", 7, 5, Image::Format::opaque},
                    ShapeCase{"OddWidthTranslucent", 13, 3, Image::Format::premultiplied},
                    ShapeCase{"OneColumnTall", 1, 3000, Image::Format::opaque},
                    ShapeCase{"OneRowWide", 3001, 1, Image::Format::premultiplied},
                    // Incompressible and larger than one IDAT chunk's worth.
                    ShapeCase{"SeveralChunks", 701, 613, Image::Format::opaque},
                    ShapeCase{"SeveralChunksTranslucent", 530, 577, Image::Format::premultiplied}),
    [](const testing::TestParamInfo<ShapeCase>& info) { return std::string(info.param.name); });

TEST(PngCodec, LargeIncompressibleImageSpansSeveralDataChunks) {
  auto png = encodePNG(noise(701, 613, Image::Format::opaque, 1));
  ASSERT_TRUE(png);
  auto chunks = chunksOf(*png);
  ASSERT_TRUE(chunks);
  EXPECT_GT(chunks->size(), 3u);
}

TEST(PngCodec, PremultipliedEdgeValuesBecomeTheirStraightColours) {
  struct Case {
    std::uint32_t premultiplied, decoded;
  };
  // decodePNG premultiplies again, so a colour that did not survive shows.
  const std::vector<Case> cases{
      {0xFF123456, 0xFF123456},  // opaque: unchanged
      {0x00000000, 0x00000000},  // transparent
      {0x00FFFFFF, 0x00000000},  // transparent with stray colour: transparent black
      {0x01010101, 0x01010101},  // alpha 1: straight 255, premultiplied 1 again
      {0x01000100, 0x01000100}, {0x80402010, 0x80402010},
      {0x10FF8020, 0x10101010},  // colours above alpha clamp to straight 255
      {0xFE000000, 0xFE000000},
  };
  std::vector<std::uint32_t> words;
  for (const auto& c : cases) words.push_back(c.premultiplied);
  auto image = Image::fromWords(std::int64_t(words.size()), 1, Image::Format::premultiplied, words);
  auto decoded = decodePNG(*encodePNG(image));
  ASSERT_TRUE(decoded);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(decoded->pixel(std::int64_t(i), 0), cases[i].decoded) << std::hex << cases[i].premultiplied;
  }
}

TEST(PngCodec, RowsBelowEachOtherDifferInEveryChannel) {
  // Each channel steps up and down between rows, wrapping past 0 and 255.
  std::vector<std::uint32_t> words;
  const std::uint32_t rows[] = {0xFF00FF00, 0xFFFF00FF, 0xFF01FE7F, 0xFF808080,
                                0xFF7F8081, 0xFFFFFFFF, 0xFF000000};
  for (std::uint32_t row : rows)
    for (int x = 0; x < 9; ++x) words.push_back(row ^ std::uint32_t(x * 0x010203));
  auto image = Image::fromWords(9, std::int64_t(std::size(rows)), Image::Format::opaque, words);
  auto decoded = decodePNG(*encodePNG(image));
  ASSERT_TRUE(decoded);
  expectSamePixels(image, *decoded);
}

TEST(JpegCodec, EncodesAtTheImageSizeAndKeepsColours) {
  std::vector<std::uint32_t> words(64 * 48, 0xFF3080C0);
  auto jpeg = encodeJPEG(Image::fromWords(64, 48, Image::Format::opaque, words), 80);
  ASSERT_TRUE(jpeg);
  EXPECT_EQ((*jpeg)[0], 0xFF);
  EXPECT_EQ((*jpeg)[1], 0xD8);
  EXPECT_EQ(jpegSize(*jpeg), (std::pair<std::int64_t, std::int64_t>(64, 48)));
  auto decoded = decodeJPEG(*jpeg);
  ASSERT_TRUE(decoded);
  const auto pixel = decoded->pixel(20, 20);
  EXPECT_NEAR(int((pixel >> 16) & 0xFF), 0x30, 3);
  EXPECT_NEAR(int((pixel >> 8) & 0xFF), 0x80, 3);
  EXPECT_NEAR(int(pixel & 0xFF), 0xC0, 3);
}

TEST(JpegCodec, IsBaselineNotProgressive) {
  auto jpeg = *encodeJPEG(gradient(32, 32, Image::Format::opaque), 80);
  bool baseline = false, progressive = false;
  for (std::size_t i = 0; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] != 0xFF) continue;
    baseline |= jpeg[i + 1] == 0xC0;
    progressive |= jpeg[i + 1] == 0xC2;
  }
  EXPECT_TRUE(baseline);
  EXPECT_FALSE(progressive);
}

TEST(Base64, RoundTripsAndRejectsWhatIsNotStrictBase64) {
  struct Case {
    std::string bytes, text;
  };
  for (const auto& c : std::vector<Case>{{"", ""},
                                         {"f", "Zg=="},
                                         {"fo", "Zm8="},
                                         {"foo", "Zm9v"},
                                         {"\xfb\xff\xfe", "+//+"},
                                         {"foobar", "Zm9vYmFy"}}) {
    std::vector<std::uint8_t> bytes(c.bytes.begin(), c.bytes.end());
    EXPECT_EQ(base64Encode(bytes), c.text);
    EXPECT_EQ(base64Decode(c.text), bytes) << c.text;
  }
  for (std::string bad : {"Zg=", "Zg==Zg==", "Z===", "Zm9v\n", "Zm9-", "Zm=v"}) {
    EXPECT_FALSE(base64Decode(bad)) << bad;
  }
}

TEST(Base64, LargeInputHasNoLineBreaks) {
  std::vector<std::uint8_t> bytes(100000, 0xA5);
  auto text = base64Encode(bytes);
  EXPECT_EQ(text.size(), (bytes.size() + 2) / 3 * 4);
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_EQ(base64Decode(text), bytes);
}

TEST(BitmapContext, DrawsAShrunkImageOverTheFill) {
  // Left half opaque red, right half fully transparent.
  std::vector<std::uint32_t> words;
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x) words.push_back(x < 100 ? 0xFFFF0000 : 0x00000000);
  auto source = Image::fromWords(200, 100, Image::Format::premultiplied, words);
  auto context = BitmapContext::create(20, 10, Image::Format::opaque);
  ASSERT_TRUE(context);
  context->fill(Rect(0, 0, 20, 10), Color{1, 1, 1, 1});
  context->draw(source, Rect(0, 0, 20, 10));
  auto image = std::move(*context).makeImage();
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width(), 20);
  EXPECT_EQ(image->height(), 10);
  EXPECT_EQ(image->pixel(0, 0), 0xFFFF0000u);
  EXPECT_EQ(image->pixel(5, 5), 0xFFFF0000u);
  EXPECT_EQ(image->pixel(15, 5), 0xFFFFFFFFu);
  EXPECT_EQ(image->pixel(19, 9), 0xFFFFFFFFu);
}

TEST(BitmapContext, ImageOutlivesItsContextAndRefusesBadSizes) {
  std::optional<Image> image;
  {
    auto context = BitmapContext::create(64, 64, Image::Format::premultiplied);
    ASSERT_TRUE(context);
    context->fill(Rect(0, 0, 32, 64), Color{0, 0, 1, 1});
    image = std::move(*context).makeImage();
  }
  ASSERT_TRUE(image);
  EXPECT_EQ(image->pixel(0, 0), 0xFF0000FFu);
  EXPECT_EQ(image->pixel(40, 0), 0x00000000u);  // a fresh bitmap is transparent
  EXPECT_FALSE(BitmapContext::create(0, 10, Image::Format::opaque));
  EXPECT_FALSE(BitmapContext::create(10, -1, Image::Format::opaque));
}

// Shrinking by large factors: every source pixel counts, edge columns included.
struct ShrinkCase {
  const char* name;
  std::int64_t width, height;
  std::uint32_t (*pixel)(std::int64_t x, std::int64_t y, std::int64_t width);
  std::int64_t toWidth, toHeight;
  std::int64_t probeX, probeY;
  std::uint32_t expected;
  int tolerance;  // per channel
};

class BitmapShrink : public testing::TestWithParam<ShrinkCase> {};

// The left half red, the right half blue.
std::uint32_t redThenBlue(std::int64_t x, std::int64_t, std::int64_t width) {
  return x < width / 2 ? 0xFFFF0000u : 0xFF0000FFu;
}

TEST_P(BitmapShrink, AveragesWhatItShrinks) {
  const ShrinkCase& c = GetParam();
  std::vector<std::uint32_t> words;
  for (std::int64_t y = 0; y < c.height; ++y)
    for (std::int64_t x = 0; x < c.width; ++x) words.push_back(c.pixel(x, y, c.width));
  auto source = Image::fromWords(c.width, c.height, Image::Format::premultiplied, words);
  auto context = BitmapContext::create(c.toWidth, c.toHeight, Image::Format::opaque);
  ASSERT_TRUE(context);
  context->fill(Rect(0, 0, double(c.toWidth), double(c.toHeight)), Color{1, 1, 1, 1});
  context->draw(source, Rect(0, 0, double(c.toWidth), double(c.toHeight)));
  auto image = std::move(*context).makeImage();
  ASSERT_TRUE(image);
  const std::uint32_t got = image->pixel(c.probeX, c.probeY);
  for (int shift : {0, 8, 16}) {
    const int a = int((got >> shift) & 0xFF), b = int((c.expected >> shift) & 0xFF);
    EXPECT_LE(std::abs(a - b), c.tolerance) << std::hex << got << " against " << c.expected;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BitmapShrink,
    testing::Values(
        ShrinkCase{"HalvesStayApartLeft", 400, 200, redThenBlue, 40, 20, 5, 10, 0xFFFF0000u, 0},
        ShrinkCase{"HalvesStayApartRight", 400, 200, redThenBlue, 40, 20, 35, 10, 0xFF0000FFu, 0},
        // Shrunk by 2.95: blocks of 3 pixels, a little more than the shrink.
        ShrinkCase{"LargerBlocksKeepTheLeftEdge", 590, 295, redThenBlue, 200, 100, 0, 50, 0xFFFF0000u, 0},
        ShrinkCase{"LargerBlocksKeepTheRightEdge", 590, 295, redThenBlue, 200, 100, 199, 99, 0xFF0000FFu, 0},
        ShrinkCase{
            "FinePatternBecomesGrey", 300, 300,
            [](std::int64_t x, std::int64_t, std::int64_t) { return x % 2 ? 0xFFFFFFFFu : 0xFF000000u; }, 30,
            30, 15, 15, 0xFF808080u, 3},
        ShrinkCase{"LastColumnsAreNotDropped", 1003, 10,
                   [](std::int64_t x, std::int64_t, std::int64_t w) {
                     return x >= w - 3 ? 0xFFFFFFFFu : 0xFF000000u;
                   },
                   100, 1, 99, 0, 0xFF4C4C4Cu, 0x18},
        ShrinkCase{"TranslucentOverTheFill", 200, 200,
                   [](std::int64_t, std::int64_t, std::int64_t) { return 0x80800000u; }, 20, 20, 10, 10,
                   0xFFFF7F7Fu, 2},
        ShrinkCase{
            "SlightShrinkStaysCairos", 300, 300,
            [](std::int64_t x, std::int64_t, std::int64_t) { return x < 150 ? 0xFF00FF00u : 0xFF000000u; },
            200, 200, 50, 100, 0xFF00FF00u, 0}),
    [](const testing::TestParamInfo<ShrinkCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zoba::platform
