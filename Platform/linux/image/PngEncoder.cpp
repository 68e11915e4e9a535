// PNG built for speed: the screenshot of a large window goes through here on
// every capture. libpng writes the file's chunks; the image data it carries is
// made here, because libpng deflates on one thread only. Each row is converted
// and Up-filtered in one pass, and bands of rows are deflated on every core at
// once. A band is a
// raw deflate stream of its own that ends on a byte boundary (a sync flush), so
// the bands laid end to end make one standard zlib stream; their Adler-32 sums
// are combined; each band's fresh dictionary costs under 1% more bytes on screens.
// Level 1 with the Up filter takes about a quarter of the default settings' time
// for a file a fifth larger.
#include "Platform/linux/image/PngEncoder.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <csetjmp>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <span>
#include <thread>
#include <vector>

#include "Platform/linux/handles/ZlibPtr.h"

namespace zoba::platform {
namespace linux_backend {
namespace {

constexpr int compressionLevel = 1;
constexpr std::int64_t largestDimension = PNG_USER_WIDTH_MAX;  // what libpng's readers accept
// Rows handed to deflate at once: few enough to stay in the cache between
// filtering them and deflating them.
constexpr std::size_t batchBytes = 64 * 1024;
// Below this many bytes of rows a band's fresh dictionary and thread cost more
// than they save.
constexpr std::size_t bandMinimumBytes = 256 * 1024;
// A thread that finishes early (its core was busy elsewhere) takes the next band.
constexpr std::size_t bandsPerThread = 4;
constexpr std::size_t chunkLimit = 1 << 18;  // data bytes of one IDAT chunk

// The pixel loops only read the screenshot, which nothing writes while they run,
// and write buffers of their own thread: a thread sanitizer's check of each byte
// would make them ten times slower than the rest of a capture, so they go unchecked.
#define PIXEL_LOOP __attribute__((no_sanitize("thread")))

// R, G, B bytes of one opaque row. Writes one byte past the row.
PIXEL_LOOP void packRow(const std::uint8_t* source, std::int64_t width, std::uint8_t* out) {
  for (std::int64_t x = 0; x < width; ++x) {
    std::uint32_t word;
    std::memcpy(&word, source + x * 4, 4);
    // 0xXXRRGGBB as the bytes R, G, B and one that the next pixel overwrites.
    const std::uint32_t rgb =
        std::endian::native == std::endian::little ? __builtin_bswap32(word) >> 8 : word << 8;
    std::memcpy(out + x * 3, &rgb, 4);
  }
}

// Straight (not premultiplied) R, G, B, A bytes of one premultiplied row.
PIXEL_LOOP void unpremultiplyRow(const std::uint8_t* source, std::int64_t width, std::uint8_t* out) {
  for (std::int64_t x = 0; x < width; ++x) {
    std::uint32_t word;
    std::memcpy(&word, source + x * 4, 4);
    const std::uint32_t a = word >> 24;
    std::uint32_t r = (word >> 16) & 0xFF, g = (word >> 8) & 0xFF, b = word & 0xFF;
    if (a != 0 && a != 255) {
      r = (r * 255 + a / 2) / a;
      g = (g * 255 + a / 2) / a;
      b = (b * 255 + a / 2) / a;
    }
    out[x * 4 + 0] = static_cast<std::uint8_t>(r > 255 ? 255 : r);
    out[x * 4 + 1] = static_cast<std::uint8_t>(g > 255 ? 255 : g);
    out[x * 4 + 2] = static_cast<std::uint8_t>(b > 255 ? 255 : b);
    out[x * 4 + 3] = static_cast<std::uint8_t>(a);
  }
}

// The image's rows as filtered PNG rows, any run of them at a time: each row as
// the file holds it (R, G, B or straight R, G, B, A) less the row above (Up), or
// as it is on the first row (None).
class RowFilter {
 public:
  explicit RowFilter(const Image& image)
      : image_(image),
        opaque_(image.format() == Image::Format::opaque),
        bytes_(static_cast<std::size_t>(image.width()) * (opaque_ ? 3 : 4)),
        above_(bytes_ + 1),
        current_(bytes_ + 1) {}

  std::size_t rowBytes() const { return 1 + bytes_; }

  // Rows [first, first + count) into `out`.
  PIXEL_LOOP void write(std::int64_t first, std::int64_t count, std::uint8_t* out) {
    for (std::int64_t y = first; y < first + count; ++y, out += rowBytes()) {
      if (y > 0 && aboveRow_ != y - 1) convert(y - 1, above_.data());
      convert(y, current_.data());
      out[0] = y == 0 ? 0 : 2;
      if (y == 0) {
        std::memcpy(out + 1, current_.data(), bytes_);
      } else {
        subtract(current_.data(), above_.data(), out + 1);
      }
      std::swap(above_, current_);
      aboveRow_ = y;
    }
  }

