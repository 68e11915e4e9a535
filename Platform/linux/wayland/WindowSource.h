#pragma once

// The compositor's view of the windows: which toplevel has the focus and which are
// on screen. Wayland gives clients no such list, so each compositor family answers
// through its own channel (sway: its IPC tree; KWin: a script of ours inside it).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ZobaCaptureCore/Rect.h"

namespace zoba::platform::linux_backend {
struct DesktopSession;
}

namespace zoba::platform::linux_backend::wayland {

struct Toplevel {
  std::int64_t id = 0;  // the compositor's id, stable while the window lives
  std::int32_t pid = 0;
  // The xdg-shell app_id; for an Xwayland window its WM_CLASS instance.
  std::optional<std::string> appId;
  std::optional<std::string> x11Class;  // Xwayland windows only
  std::optional<std::string> title;
  Rect rect;           // what the client draws, in layout coordinates (points, y down)
  double scale = 1;    // the scale of the output showing it
  std::string output;  // that output's name
  bool focused = false;
  bool xwayland = false;
  friend bool operator==(const Toplevel&, const Toplevel&) = default;
};

class WindowSource {
 public:
  virtual ~WindowSource() = default;
  // The toplevels on screen, topmost first; absent when the compositor did not answer.
  virtual std::optional<std::vector<Toplevel>> toplevels() = 0;
  // The focused toplevel, if a window has the focus.
  std::optional<Toplevel> frontmost();
};

// The window source of the session's compositor; null where there is none (GNOME,
// or no compositor IPC reachable). Connects on first use; one per thread.
std::unique_ptr<WindowSource> makeWindowSource(const DesktopSession& session);

}  // namespace zoba::platform::linux_backend::wayland
