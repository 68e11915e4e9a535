// Which backend the environment chooses.
#include <gtest/gtest.h>

#include "Platform/linux/session/DesktopSession.h"
#include "Platform/linux/wayland/WaylandSession.h"

namespace zoba::platform::linux_backend {
namespace {

struct Case {
  const char* name;
  SessionEnvironment environment;
  DisplayServer server;
  Compositor compositor;
  const char* desktop;
};

TEST(DesktopSession, ChosenFromTheEnvironment) {
  const Case cases[] = {
      {"nothing", {}, DisplayServer::none, Compositor::none, ""},
      {"x11", {.display = ":1"}, DisplayServer::x11, Compositor::x11, ""},
      {"x11 desktop named",
       {.display = ":1", .currentDesktop = "XFCE"},
       DisplayServer::x11,
       Compositor::x11,
       "xfce"},
      {"sway by socket",
       {.waylandDisplay = "wayland-1", .display = ":0", .swaySocket = "/run/sway.sock"},
       DisplayServer::wayland,
       Compositor::sway,
       "sway"},
      {"sway by name",
       {.waylandDisplay = "wayland-1", .currentDesktop = "sway"},
       DisplayServer::wayland,
       Compositor::sway,
       "sway"},
      {"kde",
       {.waylandDisplay = "wayland-0", .currentDesktop = "KDE"},
       DisplayServer::wayland,
       Compositor::kwin,
       "kde"},
      {"gnome in a list",
       {.waylandDisplay = "wayland-0", .currentDesktop = "ubuntu:GNOME"},
       DisplayServer::wayland,
       Compositor::gnome,
       "ubuntu"},
      {"unknown wayland",
       {.waylandDisplay = "wayland-0"},
       DisplayServer::wayland,
       Compositor::otherWayland,
       ""},
      {"wayland by session type",
       {.display = ":0", .sessionType = "wayland"},
       DisplayServer::wayland,
       Compositor::otherWayland,
       ""},
      {"empty variables are unset",
       {.waylandDisplay = "", .display = ""},
       DisplayServer::none,
       Compositor::none,
       ""},
      {"forced x11 through Xwayland",
       {.waylandDisplay = "wayland-1", .display = ":0", .swaySocket = "/s", .override = "x11"},
       DisplayServer::x11,
       Compositor::x11,
       ""},
      {"forced wayland",
       {.waylandDisplay = "wayland-1", .display = ":0", .override = "wayland"},
       DisplayServer::wayland,
       Compositor::otherWayland,
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto session = detectDesktopSession(c.environment);
    EXPECT_EQ(session.server, c.server);
    EXPECT_EQ(session.compositor, c.compositor);
    EXPECT_EQ(session.desktop, c.desktop);
  }
}

// What a host is told about a Wayland session: a GNOME desktop without extensions
// offers none of what the capture needs, sway all of it.
TEST(DesktopSession, WaylandSessionNamesWhatIsMissing) {
  using wayland::WaylandAbilities;
  struct Row {
    const char* name;
    SessionEnvironment environment;
    WaylandAbilities abilities;
    SessionDescription expected;
  };
  const Row rows[] = {
      {"sway",
       {.waylandDisplay = "wayland-1", .swaySocket = "/s"},
       {true, true, true, true},
       {"wayland", "sway", {}}},
      {"gnome without extensions",
       {.waylandDisplay = "wayland-0", .currentDesktop = "GNOME"},
       {},
       {"wayland", "gnome", {"screenshot", "overlay", "hotkey", "frontmostWindow"}}},
      {"wlroots compositor without IPC",
       {.waylandDisplay = "wayland-0", .currentDesktop = "labwc:wlroots"},
       {true, true, false, false},
       {"wayland", "labwc", {"hotkey", "frontmostWindow"}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(wayland::describeWaylandSession(detectDesktopSession(row.environment), row.abilities),
              row.expected);
  }
}

}  // namespace
}  // namespace zoba::platform::linux_backend
