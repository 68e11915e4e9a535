#pragma once

// The X11 layer renderer: a render thread with its own X connection that draws
// committed trees into one override-redirect window per panel, at the monitor's
// refresh rate while something animates, and sleeps otherwise.

#include <cstdint>
#include <memory>
#include <vector>

#include "Platform/Layers.h"

namespace zoba::platform::linux_backend {

// What the render thread did, for benchmarks.
struct RenderStatistics {
  std::vector<double> frameTimes;       // monotonic seconds at which each frame was drawn (the first 16,384)
  std::vector<double> renderDurations;  // seconds each frame took to draw and send
  std::uint64_t wakeups = 0;            // returns from the render thread's wait
  double refreshRate = 0;               // Hz, once the thread has met the display
};

class X11LayerRenderer final : public LayerRenderer {
 public:
  // The render thread starts with prepare() or the first commit.
  X11LayerRenderer();
  // Stops the render thread, which destroys every window first.
  ~X11LayerRenderer() override;
  X11LayerRenderer(const X11LayerRenderer&) = delete;
  X11LayerRenderer& operator=(const X11LayerRenderer&) = delete;

  void commit(std::shared_ptr<const RenderTree> tree) override;
  // Starts the render thread, which connects to the display on its own.
  void prepare() override;

  RenderStatistics statistics() const;
  void resetStatistics();

 private:
  struct Shared;
  class Thread;
  std::shared_ptr<Shared> shared_;
  std::unique_ptr<Thread> thread_;
};

}  // namespace zoba::platform::linux_backend
