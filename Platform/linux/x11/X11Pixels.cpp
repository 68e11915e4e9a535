#include "Platform/linux/x11/X11Pixels.h"

#include <memory>

#include "Platform/linux/handles/XcbPtr.h"
#include "Platform/linux/x11/ShmSegment.h"

namespace zoba::platform::linux_backend {

std::optional<Image> readPixelsShm(xcb_connection_t* c, xcb_drawable_t drawable, std::int16_t x,
                                   std::int16_t y, std::uint16_t width, std::uint16_t height,
                                   Image::Format format) {
  // Unchecked: a refused segment fails the request below, one round trip sooner.
  auto segment = ShmSegment::create(c, std::size_t(width) * height * 4, false);
  if (!segment) return std::nullopt;
  auto reply = xcbReply(
      xcb_shm_get_image_reply, c,
      xcb_shm_get_image(c, drawable, x, y, width, height, ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, segment->id(), 0));
  // The image keeps the mapping; the server's side goes as soon as the reply is in.
  segment->detach();
  if (!reply) return std::nullopt;
  auto kept = std::make_shared<ShmSegment>(std::move(*segment));
  const std::uint8_t* pixels = kept->data();
  return Image(width, height, std::size_t(width) * 4, format, std::move(kept), pixels);
}

std::optional<Image> readPixelsPlain(xcb_connection_t* c, xcb_drawable_t drawable, std::int16_t x,
                                     std::int16_t y, std::uint16_t width, std::uint16_t height,
                                     Image::Format format) {
  std::shared_ptr<xcb_get_image_reply_t> reply(
      xcbReply(xcb_get_image_reply, c,
               xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, x, y, width, height, ~0u))
          .release(),
      FreeDeleter{});
  if (!reply || std::size_t(xcb_get_image_data_length(reply.get())) < std::size_t(width) * height * 4) {
    return std::nullopt;
  }
  const std::uint8_t* pixels = xcb_get_image_data(reply.get());
  return Image(width, height, std::size_t(width) * 4, format, std::move(reply), pixels);
}
}  // namespace zoba::platform::linux_backend
