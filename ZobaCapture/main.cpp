#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "Platform/Platform.h"
#include "ZobaCapture/Launcher.h"
#include "ZobaCapture/Service.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv, argv + argc);
  zoba::platform::install(zoba::platform::makePlatform());
  if (std::find(arguments.begin(), arguments.end(), "--service") == arguments.end()) {
    std::exit(zoba::Launcher::runDisclaimed(arguments));
  }
  zoba::CaptureService service(arguments);
  service.run();
}
