#pragma once

// What the main thread hands the Wayland render thread: the newest tree, when each
// shown panel was first committed (the overlay gate's clock starts there, however
// late the render thread wakes), a stop request, and the statistics going back.

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "Platform/linux/handles/UniqueFd.h"
#include "Platform/linux/wayland/presenter/WaylandLayerRenderer.h"

namespace zoba::platform::linux_backend::wayland {

struct WaylandLayerRenderer::Shared {
  UniqueFd wake{eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
  std::string display;  // set before the thread starts

  std::mutex mutex;
  std::shared_ptr<const RenderTree> latest;  // guarded by mutex
  std::uint64_t generation = 0;              // guarded by mutex
  std::map<std::uint64_t, std::chrono::steady_clock::time_point>
      firstCommitted;     // by panel; guarded by mutex
  bool stopping = false;  // guarded by mutex

  mutable std::mutex statisticsMutex;
  RenderStatistics statistics;  // guarded by statisticsMutex

  void signal() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wake.get(), &one, sizeof one);
  }
};

}  // namespace zoba::platform::linux_backend::wayland
