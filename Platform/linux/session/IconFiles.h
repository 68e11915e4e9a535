#pragma once

// An application's icon by the name its desktop entry gives: a PNG file of the
// hicolor theme (every application installs there) in the size that draws best,
// else one of pixmaps/. SVG icons are not read.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Image.h"

namespace zoba::platform::linux_backend {

// $XDG_DATA_HOME (or ~/.local/share), then $XDG_DATA_DIRS (or /usr/local/share:/usr/share).
std::vector<std::string> iconDataDirs();

// The file of `icon` (a theme name, or an absolute path to a PNG file): of the
// hicolor sizes the smallest at least `size` pixels, else the largest; else
// pixmaps/NAME.png. Absent when there is none.
std::optional<std::string> iconFile(std::string_view icon, int size,
                                    const std::vector<std::string>& dataDirs);

// That file decoded; absent when there is none or it is not a readable PNG.
std::optional<Image> loadIcon(std::string_view icon, int size, const std::vector<std::string>& dataDirs);

}  // namespace zoba::platform::linux_backend
