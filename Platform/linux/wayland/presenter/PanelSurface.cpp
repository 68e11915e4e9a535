#include "Platform/linux/wayland/presenter/PanelSurface.h"

#include <glib.h>

#include "Platform/linux/wayland/LayerShellProtocol.h"

namespace zoba::platform::linux_backend::wayland {

namespace {

// Two: one the compositor shows, one to draw the next frame into.
constexpr std::size_t kBuffers = 2;
constexpr char kNamespace[] = "zoba-capture-overlay";

double monotonicSeconds() { return static_cast<double>(g_get_monotonic_time()) / 1e6; }

PixelRect shifted(const PixelRect& rect, int dx, int dy) {
  return {rect.x + dx, rect.y + dy, rect.width, rect.height};
}

}  // namespace

PanelSurface::PanelSurface(BufferPool& pool, const Placement& placement, int scale)
    : pool_(pool), placement_(placement), scale_(std::max(1, scale)) {}

PanelSurface::~PanelSurface() { returnBuffers(); }

void PanelSurface::returnBuffers() {
  for (auto& buffer : buffers_) pool_.give(std::move(buffer));
  buffers_.clear();
  ring_.reset();
}

std::unique_ptr<PanelSurface> PanelSurface::open(const SurfaceGlobals& globals, BufferPool& pool,
                                                 wl_output* output, const Placement& placement, int scale) {
  if (!globals.compositor || !globals.layerShell || !output) return nullptr;
  std::unique_ptr<PanelSurface> panel(new PanelSurface(pool, placement, scale));
  panel->surface_ = own(wl_compositor_create_surface(globals.compositor), wl_surface_destroy);
  if (!panel->surface_) return nullptr;
  wl_surface* surface = panel->surface_.get();
  // An empty input region: every click goes to the window beneath.
  if (auto region = own(wl_compositor_create_region(globals.compositor), wl_region_destroy)) {
    wl_surface_set_input_region(surface, region.get());
  }
  wl_surface_set_buffer_scale(surface, panel->scale_);
  panel->layerSurface_ =
      own(zwlr_layer_shell_v1_get_layer_surface(globals.layerShell, surface, output,
                                                ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, kNamespace),
          zwlr_layer_surface_v1_destroy);
  if (!panel->layerSurface_) return nullptr;
  zwlr_layer_surface_v1* layerSurface = panel->layerSurface_.get();
  static const zwlr_layer_surface_v1_listener listener{&PanelSurface::onConfigure, &PanelSurface::onClosed};
  zwlr_layer_surface_v1_add_listener(layerSurface, &listener, panel.get());
  // Every edge anchored, the size left to the compositor: the output less the margins.
  zwlr_layer_surface_v1_set_anchor(
      layerSurface, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                        ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
  zwlr_layer_surface_v1_set_size(layerSurface, 0, 0);
  const Margins& margins = placement.margins;
  zwlr_layer_surface_v1_set_margin(layerSurface, margins.top, margins.right, margins.bottom, margins.left);
  // Over panels and bars alike, and moving none of them.
  zwlr_layer_surface_v1_set_exclusive_zone(layerSurface, -1);
  zwlr_layer_surface_v1_set_keyboard_interactivity(layerSurface,
                                                   ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
  wl_surface_commit(surface);
  return panel;
}

void PanelSurface::onConfigure(void* data, zwlr_layer_surface_v1* layerSurface, std::uint32_t serial,
                               std::uint32_t width, std::uint32_t height) {
  auto* panel = static_cast<PanelSurface*>(data);
  zwlr_layer_surface_v1_ack_configure(layerSurface, serial);
  const Size size{static_cast<int>(width), static_cast<int>(height)};
  if (size.width <= 0 || size.height <= 0) return;
  if (panel->size_ != size) {
    panel->size_ = size;
    // New buffers at the new size, drawn whole.
    panel->returnBuffers();
    panel->fresh_ = true;
  }
}

void PanelSurface::onClosed(void* data, zwlr_layer_surface_v1*) {
  static_cast<PanelSurface*>(data)->closed_ = true;
}

void PanelSurface::onFrameDone(void* data, wl_callback*, std::uint32_t) {
  auto* panel = static_cast<PanelSurface*>(data);
  panel->frameCallback_.reset();
  panel->presented_ = monotonicSeconds();
}

bool PanelSurface::ensureBuffers() {
  if (!buffers_.empty()) return true;
  const int width = size_->width * scale_, height = size_->height * scale_;
  for (std::size_t index = 0; index < kBuffers; ++index) {
    auto buffer = pool_.take(width, height);
    if (!buffer) {
      returnBuffers();
      return false;
    }
    buffer->setReleased([this, index] {
      if (ring_) ring_->released(index);
    });
    // Cairo draws in logical pixels; the buffer holds `scale` pixels for each.
    cairo_surface_set_device_scale(buffer->surface(), scale_, scale_);
    buffers_.push_back(std::move(buffer));
  }
  ring_.emplace(kBuffers, PixelRect{0, 0, size_->width, size_->height});
  // A pooled buffer drawn for an earlier surface is drawn whole again, like a new one.
  return true;
}

PanelSurface::Result PanelSurface::present(const std::vector<ShownLayer>& layers, LayerPainter& painter) {
  if (!ready() || !ensureBuffers()) return Result::notReady;
  const int dx = placement_.offsetX, dy = placement_.offsetY;
  const PixelRect surfaceBounds{0, 0, size_->width, size_->height};
  // What of the panel this surface shows, in panel pixels.
  const PixelRect shownPart = shifted(surfaceBounds, dx, dy);
  std::vector<PixelRect> damage = fresh_ ? std::vector{shownPart} : damageBetween(shown_, layers, shownPart);
  // Surface pixels from here on.
  for (auto& rect : damage) rect = intersection(shifted(rect, -dx, -dy), surfaceBounds);
  std::erase_if(damage, [](const PixelRect& rect) { return rect.empty(); });
  if (damage.empty()) {
    shown_ = layers;
    return Result::unchanged;
  }
  const auto index = ring_->acquire();
  if (!index) return Result::noBuffer;
  ring_->damage(damage);

  ShmBuffer& buffer = *buffers_[*index];
  std::vector<PixelRect> redraw = ring_->stale(*index);
  {
    CairoPtr cr(cairo_create(buffer.surface()));
    // What the layers leave undrawn is transparent: the compositor shows what is beneath.
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_CLEAR);
    for (const auto& rect : redraw) cairo_rectangle(cr.get(), rect.x, rect.y, rect.width, rect.height);
    cairo_fill(cr.get());
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_OVER);
    cairo_translate(cr.get(), -dx, -dy);
    for (auto& rect : redraw) rect = shifted(rect, dx, dy);
    painter.paint(cr.get(), layers, redraw);
  }
  cairo_surface_flush(buffer.surface());

  wl_surface* surface = surface_.get();
  wl_surface_attach(surface, buffer.buffer(), 0, 0);
  const PixelRect bufferBounds{0, 0, buffer.width(), buffer.height()};
  const bool bufferDamage = wl_surface_get_version(surface) >= WL_SURFACE_DAMAGE_BUFFER_SINCE_VERSION;
  for (const auto& rect : damage) {
    if (!bufferDamage) {
      wl_surface_damage(surface, rect.x, rect.y, rect.width, rect.height);
      continue;
    }
    const PixelRect pixels = bufferRegion(rect, scale_, bufferBounds);
    if (!pixels.empty()) wl_surface_damage_buffer(surface, pixels.x, pixels.y, pixels.width, pixels.height);
  }
  static const wl_callback_listener frameListener{&PanelSurface::onFrameDone};
  frameCallback_ = own(wl_surface_frame(surface), wl_callback_destroy);
  wl_callback_add_listener(frameCallback_.get(), &frameListener, this);
  wl_surface_commit(surface);
  buffer.attached();
  ring_->committed(*index);
  shown_ = layers;
  fresh_ = false;
  return Result::committed;
}

}  // namespace zoba::platform::linux_backend::wayland
