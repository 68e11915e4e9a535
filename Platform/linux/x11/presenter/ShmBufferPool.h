#pragma once

// Shared-memory buffers kept between panels. A capture's panel covers its screen,
// so the next capture's panel asks for the same sizes; reusing the buffers spares
// its first frame the fresh memory's page faults, here and in the server, which
// took most of the time between the chord and the flash.

#include <xcb/xcb.h>

#include <cstddef>
#include <optional>
#include <vector>

#include "Platform/linux/x11/presenter/ShmBuffer.h"

namespace zoba::platform::linux_backend {

class ShmBufferPool {
 public:
  explicit ShmBufferPool(xcb_connection_t* connection) : connection_(connection) {}

  // A kept buffer of this size and format, or a new one; absent when none can be made.
  std::optional<ShmBuffer> take(int width, int height, cairo_format_t format);
  // Keeps `buffer` for a later panel; past `kKept` of its size and format, frees it.
  void give(ShmBuffer buffer);
  std::size_t idle() const { return idle_.size(); }

  // A panel without a compositor takes two (its frames and the screen beneath).
  static constexpr std::size_t kKept = 2;

 private:
  xcb_connection_t* connection_;
  std::vector<ShmBuffer> idle_;
};

}  // namespace zoba::platform::linux_backend
