#include "Platform/linux/wayland/Screencopy.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>

#include "Platform/linux/handles/UniqueFd.h"
#include "wayland-protocols/wlr-screencopy-unstable-v1-client-protocol.h"

namespace zoba::platform::linux_backend::wayland {

namespace {

struct Mapping {
  void* address = MAP_FAILED;
  std::size_t size = 0;
  ~Mapping() {
    if (address != MAP_FAILED) ::munmap(address, size);
  }
};

// What the frame's events said.
struct CopyState {
  std::uint32_t version = 1;
  std::uint32_t format = 0, width = 0, height = 0, stride = 0;
  bool shmOffered = false;
  bool buffersListed = false;  // every buffer kind named (at once before version 3)
  bool yInvert = false;
  bool ready = false;
  bool failed = false;
};

void onBuffer(void* data, zwlr_screencopy_frame_v1*, std::uint32_t format, std::uint32_t width,
              std::uint32_t height, std::uint32_t stride) {
  auto* state = static_cast<CopyState*>(data);
  state->format = format;
  state->width = width;
  state->height = height;
  state->stride = stride;
  state->shmOffered = true;
  if (state->version < 3) state->buffersListed = true;
}
void onFlags(void* data, zwlr_screencopy_frame_v1*, std::uint32_t flags) {
  static_cast<CopyState*>(data)->yInvert = (flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
}
void onReady(void* data, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t) {
  static_cast<CopyState*>(data)->ready = true;
}
void onFailed(void* data, zwlr_screencopy_frame_v1*) { static_cast<CopyState*>(data)->failed = true; }
void onDamage(void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void onDmabuf(void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t) {}
void onBufferDone(void* data, zwlr_screencopy_frame_v1*) {
  static_cast<CopyState*>(data)->buffersListed = true;
}

const zwlr_screencopy_frame_v1_listener frameListener{onBuffer, onFlags,  onReady,     onFailed,
                                                      onDamage, onDmabuf, onBufferDone};

}  // namespace

std::variant<ShmFrame, std::string> copyOutputRegion(const WaylandConnection& connection,
                                                     zwlr_screencopy_manager_v1* manager, wl_shm* shm,
                                                     wl_output* output, const Rect& region,
                                                     std::chrono::steady_clock::time_point deadline) {
  const auto x = static_cast<std::int32_t>(std::floor(region.minX()));
  const auto y = static_cast<std::int32_t>(std::floor(region.minY()));
  const auto width = static_cast<std::int32_t>(std::ceil(region.maxX())) - x;
  const auto height = static_cast<std::int32_t>(std::ceil(region.maxY())) - y;
  CopyState state;
  auto frame = own(zwlr_screencopy_manager_v1_capture_output_region(manager, 0, output, x, y, width, height),
                   zwlr_screencopy_frame_v1_destroy);
  if (!frame) return std::string("The compositor refused to copy the screen");
  state.version = zwlr_screencopy_frame_v1_get_version(frame.get());
  zwlr_screencopy_frame_v1_add_listener(frame.get(), &frameListener, &state);
  if (!connection.dispatchUntil([&] { return state.buffersListed || state.failed; }, deadline))
    return std::string("The compositor did not answer the screen copy in time");
  if (state.failed || !state.shmOffered) return std::string("The compositor failed to copy the screen");
  if (!readableFormat(state.format) || state.width == 0 || state.height == 0 ||
      state.stride < state.width * 4)
    return std::string("The compositor copies the screen in a pixel format this helper does not read");

  auto mapping = std::make_shared<Mapping>();
  mapping->size = std::size_t{state.stride} * state.height;
  UniqueFd memory(::memfd_create("zoba-screencopy", MFD_CLOEXEC));
  if (!memory || ::ftruncate(memory.get(), static_cast<off_t>(mapping->size)) != 0)
    return std::string("No shared memory for the screen copy");
  mapping->address = ::mmap(nullptr, mapping->size, PROT_READ | PROT_WRITE, MAP_SHARED, memory.get(), 0);
  if (mapping->address == MAP_FAILED) return std::string("No shared memory for the screen copy");
  auto pool = own(wl_shm_create_pool(shm, memory.get(), static_cast<std::int32_t>(mapping->size)),
                  wl_shm_pool_destroy);
  auto buffer = own(wl_shm_pool_create_buffer(pool.get(), 0, static_cast<std::int32_t>(state.width),
                                              static_cast<std::int32_t>(state.height),
                                              static_cast<std::int32_t>(state.stride), state.format),
                    wl_buffer_destroy);
  zwlr_screencopy_frame_v1_copy(frame.get(), buffer.get());
  if (!connection.dispatchUntil([&] { return state.ready || state.failed; }, deadline))
    return std::string("The compositor did not finish the screen copy in time");
  if (state.failed) return std::string("The compositor failed to copy the screen");

  ShmFrame copy;
  copy.width = static_cast<std::int32_t>(state.width);
  copy.height = static_cast<std::int32_t>(state.height);
  copy.stride = static_cast<std::int32_t>(state.stride);
  copy.format = state.format;
  copy.yInvert = state.yInvert;
  copy.pixels = static_cast<const std::uint8_t*>(mapping->address);
  copy.owner = std::move(mapping);
  return copy;
}

}  // namespace zoba::platform::linux_backend::wayland
