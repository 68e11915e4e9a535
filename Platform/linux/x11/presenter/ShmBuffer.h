#pragma once

// A pixel buffer in a shared-memory segment, drawable with Cairo: the server reads frames from it and writes
// screen snapshots into it without copying them through the socket.

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <optional>

#include "Platform/linux/handles/CairoPtr.h"
#include "Platform/linux/layers/ShownLayers.h"
#include "Platform/linux/x11/ShmSegment.h"

namespace zoba::platform::linux_backend {

class ShmBuffer {
 public:
  // Absent when shared memory cannot be made or the server lacks MIT-SHM 1.2.
  static std::optional<ShmBuffer> create(xcb_connection_t* connection, int width, int height,
                                         cairo_format_t format);

  int width() const { return width_; }
  int height() const { return height_; }
  int stride() const { return width_ * 4; }
  cairo_format_t format() const { return format_; }
  std::uint8_t* row(int y) const;
  cairo_surface_t* surface() const { return surface_.get(); }

  // Reads the drawable's pixels at (x, y) into the whole buffer; waits for them.
  bool read(xcb_drawable_t drawable, int x, int y);
  // Sends `rect` of the buffer to the same place in `drawable`; the server reads
  // it later, so call synchronise() before drawing over it again.
  void put(xcb_drawable_t drawable, xcb_gcontext_t gc, std::uint8_t depth, const PixelRect& rect);
  // Waits until the server has read every put so far.
  void synchronise();

 private:
  struct Segment;
  ShmBuffer(std::shared_ptr<Segment> segment, int width, int height, cairo_format_t format);

  std::shared_ptr<Segment> segment_;
  int width_ = 0, height_ = 0;
  cairo_format_t format_;
  CairoSurfacePtr surface_;  // over the segment's memory; declared after it, so destroyed first
};

}  // namespace zoba::platform::linux_backend
