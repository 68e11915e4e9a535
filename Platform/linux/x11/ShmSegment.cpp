#include "Platform/linux/x11/ShmSegment.h"

#include <sys/mman.h>
#include <unistd.h>

#include <utility>

#include "Platform/linux/handles/UniqueFd.h"
#include "Platform/linux/handles/XcbPtr.h"

namespace zoba::platform::linux_backend {

bool ShmSegment::supported(xcb_connection_t* c) {
  auto version = xcbReply(xcb_shm_query_version_reply, c, xcb_shm_query_version(c));
  return version &&
         (version->major_version > 1 || (version->major_version == 1 && version->minor_version >= 2));
}

std::optional<ShmSegment> ShmSegment::create(xcb_connection_t* c, std::size_t length, bool checked) {
  if (length == 0) return std::nullopt;
  UniqueFd fd(memfd_create("zoba-shm", MFD_CLOEXEC));
  if (!fd || ftruncate(fd.get(), static_cast<off_t>(length)) != 0) return std::nullopt;
  void* address = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
  if (address == MAP_FAILED) return std::nullopt;
  ShmSegment segment(c, address, length);
  // xcb closes the descriptor it sends, so it gets a copy of its own.
  const int sent = dup(fd.get());
  if (sent < 0) return std::nullopt;
  const xcb_shm_seg_t id = xcb_generate_id(c);
  if (checked) {
    XReply<xcb_generic_error_t> error{xcb_request_check(c, xcb_shm_attach_fd_checked(c, id, sent, 0))};
    if (error) return std::nullopt;
  } else {
    xcb_shm_attach_fd(c, id, sent, 0);
  }
  segment.id_ = id;
  return segment;
}

ShmSegment::ShmSegment(xcb_connection_t* connection, void* address, std::size_t length)
    : connection_(connection), address_(address), length_(length) {}

ShmSegment::ShmSegment(ShmSegment&& other) noexcept
    : connection_(other.connection_),
      address_(std::exchange(other.address_, MAP_FAILED)),
      length_(other.length_),
      id_(std::exchange(other.id_, 0)) {}

ShmSegment::~ShmSegment() {
  detach();
  if (address_ != MAP_FAILED) munmap(address_, length_);
}

void ShmSegment::detach() {
  if (id_ == 0) return;
  xcb_shm_detach(connection_, id_);
  xcb_flush(connection_);
  id_ = 0;
}

}  // namespace zoba::platform::linux_backend
