#include "tests/support/wayland/SwayDesktop.h"

#include <gio/gio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "tests/support/wayland/ChordKeys.h"

namespace zoba::testing::wayland {

namespace {

constexpr const char* swaymsg = "/usr/bin/swaymsg";
constexpr const char* wtype = "/usr/bin/wtype";
constexpr const char* grim = "/usr/bin/grim";

bool isSet(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

SwayRect rectOf(const nlohmann::json& value) {
  SwayRect rect;
  if (!value.is_object()) return rect;
  rect.x = value.value("x", 0);
  rect.y = value.value("y", 0);
  rect.width = value.value("width", 0);
  rect.height = value.value("height", 0);
  return rect;
}

void collectViews(const nlohmann::json& node, std::vector<SwayView>& views) {
  if (!node.is_object()) return;
  if (node.contains("pid") && node["pid"].is_number_integer() &&
      (node.value("type", "") == "con" || node.value("type", "") == "floating_con")) {
    SwayView view;
    view.id = node.value("id", std::int64_t{0});
    view.pid = node["pid"].get<pid_t>();
    view.appId =
        node.contains("app_id") && node["app_id"].is_string() ? node["app_id"].get<std::string>() : "";
    view.name = node.contains("name") && node["name"].is_string() ? node["name"].get<std::string>() : "";
    view.shell = node.value("shell", "");
    view.focused = node.value("focused", false);
    view.rect = rectOf(node.value("rect", nlohmann::json()));
    SwayRect inner = rectOf(node.value("window_rect", nlohmann::json()));
    view.content = {view.rect.x + inner.x, view.rect.y + inner.y, inner.width, inner.height};
    view.node = node;
    views.push_back(std::move(view));
  }
  for (const char* key : {"nodes", "floating_nodes"}) {
    if (node.contains(key) && node[key].is_array()) {
      for (const auto& child : node[key]) collectViews(child, views);
    }
  }
}

struct GObjectUnref {
  void operator()(void* object) const {
    if (object) g_object_unref(object);
  }
};
struct VariantUnref {
  void operator()(GVariant* variant) const {
    if (variant) g_variant_unref(variant);
  }
};
using Variant = std::unique_ptr<GVariant, VariantUnref>;

// One connection to the accessibility bus for the test process, made at first use.
GDBusConnection* accessibilityBus() {
  static std::unique_ptr<GDBusConnection, GObjectUnref> bus =
      []() -> std::unique_ptr<GDBusConnection, GObjectUnref> {
    std::string address = accessibilityBusAddress();
    if (address.empty()) return nullptr;
    GError* error = nullptr;
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (error) g_error_free(error);
    return std::unique_ptr<GDBusConnection, GObjectUnref>(connection);
  }();
  return bus.get();
}

Variant call(const std::string& busName, const std::string& path, const char* interface, const char* method,
             GVariant* parameters, const char* replyType) {
  GDBusConnection* bus = accessibilityBus();
  if (!bus) {
    if (parameters) g_variant_unref(g_variant_ref_sink(parameters));
    return nullptr;
  }
  GError* error = nullptr;
  GVariant* reply =
      g_dbus_connection_call_sync(bus, busName.c_str(), path.c_str(), interface, method, parameters,
                                  G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, &error);
  if (error) g_error_free(error);
  return Variant(reply);
}

Variant property(const std::string& busName, const std::string& path, const char* interface,
                 const char* name) {
  auto reply = call(busName, path, "org.freedesktop.DBus.Properties", "Get",
                    g_variant_new("(ss)", interface, name), "(v)");
  if (!reply) return nullptr;
  GVariant* value = nullptr;
  g_variant_get(reply.get(), "(v)", &value);
  return Variant(value);
}

}  // namespace

std::string describe(const SwayRect& rect) {
  return std::to_string(rect.x) + "," + std::to_string(rect.y) + " " + std::to_string(rect.width) + "x" +
         std::to_string(rect.height);
}

bool swayDesktopAvailable() {
  return isSet("SWAYSOCK") && isSet("WAYLAND_DISPLAY") && ::access(gtkPython, X_OK) == 0 &&
         ::access(swaymsg, X_OK) == 0 && ::access(wtype, X_OK) == 0 && ::access(grim, X_OK) == 0;
}

std::optional<std::string> runProgram(const std::string& path, const std::vector<std::string>& arguments,
                                      std::chrono::milliseconds timeout) {
  ChildProcess child(path, arguments);
  if (!child.started()) return std::nullopt;
  child.closeStdin();
  auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string output;
  for (const auto& line : child.readAllLines(timeout)) output += line + "\n";
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  auto status = child.wait(std::max(left, std::chrono::milliseconds(100)));
  if (!status || *status != 0) return std::nullopt;
  return output;
}

nlohmann::json swayMessage(const std::string& type, const std::string& payload) {
  std::vector<std::string> arguments = {"-r", "-t", type};
  if (!payload.empty()) arguments.push_back(payload);
  auto output = runProgram(swaymsg, arguments);
  if (!output) return nullptr;
  return nlohmann::json::parse(*output, nullptr, false);
}

bool swayCommand(const std::string& command) {
  auto reply = swayMessage("command", command);
  if (!reply.is_array() || reply.empty()) return false;
  for (const auto& result : reply) {
    if (!result.is_object() || !result.value("success", false)) return false;
  }
  return true;
}

std::vector<SwayView> swayViews() {
  std::vector<SwayView> views;
  collectViews(swayMessage("get_tree"), views);
  return views;
}

std::optional<SwayView> focusedView() {
  for (auto& view : swayViews()) {
    if (view.focused) return view;
  }
  return std::nullopt;
}

std::optional<SwayView> waitUntilFocused(pid_t pid, std::chrono::milliseconds timeout,
                                         const std::optional<std::string>& title) {
  for (auto end = std::chrono::steady_clock::now() + timeout;;) {
    if (auto view = focusedView(); view && view->pid == pid && (!title || view->name == *title)) return view;
    if (std::chrono::steady_clock::now() >= end) return std::nullopt;
    std::this_thread::sleep_for(20ms);
  }
}

WaylandWindow::WaylandWindow(const WaylandWindowOptions& options, std::chrono::milliseconds timeout)
    : process_(launchGtkWindow(options)) {
  const auto start = std::chrono::steady_clock::now();
  if (auto pid = announcedPid(process_, timeout)) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        timeout - (std::chrono::steady_clock::now() - start));
    view_ = waitUntilFocused(*pid, std::max(left, std::chrono::milliseconds(1000)), options.title);
    if (view_) pid_ = *pid;
  }
}

