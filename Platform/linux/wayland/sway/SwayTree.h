#pragma once

// sway's GET_TREE reply read into toplevels.

#include <optional>
#include <string_view>
#include <vector>

#include "Platform/linux/wayland/WindowSource.h"

namespace zoba::platform::linux_backend::wayland {

// The views on screen, topmost first: the focused output's first; on each output
// the visible workspace's floating windows (last raised first), then its tiled
// ones. Hidden views (scratchpad, background tabs, other workspaces) are left out.
// Absent when the text is not a tree.
std::optional<std::vector<Toplevel>> parseSwayTree(std::string_view json);

}  // namespace zoba::platform::linux_backend::wayland
