#pragma once

// The Wayland layer renderer: a render thread with its own Wayland connection that
// draws committed trees into one layer-shell surface per panel, paced by the
// compositor's frame callbacks while something animates, and asleep otherwise. A
// newly opened panel shows its first frame once the overlay gate lets it.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Layers.h"

namespace zoba::platform::linux_backend::wayland {

// What the render thread did, for benchmarks and tests.
struct RenderStatistics {
  std::vector<double> frameTimes;       // monotonic seconds at which each frame was begun (the first 16,384)
  std::vector<double> renderDurations;  // seconds each frame took to draw and commit
  std::vector<double> presentTimes;     // when the compositor called back after a frame (the first 16,384)
  std::uint64_t wakeups = 0;            // returns from the render thread's wait
  double refreshRate = 0;               // Hz of the fastest output, once connected
  bool connected = false;               // the thread met a compositor with layer-shell
  bool lost = false;                    // the connection broke since
};

class WaylandLayerRenderer final : public LayerRenderer {
 public:
  // The render thread starts with prepare() or the first commit. It connects to
  // `display` (a WAYLAND_DISPLAY value), or to WAYLAND_DISPLAY's when empty.
  explicit WaylandLayerRenderer(std::string display = {});
  // Stops the render thread, which destroys every surface first.
  ~WaylandLayerRenderer() override;
  WaylandLayerRenderer(const WaylandLayerRenderer&) = delete;
  WaylandLayerRenderer& operator=(const WaylandLayerRenderer&) = delete;

  void commit(std::shared_ptr<const RenderTree> tree) override;
  // Starts the render thread, which connects on its own.
  void prepare() override;

  RenderStatistics statistics() const;
  void resetStatistics();

  struct Shared;
  class Thread;

 private:
  std::shared_ptr<Shared> shared_;
  std::unique_ptr<Thread> thread_;
};

}  // namespace zoba::platform::linux_backend::wayland
