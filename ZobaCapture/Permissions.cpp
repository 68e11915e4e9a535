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

namespace zoba::Permissions {

std::optional<Message> session() {
  auto description = platform::current().workspace->session();
  if (!description) return std::nullopt;
  return Message{{"type", description->type},
                 {"desktop", description->desktop},
                 {"unavailable", description->unavailable}};
}

}  // namespace zoba::Permissions
