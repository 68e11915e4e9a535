#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Image.h"
#include "ZobaCaptureCore/Rect.h"

namespace zoba::platform {

struct RunningApplication {
  std::int32_t pid = 0;
  std::optional<std::string> localizedName;
  std::optional<std::string> bundleIdentifier;
};

struct Screen {
  Rect frame;  // bottom-left space
};

// The desktop session as a host would explain it to the user.
struct SessionDescription {
  std::string type;     // "x11", "wayland" or "none"
  std::string desktop;  // "sway", "gnome"…; empty when unknown
  // What the session cannot do: "screenshot", "overlay", "hotkey", "frontmostWindow".
  std::vector<std::string> unavailable;
  friend bool operator==(const SessionDescription&, const SessionDescription&) = default;
};

class Workspace {
 public:
  virtual ~Workspace() = default;
  virtual std::optional<RunningApplication> frontmostApplication() = 0;
  virtual bool accessibilityDisplayShouldReduceMotion() = 0;
  // Primary screen first; empty without a display.
  virtual std::vector<Screen> screens() = 0;
  // The application's icon in the size that draws best at 64 × 64 pixels (the
  // smallest at least that large, else the largest); absent when it has none.
  virtual std::optional<Image> icon(const RunningApplication& application) {
    (void)application;
    return std::nullopt;
  }
  // The focused window's frame when it belongs to `pid`, as the window system knows
  // it, in the space of ShareableWindow::frame. Absent where the window system does
  // not tell (the application's own accessibility frame serves then) or when
  // another window has the focus.
  virtual std::optional<Rect> focusedWindowFrame(std::int32_t pid) {
    (void)pid;
    return std::nullopt;
  }
  // Absent where there is nothing to describe.
  virtual std::optional<SessionDescription> session() { return std::nullopt; }
};

}  // namespace zoba::platform