 private:
  PIXEL_LOOP void convert(std::int64_t y, std::uint8_t* out) const {
    if (opaque_) {
      packRow(image_.row(y), image_.width(), out);
    } else {
      unpremultiplyRow(image_.row(y), image_.width(), out);
    }
  }
  // 16 bytes at a time: the compiler's own vectorising finds this loop too
  // costly at -O2, and it runs over every byte of the screenshot.
  PIXEL_LOOP void subtract(const std::uint8_t* row, const std::uint8_t* above, std::uint8_t* out) const {
    using Lanes = std::uint8_t __attribute__((vector_size(16)));
    std::size_t i = 0;
    for (; i + sizeof(Lanes) <= bytes_; i += sizeof(Lanes)) {
      Lanes a, b;
      std::memcpy(&a, row + i, sizeof a);
      std::memcpy(&b, above + i, sizeof b);
      a -= b;
      std::memcpy(out + i, &a, sizeof a);
    }
    for (; i < bytes_; ++i) out[i] = static_cast<std::uint8_t>(row[i] - above[i]);
  }

  const Image& image_;
  bool opaque_;
  std::size_t bytes_;                          // of a row as the file holds it
  std::vector<std::uint8_t> above_, current_;  // converted rows, one byte to spare
  std::int64_t aboveRow_ = -1;                 // the row `above_` holds
};

// One band's raw deflate stream; grown as deflate needs, never zeroed first.
struct Band {
  std::unique_ptr<std::uint8_t[]> bytes;
  std::size_t size = 0, capacity = 0;
  uLong adler = 1;            // of the filtered rows
  std::size_t rowsBytes = 0;  // how many filtered bytes went in

  void grow() {
    const std::size_t larger = std::max<std::size_t>(capacity * 2, 4096);
    auto moved = std::make_unique_for_overwrite<std::uint8_t[]>(larger);
    if (size) std::memcpy(moved.get(), bytes.get(), size);
    bytes = std::move(moved);
    capacity = larger;
  }
};

// Deflates `input` with `flush`, growing the band's bytes as needed.
bool deflateInto(z_stream& stream, Band& band, std::span<std::uint8_t> input, int flush) {
  stream.next_in = input.data();
  stream.avail_in = static_cast<uInt>(input.size());
  for (;;) {
    if (band.size == band.capacity) band.grow();
    const auto room = static_cast<uInt>(std::min<std::size_t>(band.capacity - band.size, 1u << 30));
    stream.next_out = band.bytes.get() + band.size;
    stream.avail_out = room;
    const int result = deflate(&stream, flush);
    band.size += room - stream.avail_out;
    if (result != Z_OK && result != Z_BUF_ERROR && result != Z_STREAM_END) return false;
    if (flush == Z_FINISH ? result == Z_STREAM_END : stream.avail_in == 0 && stream.avail_out != 0)
      return true;
  }
}

// Rows [first, end) filtered and deflated; the last band finishes the stream.
std::optional<Band> deflateBand(const Image& image, std::int64_t first, std::int64_t end, bool last) {
  DeflatePtr stream = makeDeflate(compressionLevel, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  if (!stream) return std::nullopt;
  RowFilter filter(image);
  const std::size_t rowBytes = filter.rowBytes();
  const auto batchRows = static_cast<std::int64_t>(std::max<std::size_t>(1, batchBytes / rowBytes));
  std::vector<std::uint8_t> batch(static_cast<std::size_t>(batchRows) * rowBytes + 1);
  Band band;
  band.capacity = static_cast<std::size_t>(end - first) * rowBytes / 8 + 64;  // screens compress well
  band.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(band.capacity);
  for (std::int64_t y = first; y < end; y += batchRows) {
    const std::int64_t rows = std::min(batchRows, end - y);
    filter.write(y, rows, batch.data());
    const std::span<std::uint8_t> filtered(batch.data(), static_cast<std::size_t>(rows) * rowBytes);
    band.adler = adler32_z(band.adler, filtered.data(), filtered.size());
    band.rowsBytes += filtered.size();
    const int flush = y + rows < end ? Z_NO_FLUSH : last ? Z_FINISH : Z_SYNC_FLUSH;
    if (!deflateInto(*stream, band, filtered, flush)) return std::nullopt;
  }
  return band;
}

// The zlib stream's parts, in order, as IDAT chunks of at most chunkLimit bytes.
class DataChunks {
 public:
  explicit DataChunks(png_structp png) : png_(png) { pending_.reserve(chunkLimit); }
  void append(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
      const std::size_t part = std::min(bytes.size(), chunkLimit - pending_.size());
      pending_.insert(pending_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(part));
      bytes = bytes.subspan(part);
      if (pending_.size() == chunkLimit) flush();
    }
  }
  void flush() {
    if (pending_.empty()) return;
    png_write_chunk(png_, reinterpret_cast<png_const_bytep>("IDAT"), pending_.data(), pending_.size());
    pending_.clear();
  }

 private:
  png_structp png_;
  std::vector<std::uint8_t> pending_;
};

struct PngWriter {
  png_structp png = nullptr;
  png_infop info = nullptr;
  PngWriter() {
    png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png) info = png_create_info_struct(png);
  }
  ~PngWriter() { png_destroy_write_struct(&png, &info); }
  PngWriter(const PngWriter&) = delete;
  PngWriter& operator=(const PngWriter&) = delete;
};

void appendToBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
void flushNothing(png_structp) {}

// The signature and header, the bands as one zlib stream, the end. libpng reports
// errors by longjmp: nothing with a destructor may live in this frame, so
// `chunks` belongs to the caller.
bool writeFile(png_structp png, png_infop info, const Image& image,
               std::span<const std::optional<Band>> bands, Bytes& out, DataChunks& chunks) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, &out, appendToBytes, flushNothing);
  const bool opaque = image.format() == Image::Format::opaque;
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width()), static_cast<png_uint_32>(image.height()),
               8, opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);

  static const std::uint8_t zlibHeader[2] = {0x78, 0x01};  // deflate, 32 KB window, fastest level
  chunks.append(zlibHeader);
  uLong adler = bands.front()->adler;
  for (std::size_t i = 0; i < bands.size(); ++i) {
    chunks.append({bands[i]->bytes.get(), bands[i]->size});
    if (i > 0) adler = adler32_combine(adler, bands[i]->adler, static_cast<z_off_t>(bands[i]->rowsBytes));
  }
  const std::uint8_t checksum[4] = {static_cast<std::uint8_t>(adler >> 24),
                                    static_cast<std::uint8_t>(adler >> 16),
                                    static_cast<std::uint8_t>(adler >> 8), static_cast<std::uint8_t>(adler)};
  chunks.append(checksum);
  chunks.flush();
  // png_write_end wants image data written through libpng's own rows.
  png_write_chunk(png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
  return true;
}

