#include "tests/support/wayland/GtkTestWindow.h"

#include <cstdio>
#include <cstdlib>

namespace zoba::testing::wayland {

ChildProcess launchGtkWindow(const WaylandWindowOptions& options) {
  char colour[8];
  std::snprintf(colour, sizeof colour, "%06x", options.colour & 0xFFFFFFu);
  std::vector<std::string> arguments = {options.gtk4 ? ZOBA_WAYLAND_SOURCE_DIR "/gtk4_wayland_window.py"
                                                     : ZOBA_WAYLAND_SOURCE_DIR "/gtk3_wayland_window.py",
                                        "--title",
                                        options.title,
                                        "--app-id",
                                        options.appId,
                                        "--colour",
                                        colour,
                                        "--label",
                                        options.label,
                                        "--button",
                                        options.button};
  if (!options.gtk4) arguments.insert(arguments.end(), {"--text", options.text});
  if (options.reportKeys) arguments.push_back("--report-keys");
  arguments.insert(arguments.end(), options.extraArguments.begin(), options.extraArguments.end());
  if (options.x11) return ChildProcess(gtkPython, arguments, ChildEnvironment{{}, {{"GDK_BACKEND", "x11"}}});
  return ChildProcess(gtkPython, arguments, ChildEnvironment{{"DISPLAY"}, {{"GDK_BACKEND", "wayland"}}});
}

std::optional<pid_t> announcedPid(ChildProcess& window, std::chrono::milliseconds timeout) {
  auto line = window.readLine(timeout);
  if (!line) return std::nullopt;
  char* end = nullptr;
  const long value = std::strtol(line->c_str(), &end, 10);
  if (end == line->c_str() || value <= 0) return std::nullopt;
  return static_cast<pid_t>(value);
}

bool waitForLine(ChildProcess& window, const std::string& wanted, std::chrono::milliseconds timeout) {
  for (auto end = std::chrono::steady_clock::now() + timeout;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left <= std::chrono::milliseconds(0)) return false;
    auto line = window.readLine(left);
    if (!line) return false;
    if (*line == wanted) return true;
  }
}

}  // namespace zoba::testing::wayland
