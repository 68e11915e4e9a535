#pragma once

// A connection of one's own to $DISPLAY, with its screen. The shared main-thread
// connection (XConnection), the screen capture's worker and the overlay's
// render thread each open one.

#include <optional>

#include "Platform/linux/handles/XcbPtr.h"

namespace zoba::platform::linux_backend {

struct DisplayConnection {
  XcbConnectionPtr connection;
  const xcb_screen_t* screen = nullptr;  // owned by the connection's setup
  int screenNumber = 0;

  xcb_connection_t* get() const { return connection.get(); }
  xcb_window_t root() const { return screen->root; }
  bool broken() const { return xcb_connection_has_error(connection.get()) != 0; }
};

// Nullopt when DISPLAY is unset or the server cannot be reached.
std::optional<DisplayConnection> openDisplay();

}  // namespace zoba::platform::linux_backend
