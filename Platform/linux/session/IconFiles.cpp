#include "Platform/linux/session/IconFiles.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace zoba::platform::linux_backend {

namespace {

namespace fs = std::filesystem;

bool set(const char* value) { return value && *value; }

// "48x48" → 48; 0 for "scalable", "48x48@2" and anything else.
int sizeOfFolder(const std::string& name) {
  const auto x = name.find('x');
  if (x == std::string::npos || x == 0) return 0;
  const std::string width = name.substr(0, x), height = name.substr(x + 1);
  if (width != height || width.find_first_not_of("0123456789") != std::string::npos) return 0;
  return std::atoi(width.c_str());
}

bool regularFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

}  // namespace

std::vector<std::string> iconDataDirs() {
  std::vector<std::string> dirs;
  if (const char* home = std::getenv("XDG_DATA_HOME"); set(home)) {
    dirs.emplace_back(home);
  } else if (const char* user = std::getenv("HOME"); set(user)) {
    dirs.push_back(std::string(user) + "/.local/share");
  }
  std::string_view list =
      set(std::getenv("XDG_DATA_DIRS")) ? std::getenv("XDG_DATA_DIRS") : "/usr/local/share:/usr/share";
  while (!list.empty()) {
    const auto colon = list.find(':');
    if (colon != 0) dirs.emplace_back(list.substr(0, colon));
    if (colon == std::string_view::npos) break;
    list.remove_prefix(colon + 1);
  }
  return dirs;
}

std::optional<std::string> iconFile(std::string_view icon, int size,
                                    const std::vector<std::string>& dataDirs) {
  if (icon.empty()) return std::nullopt;
  if (icon.front() == '/') {
    if (fs::path(icon).extension() == ".png" && regularFile(icon)) return std::string(icon);
    return std::nullopt;
  }
  if (icon.find('/') != std::string_view::npos) return std::nullopt;
  const std::string file = std::string(icon) + ".png";
  int bestSize = 0;
  std::optional<std::string> best;
  for (const auto& dir : dataDirs) {
    const fs::path theme = fs::path(dir) / "icons" / "hicolor";
    std::error_code error;
    for (fs::directory_iterator it(theme, error), end; !error && it != end; it.increment(error)) {
      const int folderSize = sizeOfFolder(it->path().filename().string());
      if (folderSize == 0) continue;
      const fs::path candidate = it->path() / "apps" / file;
      if (!regularFile(candidate)) continue;
      // The smallest at least `size`, else the largest.
      const bool better =
          !best || (bestSize < size ? folderSize > bestSize : folderSize >= size && folderSize < bestSize);
      if (better) {
        best = candidate.string();
        bestSize = folderSize;
      }
    }
  }
  if (best) return best;
  for (const auto& dir : dataDirs) {
    const fs::path candidate = fs::path(dir) / "pixmaps" / file;
    if (regularFile(candidate)) return candidate.string();
  }
  return std::nullopt;
}

std::optional<Image> loadIcon(std::string_view icon, int size, const std::vector<std::string>& dataDirs) {
  auto path = iconFile(icon, size, dataDirs);
  if (!path) return std::nullopt;
  std::ifstream in(*path, std::ios::binary);
  const Bytes bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!in && !in.eof()) return std::nullopt;
  return decodePNG(bytes);
}

}  // namespace zoba::platform::linux_backend
