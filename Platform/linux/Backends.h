#pragma once

// The Linux backend's services, assembled by LinuxPlatform.cpp.

#include <functional>
#include <memory>

#include "Platform/Platform.h"

namespace zoba::platform::linux_backend {

struct DesktopSession;
namespace wayland {
class WaylandProbe;
}

// X11, and what both sessions share.
std::unique_ptr<Process> makeProcess();          // /proc
std::unique_ptr<CodeSigning> makeCodeSigning();  // the signing label in the ELF file
std::unique_ptr<RunLoop> makeRunLoop();          // GLib's default main context
std::unique_ptr<Events> makeEvents();            // XInput2 raw key events
std::unique_ptr<Events> makeSwayEvents();        // sway's key bindings; null when SWAYSOCK does not answer
std::unique_ptr<Workspace> makeWorkspace(const DesktopSession& session);  // EWMH or the input focus, RandR
std::unique_ptr<Privacy> makePrivacy();  // X display and AT-SPI bus reachability
std::unique_ptr<Accessibility>
makeAccessibility();  // AT-SPI: GDBus on the bus, sd-bus on applications' sockets
std::unique_ptr<ScreenCapture> makeScreenCapture();  // EWMH or ICCCM window list, MIT-SHM, XComposite
std::unique_ptr<LayerRenderer> makeLayerRenderer();  // a render thread drawing into override-redirect windows
std::unique_ptr<LayerRenderer>
makeWaylandLayerRenderer();  // a render thread drawing into layer-shell surfaces

// Privacy with "screen recording" granted while `screenshotPath` says a way to
// take screenshots exists.
std::unique_ptr<Privacy> makePrivacy(std::function<bool()> screenshotPath);

// Wayland.
// The compositor's window source, wl_output and xdg_output, desktop entries by app_id.
std::unique_ptr<Workspace> makeWaylandWorkspace(const DesktopSession& session,
                                                std::shared_ptr<wayland::WaylandProbe> probe);
// The compositor's window source, wlr-screencopy.
std::unique_ptr<ScreenCapture> makeWaylandScreenCapture(const DesktopSession& session);
// The active window from our KWin script, KWin's ScreenShot2; its output's scale
// from `probe`.
std::unique_ptr<ScreenCapture> makeKWinScreenCapture(std::shared_ptr<wayland::WaylandProbe> probe);

}  // namespace zoba::platform::linux_backend
