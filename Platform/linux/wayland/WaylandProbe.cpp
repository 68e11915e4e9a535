#include "Platform/linux/wayland/WaylandProbe.h"

#include "Platform/linux/wayland/WaylandOutputs.h"

namespace zoba::platform::linux_backend::wayland {

WaylandConnection* WaylandProbe::connection() {
  // The round trip also brings globals added or removed since the last question.
  if (connection_ && !connection_->roundtrip()) connection_.reset();
  if (!connection_) connection_ = WaylandConnection::open();
  return connection_.get();
}

bool WaylandProbe::connected() {
  std::lock_guard lock(mutex_);
  return connection() != nullptr;
}

bool WaylandProbe::offers(std::string_view interface) {
  std::lock_guard lock(mutex_);
  auto* current = connection();
  return current && current->has(interface);
}

std::vector<OutputGeometry> WaylandProbe::outputs() {
  std::lock_guard lock(mutex_);
  auto* current = connection();
  if (!current) return {};
  const WaylandOutputs outputs(*current);
  // The first trip binds, the second brings the events the binding sent.
  current->roundtrip();
  current->roundtrip();
  return outputs.geometry();
}

}  // namespace zoba::platform::linux_backend::wayland
