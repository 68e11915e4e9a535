#include "Platform/linux/x11/presenter/ShmBuffer.h"

#include "Platform/linux/handles/XcbPtr.h"

namespace zoba::platform::linux_backend {

// The segment, and a round trip behind the last put, to wait for before the
// memory is written again or released.
struct ShmBuffer::Segment {
  explicit Segment(ShmSegment memory) : shm(std::move(memory)) {}
  ~Segment() {
    if (pending) xcb_discard_reply(connection, pending->sequence);
  }
  xcb_connection_t* connection = nullptr;
  ShmSegment shm;
  std::optional<xcb_get_input_focus_cookie_t> pending;
};

std::optional<ShmBuffer> ShmBuffer::create(xcb_connection_t* connection, int width, int height,
                                           cairo_format_t format) {
  if (width <= 0 || height <= 0 || !ShmSegment::supported(connection)) return std::nullopt;
  auto shm = ShmSegment::create(connection,
                                static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, true);
  if (!shm) return std::nullopt;
  auto segment = std::make_shared<Segment>(std::move(*shm));
  segment->connection = connection;
  return ShmBuffer(std::move(segment), width, height, format);
}

ShmBuffer::ShmBuffer(std::shared_ptr<Segment> segment, int width, int height, cairo_format_t format)
    : segment_(std::move(segment)), width_(width), height_(height), format_(format) {
  surface_.reset(cairo_image_surface_create_for_data(segment_->shm.data(), format, width, height, width * 4));
}

std::uint8_t* ShmBuffer::row(int y) const {
  return segment_->shm.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride());
}

bool ShmBuffer::read(xcb_drawable_t drawable, int x, int y) {
  synchronise();
  xcb_connection_t* c = segment_->connection;
  auto reply =
      xcbReply(xcb_shm_get_image_reply, c,
               xcb_shm_get_image(c, drawable, static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                                 static_cast<std::uint16_t>(width_), static_cast<std::uint16_t>(height_), ~0u,
                                 XCB_IMAGE_FORMAT_Z_PIXMAP, segment_->shm.id(), 0));
  cairo_surface_mark_dirty(surface_.get());
  return reply != nullptr;
}

void ShmBuffer::put(xcb_drawable_t drawable, xcb_gcontext_t gc, std::uint8_t depth, const PixelRect& rect) {
  cairo_surface_flush(surface_.get());
  xcb_connection_t* c = segment_->connection;
  xcb_shm_put_image(c, drawable, gc, static_cast<std::uint16_t>(width_), static_cast<std::uint16_t>(height_),
                    static_cast<std::uint16_t>(rect.x), static_cast<std::uint16_t>(rect.y),
                    static_cast<std::uint16_t>(rect.width), static_cast<std::uint16_t>(rect.height),
                    static_cast<std::int16_t>(rect.x), static_cast<std::int16_t>(rect.y), depth,
                    XCB_IMAGE_FORMAT_Z_PIXMAP, 0, segment_->shm.id(), 0);
  if (segment_->pending) xcb_discard_reply(c, segment_->pending->sequence);
  segment_->pending = xcb_get_input_focus(c);
}

void ShmBuffer::synchronise() {
  if (!segment_->pending) return;
  // Requests run in order: once this reply is in, every earlier put has been read.
  XReply<xcb_get_input_focus_reply_t> done(
      xcb_get_input_focus_reply(segment_->connection, *segment_->pending, nullptr));
  segment_->pending.reset();
}

}  // namespace zoba::platform::linux_backend
