#pragma once

// The Wayland render thread: connects on its own, keeps one PanelSurface per shown
// panel on the output the panel lies on, draws a panel when its tree changed or,
// while it animates, when the compositor's frame callback says the last frame is
// out, and sleeps in poll on the display and the wake-up eventfd in between.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <thread>

#include "Platform/linux/painter/LayerPainter.h"
#include "Platform/linux/wayland/WaylandConnection.h"
#include "Platform/linux/wayland/WaylandOutputs.h"
#include "Platform/linux/wayland/presenter/BufferPool.h"
#include "Platform/linux/wayland/presenter/PanelSurface.h"
#include "Platform/linux/wayland/presenter/RenderHandoff.h"

namespace zoba::platform::linux_backend::wayland {

class WaylandLayerRenderer::Thread {
 public:
  explicit Thread(std::shared_ptr<Shared> shared);
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

 private:
  struct ShownPanel {
    Rect frame;
    std::unique_ptr<PanelSurface> surface;  // null when it lies on no output
    PixelRect onScreen;                     // the surface's place in the layout
    std::chrono::steady_clock::time_point opened;
    bool visible = false;        // the overlay gate let its first frame through
    bool dirty = true;           // the tree changed since it was last drawn
    double interval = 1 / 60.0;  // its output's refresh interval
    double committedAt = 0;      // its last frame's commit
    double nextFrame = 0;        // while animating with no frame callback to wait for
    bool moving = false;         // it animated at its last frame, so one more shows where it ends
  };

  void run();
  void connect();
  // Takes the newest tree if there is one; false when stopping.
  bool takeTree();
  void syncPanels();
  // Tells the screen capture where our surfaces are.
  void publishPanels() const;
  // Draws the panels that are due; returns when the thread must look again at the latest.
  std::optional<double> drawDue(double now);
  void sleep(std::optional<double> until);
  // The connection broke: nothing more is drawn, and the thread never waits on it.
  void lose();
  void record(double begun, double took);

  std::shared_ptr<Shared> shared_;
  // Render thread only from here on.
  std::unique_ptr<WaylandConnection> connection_;  // first: every proxy below goes before it
  ProxyPtr<wl_compositor> compositor_{nullptr, nullptr};
  ProxyPtr<wl_shm> shm_{nullptr, nullptr};
  ProxyPtr<zwlr_layer_shell_v1> layerShell_{nullptr, nullptr};
  std::optional<WaylandOutputs> outputs_;
  std::optional<BufferPool> pool_;  // before the panels, whose buffers return to it
  bool lost_ = false;
  std::shared_ptr<const RenderTree> tree_;
  std::uint64_t generation_ = 0;
  std::map<std::uint64_t, std::chrono::steady_clock::time_point> firstCommitted_;
  bool treeChanged_ = false;
  std::map<std::uint64_t, ShownPanel> panels_;
  LayerPainter painter_;
  std::thread thread_;  // last: starts once everything above is made
};

}  // namespace zoba::platform::linux_backend::wayland
