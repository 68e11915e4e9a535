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
};

}  // namespace zoba::platform
