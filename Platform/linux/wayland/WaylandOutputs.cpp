#include "Platform/linux/wayland/WaylandOutputs.h"

#include <algorithm>
#include <string>

#include "wayland-protocols/xdg-output-unstable-v1-client-protocol.h"

namespace zoba::platform::linux_backend::wayland {

struct WaylandOutputs::Output {
  std::uint32_t global = 0;
  ProxyPtr<wl_output> output{nullptr, nullptr};
  ProxyPtr<zxdg_output_v1> xdgOutput{nullptr, nullptr};
  std::string name;
  int x = 0, y = 0;  // wl_output.geometry
  int transform = WL_OUTPUT_TRANSFORM_NORMAL;
  int modeWidth = 0, modeHeight = 0;  // the current mode, buffer pixels
  int refresh = 0;                    // mHz
  int scale = 1;
  std::optional<PixelRect> logical;  // xdg-output's, once both halves came
  int logicalX = 0, logicalY = 0, logicalWidth = 0, logicalHeight = 0;

  OutputGeometry geometry() const {
    OutputGeometry facts;
    facts.global = global;
    facts.name = name;
    facts.scale = std::max(1, scale);
    facts.pixelRatio = facts.scale;
    const bool sideways = transform % 2 == 1;
    const int pixelWidth = sideways ? modeHeight : modeWidth;
    if (logical) {
      facts.logical = *logical;
      if (pixelWidth > 0 && logical->width > 0) facts.pixelRatio = double(pixelWidth) / logical->width;
    } else {
      // Without xdg-output: the mode divided by the scale, turned as the output is.
      facts.logical =
          PixelRect{x, y, pixelWidth / facts.scale, (sideways ? modeWidth : modeHeight) / facts.scale};
    }
    if (refresh > 0) facts.refreshRate = refresh / 1000.0;
    return facts;
  }
};

namespace {

using Output = WaylandOutputs::Output;

void onGeometry(void* data, wl_output*, std::int32_t x, std::int32_t y, std::int32_t, std::int32_t,
                std::int32_t, const char*, const char*, std::int32_t transform) {
  auto* output = static_cast<Output*>(data);
  output->x = x;
  output->y = y;
  output->transform = transform;
}
void onMode(void* data, wl_output*, std::uint32_t flags, std::int32_t width, std::int32_t height,
            std::int32_t refresh) {
  if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
  auto* output = static_cast<Output*>(data);
  output->modeWidth = width;
  output->modeHeight = height;
  output->refresh = refresh;
}
// From xdg-output version 3 on, wl_output.done ends the xdg-output facts too
// (KWin sends no xdg-output done then).
void onDone(void* data, wl_output*) {
  auto* output = static_cast<Output*>(data);
  if (output->xdgOutput && output->logicalWidth > 0 && output->logicalHeight > 0)
    output->logical =
        PixelRect{output->logicalX, output->logicalY, output->logicalWidth, output->logicalHeight};
}
void onScale(void* data, wl_output*, std::int32_t factor) { static_cast<Output*>(data)->scale = factor; }
void onName(void* data, wl_output*, const char* name) { static_cast<Output*>(data)->name = name; }
void onDescription(void*, wl_output*, const char*) {}
const wl_output_listener outputListener{onGeometry, onMode, onDone, onScale, onName, onDescription};

void onLogicalPosition(void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
  auto* output = static_cast<Output*>(data);
  output->logicalX = x;
  output->logicalY = y;
}
void onLogicalSize(void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height) {
  auto* output = static_cast<Output*>(data);
  output->logicalWidth = width;
  output->logicalHeight = height;
}
void onXdgDone(void* data, zxdg_output_v1*) {
  auto* output = static_cast<Output*>(data);
  output->logical =
      PixelRect{output->logicalX, output->logicalY, output->logicalWidth, output->logicalHeight};
}
void onXdgName(void* data, zxdg_output_v1*, const char* name) {
  auto* output = static_cast<Output*>(data);
  if (output->name.empty()) output->name = name;
}
void onXdgDescription(void*, zxdg_output_v1*, const char*) {}
const zxdg_output_v1_listener xdgOutputListener{onLogicalPosition, onLogicalSize, onXdgDone, onXdgName,
                                                onXdgDescription};

}  // namespace

WaylandOutputs::WaylandOutputs(const WaylandConnection& connection) : connection_(connection) {
  manager_ = own(connection.bind<zxdg_output_manager_v1>(zxdg_output_manager_v1_interface, 3),
                 zxdg_output_manager_v1_destroy);
  refresh();
}

WaylandOutputs::~WaylandOutputs() = default;

bool WaylandOutputs::refresh() {
  const auto& globals = connection_.globals();
  std::erase_if(outputs_, [&](const std::unique_ptr<Output>& output) {
    return std::none_of(globals.begin(), globals.end(),
                        [&](const Global& global) { return global.name == output->global; });
  });
  bool added = false;
  for (const auto& global : globals) {
    if (global.interface != wl_output_interface.name) continue;
    if (std::any_of(outputs_.begin(), outputs_.end(),
                    [&](const std::unique_ptr<Output>& output) { return output->global == global.name; })) {
      continue;
    }
    auto output = std::make_unique<Output>();
    output->global = global.name;
    // Released, not just forgotten, where the compositor knows the request.
    auto* bound = connection_.bind<wl_output>(global, wl_output_interface, 4);
    if (!bound) continue;
    output->output =
        own(bound, wl_output_get_version(bound) >= WL_OUTPUT_RELEASE_SINCE_VERSION ? wl_output_release
                                                                                   : wl_output_destroy);
    wl_output_add_listener(bound, &outputListener, output.get());
    if (manager_) {
      output->xdgOutput =
          own(zxdg_output_manager_v1_get_xdg_output(manager_.get(), bound), zxdg_output_v1_destroy);
      zxdg_output_v1_add_listener(output->xdgOutput.get(), &xdgOutputListener, output.get());
    }
    outputs_.push_back(std::move(output));
    added = true;
  }
  return added;
}

std::vector<OutputGeometry> WaylandOutputs::geometry() const {
  std::vector<OutputGeometry> geometry;
  for (const auto& output : outputs_) {
    auto facts = output->geometry();
    if (!facts.logical.empty()) geometry.push_back(std::move(facts));
  }
  return geometry;
}

wl_output* WaylandOutputs::output(std::uint32_t global) const {
  for (const auto& output : outputs_) {
    if (output->global == global) return output->output.get();
  }
  return nullptr;
}

}  // namespace zoba::platform::linux_backend::wayland
