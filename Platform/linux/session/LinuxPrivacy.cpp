// The Linux counterparts of the two privacy permissions. Neither X11 nor wlroots
// has a capture permission: whoever reaches the display may read it (on Wayland,
// through the compositor's screencopy), so "screen recording" says whether a
// screenshot path exists. Accessibility is granted when the AT-SPI bus answers,
// which is what reading other applications needs.

#include <chrono>
#include <functional>
#include <mutex>

#include "Platform/linux/Backends.h"
#include "Platform/linux/dbus/AccessibilityBus.h"
#include "Platform/linux/session/DesktopSession.h"
#include "Platform/linux/wayland/kwin/KWinSession.h"
#include "Platform/linux/wayland/sway/SwayIpc.h"
#include "Platform/linux/x11/XConnection.h"

namespace zoba::platform::linux_backend {

namespace {

using namespace std::chrono_literals;

// The accessibility bus may be started on demand by D-Bus activation at the first
// question, which takes a moment; a bus that takes longer counts as unreachable.
// A bus that is there answers its handshake at once, but on a loaded machine that
// took more than half a second, and the helper then reported no permission.
constexpr auto callTimeout = 1500ms;
constexpr auto connectTimeout = 1500ms;

class LinuxPrivacy final : public Privacy {
 public:
  explicit LinuxPrivacy(std::function<bool()> screenshotPath) : screenshotPath_(std::move(screenshotPath)) {}

  bool preflight(Permission permission) override {
    switch (permission) {
      case Permission::screenRecording: return screenshotPath_();
      case Permission::accessibility: return accessibilityBusReachable() && chordSourceReachable();
    }
    return false;
  }

  void request(Permission permission) override {
    switch (permission) {
      case Permission::screenRecording: return;  // nothing to ask for
      case Permission::accessibility: {
        {
          std::lock_guard lock(mutex_);
          if (auto* session = sessionBus()) setAccessibilityEnabled(session, true, callTimeout);
        }
        // The chord on KWin needs a setting only the user may change: show it.
        if (detectDesktopSession().compositor == Compositor::kwin && !wayland::kwinChordReachable())
          wayland::openKWinChordSettings();
        return;
      }
    }
  }

 private:
  bool accessibilityBusReachable() {
    std::lock_guard lock(mutex_);
    // A connection the bus has not closed proves the bus is still there.
    if (accessibility_ && !g_dbus_connection_is_closed(accessibility_.get())) return true;
    accessibility_.reset();
    auto* session = sessionBus();
    if (!session) return false;
    auto address = accessibilityBusAddress(session, callTimeout);
    if (!address) return false;
    accessibility_ = connectToBus(*address, connectTimeout);
    return accessibility_ != nullptr;
  }

  // Without a source of the chord nothing is read from other applications either. In
  // a Wayland session that is sway's IPC (the chord's key bindings) or KWin passing
  // modifier keys to Xwayland; X11 always has one.
  static bool chordSourceReachable() {
    const DesktopSession session = detectDesktopSession();
    if (session.server != DisplayServer::wayland) return true;
    if (session.compositor == Compositor::kwin) return wayland::kwinChordReachable();
    return wayland::SwayIpc::connect().has_value();
  }

  // Kept open between questions; connected anew when the bus has gone away.
  GDBusConnection* sessionBus() {
    if (session_ && !g_dbus_connection_is_closed(session_.get())) return session_.get();
    session_.reset();
    if (auto address = sessionBusAddress()) session_ = connectToBus(*address, connectTimeout);
    return session_.get();
  }

  const std::function<bool()> screenshotPath_;
  std::mutex mutex_;
  GObjectPtr<GDBusConnection> session_;
  GObjectPtr<GDBusConnection> accessibility_;
};

}  // namespace

std::unique_ptr<Privacy> makePrivacy() {
  return std::make_unique<LinuxPrivacy>([] { return XConnection::shared() != nullptr; });
}

std::unique_ptr<Privacy> makePrivacy(std::function<bool()> screenshotPath) {
  return std::make_unique<LinuxPrivacy>(std::move(screenshotPath));
}

}  // namespace zoba::platform::linux_backend
