#include "Platform/Platform.h"

#include <cstdlib>

namespace zoba::platform {

namespace {
std::unique_ptr<Services>& slot() {
  static std::unique_ptr<Services> services;
  return services;
}
}  // namespace

void install(std::unique_ptr<Services> services) { slot() = std::move(services); }

Services& current() {
  if (!slot()) std::abort();  // a module ran before main() or a test installed a platform
  return *slot();
}

}  // namespace zoba::platform
