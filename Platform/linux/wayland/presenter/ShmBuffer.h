#pragma once

// One wl_shm buffer: premultiplied ARGB8888 pixels in a memfd mapped here and in the
// compositor, drawable with Cairo. The compositor reads it from a commit until it
// sends release; `released` is called then, on the connection's thread. The memory
// is faulted in when the buffer is made: on a busy machine the first touch of 8 MB
// of fresh shared memory took 30-50 ms, too long for a first frame.

#include <wayland-client.h>

#include <functional>
#include <memory>

#include "Platform/linux/handles/CairoPtr.h"
#include "Platform/linux/wayland/WaylandConnection.h"

namespace zoba::platform::linux_backend::wayland {

class ShmBuffer {
 public:
  // Null when the memory or the buffer cannot be made.
  static std::unique_ptr<ShmBuffer> create(wl_shm* shm, int width, int height);
  ~ShmBuffer() = default;
  ShmBuffer(const ShmBuffer&) = delete;
  ShmBuffer& operator=(const ShmBuffer&) = delete;

  wl_buffer* buffer() const { return buffer_.get(); }
  cairo_surface_t* surface() const { return surface_.get(); }
  int width() const { return width_; }
  int height() const { return height_; }

  // Given to the compositor with a commit: held until it sends release.
  void attached() { held_ = true; }
  bool held() const { return held_; }
  // Called on release from now on (nothing when empty).
  void setReleased(std::function<void()> released) { released_ = std::move(released); }

 private:
  ShmBuffer() = default;
  static void onRelease(void* data, wl_buffer* buffer);

  struct Mapping {
    void* address = nullptr;
    std::size_t length = 0;
    Mapping() = default;
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    ~Mapping();
  };
  Mapping mapping_;
  ProxyPtr<wl_buffer> buffer_{nullptr, nullptr};
  CairoSurfacePtr surface_;  // over the mapping; declared after it, so it goes first
  int width_ = 0, height_ = 0;
  bool held_ = false;
  std::function<void()> released_;
};

}  // namespace zoba::platform::linux_backend::wayland
