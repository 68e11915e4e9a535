#pragma once

// Screenshots through KWin's org.kde.KWin.ScreenShot2: the image comes raw through
// a pipe, its size and layout in the reply. KWin answers only callers whose
// executable a desktop file grants the interface (X-KDE-DBUS-Restricted-Interfaces).

#include <systemd/sd-bus.h>

#include <chrono>
#include <string>
#include <variant>

#include "Platform/linux/wayland/ShmFrame.h"
#include "ZobaCaptureCore/Rect.h"

namespace zoba::platform::linux_backend::wayland {

struct ScreenShotFailure {
  std::string message;
  bool notAuthorized = false;  // KWin refused this executable
};

struct ScreenShot {
  ShmFrame frame;    // ARGB8888, rows top-down
  double scale = 1;  // pixels per point
};

using ScreenShotResult = std::variant<ScreenShot, ScreenShotFailure>;

// KWin's window `handle` (its internalId), client area only: no decoration, no shadow.
ScreenShotResult captureKWinWindow(sd_bus* bus, const std::string& handle,
                                   std::chrono::steady_clock::time_point deadline);
// `area` of the layout, in points.
ScreenShotResult captureKWinArea(sd_bus* bus, const Rect& area,
                                 std::chrono::steady_clock::time_point deadline);

// Whether KWin takes screenshots for this executable, asked once it said yes (a
// grant stays) and again each time while it says no.
bool kwinScreenShotAllowed();

}  // namespace zoba::platform::linux_backend::wayland
