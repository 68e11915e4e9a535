#include "Platform/linux/x11/X11Pixels.h"

#include <sys/mman.h>
#include <unistd.h>
#include <xcb/shm.h>

#include <memory>

#include "Platform/linux/x11/XConnection.h"

namespace zoba::platform::linux_backend {

namespace {

// A shared-memory segment the X server writes a screenshot into. The image keeps
// the mapping; the server's side is detached as soon as the reply is in.
struct Mapping {
  void* address = MAP_FAILED;
  std::size_t length = 0;
  ~Mapping() {
    if (address != MAP_FAILED) munmap(address, length);
  }
};

}  // namespace

std::optional<Image> readPixelsShm(xcb_connection_t* c, xcb_drawable_t drawable, std::int16_t x, std::int16_t y,
                                   std::uint16_t width, std::uint16_t height, Image::Format format) {
  const std::size_t length = std::size_t(width) * height * 4;
  int fd = memfd_create("zoba-screenshot", MFD_CLOEXEC);
  if (fd < 0) return std::nullopt;
  auto mapping = std::make_shared<Mapping>();
  if (ftruncate(fd, static_cast<off_t>(length)) != 0 ||
      (mapping->address = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)) == MAP_FAILED) {
    close(fd);
    return std::nullopt;
  }
  mapping->length = length;
  const xcb_shm_seg_t segment = xcb_generate_id(c);
  // xcb sends the descriptor and closes it.
  xcb_shm_attach_fd(c, segment, fd, 0);
  auto reply = xcbReply(xcb_shm_get_image_reply, c,
                        xcb_shm_get_image(c, drawable, x, y, width, height, ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, segment, 0));
  xcb_shm_detach(c, segment);
  xcb_flush(c);
  if (!reply) return std::nullopt;
  auto* pixels = static_cast<const std::uint8_t*>(mapping->address);
  return Image(width, height, std::size_t(width) * 4, format, std::move(mapping), pixels);
}

std::optional<Image> readPixelsPlain(xcb_connection_t* c, xcb_drawable_t drawable, std::int16_t x, std::int16_t y,
                                     std::uint16_t width, std::uint16_t height, Image::Format format) {
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
