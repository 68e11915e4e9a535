#include "Platform/linux/Backends.h"
#include "Platform/linux/session/DesktopSession.h"

namespace zoba::platform {

namespace {

// The chord's source: sway's key bindings in a sway session whose IPC answers (no key
// event of another client reaches us there), XInput2 raw events otherwise.
std::unique_ptr<Events> chordEvents(const linux_backend::DesktopSession& session) {
  if (session.compositor == linux_backend::Compositor::sway) {
    if (auto sway = linux_backend::makeSwayEvents()) return sway;
  }
  return linux_backend::makeEvents();
}

}  // namespace

std::unique_ptr<Services> makePlatform() {
  auto services = std::make_unique<Services>();
  services->process = linux_backend::makeProcess();
  services->codeSigning = linux_backend::makeCodeSigning();
  services->runLoop = linux_backend::makeRunLoop();
  services->events = chordEvents(linux_backend::detectDesktopSession());
  services->workspace = linux_backend::makeWorkspace();
  services->privacy = linux_backend::makePrivacy();
  services->accessibility = linux_backend::makeAccessibility();
  services->screenCapture = linux_backend::makeScreenCapture();
  // The media clock is the run loop's monotonic clock, which the render thread reads too.
  RunLoop* clock = services->runLoop.get();
  services->layers =
      std::make_unique<Layers>(linux_backend::makeLayerRenderer(), [clock] { return clock->now(); });
  return services;
}

}  // namespace zoba::platform
