// The frontmost application from the window manager's EWMH hints, the screen list
// from RandR, and the desktop's animation setting from GSettings.

#include <xcb/randr.h>

#include <algorithm>
#include <cstring>

#include "Platform/linux/Backends.h"
#include "Platform/linux/session/DesktopEntry.h"
#include "Platform/linux/session/DesktopSession.h"
#include "Platform/linux/session/ReduceMotion.h"
#include "Platform/linux/x11/WindowIcon.h"
#include "Platform/linux/x11/XConnection.h"

namespace zoba::platform::linux_backend {

namespace {

// WM_CLASS holds two NUL-terminated strings: the instance, then the class.
std::pair<std::optional<std::string>, std::optional<std::string>> windowClass(XConnection& x,
                                                                              xcb_window_t window) {
  auto reply = windowProperty(x.get(), window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
  if (!reply || reply->format != 8) return {};
  const auto* bytes = static_cast<const char*>(xcb_get_property_value(reply.get()));
  const std::string text(bytes, static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
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
    auto active = windowPropertyValue(x->get(), x->root(), x->atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
    if (!active || *active == XCB_WINDOW_NONE) return std::nullopt;
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

  std::optional<Image> icon(const RunningApplication& application) override {
    auto x = XConnection::shared();
    if (!x) return std::nullopt;
    // The active window first: it is the one the user sees; then the others of the process.
    std::vector<xcb_window_t> windows;
    if (auto active =
            windowPropertyValue(x->get(), x->root(), x->atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW))
      windows.push_back(*active);
    if (auto list = windowProperty(x->get(), x->root(), x->atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 4096);
        list && list->format == 32) {
      const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(list.get()));
      windows.insert(windows.end(), ids, ids + xcb_get_property_value_length(list.get()) / 4);
    }
    const xcb_atom_t pidAtom = x->atom("_NET_WM_PID"), iconAtom = x->atom("_NET_WM_ICON");
    for (auto window : windows) {
      if (windowPropertyValue(x->get(), window, pidAtom, XCB_ATOM_CARDINAL) !=
          static_cast<std::uint32_t>(application.pid))
        continue;
      // Up to 16 MiB of icons.
      auto property = windowProperty(x->get(), window, iconAtom, XCB_ATOM_CARDINAL, 1u << 22);
      if (!property || property->format != 32) continue;
      const auto* words = static_cast<const std::uint32_t*>(xcb_get_property_value(property.get()));
      const auto count = static_cast<std::size_t>(xcb_get_property_value_length(property.get())) / 4;
      if (auto image = bestWindowIcon({words, count}, iconSize)) return image;
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
