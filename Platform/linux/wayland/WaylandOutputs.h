#pragma once

// The compositor's outputs as one connection sees them: every wl_output global
// bound, with its logical place in the layout from xdg-output (or, without it, its
// position and mode turned and divided by its scale), its scale and its refresh rate.
// The facts come with the events of the next round trip, which the owner runs (the
// render thread bounds its own).

#include <cstdint>
#include <memory>
#include <vector>

#include "Platform/linux/wayland/OutputGeometry.h"
#include "Platform/linux/wayland/WaylandConnection.h"

struct zxdg_output_manager_v1;
struct zxdg_output_v1;

namespace zoba::platform::linux_backend::wayland {

class WaylandOutputs {
 public:
  explicit WaylandOutputs(const WaylandConnection& connection);
  ~WaylandOutputs();
  WaylandOutputs(const WaylandOutputs&) = delete;
  WaylandOutputs& operator=(const WaylandOutputs&) = delete;

  // Binds outputs that appeared and drops those that went since the last call; true
  // when some appeared (their facts arrive with the next round trip).
  bool refresh();
  // The outputs that have told their size.
  std::vector<OutputGeometry> geometry() const;
  // The wl_output of the output with registry name `global`; null when it went.
  wl_output* output(std::uint32_t global) const;

  struct Output;  // one bound output and what it said (WaylandOutputs.cpp)

 private:
  const WaylandConnection& connection_;
  ProxyPtr<zxdg_output_manager_v1> manager_{nullptr, nullptr};
  std::vector<std::unique_ptr<Output>> outputs_;
};

}  // namespace zoba::platform::linux_backend::wayland
