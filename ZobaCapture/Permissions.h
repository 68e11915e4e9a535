#pragma once

#include <optional>
#include <string_view>

#include "ZobaCapture/Message.h"

// The two privacy permissions the helper holds in its own name.
namespace zoba::Permissions {

// Asks the platform to prompt for "screenRecording" or "accessibility" (exact
// names); true when the name was one of them, whatever the user answers.
bool request(std::string_view name);

// {"screenRecording": bool, "accessibility": bool}, read now.
Message status();

// The desktop session, for a host to explain what is missing:
// {"type": "wayland", "desktop": "sway", "unavailable": ["overlay", ...]}. Absent
// where the platform describes none.
std::optional<Message> session();

}  // namespace zoba::Permissions
