#include "ZobaCapture/Permissions.h"

#include "Platform/Platform.h"

namespace zoba::Permissions {

bool request(std::string_view name) {
  auto& privacy = *platform::current().privacy;
  if (name == "screenRecording") {
    privacy.request(platform::Permission::screenRecording);
    return true;
  }
  if (name == "accessibility") {
    privacy.request(platform::Permission::accessibility);
    return true;
  }
  return false;
}

Message status() {
  auto& privacy = *platform::current().privacy;
  return {{"screenRecording", privacy.preflight(platform::Permission::screenRecording)},
          {"accessibility", privacy.preflight(platform::Permission::accessibility)}};
}

}  // namespace zoba::Permissions
