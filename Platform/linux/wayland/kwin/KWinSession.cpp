#include "Platform/linux/wayland/kwin/KWinSession.h"

#include <glib.h>

#include <cstdlib>

#include "Platform/linux/wayland/kwin/KWinScreenShot.h"
#include "Platform/linux/wayland/kwin/XwaylandEavesdrops.h"

namespace zoba::platform::linux_backend::wayland {

WaylandAbilities kwinAbilities(WaylandProbe& probe, WindowSource* windows) {
  WaylandAbilities abilities;
  abilities.screencopy = kwinScreenShotAllowed();
  abilities.layerShell = probe.offers("zwlr_layer_shell_v1");
  abilities.windowList = windows && windows->toplevels().has_value();
  abilities.chordSource = kwinChordReachable();
  return abilities;
}

bool kwinChordReachable() {
  const char* display = std::getenv("DISPLAY");
  return display && *display && xwaylandEavesdrops() != Eavesdrops::none;
}

bool openKWinChordSettings() {
  // System Settings on that page where Plasma's desktop is installed, the page on
  // its own with only the KDE command-line tools.
  for (const char* program : {"systemsettings", "kcmshell5"}) {
    const gchar* argv[] = {program, "kcm_kwinxwayland", nullptr};
    if (g_spawn_async(nullptr, const_cast<gchar**>(argv), nullptr,
                      static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL |
                                               G_SPAWN_STDERR_TO_DEV_NULL),
                      nullptr, nullptr, nullptr, nullptr))
      return true;
  }
  return false;
}

}  // namespace zoba::platform::linux_backend::wayland
