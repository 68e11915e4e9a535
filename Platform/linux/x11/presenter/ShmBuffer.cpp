#include "Platform/linux/x11/presenter/ShmBuffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include "Platform/linux/handles/UniqueFd.h"
#include "Platform/linux/x11/XConnection.h"

namespace zoba::platform::linux_backend {

// The mapping on our side and the attachment on the server's, released together.
struct ShmBuffer::Segment {
  xcb_connection_t* connection = nullptr;
  xcb_shm_seg_t id = 0;
  void* address = MAP_FAILED;
  std::size_t length = 0;
  std::optional<xcb_get_input_focus_cookie_t> pending;  // a round trip behind the last put

  ~Segment() {
    if (pending) xcb_discard_reply(connection, pending->sequence);
    if (id != 0) {
      xcb_shm_detach(connection, id);
      xcb_flush(connection);
    }
    if (address != MAP_FAILED) munmap(address, length);
  }
};

std::optional<ShmBuffer> ShmBuffer::create(xcb_connection_t* connection, int width, int height,
                                           cairo_format_t format) {
  if (width <= 0 || height <= 0) return std::nullopt;
  auto version = xcbReply(xcb_shm_query_version_reply, connection, xcb_shm_query_version(connection));
  if (!version || (version->major_version == 1 && version->minor_version < 2)) return std::nullopt;
  auto segment = std::make_shared<Segment>();
  segment->connection = connection;
  segment->length = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
  UniqueFd fd(memfd_create("zoba-layers", MFD_CLOEXEC));
  if (!fd || ftruncate(fd.get(), static_cast<off_t>(segment->length)) != 0) return std::nullopt;
  segment->address = mmap(nullptr, segment->length, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
  if (segment->address == MAP_FAILED) return std::nullopt;
  segment->id = xcb_generate_id(connection);
  // xcb closes the descriptor it sends; it gets its own copy.
  const int sent = dup(fd.get());
  if (sent < 0) {
    segment->id = 0;
    return std::nullopt;
  }
  auto attached = xcb_shm_attach_fd_checked(connection, segment->id, sent, 0);
  if (XReply<xcb_generic_error_t> error{xcb_request_check(connection, attached)}) {
    segment->id = 0;
    return std::nullopt;
  }
  return ShmBuffer(std::move(segment), width, height, format);
}

ShmBuffer::ShmBuffer(std::shared_ptr<Segment> segment, int width, int height, cairo_format_t format)
    : segment_(std::move(segment)), width_(width), height_(height) {
  surface_.reset(cairo_image_surface_create_for_data(static_cast<unsigned char*>(segment_->address), format, width,
                                                     height, width * 4));
}

std::uint8_t* ShmBuffer::row(int y) const {
  return static_cast<std::uint8_t*>(segment_->address) + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride());
}

bool ShmBuffer::read(xcb_drawable_t drawable, int x, int y) {
  synchronise();
  xcb_connection_t* c = segment_->connection;
  auto reply = xcbReply(xcb_shm_get_image_reply, c,
                        xcb_shm_get_image(c, drawable, static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                                          static_cast<std::uint16_t>(width_), static_cast<std::uint16_t>(height_),
                                          ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, segment_->id, 0));
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
                    XCB_IMAGE_FORMAT_Z_PIXMAP, 0, segment_->id, 0);
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
