#include "Platform/linux/image/ZlibStripes.h"

#include <zlib.h>

#include <algorithm>
#include <thread>

namespace zoba::platform::image {

namespace {

// Rows handed to zlib at a time: a buffer well below the allocator's mmap threshold.
constexpr std::int64_t batchRows = 8;
constexpr std::size_t outputStep = 1 << 16;

// A raw deflate stream, ended with deflateEnd.
class Deflater {
 public:
  explicit Deflater(int level) {
    ok_ = deflateInit2(&stream_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~Deflater() {
    if (ok_) deflateEnd(&stream_);
  }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  // Compresses `input` onto `out`; `flush` as zlib's deflate takes it.
  bool add(const StripeBytes& input, int flush, StripeBytes& out) {
    if (!ok_) return false;
    stream_.next_in = const_cast<Bytef*>(input.data());
    stream_.avail_in = static_cast<uInt>(input.size());
    for (;;) {
      const std::size_t used = out.size();
      out.resize(used + outputStep);
      stream_.next_out = out.data() + used;
      stream_.avail_out = static_cast<uInt>(outputStep);
      const int result = deflate(&stream_, flush);
      out.resize(out.size() - stream_.avail_out);
      if (result == Z_STREAM_END) return true;
      if (result != Z_OK && result != Z_BUF_ERROR) return false;
      // Done once zlib took all the input and, when flushing, left room unused.
      if (stream_.avail_in == 0 && stream_.avail_out != 0 && flush != Z_FINISH) return true;
    }
  }

 private:
  z_stream stream_{};
  bool ok_ = false;
};

struct Stripe {
  std::optional<StripeBytes> deflated;
  uLong adler = adler32(0, nullptr, 0);
  std::size_t length = 0;
};

Stripe compressStripe(std::int64_t begin, std::int64_t end, bool last, int level, const RowWriter& write) {
  Stripe stripe;
  Deflater deflater(level);
  StripeBytes out, rows;
  for (std::int64_t row = begin; row < end; row += batchRows) {
    const std::int64_t batchEnd = std::min(row + batchRows, end);
    rows.clear();
    write(row, batchEnd, rows);
    stripe.adler = adler32(stripe.adler, rows.data(), static_cast<uInt>(rows.size()));
    stripe.length += rows.size();
    const int flush = batchEnd < end ? Z_NO_FLUSH : last ? Z_FINISH : Z_SYNC_FLUSH;
    if (!deflater.add(rows, flush, out)) return stripe;
  }
  stripe.deflated = std::move(out);
  return stripe;
}

}  // namespace

std::optional<StripeBytes> zlibStripes(std::int64_t rows, std::size_t stripes, int level,
                                       const RowWriter& write) {
  if (rows <= 0 || stripes == 0) return std::nullopt;
  // Equal stripes, none empty.
  const std::int64_t asked = std::min<std::int64_t>(static_cast<std::int64_t>(stripes), rows);
  const std::int64_t perStripe = (rows + asked - 1) / asked;
  const std::int64_t count = (rows + perStripe - 1) / perStripe;
  std::vector<Stripe> parts(static_cast<std::size_t>(count));
  auto run = [&](std::int64_t index) {
    const std::int64_t begin = index * perStripe;
    const std::int64_t end = std::min(begin + perStripe, rows);
    parts[static_cast<std::size_t>(index)] = compressStripe(begin, end, end == rows, level, write);
  };
  {
    std::vector<std::jthread> helpers;
    for (std::int64_t index = 1; index < count; ++index) helpers.emplace_back(run, index);
    run(0);
  }
  // The zlib header: deflate with a 32 KiB window, the fastest level's flag, and the
  // check bits that make it a multiple of 31.
  StripeBytes out{0x78, 0x01};
  uLong adler = adler32(0, nullptr, 0);
  for (const Stripe& part : parts) {
    if (!part.deflated) return std::nullopt;
    out.insert(out.end(), part.deflated->begin(), part.deflated->end());
    adler = adler32_combine(adler, part.adler, static_cast<z_off_t>(part.length));
  }
  for (int shift : {24, 16, 8, 0}) out.push_back(static_cast<std::uint8_t>(adler >> shift));
  return out;
}

}  // namespace zoba::platform::image
