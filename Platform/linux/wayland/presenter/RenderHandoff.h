#pragma once

// What the main thread hands the Wayland render thread beyond the common handoff:
// the display to connect to, and when each shown panel was first committed (the
// overlay gate's clock starts there, however late the render thread wakes).

#include <chrono>
#include <cstdint>
#include <map>
#include <string>

#include "Platform/linux/layers/RenderHandoff.h"
#include "Platform/linux/wayland/presenter/WaylandLayerRenderer.h"

namespace zoba::platform::linux_backend::wayland {

struct WaylandLayerRenderer::Shared : RenderHandoff<RenderStatistics> {
  std::string display;  // set before the thread starts
  std::map<std::uint64_t, std::chrono::steady_clock::time_point>
      firstCommitted;  // by panel; guarded by mutex
};

}  // namespace zoba::platform::linux_backend::wayland
