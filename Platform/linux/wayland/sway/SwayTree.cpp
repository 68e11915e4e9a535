#include "Platform/linux/wayland/sway/SwayTree.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace zoba::platform::linux_backend::wayland {

namespace {

using nlohmann::json;

std::optional<std::string> text(const json& node, const char* key) {
  auto found = node.find(key);
  if (found == node.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

double number(const json& node, const char* key, double fallback = 0) {
  auto found = node.find(key);
  return found != node.end() && found->is_number() ? found->get<double>() : fallback;
}

Rect rectOf(const json& node, const char* key) {
  auto found = node.find(key);
  if (found == node.end() || !found->is_object()) return {};
  return Rect(number(*found, "x"), number(*found, "y"), number(*found, "width"), number(*found, "height"));
}

const json& children(const json& node, const char* key) {
  static const json none = json::array();
  auto found = node.find(key);
  return found != node.end() && found->is_array() ? *found : none;
}

bool isView(const json& node) { return node.contains("pid") && node.contains("shell"); }

struct OutputFacts {
  std::string name;
  double scale = 1;
};

// A view as the client draws it: "window_rect" is the surface within the
// container's "rect", which includes borders (the title bar is above, "deco_rect").
std::optional<Toplevel> viewOf(const json& node, const OutputFacts& output) {
  if (!node.value("visible", false)) return std::nullopt;
  Toplevel toplevel;
  toplevel.id = node.value("id", std::int64_t{0});
  toplevel.pid = static_cast<std::int32_t>(number(node, "pid"));
  toplevel.title = text(node, "name");
  toplevel.focused = node.value("focused", false);
  toplevel.xwayland = text(node, "shell") == "xwayland";
  if (toplevel.xwayland) {
    auto properties = node.find("window_properties");
    if (properties != node.end() && properties->is_object()) {
      toplevel.appId = text(*properties, "instance");
      toplevel.x11Class = text(*properties, "class");
    }
  } else {
    toplevel.appId = text(node, "app_id");
  }
  const Rect outer = rectOf(node, "rect");
  const Rect inner = rectOf(node, "window_rect");
  toplevel.rect =
      Rect(outer.minX() + inner.minX(), outer.minY() + inner.minY(), inner.width(), inner.height());
  toplevel.scale = output.scale;
  toplevel.output = output.name;
  return toplevel;
}

// The views under `node` in its own order (containers nest: split, tabbed, stacked).
// The ids of fullscreen views go to `fullscreen`.
void collectViews(const json& node, const OutputFacts& output, std::vector<Toplevel>& out,
                  std::vector<std::int64_t>& fullscreen) {
  if (isView(node)) {
    if (auto view = viewOf(node, output)) {
      if (number(node, "fullscreen_mode") != 0) fullscreen.push_back(view->id);
      out.push_back(std::move(*view));
    }
    return;
  }
  for (const auto& child : children(node, "nodes")) collectViews(child, output, out, fullscreen);
  for (const auto& child : children(node, "floating_nodes")) collectViews(child, output, out, fullscreen);
}

// One output's visible views, topmost first.
std::vector<Toplevel> outputViews(const json& output) {
  OutputFacts facts{output.value("name", std::string()), number(output, "scale", 1)};
  if (facts.scale <= 0) facts.scale = 1;
  std::vector<Toplevel> floating, tiled;
  std::vector<std::int64_t> fullscreen;
  for (const auto& workspace : children(output, "nodes")) {
    if (workspace.value("type", "") != "workspace") continue;
    // Floating windows stack in list order, the last raised last.
    const auto& floatingNodes = children(workspace, "floating_nodes");
    for (auto it = floatingNodes.rbegin(); it != floatingNodes.rend(); ++it)
      collectViews(*it, facts, floating, fullscreen);
    for (const auto& child : children(workspace, "nodes")) collectViews(child, facts, tiled, fullscreen);
  }
  std::vector<Toplevel> ordered;
  auto take = [&](std::vector<Toplevel>& from) {
    for (auto& view : from) ordered.push_back(std::move(view));
  };
  take(floating);
  take(tiled);
  // A fullscreen view covers the rest of its output.
  std::stable_partition(ordered.begin(), ordered.end(), [&](const Toplevel& view) {
    return std::find(fullscreen.begin(), fullscreen.end(), view.id) != fullscreen.end();
  });
  return ordered;
}

}  // namespace

std::optional<std::vector<Toplevel>> parseSwayTree(std::string_view text) {
  json root = json::parse(text, nullptr, false);
  if (root.is_discarded() || !root.is_object() || root.value("type", "") != "root") return std::nullopt;
  // The root's "focus" lists its outputs, the focused one first.
  std::vector<std::int64_t> focusOrder;
  for (const auto& id : children(root, "focus"))
    if (id.is_number_integer()) focusOrder.push_back(id.get<std::int64_t>());
  std::vector<const json*> outputs;
  for (const auto& output : children(root, "nodes")) {
    // "__i3" holds the scratchpad, which is never on screen.
    if (output.value("type", "") != "output" || output.value("name", "") == "__i3") continue;
    outputs.push_back(&output);
  }
  auto rank = [&](const json* output) {
    auto found = std::find(focusOrder.begin(), focusOrder.end(), output->value("id", std::int64_t{-1}));
    return found - focusOrder.begin();
  };
  std::stable_sort(outputs.begin(), outputs.end(),
                   [&](const json* a, const json* b) { return rank(a) < rank(b); });
  std::vector<Toplevel> views;
  for (const json* output : outputs) {
    for (auto& view : outputViews(*output)) views.push_back(std::move(view));
  }
  return views;
}

}  // namespace zoba::platform::linux_backend::wayland
