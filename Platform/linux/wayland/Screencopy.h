#pragma once

// One copy of a region of an output into shared memory through wlr-screencopy.

#include <chrono>
#include <string>
#include <variant>

#include "Platform/linux/wayland/ShmFrame.h"
#include "Platform/linux/wayland/WaylandConnection.h"

struct zwlr_screencopy_manager_v1;
struct wl_shm;

namespace zoba::platform::linux_backend::wayland {

// The frame, or why there is none. `region` is in the output's own logical pixels
// (its top-left corner is 0,0); the cursor is left out.
std::variant<ShmFrame, std::string> copyOutputRegion(const WaylandConnection& connection,
                                                     zwlr_screencopy_manager_v1* manager, wl_shm* shm,
                                                     wl_output* output, const Rect& region,
                                                     std::chrono::steady_clock::time_point deadline);

}  // namespace zoba::platform::linux_backend::wayland
