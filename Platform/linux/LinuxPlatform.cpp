#include "Platform/linux/Backends.h"

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
  services->layers =
      std::make_unique<Layers>(linux_backend::makeLayerRenderer(), [clock] { return clock->now(); });
  return services;
}

}  // namespace zoba::platform
