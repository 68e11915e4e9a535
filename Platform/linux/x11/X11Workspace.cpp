// The frontmost application and its window's frame from the window manager's hints or the input
// focus, the screen list from RandR, and the desktop's animation setting from GSettings.

#include <xcb/randr.h>

#include <algorithm>
#include <cstring>

#include "Platform/linux/Backends.h"
#include "Platform/linux/session/DesktopEntry.h"
#include "Platform/linux/session/DesktopSession.h"
#include "Platform/linux/session/ReduceMotion.h"
#include "Platform/linux/x11/ClientFrame.h"
#include "Platform/linux/x11/ClientWindows.h"
#include "Platform/linux/x11/WindowIcon.h"
#include "Platform/linux/x11/XConnection.h"

namespace zoba::platform::linux_backend {

namespace {

// WM_CLASS holds two NUL-terminated strings: the instance, then the class.
std::pair<std::optional<std::string>, std::optional<std::string>> windowClass(XConnection& x,
                                                                              xcb_window_t window) {
  auto reply = windowProperty(x.get(), window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
  if (!reply || reply->format != 8) return {};
  const std::string text(propertyText(reply.get()));
  const auto firstEnd = text.find('\0');
  std::string instance = text.substr(0, firstEnd);
  std::string className;
  if (firstEnd != std::string::npos) {
    className = text.substr(firstEnd + 1);
    className = className.substr(0, className.find('\0'));
  }
  auto present = [](std::string value) -> std::optional<std::string> {
    if (value.empty()) return std::nullopt;
    return value;
  };
  return {present(std::move(instance)), present(std::move(className))};
}

// The client window the user works in: the window manager's active window
// when it names one; without EWMH (twm), the client holding the input focus,
// or under the pointer when the focus follows it.
std::optional<xcb_window_t> activeClient(XConnection& x) {
  xcb_connection_t* c = x.get();
  if (auto active = windowProperty(c, x.root(), x.atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 1)) {
    auto windows = propertyValues<xcb_window_t>(active.get());
    if (windows.empty() || windows.front() == XCB_WINDOW_NONE) return std::nullopt;
    return windows.front();
  }
  auto focus = xcbReply(xcb_get_input_focus_reply, c, xcb_get_input_focus(c));
  if (!focus || focus->focus == XCB_INPUT_FOCUS_NONE) return std::nullopt;
  xcb_window_t window = focus->focus;
  if (window == XCB_INPUT_FOCUS_POINTER_ROOT || window == x.root()) {
    auto pointer = xcbReply(xcb_query_pointer_reply, c, xcb_query_pointer(c, x.root()));
    if (!pointer || pointer->child == XCB_WINDOW_NONE) return std::nullopt;
    window = pointer->child;
  }
  return clientOf(c, x.root(), x.atom("WM_STATE"), window);
}

struct TopLeftFrame {
  double x, y, width, height;
  bool primary;
};

std::vector<TopLeftFrame> randrMonitors(XConnection& x) {
  xcb_connection_t* c = x.get();
  const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_randr_id);
  if (!extension || !extension->present) return {};
  // Monitors arrived with RandR 1.5.
  auto version = xcbReply(xcb_randr_query_version_reply, c, xcb_randr_query_version(c, 1, 5));
  if (!version || version->major_version < 1 || (version->major_version == 1 && version->minor_version < 5)) {
    return {};
  }
  auto reply = xcbReply(xcb_randr_get_monitors_reply, c, xcb_randr_get_monitors(c, x.root(), 1));
  if (!reply) return {};
  std::vector<TopLeftFrame> frames;
  for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
       xcb_randr_monitor_info_next(&it)) {
    const auto& monitor = *it.data;
    if (monitor.width == 0 || monitor.height == 0) continue;
    frames.push_back({double(monitor.x), double(monitor.y), double(monitor.width), double(monitor.height),
                      monitor.primary != 0});
  }
  std::stable_partition(frames.begin(), frames.end(),
                        [](const TopLeftFrame& frame) { return frame.primary; });
  return frames;
}

constexpr std::int64_t iconSize = 64;  // the size the capture draws icons at

class X11Workspace final : public Workspace {
 public:
  explicit X11Workspace(SessionDescription session) : session_(std::move(session)) {}

  std::optional<SessionDescription> session() override { return session_; }

  std::optional<RunningApplication> frontmostApplication() override {
    auto x = XConnection::shared();
    if (!x) return std::nullopt;
    auto active = activeClient(*x);
    if (!active) return std::nullopt;
    auto pid = windowPropertyValue(x->get(), *active, x->atom("_NET_WM_PID"), XCB_ATOM_CARDINAL);
    if (!pid || *pid == 0) return std::nullopt;
    RunningApplication application;
    application.pid = static_cast<std::int32_t>(*pid);
    auto [instance, className] = windowClass(*x, *active);
    if (auto entry = desktopEntryFor(instance, className)) {
      application.localizedName = std::move(entry->name);
      application.bundleIdentifier = std::move(entry->id);
    } else {
      application.localizedName = std::move(className);
      application.bundleIdentifier = std::move(instance);
    }
    return application;
  }

