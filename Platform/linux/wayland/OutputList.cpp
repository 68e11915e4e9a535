#include "Platform/linux/wayland/OutputList.h"

#include <algorithm>

#include "wayland-protocols/xdg-output-unstable-v1-client-protocol.h"

namespace zoba::platform::linux_backend::wayland {

namespace {

void releaseOutput(wl_output* output) {
  if (wl_output_get_version(output) >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
    wl_output_release(output);
  } else {
    wl_output_destroy(output);
  }
}

}  // namespace

struct OutputList::Bound {
  ProxyPtr<wl_output> output{nullptr, nullptr};
  ProxyPtr<zxdg_output_v1> xdg{nullptr, nullptr};
  std::string name;
  double x = 0, y = 0;                   // wl_output.geometry: the layout position
  double modeWidth = 0, modeHeight = 0;  // the current mode, in pixels
  std::int32_t scale = 1;
  std::int32_t transform = WL_OUTPUT_TRANSFORM_NORMAL;
  double logicalX = 0, logicalY = 0, logicalWidth = 0, logicalHeight = 0;
  bool hasPosition = false, hasSize = false;
};

namespace {

using Bound = OutputList::Bound;

void onGeometry(void* data, wl_output*, std::int32_t x, std::int32_t y, std::int32_t, std::int32_t,
                std::int32_t, const char*, const char*, std::int32_t transform) {
  auto* bound = static_cast<Bound*>(data);
  bound->x = x;
  bound->y = y;
  bound->transform = transform;
}
void onMode(void* data, wl_output*, std::uint32_t flags, std::int32_t width, std::int32_t height,
            std::int32_t) {
  if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
  auto* bound = static_cast<Bound*>(data);
  bound->modeWidth = width;
  bound->modeHeight = height;
}
void onDone(void*, wl_output*) {}
void onScale(void* data, wl_output*, std::int32_t factor) {
  static_cast<Bound*>(data)->scale = std::max(1, factor);
}
void onName(void* data, wl_output*, const char* name) {
  auto* bound = static_cast<Bound*>(data);
  if (bound->name.empty()) bound->name = name;
}
void onDescription(void*, wl_output*, const char*) {}
const wl_output_listener outputListener{onGeometry, onMode, onDone, onScale, onName, onDescription};

void onLogicalPosition(void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
  auto* bound = static_cast<Bound*>(data);
  bound->logicalX = x;
  bound->logicalY = y;
  bound->hasPosition = true;
}
void onLogicalSize(void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height) {
  auto* bound = static_cast<Bound*>(data);
  bound->logicalWidth = width;
  bound->logicalHeight = height;
  bound->hasSize = true;
}
void onXdgDone(void*, zxdg_output_v1*) {}
void onXdgName(void* data, zxdg_output_v1*, const char* name) { static_cast<Bound*>(data)->name = name; }
void onXdgDescription(void*, zxdg_output_v1*, const char*) {}
const zxdg_output_v1_listener xdgOutputListener{onLogicalPosition, onLogicalSize, onXdgDone, onXdgName,
                                                onXdgDescription};

}  // namespace

OutputList::OutputList(const WaylandConnection& connection) {
  if (auto* manager = connection.bind<zxdg_output_manager_v1>(zxdg_output_manager_v1_interface, 3))
    manager_ = own(manager, zxdg_output_manager_v1_destroy);
  for (const auto& global : connection.globals()) {
    if (global.interface != wl_output_interface.name) continue;
    auto bound = std::make_unique<Bound>();
    bound->output = own(connection.bind<wl_output>(global, wl_output_interface, 4), releaseOutput);
    if (!bound->output) continue;
    wl_output_add_listener(bound->output.get(), &outputListener, bound.get());
    if (manager_) {
      bound->xdg = own(zxdg_output_manager_v1_get_xdg_output(manager_.get(), bound->output.get()),
                       zxdg_output_v1_destroy);
      zxdg_output_v1_add_listener(bound->xdg.get(), &xdgOutputListener, bound.get());
    }
    outputs_.push_back(std::move(bound));
  }
  // The first trip binds, the second brings the events the binding sent.
  connection.roundtrip();
  connection.roundtrip();
}

OutputList::~OutputList() = default;

std::vector<OutputFacts> OutputList::list() const {
  std::vector<OutputFacts> list;
  for (const auto& bound : outputs_) {
    OutputFacts facts;
    facts.name = bound->name;
    facts.scale = bound->scale;
    facts.output = bound->output.get();
    if (bound->hasPosition && bound->hasSize) {
      facts.logical = Rect(bound->logicalX, bound->logicalY, bound->logicalWidth, bound->logicalHeight);
    } else {
      // Without xdg_output: the mode divided by the scale, turned as the output is.
      const bool sideways = bound->transform % 2 == 1;
      const double width = (sideways ? bound->modeHeight : bound->modeWidth) / bound->scale;
      const double height = (sideways ? bound->modeWidth : bound->modeHeight) / bound->scale;
      facts.logical = Rect(bound->x, bound->y, width, height);
    }
    if (facts.logical.width() <= 0 || facts.logical.height() <= 0) continue;
    list.push_back(std::move(facts));
  }
  return list;
}

Rect intersection(const Rect& a, const Rect& b) {
  const double left = std::max(a.minX(), b.minX()), right = std::min(a.maxX(), b.maxX());
  const double top = std::max(a.minY(), b.minY()), bottom = std::min(a.maxY(), b.maxY());
  if (right <= left || bottom <= top) return {};
  return Rect(left, top, right - left, bottom - top);
}

const OutputFacts* outputHolding(const std::vector<OutputFacts>& outputs, const Rect& rect) {
  const OutputFacts* best = nullptr;
  double bestArea = 0;
  for (const auto& output : outputs) {
    const Rect common = intersection(output.logical, rect);
    const double area = common.width() * common.height();
    if (area > bestArea) {
      bestArea = area;
      best = &output;
    }
  }
  return best;
}

}  // namespace zoba::platform::linux_backend::wayland
