#pragma once

// KWin's "Legacy X11 app support" setting ([Xwayland] XwaylandEavesdrops in kwinrc):
// which keys KWin passes to X11 applications while a native window has the focus.
// With Modifiers or more the chord reaches the helper's XInput2 listener through
// Xwayland; with None (KWin's default) it does not. The helper reads it and never
// changes it: it is the user's choice about what X11 programs may see.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zoba::platform::linux_backend::wayland {

enum class Eavesdrops { none, modifiers, combinations, all };

// The value a kwinrc text sets; absent when it sets none.
std::optional<Eavesdrops> parseXwaylandEavesdrops(std::string_view kwinrc);

// The kwinrc files KWin reads, the one that wins last: $XDG_CONFIG_DIRS (or
// /etc/xdg) from the last to the first, then $XDG_CONFIG_HOME (or ~/.config).
std::vector<std::string> kwinrcFiles();

// The setting in effect: the last of those files to set it, else None.
Eavesdrops xwaylandEavesdrops();

}  // namespace zoba::platform::linux_backend::wayland
