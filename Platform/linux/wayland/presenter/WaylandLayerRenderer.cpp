#include "Platform/linux/wayland/presenter/WaylandLayerRenderer.h"

#include <algorithm>

#include "Platform/linux/Backends.h"
#include "Platform/linux/wayland/presenter/RenderHandoff.h"
#include "Platform/linux/wayland/presenter/RenderThread.h"

namespace zoba::platform::linux_backend::wayland {

WaylandLayerRenderer::WaylandLayerRenderer(std::string display) : shared_(std::make_shared<Shared>()) {
  shared_->display = std::move(display);
}

WaylandLayerRenderer::~WaylandLayerRenderer() { thread_.reset(); }

void WaylandLayerRenderer::commit(std::shared_ptr<const RenderTree> tree) {
  const auto now = std::chrono::steady_clock::now();
  prepare();
  shared_->publish(std::move(tree), [&](const std::shared_ptr<const RenderTree>& newest) {
    auto& first = shared_->firstCommitted;
    std::erase_if(first, [&](const auto& entry) {
      return !newest || std::none_of(newest->panels.begin(), newest->panels.end(),
                                     [&](const RenderPanel& panel) { return panel.id == entry.first; });
    });
    if (newest) {
      for (const auto& panel : newest->panels) first.try_emplace(panel.id, now);
    }
  });
}

// The thread and its connection come when the service starts serving, or with the
// first commit: the launcher has neither.
void WaylandLayerRenderer::prepare() {
  if (!thread_) thread_ = std::make_unique<Thread>(shared_);
}

RenderStatistics WaylandLayerRenderer::statistics() const {
  std::lock_guard lock(shared_->statisticsMutex);
  return shared_->statistics;
}

void WaylandLayerRenderer::resetStatistics() {
  std::lock_guard lock(shared_->statisticsMutex);
  RenderStatistics fresh;
  fresh.refreshRate = shared_->statistics.refreshRate;
  fresh.connected = shared_->statistics.connected;
  fresh.lost = shared_->statistics.lost;
  shared_->statistics = std::move(fresh);
}

}  // namespace zoba::platform::linux_backend::wayland

namespace zoba::platform::linux_backend {

std::unique_ptr<LayerRenderer> makeWaylandLayerRenderer() {
  return std::make_unique<wayland::WaylandLayerRenderer>();
}

}  // namespace zoba::platform::linux_backend
