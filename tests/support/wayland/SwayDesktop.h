#pragma once

// The headless sway desktop of the Wayland tests (scripts/headless-sway.sh): its
// window tree over sway IPC, native Wayland GTK windows, keys through wtype,
// screenshots through grim, and the accessibility bus.
//
//   if (!swayDesktopAvailable()) GTEST_SKIP() << "no sway desktop";
//   WaylandWindow window;                     // gtk3_wayland_window.py, focused
//   ASSERT_TRUE(window.node());               // its node in GET_TREE
//   typeKeys({"hello"});                      // wtype hello
//   auto shot = screenshot(window.node()->content);
//
// Every helper is bounded in time and reports failure as an absent value or false.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Image.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Pixels.h"
#include "tests/support/wayland/GtkTestWindow.h"

namespace zoba::testing::wayland {

// Screen rectangle in sway's layout coordinates.
using SwayRect = LayoutRect;
std::string describe(const SwayRect& rect);

// One view (a window) of sway's tree.
struct SwayView {
  std::int64_t id = 0;  // the container's id, for `[con_id=N]` criteria
  pid_t pid = 0;
  std::string appId;  // xdg-shell app_id; empty for Xwayland views
  std::string name;   // the title
  std::string shell;  // "xdg_shell" or "xwayland"
  bool focused = false;
  SwayRect rect;        // the container with its border and title bar ("rect")
  SwayRect content;     // the surface on screen: rect moved by "window_rect"
  nlohmann::json node;  // the whole node as sway gave it
};

// Whether the test runs on a sway desktop (SWAYSOCK and WAYLAND_DISPLAY set) with
// swaymsg, wtype, grim and the GTK interpreter installed.
bool swayDesktopAvailable();

// Runs a program to its end (at most `timeout`) and returns its standard output;
// absent when it could not start, did not end in time or ended with a non-zero status.
std::optional<std::string> runProgram(const std::string& path, const std::vector<std::string>& arguments,
                                      std::chrono::milliseconds timeout = 10s);

// `swaymsg -r -t TYPE [PAYLOAD]` parsed; null when it failed.
nlohmann::json swayMessage(const std::string& type, const std::string& payload = "");
// Runs sway commands (`swaymsg COMMAND`); true when every one succeeded.
bool swayCommand(const std::string& command);
// The views of the tree now, tiled and floating; the focused one, when a view has the focus.
std::vector<SwayView> swayViews();
std::optional<SwayView> focusedView();
// Waits until sway's focused view belongs to `pid` (and has `title` when given).
std::optional<SwayView> waitUntilFocused(pid_t pid, std::chrono::milliseconds timeout = 5s,
                                         const std::optional<std::string>& title = std::nullopt);

// launchGtkWindow's window, ready once it announced its pid (GTK saw the keyboard
// focus) and sway's tree names it focused. Goes away with this object.
class WaylandWindow {
 public:
  explicit WaylandWindow(const WaylandWindowOptions& options = {}, std::chrono::milliseconds timeout = 15s);
  // Absent when the window did not come up focused in time.
  std::optional<pid_t> pid() const { return pid_; }
  // Its view as sway showed it once focused (or after place()).
  const std::optional<SwayView>& view() const { return view_; }
  // The window's lines after its pid: "text TEXT" when the entry changes, "clicked",
  // and with reportKeys "press KEYSYM" / "release KEYSYM".
  std::optional<std::string> readLine(std::chrono::milliseconds timeout) {
    return process_.readLine(timeout);
  }
  // Reads lines until one equals `line` (true) or `timeout` passes.
  bool waitForLine(const std::string& line, std::chrono::milliseconds timeout = 5s);
  // Makes the window float with its surface at `content` and waits until sway shows
  // it there; the view then holds the new geometry.
  bool place(const SwayRect& content, std::chrono::milliseconds timeout = 5s);

 private:
  ChildProcess process_;
  std::optional<pid_t> pid_;
  std::optional<SwayView> view_;
};

// Keys through wtype (its arguments: TEXT, -k KEY, -P KEY, -p KEY, -M MOD, -m MOD,
// -s MS...); true when wtype ran and ended with 0. The desktop's idle virtual
// keyboard makes the first key arrive (a seat without a keyboard loses it).
bool typeKeys(const std::vector<std::string>& arguments);
// The left and then the right key of `modifier` ("shift", "alt" or "logo") held
// together and released, as a real keyboard sends them: wtype's keymap has no modifier
// map, so the modifier state is set with -M after the left key goes down.
bool pressChord(const std::string& modifier = "shift", std::chrono::milliseconds hold = 50ms);

// Moves a virtual pointer (tests/support/wayland/wl_pointer_click.c) to (x, y) of the layout
// and clicks the left button; false when that tool was not built or failed.
bool click(int x, int y);
bool clickAvailable();

// A screenshot of `region` of the layout through `grim -g`: opaque pixels 0xFFRRGGBB.
std::optional<platform::Image> screenshot(const SwayRect& region);
using testing::pixelsNear;

// The accessibility bus (org.a11y.Bus GetAddress on the session bus); empty when none.
std::string accessibilityBusAddress();
// An application on the accessibility bus: its unique bus name and its process.
struct AccessibleApplication {
  std::string busName;
  pid_t pid = 0;
};
// The registry's children (the applications that joined the bus), with their pids.
std::vector<AccessibleApplication> accessibleApplications();
// Waits until an application of `pid` has joined the accessibility bus.
std::optional<AccessibleApplication> waitForAccessibleApplication(pid_t pid,
                                                                  std::chrono::milliseconds timeout = 5s);
// An element of an application: its object path's children, role name, name,
// Component.GetExtents (coordType 0 screen, 1 window) and Text of an element.
std::vector<std::string> accessibleChildren(const std::string& busName, const std::string& path);
std::string accessibleRoleName(const std::string& busName, const std::string& path);
std::string accessibleName(const std::string& busName, const std::string& path);
std::optional<SwayRect> accessibleExtents(const std::string& busName, const std::string& path,
                                          std::uint32_t coordType);
std::optional<std::string> accessibleText(const std::string& busName, const std::string& path);
// Depth-first, at most `limit` elements: the first element below `path` whose role
// name is `role`.
std::optional<std::string> findAccessible(const std::string& busName, const std::string& path,
                                          const std::string& role, int limit = 500);

}  // namespace zoba::testing::wayland
