#pragma once

// The window list and one-shot screenshots of single windows.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Platform/Image.h"
#include "ZobaCaptureCore/Rect.h"

namespace zoba::platform {

// One window of the list. On X11 a window is the application's own (client)
// window, without the window manager's decorations: what the application draws,
// which is also the frame its accessibility tree reports.
struct ShareableWindow {
  std::uint32_t windowID = 0;
  std::optional<std::int32_t> owningProcessID;  // absent when the window names no process
  // 0 for the ordinary windows of applications (normal windows, dialogs, utility
  // panels); other values for docks, the desktop, notifications and menus.
  std::int32_t windowLayer = 0;
  Rect frame;  // top-left screen space, in points
  std::optional<std::string> title;
  friend bool operator==(const ShareableWindow&, const ShareableWindow&) = default;
};

struct ShareableContent {
  std::vector<ShareableWindow> windows;  // topmost first
};

// What to capture: one window alone, as if nothing covered it.
struct ContentFilter {
  std::uint32_t windowID = 0;
  double pointPixelScale = 1;
};

struct StreamConfiguration {
  std::int64_t width = 1;  // the screenshot's size in pixels
  std::int64_t height = 1;
  bool showsCursor = false;
  bool ignoreShadowsSingleWindow = true;
  bool scalesToFit = true;  // the window's content is scaled to the requested size
};

// The platform's own description of a failure, passed on unchanged.
struct ScreenCaptureError {
  std::string description;
  friend bool operator==(const ScreenCaptureError&, const ScreenCaptureError&) = default;
};

template <typename T>
using ScreenCaptureResult = std::variant<T, ScreenCaptureError>;

// Blocking calls that may run on any thread (the capture runs them off the main
// thread); one capture at a time.
class ScreenCapture {
 public:
  virtual ~ScreenCapture() = default;
  virtual ScreenCaptureResult<ShareableContent> shareableContent(bool excludeDesktopWindows,
                                                                 bool onScreenWindowsOnly) = 0;
  virtual ContentFilter filter(const ShareableWindow& window) = 0;
  // The window's pixels at exactly the configured size: no cursor, no shadow.
  virtual ScreenCaptureResult<Image> captureImage(const ContentFilter& filter,
                                                  const StreamConfiguration& configuration) = 0;
};

}  // namespace zoba::platform
