#pragma once

// What the compositor offers, asked on the main thread's own connection (opened on
// first use, again after it broke): its globals and its outputs. The workspace and
// the privacy answers share one.

#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "Platform/linux/wayland/OutputGeometry.h"
#include "Platform/linux/wayland/WaylandConnection.h"

namespace zoba::platform::linux_backend::wayland {

class WaylandProbe {
 public:
  // Whether a compositor answers at all.
  bool connected();
  bool offers(std::string_view interface);
  // The outputs now.
  std::vector<OutputGeometry> outputs();

 private:
  WaylandConnection* connection();  // under the lock

  std::mutex mutex_;
  std::unique_ptr<WaylandConnection> connection_;
};

}  // namespace zoba::platform::linux_backend::wayland
