#pragma once

// What a drop-down shows: its selected item, which lives in the menu or list the
// walk does not read.

#include <optional>
#include <string>
#include <unordered_map>

#include "Platform/linux/atspi/AtspiFetch.h"

namespace zoba::platform::linux_backend::atspi {

// The name of the SELECTED item among the children of the combo box at `box`, or
// of the menu or list it holds, as the bridge's cache has them; absent when the
// cache lacks the box or none is selected.
std::optional<std::string> selectedInCache(const std::unordered_map<std::string, CachedItem>& cache,
                                           const std::string& box);

}  // namespace zoba::platform::linux_backend::atspi
