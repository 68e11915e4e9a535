#include "Platform/linux/wayland/presenter/BufferPool.h"

#include <algorithm>

namespace zoba::platform::linux_backend::wayland {

std::unique_ptr<ShmBuffer> BufferPool::take(int width, int height) {
  auto found = std::find_if(idle_.begin(), idle_.end(), [&](const std::unique_ptr<ShmBuffer>& buffer) {
    return buffer->width() == width && buffer->height() == height && !buffer->held();
  });
  if (found == idle_.end()) return ShmBuffer::create(shm_, width, height);
  auto buffer = std::move(*found);
  idle_.erase(found);
  return buffer;
}

void BufferPool::give(std::unique_ptr<ShmBuffer> buffer) {
  if (!buffer) return;
  // Its surface is gone: a release still to come concerns no one.
  buffer->setReleased({});
  const auto sameSize =
      std::count_if(idle_.begin(), idle_.end(), [&](const std::unique_ptr<ShmBuffer>& kept) {
        return kept->width() == buffer->width() && kept->height() == buffer->height();
      });
  if (static_cast<std::size_t>(sameSize) < kKept) idle_.push_back(std::move(buffer));
}

void BufferPool::reserve(int width, int height, std::size_t count) {
  auto sameSize = static_cast<std::size_t>(std::count_if(idle_.begin(), idle_.end(), [&](const auto& kept) {
    return kept->width() == width && kept->height() == height;
  }));
  for (; sameSize < count; ++sameSize) {
    auto buffer = ShmBuffer::create(shm_, width, height);
    if (!buffer) return;
    idle_.push_back(std::move(buffer));
  }
}

}  // namespace zoba::platform::linux_backend::wayland
