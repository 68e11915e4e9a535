#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

class Workspace {
 public:
  virtual ~Workspace() = default;
  virtual std::optional<RunningApplication> frontmostApplication() = 0;
  virtual bool accessibilityDisplayShouldReduceMotion() = 0;
  // Primary screen first; empty without a display.
  virtual std::vector<Screen> screens() = 0;
};

}  // namespace zoba::platform
