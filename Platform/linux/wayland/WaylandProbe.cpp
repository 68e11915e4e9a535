#include "Platform/linux/wayland/WaylandProbe.h"

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

std::vector<OutputFacts> WaylandProbe::outputs() {
  std::lock_guard lock(mutex_);
  auto* current = connection();
  if (!current) return {};
  auto list = OutputList(*current).list();
  for (auto& output : list) output.output = nullptr;
  return list;
}

}  // namespace zoba::platform::linux_backend::wayland
