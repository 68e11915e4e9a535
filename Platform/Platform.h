#pragma once

#include <memory>

#include "Platform/Accessibility.h"
#include "Platform/CodeSigning.h"
#include "Platform/Events.h"
#include "Platform/Layers.h"
#include "Platform/Privacy.h"
#include "Platform/Process.h"
#include "Platform/RunLoop.h"
#include "Platform/ScreenCapture.h"
#include "Platform/Workspace.h"

namespace zoba::platform {

// The operating-system services the helper's modules use. Building it is cheap:
// each service connects to its OS counterpart lazily, on first use, so the
// launcher role touches nothing it does not need.
struct Services {
  std::unique_ptr<Process> process;
  std::unique_ptr<CodeSigning> codeSigning;
  std::unique_ptr<RunLoop> runLoop;
  std::unique_ptr<Events> events;
  std::unique_ptr<Workspace> workspace;
  std::unique_ptr<Privacy> privacy;
  std::unique_ptr<Accessibility> accessibility;
  std::unique_ptr<ScreenCapture> screenCapture;
  std::unique_ptr<Layers> layers;
};

// The backend chosen at build time (Platform/linux/LinuxPlatform.cpp).
std::unique_ptr<Services> makePlatform();

// The process has one current platform, as it has one operating system. main()
// installs the real one; tests install fakes.
void install(std::unique_ptr<Services> services);
Services& current();

}  // namespace zoba::platform
