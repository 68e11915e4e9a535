#include "Platform/linux/wayland/kwin/XwaylandEavesdrops.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace zoba::platform::linux_backend::wayland {

namespace {

std::string_view trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::optional<Eavesdrops> valueOf(std::string_view value) {
  // KConfig writes the choice's name; a number is its index.
  constexpr std::pair<std::string_view, Eavesdrops> names[] = {{"None", Eavesdrops::none},
                                                               {"Modifiers", Eavesdrops::modifiers},
                                                               {"Combinations", Eavesdrops::combinations},
                                                               {"All", Eavesdrops::all}};
  for (std::size_t index = 0; index < std::size(names); ++index) {
    if (equalsIgnoringCase(value, names[index].first) || value == std::to_string(index))
      return names[index].second;
  }
  return std::nullopt;
}

}  // namespace

std::optional<Eavesdrops> parseXwaylandEavesdrops(std::string_view kwinrc) {
  std::optional<Eavesdrops> found;
  bool inGroup = false;
  std::istringstream lines{std::string(kwinrc)};
  for (std::string raw; std::getline(lines, raw);) {
    const std::string_view line = trim(raw);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      // "[Xwayland]", maybe followed by a "[$i]" (immutable) mark.
      const auto close = line.find(']');
      inGroup = close != std::string_view::npos && line.substr(1, close - 1) == "Xwayland";
      continue;
    }
    if (!inGroup) continue;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    std::string_view key = trim(line.substr(0, equals));
    // "Key[$i]" marks an immutable entry: the same key.
    if (const auto mark = key.find('['); mark != std::string_view::npos) key = trim(key.substr(0, mark));
    if (key != "XwaylandEavesdrops") continue;
    // A later line of the same file wins, as in KConfig; an unknown value is ignored.
    if (auto value = valueOf(trim(line.substr(equals + 1)))) found = value;
  }
  return found;
}

std::vector<std::string> kwinrcFiles() {
  std::vector<std::string> files;
  const char* dirs = std::getenv("XDG_CONFIG_DIRS");
  std::string list = dirs && *dirs ? dirs : "/etc/xdg";
  std::vector<std::string> system;
  std::istringstream parts(list);
  for (std::string dir; std::getline(parts, dir, ':');) {
    if (!dir.empty()) system.push_back(dir + "/kwinrc");
  }
  files.insert(files.end(), system.rbegin(), system.rend());
  if (const char* home = std::getenv("XDG_CONFIG_HOME"); home && *home) {
    files.push_back(std::string(home) + "/kwinrc");
  } else if (const char* user = std::getenv("HOME"); user && *user) {
    files.push_back(std::string(user) + "/.config/kwinrc");
  }
  return files;
}

Eavesdrops xwaylandEavesdrops() {
  Eavesdrops setting = Eavesdrops::none;
  for (const auto& path : kwinrcFiles()) {
    std::ifstream file(path);
    if (!file) continue;
    std::ostringstream text;
    text << file.rdbuf();
    if (auto value = parseXwaylandEavesdrops(text.str())) setting = *value;
  }
  return setting;
}

}  // namespace zoba::platform::linux_backend::wayland