// The bands deflated on up to `threads` threads; any absent means one failed.
std::vector<std::optional<Band>> deflateBands(const Image& image, std::size_t count, std::size_t threads) {
  std::vector<std::optional<Band>> bands(count);
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < count;) {
      const auto height = image.height(), index = static_cast<std::int64_t>(i);
      const auto total = static_cast<std::int64_t>(count);
      try {
        bands[i] = deflateBand(image, height * index / total, height * (index + 1) / total, i + 1 == count);
      } catch (const std::bad_alloc&) {
        // Left absent: the encoding fails as a whole.
      }
    }
  };
  std::vector<std::jthread> helpers;  // joined before the bands are read
  try {
    helpers.reserve(threads);
    for (std::size_t k = 1; k < std::min(threads, count); ++k) helpers.emplace_back(work);
  } catch (const std::exception&) {
    // Fewer threads than asked: those there take all the bands between them.
  }
  work();
  helpers.clear();
  return bands;
}

}  // namespace

std::optional<Bytes> encodePNGInStripes(const Image& image, std::size_t stripes, std::size_t threads) {
  if (image.empty() || image.width() > largestDimension || image.height() > largestDimension) {
    return std::nullopt;
  }
  const auto count = static_cast<std::size_t>(std::clamp<std::int64_t>(
      static_cast<std::int64_t>(std::min<std::size_t>(stripes, largestDimension)), 1, image.height()));
  auto bands = deflateBands(image, count, std::max<std::size_t>(threads, 1));
  std::size_t deflated = 0;
  for (const auto& band : bands) {
    if (!band) return std::nullopt;
    deflated += band->size;
  }

  PngWriter writer;
  if (!writer.png || !writer.info) return std::nullopt;
  Bytes out;
  out.reserve(64 + deflated + 12 * (deflated / chunkLimit + 2));
  DataChunks chunks(writer.png);
  if (!writeFile(writer.png, writer.info, image, bands, out, chunks)) return std::nullopt;
  return out;
}

}  // namespace linux_backend

std::optional<Bytes> encodePNG(const Image& image) {
  if (image.empty()) return std::nullopt;
  const std::size_t rowBytes =
      1 + static_cast<std::size_t>(image.width()) * (image.format() == Image::Format::opaque ? 3 : 4);
  const std::size_t bytes = rowBytes * static_cast<std::size_t>(image.height());
  const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t stripes = std::clamp<std::size_t>(bytes / linux_backend::bandMinimumBytes, 1,
                                                      cores * linux_backend::bandsPerThread);
  return linux_backend::encodePNGInStripes(image, stripes, cores);
}

}  // namespace zoba::platform
