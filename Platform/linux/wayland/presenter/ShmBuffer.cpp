#include "Platform/linux/wayland/presenter/ShmBuffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <climits>

#include "Platform/linux/handles/UniqueFd.h"

namespace zoba::platform::linux_backend::wayland {

ShmBuffer::Mapping::~Mapping() {
  if (address) munmap(address, length);
}

std::unique_ptr<ShmBuffer> ShmBuffer::create(wl_shm* shm, int width, int height) {
  if (!shm || width <= 0 || height <= 0) return nullptr;
  const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, width);
  const std::size_t length = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
  if (stride <= 0 || length > INT_MAX) return nullptr;
  std::unique_ptr<ShmBuffer> buffer(new ShmBuffer());
  UniqueFd fd(memfd_create("zoba-overlay", MFD_CLOEXEC));
  if (!fd || ftruncate(fd.get(), static_cast<off_t>(length)) != 0) return nullptr;
  void* address = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd.get(), 0);
  if (address == MAP_FAILED) return nullptr;
  buffer->mapping_.address = address;
  buffer->mapping_.length = length;
  // The buffer keeps the pool's memory; the pool itself is of no further use.
  auto pool = own(wl_shm_create_pool(shm, fd.get(), static_cast<std::int32_t>(length)), wl_shm_pool_destroy);
  if (!pool) return nullptr;
  buffer->buffer_ =
      own(wl_shm_pool_create_buffer(pool.get(), 0, width, height, stride, WL_SHM_FORMAT_ARGB8888),
          wl_buffer_destroy);
  if (!buffer->buffer_) return nullptr;
  // Cairo's ARGB32 is premultiplied, native-endian 0xAARRGGBB: wl_shm's ARGB8888.
  buffer->surface_.reset(cairo_image_surface_create_for_data(static_cast<unsigned char*>(address),
                                                             CAIRO_FORMAT_ARGB32, width, height, stride));
  if (cairo_surface_status(buffer->surface_.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  buffer->width_ = width;
  buffer->height_ = height;
  static const wl_buffer_listener listener{&ShmBuffer::onRelease};
  wl_buffer_add_listener(buffer->buffer_.get(), &listener, buffer.get());
  return buffer;
}

void ShmBuffer::onRelease(void* data, wl_buffer*) {
  auto* buffer = static_cast<ShmBuffer*>(data);
  buffer->held_ = false;
  if (buffer->released_) buffer->released_();
}

}  // namespace zoba::platform::linux_backend::wayland
