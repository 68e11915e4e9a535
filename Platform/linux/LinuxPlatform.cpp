#include "Platform/linux/Backends.h"
#include "Platform/linux/session/DesktopSession.h"

namespace zoba::platform {

std::unique_ptr<Services> makePlatform() {
  auto services = std::make_unique<Services>();
  services->process = linux_backend::makeProcess();
  services->codeSigning = linux_backend::makeCodeSigning();
  services->runLoop = linux_backend::makeRunLoop();
  services->events = linux_backend::makeEvents();
  services->workspace = linux_backend::makeWorkspace();
  services->privacy = linux_backend::makePrivacy();
  services->accessibility = linux_backend::makeAccessibility();
  services->screenCapture = linux_backend::makeScreenCapture();
  // The media clock is the run loop's monotonic clock, which the render thread reads too.
  RunLoop* clock = services->runLoop.get();
  auto layerRenderer = linux_backend::makeLayerRenderer();
  // The overlay of a Wayland session: layer-shell surfaces over every window.
  if (linux_backend::detectDesktopSession().server == linux_backend::DisplayServer::wayland) {
    layerRenderer = linux_backend::makeWaylandLayerRenderer();
  }
  services->layers = std::make_unique<Layers>(std::move(layerRenderer), [clock] { return clock->now(); });
  return services;
}

}  // namespace zoba::platform
