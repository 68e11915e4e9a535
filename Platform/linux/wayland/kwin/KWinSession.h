#pragma once

// What a KWin session gives the helper, for the "session" keys and the permissions.

#include "Platform/linux/wayland/WaylandProbe.h"
#include "Platform/linux/wayland/WaylandSession.h"
#include "Platform/linux/wayland/WindowSource.h"

namespace zoba::platform::linux_backend::wayland {

// Screenshots when ScreenShot2 grants them, the overlay with layer-shell, the window
// list from the script, the chord when it reaches Xwayland.
WaylandAbilities kwinAbilities(WaylandProbe& probe, WindowSource* windows);

// Whether the chord reaches the XInput2 listener: an Xwayland display and KWin
// passing modifier keys to it.
bool kwinChordReachable();

// Opens Plasma's page of the setting that lets X11 applications see modifier keys
// ("Legacy X11 App Support"); false when no settings program could be started.
bool openKWinChordSettings();

}  // namespace zoba::platform::linux_backend::wayland
