#include "Platform/linux/session/DesktopSession.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>

namespace zoba::platform::linux_backend {

namespace {

bool set(const char* value) { return value && *value; }

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

// XDG_CURRENT_DESKTOP is a colon-separated list, most specific first.
bool namesDesktop(const char* currentDesktop, std::string_view name) {
  if (!set(currentDesktop)) return false;
  std::string_view list(currentDesktop);
  while (!list.empty()) {
    const auto colon = list.find(':');
    if (lower(list.substr(0, colon)) == name) return true;
    if (colon == std::string_view::npos) break;
    list.remove_prefix(colon + 1);
  }
  return false;
}

std::string firstDesktop(const char* currentDesktop) {
  if (!set(currentDesktop)) return {};
  std::string_view list(currentDesktop);
  return lower(list.substr(0, list.find(':')));
}

}  // namespace

std::string DesktopSession::type() const {
  switch (server) {
    case DisplayServer::x11: return "x11";
    case DisplayServer::wayland: return "wayland";
    case DisplayServer::none: break;
  }
  return "none";
}

DesktopSession detectDesktopSession(const SessionEnvironment& environment) {
  DesktopSession session;
  const std::string_view forced = set(environment.override) ? environment.override : "";
  const bool wayland =
      set(environment.waylandDisplay) ||
      (set(environment.sessionType) && std::string_view(environment.sessionType) == "wayland");
  if (forced == "x11" || (forced.empty() && !wayland)) {
    if (set(environment.display)) {
      session.server = DisplayServer::x11;
      session.compositor = Compositor::x11;
      session.desktop = firstDesktop(environment.currentDesktop);
    }
    return session;
  }
  session.server = DisplayServer::wayland;
  session.desktop = firstDesktop(environment.currentDesktop);
  if (set(environment.swaySocket) || namesDesktop(environment.currentDesktop, "sway")) {
    session.compositor = Compositor::sway;
    if (session.desktop.empty()) session.desktop = "sway";
  } else if (namesDesktop(environment.currentDesktop, "kde")) {
    session.compositor = Compositor::kwin;
  } else if (namesDesktop(environment.currentDesktop, "gnome")) {
    session.compositor = Compositor::gnome;
  } else {
    session.compositor = Compositor::otherWayland;
  }
  return session;
}

DesktopSession detectDesktopSession() {
  SessionEnvironment environment;
  environment.waylandDisplay = std::getenv("WAYLAND_DISPLAY");
  environment.display = std::getenv("DISPLAY");
  environment.sessionType = std::getenv("XDG_SESSION_TYPE");
  environment.currentDesktop = std::getenv("XDG_CURRENT_DESKTOP");
  environment.swaySocket = std::getenv("SWAYSOCK");
  environment.override = std::getenv("ZOBA_SESSION");
  return detectDesktopSession(environment);
}

}  // namespace zoba::platform::linux_backend
