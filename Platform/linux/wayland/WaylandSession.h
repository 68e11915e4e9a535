#pragma once

// The "session" a host is told about in a Wayland session: what works here and what
// does not, from what the compositor offers.

#include "Platform/Workspace.h"
#include "Platform/linux/session/DesktopSession.h"

namespace zoba::platform::linux_backend::wayland {

struct WaylandAbilities {
  bool screencopy = false;   // zwlr_screencopy_manager_v1: screenshots
  bool layerShell = false;   // zwlr_layer_shell_v1: the overlay above every window
  bool windowList = false;   // the compositor's IPC answers: the frontmost window
  bool chordSource = false;  // a source of the modifier chord
};

SessionDescription describeWaylandSession(const DesktopSession& session, const WaylandAbilities& abilities);

}  // namespace zoba::platform::linux_backend::wayland
