#include "Platform/linux/wayland/WaylandProbe.h"

namespace zoba::platform::linux_backend::wayland {

WaylandConnection* WaylandProbe::connection() {
  // The events already sent bring globals added or removed since the last question.
  if (connection_ && !connection_->catchUp()) {
    outputs_.reset();
    connection_.reset();
  }
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
  bool added = true;
  if (outputs_) {
    added = outputs_->refresh();
  } else {
    outputs_ = std::make_unique<WaylandOutputs>(*current);
  }
  // Outputs bound now tell their facts in the next trip's events (xdg-output's in the
  // one after); those bound before send their changes on their own.
  if (added) {
    current->roundtrip();
    current->roundtrip();
  }
  return outputs_->geometry();
}

}  // namespace zoba::platform::linux_backend::wayland
