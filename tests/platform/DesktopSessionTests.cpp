// Which backend the environment chooses.
#include <gtest/gtest.h>

#include "Platform/linux/session/DesktopSession.h"

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
      {"x11 desktop named", {.display = ":1", .currentDesktop = "XFCE"}, DisplayServer::x11, Compositor::x11, "xfce"},
      {"sway by socket",
       {.waylandDisplay = "wayland-1", .display = ":0", .swaySocket = "/run/sway.sock"},
       DisplayServer::wayland, Compositor::sway, "sway"},
      {"sway by name", {.waylandDisplay = "wayland-1", .currentDesktop = "sway"}, DisplayServer::wayland,
       Compositor::sway, "sway"},
      {"kde", {.waylandDisplay = "wayland-0", .currentDesktop = "KDE"}, DisplayServer::wayland, Compositor::kwin,
       "kde"},
      {"gnome in a list", {.waylandDisplay = "wayland-0", .currentDesktop = "ubuntu:GNOME"}, DisplayServer::wayland,
       Compositor::gnome, "ubuntu"},
      {"unknown wayland", {.waylandDisplay = "wayland-0"}, DisplayServer::wayland, Compositor::otherWayland, ""},
      {"wayland by session type", {.display = ":0", .sessionType = "wayland"}, DisplayServer::wayland,
       Compositor::otherWayland, ""},
      {"empty variables are unset", {.waylandDisplay = "", .display = ""}, DisplayServer::none, Compositor::none, ""},
      {"forced x11 through Xwayland",
       {.waylandDisplay = "wayland-1", .display = ":0", .swaySocket = "/s", .override = "x11"}, DisplayServer::x11,
       Compositor::x11, ""},
      {"forced wayland", {.waylandDisplay = "wayland-1", .display = ":0", .override = "wayland"},
       DisplayServer::wayland, Compositor::otherWayland, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto session = detectDesktopSession(c.environment);
    EXPECT_EQ(session.server, c.server);
    EXPECT_EQ(session.compositor, c.compositor);
    EXPECT_EQ(session.desktop, c.desktop);
  }
}

}  // namespace
}  // namespace zoba::platform::linux_backend