bool WaylandWindow::waitForLine(const std::string& wanted, std::chrono::milliseconds timeout) {
  return wayland::waitForLine(process_, wanted, timeout);
}

bool WaylandWindow::place(const SwayRect& content, std::chrono::milliseconds timeout) {
  if (!view_) return false;
  const std::string criteria = "[con_id=" + std::to_string(view_->id) + "] ";
  if (!swayCommand(criteria + "floating enable")) return false;
  // sway 1.7 sizes and moves a floating container as a whole: its title bar
  // ("deco_rect", above "rect"), its borders and the surface ("window_rect" in "rect").
  // So size and move it by the difference it shows until the surface is where asked.
  for (auto end = std::chrono::steady_clock::now() + timeout;;) {
    for (auto& view : swayViews()) {
      if (view.id != view_->id || view.node.value("type", "") != "floating_con") continue;
      if (view.content == content) {
        view_ = view;
        return true;
      }
      SwayRect deco = rectOf(view.node.value("deco_rect", nlohmann::json()));
      const int top = deco.height > 0 ? deco.y : view.rect.y;
      const int outerWidth = view.rect.width, outerHeight = view.rect.y + view.rect.height - top;
      if (view.content.width != content.width || view.content.height != content.height) {
        if (!swayCommand(criteria + "resize set width " +
                         std::to_string(outerWidth + content.width - view.content.width) + " px height " +
                         std::to_string(outerHeight + content.height - view.content.height) + " px"))
          return false;
      } else if (!swayCommand(criteria + "move position " +
                              std::to_string(content.x - (view.content.x - view.rect.x)) + " px " +
                              std::to_string(content.y - (view.content.y - top)) + " px")) {
        return false;
      }
    }
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(50ms);
  }
}

bool typeKeys(const std::vector<std::string>& arguments) { return runProgram(wtype, arguments).has_value(); }

bool pressChord(const std::string& modifier, std::chrono::milliseconds hold) {
  auto keys = chordKeys(modifier);
  if (!keys) return false;
  const std::string left(keys->left), right(keys->right), pause = std::to_string(hold.count());
  return typeKeys({"-P", left, "-M", modifier, "-s", pause, "-P", right, "-s", pause, "-p", right, "-m",
                   modifier, "-p", left});
}

bool clickAvailable() {
#ifdef ZOBA_WL_CLICK_PATH
  return ::access(ZOBA_WL_CLICK_PATH, X_OK) == 0;
#else
  return false;
#endif
}

bool click(int x, int y) {
#ifdef ZOBA_WL_CLICK_PATH
  return runProgram(ZOBA_WL_CLICK_PATH, {std::to_string(x), std::to_string(y)}).has_value();
#else
  (void)x, (void)y;
  return false;
#endif
}

