#pragma once

// What the KWin script reports of the active window: one JSON text per change,
// read into the backend's Toplevel.

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "Platform/linux/wayland/WindowSource.h"

namespace zoba::platform::linux_backend::wayland {

// KWin's window, as the script saw it.
struct KWinWindow {
  Toplevel toplevel;   // focused; rect is the client area (no decoration, no shadow)
  std::string handle;  // KWin's internalId, which ScreenShot2 takes
  friend bool operator==(const KWinWindow&, const KWinWindow&) = default;
};

struct NoActiveWindow {
  friend bool operator==(const NoActiveWindow&, const NoActiveWindow&) = default;
};

// The window now active, or none (the desktop, a closed window); absent when the
// text is no such report.
std::optional<std::variant<KWinWindow, NoActiveWindow>> parseActiveWindowMessage(std::string_view json);

// A stable number for KWin's window handle (a UUID), for the window ids of the
// capture's window list; never 0.
std::int64_t windowNumber(std::string_view handle);

}  // namespace zoba::platform::linux_backend::wayland
