// JPEG through TurboJPEG. A handle is made per call: it costs microseconds, and a
// handle reused after a progressive compression silently corrupts later images.
#include <turbojpeg.h>

#include <bit>

#include "Platform/Image.h"

namespace zoba::platform {

namespace {

struct TurboJpeg {
  tjhandle handle;
  explicit TurboJpeg(bool compress) : handle(compress ? tjInitCompress() : tjInitDecompress()) {}
  ~TurboJpeg() {
    if (handle) tjDestroy(handle);
  }
  TurboJpeg(const TurboJpeg&) = delete;
  TurboJpeg& operator=(const TurboJpeg&) = delete;
};

constexpr int kWordFormat = std::endian::native == std::endian::little ? TJPF_BGRX : TJPF_XRGB;

}  // namespace

std::optional<Bytes> encodeJPEG(const Image& image, int quality) {
  if (image.empty() || image.width() > 65535 || image.height() > 65535) return std::nullopt;
  TurboJpeg jpeg(true);
  if (!jpeg.handle) return std::nullopt;
  const int width = static_cast<int>(image.width()), height = static_cast<int>(image.height());
  // Our own buffer of the worst-case size: no allocation inside the encoder.
  Bytes out(tjBufSize(width, height, TJSAMP_420));
  unsigned char* data = out.data();
  unsigned long size = out.size();
  if (tjCompress2(jpeg.handle, image.row(0), width, static_cast<int>(image.bytesPerRow()), height,
                  kWordFormat, &data, &size, TJSAMP_420, quality, TJFLAG_NOREALLOC) != 0) {
    return std::nullopt;
  }
  out.resize(size);
  out.shrink_to_fit();
  return out;
}

std::optional<std::pair<std::int64_t, std::int64_t>> jpegSize(std::span<const std::uint8_t> bytes) {
  TurboJpeg jpeg(false);
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  if (!jpeg.handle || tjDecompressHeader3(jpeg.handle, bytes.data(), bytes.size(), &width, &height,
                                          &subsampling, &colorspace) != 0) {
    return std::nullopt;
  }
  return std::pair<std::int64_t, std::int64_t>(width, height);
}

std::optional<Image> decodeJPEG(std::span<const std::uint8_t> bytes) {
  auto size = jpegSize(bytes);
  TurboJpeg jpeg(false);
  if (!size || !jpeg.handle) return std::nullopt;
  auto [width, height] = *size;
  std::vector<std::uint32_t> words(static_cast<std::size_t>(width * height));
  if (tjDecompress2(jpeg.handle, bytes.data(), bytes.size(), reinterpret_cast<unsigned char*>(words.data()),
                    static_cast<int>(width), static_cast<int>(width * 4), static_cast<int>(height),
                    kWordFormat, 0) != 0) {
    return std::nullopt;
  }
  return Image::fromWords(width, height, Image::Format::opaque, std::move(words));
}

}  // namespace zoba::platform
