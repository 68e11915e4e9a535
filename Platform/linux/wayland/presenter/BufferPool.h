#pragma once

// Buffers kept between panels: a capture's panel covers a whole output, so the next
// one takes the same size, and its first frame need not wait for fresh memory. The
// render thread fills the pool for every output as it connects.

#include <cstddef>
#include <memory>
#include <vector>

#include "Platform/linux/wayland/presenter/ShmBuffer.h"

namespace zoba::platform::linux_backend::wayland {

class BufferPool {
 public:
  explicit BufferPool(wl_shm* shm) : shm_(shm) {}

  // An idle buffer of this size that the compositor does not hold, or a new one;
  // null when none can be made.
  std::unique_ptr<ShmBuffer> take(int width, int height);
  // Keeps `buffer` for a later surface of its size; past `kKept` of a size, frees it.
  void give(std::unique_ptr<ShmBuffer> buffer);
  // Makes buffers of a size until `count` are idle.
  void reserve(int width, int height, std::size_t count);
  std::size_t idle() const { return idle_.size(); }

  static constexpr std::size_t kKept = 2;

 private:
  wl_shm* shm_;
  std::vector<std::unique_ptr<ShmBuffer>> idle_;
};

}  // namespace zoba::platform::linux_backend::wayland
