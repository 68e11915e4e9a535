// The window list from the compositor's window source and screenshots of one
// window through wlr-screencopy: the region under the window on the output that
// shows most of it. Screencopy reads the composed screen, so whatever covers the
// window is in the shot; the capture raises nothing.
//
// This service runs on the capture's worker threads and has its own connection.

#include <unistd.h>

#include <map>
#include <mutex>

#include "Platform/linux/Backends.h"
#include "Platform/linux/session/DesktopSession.h"
#include "Platform/linux/wayland/CaptureErrors.h"
#include "Platform/linux/wayland/OverlayGate.h"
#include "Platform/linux/wayland/OwnPanels.h"
#include "Platform/linux/wayland/Screencopy.h"
#include "Platform/linux/wayland/WaylandOutputs.h"
#include "Platform/linux/wayland/WindowSource.h"
#include "wayland-protocols/wlr-screencopy-unstable-v1-client-protocol.h"

namespace zoba::platform::linux_backend {

namespace {

using namespace wayland;
using namespace wayland::capture_errors;
using namespace std::chrono_literals;

// A copy of a still screen takes one frame of the compositor; a hidden output may
// take a few.
constexpr auto copyTimeout = 1000ms;

// Our own overlay panels get window ids above every compositor id (sway counts its
// containers up from 1) and a layer above the applications' windows.
constexpr std::uint32_t ownPanelIds = 0xFF000000u;
constexpr std::int32_t overlayLayer = 101;

class WaylandScreenCapture final : public ScreenCapture {
 public:
  explicit WaylandScreenCapture(DesktopSession session) : session_(std::move(session)) {}

  ScreenCaptureResult<ShareableContent> shareableContent(bool, bool) override {
    std::lock_guard lock(mutex_);
    if (!windows_) windows_ = makeWindowSource(session_);
    if (!windows_) return ScreenCaptureError{noWindowList};
    auto toplevels = windows_->toplevels();
    if (!toplevels) return ScreenCaptureError{noWindowList};
    known_.clear();
    ShareableContent content;
    // Overlays sit above every window.
    for (const auto& panel : OwnPanels::shared().list()) {
      ShareableWindow window;
      window.windowID = ownPanelIds | static_cast<std::uint32_t>(panel.id & ~ownPanelIds);
      window.owningProcessID = static_cast<std::int32_t>(::getpid());
      window.windowLayer = overlayLayer;
      window.frame = panel.frame;
      content.windows.push_back(window);
      Toplevel surface;
      surface.rect = panel.frame;
      known_.emplace(window.windowID, std::move(surface));
    }
    for (const auto& toplevel : *toplevels) {
      ShareableWindow window;
      window.windowID = static_cast<std::uint32_t>(toplevel.id);
      if (toplevel.pid > 0) window.owningProcessID = toplevel.pid;
      window.frame = toplevel.rect;
      window.title = toplevel.title;
      content.windows.push_back(std::move(window));
      known_.emplace(static_cast<std::uint32_t>(toplevel.id), toplevel);
    }
    return content;
  }

  ContentFilter filter(const ShareableWindow& window) override {
    std::lock_guard lock(mutex_);
    ContentFilter filter;
    filter.windowID = window.windowID;
    if (auto found = known_.find(window.windowID); found != known_.end())
      filter.pointPixelScale = found->second.scale;
    return filter;
  }

  ScreenCaptureResult<Image> captureImage(const ContentFilter& filter,
                                          const StreamConfiguration& configuration) override {
    std::lock_guard lock(mutex_);
    auto found = known_.find(filter.windowID);
    if (found == known_.end()) return ScreenCaptureError{notInWindowList};
    const Rect window = found->second.rect;
    if (auto error = connect()) return ScreenCaptureError{*error};
    const WaylandOutputs outputs(*connection_);
    // The first trip binds, the second brings the events the binding sent.
    connection_->roundtrip();
    connection_->roundtrip();
    const auto list = outputs.geometry();
    const OutputGeometry* output = outputHolding(list, window);
    wl_output* proxy = output ? outputs.output(output->global) : nullptr;
    if (!proxy) return ScreenCaptureError{onNoOutput};
    // The part of the window on that output, in the output's own coordinates.
    const Rect onOutput = intersection(window, layoutFrame(*output));
    const Rect region(onOutput.minX() - output->logical.x, onOutput.minY() - output->logical.y,
                      onOutput.width(), onOutput.height());
    const auto deadline = std::chrono::steady_clock::now() + copyTimeout;
    std::variant<ShmFrame, std::string> copy;
    if ((filter.windowID & ownPanelIds) == ownPanelIds) {
      // A read-back of the overlay itself: no capture's shot, so it holds no panel.
      copy = copyOutputRegion(*connection_, screencopy_.get(), shm_.get(), proxy, region, deadline);
    } else {
      ShotBracket bracket;
      copy = copyOutputRegion(*connection_, screencopy_.get(), shm_.get(), proxy, region, deadline);
    }
    // A late answer goes to a frame already destroyed, which the library drops.
    if (auto* error = std::get_if<std::string>(&copy)) return ScreenCaptureError{*error};
    const Rect copied(onOutput.minX() - window.minX(), onOutput.minY() - window.minY(), onOutput.width(),
                      onOutput.height());
    auto image =
        windowImage(std::get<ShmFrame>(copy), copied, window.size, configuration.width, configuration.height);
    if (!image) return ScreenCaptureError{copyUnreadable};
    return std::move(*image);
  }

 private:
  // Opens the connection and binds what a copy needs; the reason when it cannot.
  std::optional<std::string> connect() {
    if (connection_ && connection_->roundtrip()) return std::nullopt;
    screencopy_.reset();
    shm_.reset();
    connection_.reset();
    auto connection = WaylandConnection::open();
    if (!connection) return noCompositor;
    auto* manager = connection->bind<zwlr_screencopy_manager_v1>(zwlr_screencopy_manager_v1_interface, 3);
    if (!manager) return noScreencopy;
    auto* shm = connection->bind<wl_shm>(wl_shm_interface, 1);
    if (!shm) return noSharedMemory;
    screencopy_ = own(manager, zwlr_screencopy_manager_v1_destroy);
    shm_ = own(shm, wl_shm_destroy);
    connection_ = std::move(connection);
    return std::nullopt;
  }

  const DesktopSession session_;
  std::mutex mutex_;
  std::unique_ptr<WindowSource> windows_;
  std::map<std::uint32_t, Toplevel> known_;  // the last list, by window id
  // Declared before the proxies: they go first, then the connection.
  std::unique_ptr<WaylandConnection> connection_;
  ProxyPtr<zwlr_screencopy_manager_v1> screencopy_{nullptr, nullptr};
  ProxyPtr<wl_shm> shm_{nullptr, nullptr};
};

}  // namespace

std::unique_ptr<ScreenCapture> makeWaylandScreenCapture(const DesktopSession& session) {
  return std::make_unique<WaylandScreenCapture>(session);
}

}  // namespace zoba::platform::linux_backend
