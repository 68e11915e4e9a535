#pragma once

// One panel on Wayland: a layer surface on the overlay layer of one output, anchored
// to its edges with margins that put it over the panel's frame, taking no keyboard
// and no pointer input, with two wl_shm buffers the frames are drawn into. Only what
// changed since the last frame is drawn and sent as damage; the compositor composes
// what the layers leave transparent, so nothing beneath is copied.

#include <optional>
#include <vector>

#include "Platform/linux/layers/ShownLayers.h"
#include "Platform/linux/painter/LayerPainter.h"
#include "Platform/linux/wayland/WaylandConnection.h"
#include "Platform/linux/wayland/presenter/BufferPool.h"
#include "Platform/linux/wayland/presenter/BufferRing.h"
#include "Platform/linux/wayland/presenter/OutputPlacement.h"
#include "Platform/linux/wayland/presenter/ShmBuffer.h"

struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;

namespace zoba::platform::linux_backend::wayland {

// The globals every panel surface is made with.
struct SurfaceGlobals {
  wl_compositor* compositor = nullptr;
  wl_shm* shm = nullptr;
  zwlr_layer_shell_v1* layerShell = nullptr;
};

class PanelSurface {
 public:
  // Made and committed without a buffer; the compositor answers with a configure.
  // Its buffers come from `pool` and go back there with it. Null when the compositor
  // lacks a global.
  static std::unique_ptr<PanelSurface> open(const SurfaceGlobals& globals, BufferPool& pool,
                                            wl_output* output, const Placement& placement, int scale);
  ~PanelSurface();
  PanelSurface(const PanelSurface&) = delete;
  PanelSurface& operator=(const PanelSurface&) = delete;

  // Configured with a size and not closed by the compositor.
  bool ready() const { return size_.has_value() && !closed_; }
  // The compositor closed it (its output went): it shows nothing again.
  bool closed() const { return closed_; }
  // A frame callback of the last commit has not come yet.
  bool framePending() const { return frameCallback_ != nullptr; }
  // When the last frame callback came (monotonic seconds), once; for statistics.
  std::optional<double> takePresented() { return std::exchange(presented_, std::nullopt); }

  enum class Result { committed, unchanged, noBuffer, notReady };
  // Puts `layers` (in panel pixels) on screen: draws what differs from the last
  // committed frame into a buffer the compositor does not hold and commits it with a
  // frame callback.
  Result present(const std::vector<ShownLayer>& layers, LayerPainter& painter);

 private:
  PanelSurface(BufferPool& pool, const Placement& placement, int scale);
  void returnBuffers();
  static void onConfigure(void* data, zwlr_layer_surface_v1* layerSurface, std::uint32_t serial,
                          std::uint32_t width, std::uint32_t height);
  static void onClosed(void* data, zwlr_layer_surface_v1* layerSurface);
  static void onFrameDone(void* data, wl_callback* callback, std::uint32_t time);
  bool ensureBuffers();

  struct Size {
    int width = 0, height = 0;
    friend bool operator==(const Size&, const Size&) = default;
  };

  BufferPool& pool_;
  Placement placement_;
  int scale_ = 1;
  ProxyPtr<wl_surface> surface_{nullptr, nullptr};
  ProxyPtr<zwlr_layer_surface_v1> layerSurface_{nullptr, nullptr};
  std::optional<Size> size_;  // logical, from the last configure
  bool closed_ = false;
  std::vector<std::unique_ptr<ShmBuffer>> buffers_;
  std::optional<BufferRing> ring_;
  std::vector<ShownLayer> shown_;  // as last committed
  bool fresh_ = true;              // nothing committed into the current buffers yet
  ProxyPtr<wl_callback> frameCallback_{nullptr, nullptr};
  std::optional<double> presented_;
};

}  // namespace zoba::platform::linux_backend::wayland
