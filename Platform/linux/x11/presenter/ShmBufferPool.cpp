#include "Platform/linux/x11/presenter/ShmBufferPool.h"

#include <algorithm>

namespace zoba::platform::linux_backend {

namespace {

bool fits(const ShmBuffer& buffer, int width, int height, cairo_format_t format) {
  return buffer.width() == width && buffer.height() == height && buffer.format() == format;
}

}  // namespace

std::optional<ShmBuffer> ShmBufferPool::take(int width, int height, cairo_format_t format) {
  auto found = std::find_if(idle_.begin(), idle_.end(),
                            [&](const ShmBuffer& buffer) { return fits(buffer, width, height, format); });
  if (found == idle_.end()) return ShmBuffer::create(connection_, width, height, format);
  std::optional<ShmBuffer> buffer(std::move(*found));
  idle_.erase(found);
  // The server may still be reading the last frame put from it.
  buffer->synchronise();
  return buffer;
}

void ShmBufferPool::give(ShmBuffer buffer) {
  const auto sameKind = std::count_if(idle_.begin(), idle_.end(), [&](const ShmBuffer& kept) {
    return fits(kept, buffer.width(), buffer.height(), buffer.format());
  });
  if (static_cast<std::size_t>(sameKind) < kKept) idle_.push_back(std::move(buffer));
}

}  // namespace zoba::platform::linux_backend
