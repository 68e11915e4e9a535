#include "Platform/linux/Backends.h"
#include "Platform/linux/session/DesktopSession.h"
#include "Platform/linux/wayland/WaylandProbe.h"
#include "Platform/linux/wayland/kwin/KWinScreenShot.h"
#include "wayland-protocols/wlr-screencopy-unstable-v1-client-protocol.h"

namespace zoba::platform {

namespace {

using namespace linux_backend;

// A Wayland session is served through the compositor whatever the window in front,
// native or X11 through Xwayland: one road for both.
void addWaylandServices(Services& services, const DesktopSession& session) {
  auto probe = std::make_shared<wayland::WaylandProbe>();
  services.workspace = makeWaylandWorkspace(session, probe);
  services.privacy =
      makePrivacy([probe] { return probe->offers(zwlr_screencopy_manager_v1_interface.name); });
  services.screenCapture = makeWaylandScreenCapture(session);
  // KWin offers no screencopy: screenshots through its ScreenShot2 interface.
  if (session.compositor == Compositor::kwin) {
    services.privacy = makePrivacy(wayland::kwinScreenShotAllowed);
    services.screenCapture = makeKWinScreenCapture(probe);
  }
  // The chord: sway's key bindings where its IPC answers (no key event of another
  // client reaches us on Wayland), XInput2 through Xwayland otherwise (on KWin when
  // it lets X11 clients see modifier keys).
  if (session.compositor == Compositor::sway) services.events = makeSwayEvents();
  if (!services.events) services.events = makeEvents();
}

void addX11Services(Services& services, const DesktopSession& session) {
  services.workspace = makeWorkspace(session);
  services.privacy = makePrivacy();
  services.screenCapture = makeScreenCapture();
  services.events = makeEvents();
}

// The overlay of a Wayland session: layer-shell surfaces over every window.
std::unique_ptr<LayerRenderer> makeRenderer(const DesktopSession& session) {
  if (session.server == DisplayServer::wayland) return makeWaylandLayerRenderer();
  return makeLayerRenderer();
}

}  // namespace

std::unique_ptr<Services> makePlatform() {
  const DesktopSession session = detectDesktopSession();
  auto services = std::make_unique<Services>();
  services->process = makeProcess();
  services->codeSigning = makeCodeSigning();
  services->runLoop = makeRunLoop();
  services->accessibility = makeAccessibility();
  if (session.server == DisplayServer::wayland) {
    addWaylandServices(*services, session);
  } else {
    addX11Services(*services, session);
  }
  // The media clock is the run loop's monotonic clock, which the render thread reads too.
  RunLoop* clock = services->runLoop.get();
  services->layers = std::make_unique<Layers>(makeRenderer(session), [clock] { return clock->now(); });
  return services;
}

}  // namespace zoba::platform
