#pragma once

// What the Wayland desktops' tests share about their windows: a rectangle of the
// compositor's layout, and the native Wayland GTK test window
// (gtk3_wayland_window.py or gtk4_wayland_window.py) started and announced.
//
//   ChildProcess process = launchGtkWindow({.title = "T"});
//   auto pid = announcedPid(process, 15s);   // GTK saw the keyboard focus

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace zoba::testing::wayland {

// Pixels of the compositor's layout, origin at its top-left corner, y down.
struct LayoutRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const LayoutRect&, const LayoutRect&) = default;
};

// An undecorated GTK window whose background is `colour` (the top area of it shows
// nothing else), a label, a button and an entry with the focus.
struct WaylandWindowOptions {
  std::string title = "Zoba Wayland window";
  std::string appId = "zoba-wayland-window";
  std::uint32_t colour = 0x20C060;  // RRGGBB
  std::string label = "Wayland label";
  std::string button = "Wayland button";
  std::string text;         // the entry's first text
  bool reportKeys = false;  // lines "press KEYSYM" / "release KEYSYM"
  bool gtk4 = false;        // gtk4_wayland_window.py, the same layout (no text, no keys)
  bool x11 = false;         // GTK 3 as an X11 client of Xwayland (GDK_BACKEND=x11)
  std::vector<std::string> extraArguments;
};

// The interpreter with GTK's Python bindings (the one on PATH may have none).
inline constexpr const char* gtkPython = "/usr/bin/python3";

// The window's script under the GTK interpreter with GDK_BACKEND=wayland and no
// DISPLAY, or with GDK_BACKEND=x11 and the desktop's DISPLAY.
ChildProcess launchGtkWindow(const WaylandWindowOptions& options);
// The pid the window prints first, once GTK saw the keyboard focus; absent when it
// printed none in `timeout`.
std::optional<pid_t> announcedPid(ChildProcess& window, std::chrono::milliseconds timeout);

// Reads the window's lines until one equals `line` (true) or `timeout` passes.
bool waitForLine(ChildProcess& window, const std::string& line, std::chrono::milliseconds timeout);

}  // namespace zoba::testing::wayland
