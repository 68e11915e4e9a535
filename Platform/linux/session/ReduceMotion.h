#pragma once

// The desktop's "reduce motion" wish: GNOME's interface setting enable-animations,
// where that schema is installed, read live on every call. Shared by the X11 and
// the Wayland workspaces.

#include <mutex>

#include "Platform/linux/handles/GLibPtr.h"

namespace zoba::platform::linux_backend {

class ReduceMotionSetting {
 public:
  bool reduceMotion();

 private:
  std::once_flag once_;
  GObjectPtr<GSettings> settings_;
};

}  // namespace zoba::platform::linux_backend
