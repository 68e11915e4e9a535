#pragma once

// Which desktop the helper runs in, read from the environment at start-up so that
// the backends can be chosen without connecting to anything.

#include <string>

namespace zoba::platform::linux_backend {

enum class DisplayServer { none, x11, wayland };

// The compositor family, where the backend treats one differently.
enum class Compositor { none, x11, sway, kwin, gnome, otherWayland };

struct DesktopSession {
  DisplayServer server = DisplayServer::none;
  Compositor compositor = Compositor::none;
  // The desktop's own name ("sway", "kde", "gnome"…), lower case; empty when unknown.
  std::string desktop;
  // "x11", "wayland" or "none".
  std::string type() const;
};

// ZOBA_SESSION=x11 or wayland overrides the choice (an X11 backend through Xwayland, say).
DesktopSession detectDesktopSession();

// The same from given variables, for tests: nullptr for an unset variable.
struct SessionEnvironment {
  const char* waylandDisplay = nullptr;
  const char* display = nullptr;
  const char* sessionType = nullptr;     // XDG_SESSION_TYPE
  const char* currentDesktop = nullptr;  // XDG_CURRENT_DESKTOP
  const char* swaySocket = nullptr;      // SWAYSOCK
  const char* override = nullptr;        // ZOBA_SESSION
};
DesktopSession detectDesktopSession(const SessionEnvironment& environment);

}  // namespace zoba::platform::linux_backend
