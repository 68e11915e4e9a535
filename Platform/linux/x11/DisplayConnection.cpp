#include "Platform/linux/x11/DisplayConnection.h"

#include <cstdlib>
#include <mutex>

namespace zoba::platform::linux_backend {

std::optional<DisplayConnection> openDisplay() {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return std::nullopt;
  DisplayConnection x;
  {
    // One connect at a time: libXau finds the authority file through a static
    // buffer that two concurrent connects would both write.
    static std::mutex connecting;
    std::lock_guard lock(connecting);
    x.connection.reset(xcb_connect(nullptr, &x.screenNumber));
  }
  if (x.broken()) return std::nullopt;
  auto screens = xcb_setup_roots_iterator(xcb_get_setup(x.get()));
  for (int index = 0; screens.rem > 0; xcb_screen_next(&screens), ++index) {
    if (index == x.screenNumber) x.screen = screens.data;
  }
  if (!x.screen) return std::nullopt;
  return x;
}

}  // namespace zoba::platform::linux_backend
