#pragma once

// What the compositor offers, asked on a connection of its own (opened on first use,
// again after it broke): its globals and its outputs. The workspace, the privacy
// answers and KWin's capture share one, one question at a time. The outputs stay
// bound and the answers come from the events the compositor already sent: a
// question never waits for a compositor busy drawing a frame (a chord asks).

#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "Platform/linux/wayland/OutputGeometry.h"
#include "Platform/linux/wayland/WaylandConnection.h"
#include "Platform/linux/wayland/WaylandOutputs.h"

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
  std::unique_ptr<WaylandOutputs> outputs_;  // on connection_, bound at the first question
};

}  // namespace zoba::platform::linux_backend::wayland
