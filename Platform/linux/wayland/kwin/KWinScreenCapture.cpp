// Screenshots of the active window on KWin through ScreenShot2, by KWin's own
// handle of the window: the window's client area as KWin last drew it, whatever
// covers it, in the pixels of its output. The window list is the active window the
// KWin script reports.
//
// This service runs on the capture's worker threads and has its own bus connection.

#include <mutex>

#include "Platform/linux/Backends.h"
#include "Platform/linux/dbus/SdSessionBus.h"
#include "Platform/linux/wayland/CaptureErrors.h"
#include "Platform/linux/wayland/OverlayGate.h"
#include "Platform/linux/wayland/WaylandProbe.h"
#include "Platform/linux/wayland/kwin/KWinScreenShot.h"
#include "Platform/linux/wayland/kwin/KWinWindowSource.h"

namespace zoba::platform::linux_backend {

namespace {

using namespace wayland;
using namespace wayland::capture_errors;
using namespace std::chrono_literals;

// A shot waits for KWin's next frame: 20-80 ms measured.
constexpr auto shotTimeout = 1500ms;

class KWinScreenCapture final : public ScreenCapture {
 public:
  explicit KWinScreenCapture(std::shared_ptr<WaylandProbe> probe) : probe_(std::move(probe)) {}

  ScreenCaptureResult<ShareableContent> shareableContent(bool, bool) override {
    std::lock_guard lock(mutex_);
    auto window = windows_.active();
    if (!window && !windows_.toplevels()) return ScreenCaptureError{noActiveWindow};
    ShareableContent content;
    active_ = window;
    if (!window) return content;
    // KWin 5.27 shows scripts no output scale; the shot comes at the output's pixels,
    // 1.5 per logical pixel at 150 % (whose wl_output says 2).
    const auto outputs = probe_->outputs();
    if (const auto* output = outputHolding(outputs, active_->toplevel.rect))
      active_->toplevel.scale = output->pixelRatio;
    const Toplevel& toplevel = window->toplevel;
    ShareableWindow shareable;
    shareable.windowID = static_cast<std::uint32_t>(toplevel.id);
    if (toplevel.pid > 0) shareable.owningProcessID = toplevel.pid;
    shareable.frame = toplevel.rect;
    shareable.title = toplevel.title;
    content.windows.push_back(std::move(shareable));
    return content;
  }

  ContentFilter filter(const ShareableWindow& window) override {
    std::lock_guard lock(mutex_);
    ContentFilter filter;
    filter.windowID = window.windowID;
    if (active_ && static_cast<std::uint32_t>(active_->toplevel.id) == window.windowID)
      filter.pointPixelScale = active_->toplevel.scale;
    return filter;
  }

  ScreenCaptureResult<Image> captureImage(const ContentFilter& filter,
                                          const StreamConfiguration& configuration) override {
    std::lock_guard lock(mutex_);
    if (!active_ || static_cast<std::uint32_t>(active_->toplevel.id) != filter.windowID)
      return ScreenCaptureError{notActiveWindow};
    if (!bus_) bus_ = openSessionBus();
    if (!bus_) return ScreenCaptureError{noSessionBus};
    ScreenShotResult result;
    {
      ShotBracket bracket;
      result = captureKWinWindow(bus_.get(), active_->handle, std::chrono::steady_clock::now() + shotTimeout);
    }
    if (auto* failure = std::get_if<ScreenShotFailure>(&result)) {
      // A broken connection is made again at the next shot.
      if (!failure->notAuthorized) bus_.reset();
      return ScreenCaptureError{failure->message};
    }
    const auto& shot = std::get<ScreenShot>(result);
    // The image is the window as KWin drew it, which is what a capture shows even
    // when the window changed size since the script's last report.
    const Size size{shot.frame.width / shot.scale, shot.frame.height / shot.scale};
    auto image = windowImage(shot.frame, Rect(0, 0, size.width, size.height), size, configuration.width,
                             configuration.height);
    if (!image) return ScreenCaptureError{shotUnreadable};
    return std::move(*image);
  }

 private:
  std::mutex mutex_;
  const std::shared_ptr<WaylandProbe> probe_;
  KWinWindowSource windows_;
  std::optional<KWinWindow> active_;  // as the last window list gave it
  SdBusPtr bus_;
};

}  // namespace

std::unique_ptr<ScreenCapture> makeKWinScreenCapture(std::shared_ptr<wayland::WaylandProbe> probe) {
  return std::make_unique<KWinScreenCapture>(std::move(probe));
}

}  // namespace zoba::platform::linux_backend
