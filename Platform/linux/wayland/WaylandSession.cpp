#include "Platform/linux/wayland/WaylandSession.h"

namespace zoba::platform::linux_backend::wayland {

SessionDescription describeWaylandSession(const DesktopSession& session, const WaylandAbilities& abilities) {
  SessionDescription description{session.type(), session.desktop, {}};
  if (!abilities.screencopy) description.unavailable.emplace_back("screenshot");
  if (!abilities.layerShell) description.unavailable.emplace_back("overlay");
  if (!abilities.chordSource) description.unavailable.emplace_back("hotkey");
  if (!abilities.windowList) description.unavailable.emplace_back("frontmostWindow");
  return description;
}

}  // namespace zoba::platform::linux_backend::wayland
