#pragma once

// What the renderer needs to know about the X screen: where bottom-left space
// starts, how fast the monitor refreshes, and whether a compositor blends ARGB
// windows.

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>

#include "Platform/linux/x11/AtomCache.h"

namespace zoba::platform::linux_backend {

struct DisplayFacts {
  int primaryHeight = 0;    // bottom-left space is measured up from the primary monitor's bottom edge
  double refreshRate = 60;  // Hz
  bool composited = false;  // a compositing manager owns _NET_WM_CM_S<screen>
  std::optional<xcb_visualid_t> argbVisual;  // a 32-bit TrueColor visual
};

DisplayFacts queryDisplay(xcb_connection_t* connection, const xcb_screen_t& screen, int screenNumber,
                          AtomCache& atoms);

// Refresh rate from a mode's timings; absent when they say nothing (Xvfb's are 0).
std::optional<double> modeRefreshRate(std::uint32_t dotClock, std::uint16_t htotal, std::uint16_t vtotal);

}  // namespace zoba::platform::linux_backend
