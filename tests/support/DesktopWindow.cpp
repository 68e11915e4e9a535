#include "tests/support/DesktopWindow.h"

#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

namespace zoba::testing {

namespace {
constexpr const char* gtkPython = "/usr/bin/python3";

struct Free {
  void operator()(void* memory) const { std::free(memory); }
};

std::optional<std::uint32_t> cardinal(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property,
                                      xcb_atom_t type) {
  std::unique_ptr<xcb_get_property_reply_t, Free> reply(
      xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, type, 0, 1), nullptr));
  if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4) return std::nullopt;
  std::uint32_t value = 0;
  std::memcpy(&value, xcb_get_property_value(reply.get()), sizeof value);
  return value;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
  std::unique_ptr<xcb_intern_atom_reply_t, Free> reply(xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr));
  return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

}  // namespace

// The window manager names the active window a moment after the window got the
// focus; the helper reads that name, so wait for it.
bool waitUntilActive(pid_t pid, std::chrono::milliseconds timeout, const std::optional<std::string>& title) {
  std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> c(xcb_connect(nullptr, nullptr),
                                                                 &xcb_disconnect);
  if (xcb_connection_has_error(c.get())) return false;
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c.get())).data->root;
  const xcb_atom_t active = atom(c.get(), "_NET_ACTIVE_WINDOW"), wmPid = atom(c.get(), "_NET_WM_PID"),
                   wmName = atom(c.get(), "_NET_WM_NAME"), utf8 = atom(c.get(), "UTF8_STRING");
  auto nameOf = [&](xcb_window_t window) {
    std::unique_ptr<xcb_get_property_reply_t, Free> reply(xcb_get_property_reply(
        c.get(), xcb_get_property(c.get(), 0, window, wmName, utf8, 0, 1024), nullptr));
    if (!reply) return std::string();
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                       static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
  };
  for (auto end = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < end;) {
    if (auto window = cardinal(c.get(), root, active, XCB_ATOM_WINDOW); window && *window) {
      if (cardinal(c.get(), *window, wmPid, XCB_ATOM_CARDINAL) == static_cast<std::uint32_t>(pid) &&
          (!title || nameOf(*window) == *title))
        return true;
    }
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

int mappedPanelCount(pid_t pid) {
  std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> c(xcb_connect(nullptr, nullptr),
                                                                 &xcb_disconnect);
  if (xcb_connection_has_error(c.get())) return 0;
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c.get())).data->root;
  const xcb_atom_t wmPid = atom(c.get(), "_NET_WM_PID");
  std::unique_ptr<xcb_query_tree_reply_t, Free> tree(
      xcb_query_tree_reply(c.get(), xcb_query_tree(c.get(), root), nullptr));
  if (!tree) return 0;
  const xcb_window_t* children = xcb_query_tree_children(tree.get());
  int mapped = 0;
  for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
    std::unique_ptr<xcb_get_window_attributes_reply_t, Free> attributes(
        xcb_get_window_attributes_reply(c.get(), xcb_get_window_attributes(c.get(), children[i]), nullptr));
    if (!attributes || !attributes->override_redirect || attributes->map_state == XCB_MAP_STATE_UNMAPPED)
      continue;
    if (cardinal(c.get(), children[i], wmPid, XCB_ATOM_CARDINAL) == static_cast<std::uint32_t>(pid)) ++mapped;
  }
  return mapped;
}

bool desktopAvailable() {
  const char* display = std::getenv("DISPLAY");
  return display && *display && ::access(gtkPython, X_OK) == 0;
}

DesktopWindow::DesktopWindow(const std::vector<std::string>& arguments)
    : process_(gtkPython, [&] {
        std::vector<std::string> all = {ZOBA_TEST_SUPPORT_DIR "/apps/gtk_window.py"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return all;
      }()) {
  if (auto line = process_.readLine(15s)) {
    char* end = nullptr;
    long value = std::strtol(line->c_str(), &end, 10);
    if (end != line->c_str() && value > 0 && waitUntilActive(static_cast<pid_t>(value))) {
      pid_ = static_cast<pid_t>(value);
    }
  }
}

}  // namespace zoba::testing
