#pragma once

// The installed desktop entry of a running application, found from its window's
// WM_CLASS (X11) or app_id (Wayland): its localized Name and its id are what the
// user knows the application by.

#include <optional>
#include <string>

namespace zoba::platform::linux_backend {

struct DesktopEntry {
  std::string id;    // the desktop file id without ".desktop" ("org.gnome.TextEditor")
  std::string name;  // Name, localized for the current locale
  // Icon: a name in the icon theme, or an absolute file path; empty when none.
  std::string icon;
};

// The entry whose StartupWMClass is the window's class or instance, else the one
// whose id is either of them (compared without case). Absent when none matches.
std::optional<DesktopEntry> desktopEntryFor(const std::optional<std::string>& instance,
                                            const std::optional<std::string>& className);

}  // namespace zoba::platform::linux_backend