std::optional<platform::Image> screenshot(const SwayRect& region) {
  char path[] = "/tmp/zoba-grim-XXXXXX.png";
  int fd = ::mkstemps(path, 4);
  if (fd < 0) return std::nullopt;
  ::close(fd);
  auto output = runProgram(grim, {"-t", "png", "-g",
                                  std::to_string(region.x) + "," + std::to_string(region.y) + " " +
                                      std::to_string(region.width) + "x" + std::to_string(region.height),
                                  path});
  std::ifstream file(path, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ::unlink(path);
  if (!output || bytes.empty()) return std::nullopt;
  return platform::decodePNG(bytes);
}

std::string accessibilityBusAddress() {
  GError* error = nullptr;
  std::unique_ptr<GDBusConnection, GObjectUnref> session(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error));
  if (error) g_error_free(error);
  if (!session) return "";
  GVariant* reply = g_dbus_connection_call_sync(session.get(), "org.a11y.Bus", "/org/a11y/bus",
                                                "org.a11y.Bus", "GetAddress", nullptr, G_VARIANT_TYPE("(s)"),
                                                G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
  if (error) g_error_free(error);
  if (!reply) return "";
  const char* address = nullptr;
  g_variant_get(reply, "(&s)", &address);
  std::string result = address ? address : "";
  g_variant_unref(reply);
  return result;
}

std::vector<AccessibleApplication> accessibleApplications() {
  std::vector<AccessibleApplication> applications;
  for (const auto& child : accessibleChildren("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root")) {
    // Children come as "BUS_NAME PATH".
    std::string busName = child.substr(0, child.find(' '));
    auto reply = call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                      "GetConnectionUnixProcessID", g_variant_new("(s)", busName.c_str()), "(u)");
    guint32 pid = 0;
    if (reply) g_variant_get(reply.get(), "(u)", &pid);
    applications.push_back({busName, static_cast<pid_t>(pid)});
  }
  return applications;
}

std::optional<AccessibleApplication> waitForAccessibleApplication(pid_t pid,
                                                                  std::chrono::milliseconds timeout) {
  for (auto end = std::chrono::steady_clock::now() + timeout;;) {
    for (auto& application : accessibleApplications()) {
      if (application.pid == pid) return application;
    }
    if (std::chrono::steady_clock::now() >= end) return std::nullopt;
    std::this_thread::sleep_for(50ms);
  }
}

std::vector<std::string> accessibleChildren(const std::string& busName, const std::string& path) {
  std::vector<std::string> children;
  auto reply = call(busName, path, "org.a11y.atspi.Accessible", "GetChildren", nullptr, "(a(so))");
  if (!reply) return children;
  GVariantIter* iter = nullptr;
  g_variant_get(reply.get(), "(a(so))", &iter);
  const char* name = nullptr;
  const char* object = nullptr;
  while (g_variant_iter_next(iter, "(&s&o)", &name, &object))
    children.push_back(std::string(name) + " " + object);
  g_variant_iter_free(iter);
  return children;
}

std::string accessibleRoleName(const std::string& busName, const std::string& path) {
  auto reply = call(busName, path, "org.a11y.atspi.Accessible", "GetRoleName", nullptr, "(s)");
  if (!reply) return "";
  const char* role = nullptr;
  g_variant_get(reply.get(), "(&s)", &role);
  return role ? role : "";
}

std::string accessibleName(const std::string& busName, const std::string& path) {
  auto value = property(busName, path, "org.a11y.atspi.Accessible", "Name");
  if (!value || !g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING)) return "";
  return g_variant_get_string(value.get(), nullptr);
}

std::optional<SwayRect> accessibleExtents(const std::string& busName, const std::string& path,
                                          std::uint32_t coordType) {
  auto reply = call(busName, path, "org.a11y.atspi.Component", "GetExtents", g_variant_new("(u)", coordType),
                    "((iiii))");
  if (!reply) return std::nullopt;
  SwayRect rect;
  g_variant_get(reply.get(), "((iiii))", &rect.x, &rect.y, &rect.width, &rect.height);
  return rect;
}

std::optional<std::string> accessibleText(const std::string& busName, const std::string& path) {
  auto count = property(busName, path, "org.a11y.atspi.Text", "CharacterCount");
  if (!count || !g_variant_is_of_type(count.get(), G_VARIANT_TYPE_INT32)) return std::nullopt;
  auto reply = call(busName, path, "org.a11y.atspi.Text", "GetText",
                    g_variant_new("(ii)", 0, g_variant_get_int32(count.get())), "(s)");
  if (!reply) return std::nullopt;
  const char* text = nullptr;
  g_variant_get(reply.get(), "(&s)", &text);
  return std::string(text ? text : "");
}

std::optional<std::string> findAccessible(const std::string& busName, const std::string& path,
                                          const std::string& role, int limit) {
  std::vector<std::string> pending = {path};
  while (!pending.empty() && limit-- > 0) {
    std::string current = pending.back();
    pending.pop_back();
    if (current != path && accessibleRoleName(busName, current) == role) return current;
    auto children = accessibleChildren(busName, current);
    for (auto child = children.rbegin(); child != children.rend(); ++child) {
      pending.push_back(child->substr(child->find(' ') + 1));
    }
  }
  return std::nullopt;
}

}  // namespace zoba::testing::wayland