  // From the X server, as the window list measures it: the application is not asked,
  // and a large one that has not answered yet does not hold the overlay back.
  std::optional<Rect> focusedWindowFrame(std::int32_t pid) override {
    auto x = XConnection::shared();
    if (!x) return std::nullopt;
    auto active = activeClient(*x);
    if (!active) return std::nullopt;
    xcb_connection_t* c = x->get();
    // Asked together: one round trip.
    auto ownerCookie = requestProperty(c, *active, x->atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 1);
    auto geometryCookie = xcb_get_geometry(c, *active);
    auto positionCookie = xcb_translate_coordinates(c, *active, x->root(), 0, 0);
    auto extentsCookie = requestProperty(c, *active, x->atom("_GTK_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 4);
    auto owner = xcbReply(xcb_get_property_reply, c, ownerCookie);
    auto geometry = xcbReply(xcb_get_geometry_reply, c, geometryCookie);
    auto position = xcbReply(xcb_translate_coordinates_reply, c, positionCookie);
    auto extents = xcbReply(xcb_get_property_reply, c, extentsCookie);
    const auto pids = propertyValues<std::uint32_t>(owner.get());
    if (pids.empty() || pids.front() != static_cast<std::uint32_t>(pid) || !geometry || !position)
      return std::nullopt;
    return clientFrame(*geometry, *position, frameExtents(extents.get()));
  }

  std::optional<Image> icon(const RunningApplication& application) override {
    auto x = XConnection::shared();
    if (!x) return std::nullopt;
    // The active window first: it is the one the user sees; then the others of the process.
    std::vector<xcb_window_t> windows;
    if (auto active = activeClient(*x)) windows.push_back(*active);
    if (auto tree = xcbReply(xcb_query_tree_reply, x->get(), xcb_query_tree(x->get(), x->root()))) {
      const std::vector<xcb_window_t> topLevels(
          xcb_query_tree_children(tree.get()),
          xcb_query_tree_children(tree.get()) + xcb_query_tree_children_length(tree.get()));
      const ClientAtoms atoms{x->atom("_NET_CLIENT_LIST_STACKING"), x->atom("_NET_CLIENT_LIST"),
                              x->atom("WM_STATE")};
      auto clients = clientWindows(x->get(), x->root(), atoms, topLevels).topmostFirst;
      windows.insert(windows.end(), clients.begin(), clients.end());
    }
    const xcb_atom_t pidAtom = x->atom("_NET_WM_PID"), iconAtom = x->atom("_NET_WM_ICON");
    for (auto window : windows) {
      if (windowPropertyValue(x->get(), window, pidAtom, XCB_ATOM_CARDINAL) !=
          static_cast<std::uint32_t>(application.pid))
        continue;
      // Up to 16 MiB of icons.
      auto property = windowProperty(x->get(), window, iconAtom, XCB_ATOM_CARDINAL, 1u << 22);
      auto words = propertyValues<std::uint32_t>(property.get());
      if (words.empty()) continue;
      if (auto image = bestWindowIcon(words, iconSize)) return image;
    }
    return std::nullopt;
  }

  bool accessibilityDisplayShouldReduceMotion() override { return reduceMotion_.reduceMotion(); }

  std::vector<Screen> screens() override {
    auto x = XConnection::shared();
    if (!x) return {};
    auto frames = randrMonitors(*x);
    if (frames.empty()) {
      const auto& screen = x->screen();
      frames.push_back({0, 0, double(screen.width_in_pixels), double(screen.height_in_pixels), true});
    }
    // Bottom-left space: y grows upwards from the primary screen's bottom edge.
    const double primaryHeight = frames.front().height;
    std::vector<Screen> screens;
    for (const auto& frame : frames) {
      screens.push_back({Rect(frame.x, primaryHeight - (frame.y + frame.height), frame.width, frame.height)});
    }
    return screens;
  }

 private:
  const SessionDescription session_;
  ReduceMotionSetting reduceMotion_;
};

}  // namespace

std::unique_ptr<Workspace> makeWorkspace(const DesktopSession& session) {
  SessionDescription description{session.type(), session.desktop, {}};
  // Without any display there is nothing to capture, show or listen to.
  if (session.server == DisplayServer::none)
    description.unavailable = {"screenshot", "overlay", "hotkey", "frontmostWindow"};
  return std::make_unique<X11Workspace>(std::move(description));
}

}  // namespace zoba::platform::linux_backend
