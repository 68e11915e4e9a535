#include "Platform/linux/x11/presenter/PanelWindow.h"

#include <unistd.h>
#include <xcb/shape.h>

#include <cstring>

#include "Platform/linux/handles/XcbPtr.h"

namespace zoba::platform::linux_backend {

namespace {

std::vector<xcb_rectangle_t> xRectangles(std::span<const PixelRect> rects) {
  std::vector<xcb_rectangle_t> out;
  for (const auto& rect : rects) {
    out.push_back({static_cast<std::int16_t>(rect.x), static_cast<std::int16_t>(rect.y),
                   static_cast<std::uint16_t>(rect.width), static_cast<std::uint16_t>(rect.height)});
  }
  return out;
}

}  // namespace

PanelAtoms PanelAtoms::intern(AtomCache& cache) {
  const auto values = cache({"_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_NOTIFICATION", "_NET_WM_STATE",
                             "_NET_WM_STATE_ABOVE", "_NET_WM_PID"});
  return {values[0], values[1], values[2], values[3], values[4]};
}

PanelWindow::PanelWindow(xcb_connection_t* connection, const PixelRect& rootRect, bool composited,
                         ShmBufferPool& pool)
    : connection_(connection), pool_(&pool), rect_(rootRect), composited_(composited) {}

std::unique_ptr<PanelWindow> PanelWindow::open(xcb_connection_t* c, const xcb_screen_t& screen,
                                               const DisplayFacts& facts, const PanelAtoms& atoms,
                                               const PixelRect& rootRect, ShmBufferPool& pool) {
  if (rootRect.empty()) return nullptr;
  const bool composited = facts.composited && facts.argbVisual;
  std::unique_ptr<PanelWindow> panel(new PanelWindow(c, rootRect, composited, pool));
  panel->root_ = screen.root;
  panel->depth_ = composited ? 32 : screen.root_depth;
  if (panel->depth_ != 24 && panel->depth_ != 32) return nullptr;  // 32 bits a pixel is all we draw
  const auto format = composited ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24;
  panel->back_ = pool.take(rootRect.width, rootRect.height, format);
  if (!panel->back_) return nullptr;
  if (!composited) {
    panel->beneath_ = pool.take(rootRect.width, rootRect.height, format);
    if (!panel->beneath_) return nullptr;
  }

  panel->window_ = xcb_generate_id(c);
  const std::uint32_t events = XCB_EVENT_MASK_EXPOSURE;
  xcb_void_cookie_t created;
  if (composited) {
    panel->colormap_ = xcb_generate_id(c);
    xcb_create_colormap(c, XCB_COLORMAP_ALLOC_NONE, panel->colormap_, screen.root, *facts.argbVisual);
    // Transparent from the moment it maps: a compositor's map fade finds nothing to show.
    const std::uint32_t values[] = {0, 0, 1, events, panel->colormap_};
    created = xcb_create_window_checked(
        c, 32, panel->window_, screen.root, static_cast<std::int16_t>(rootRect.x),
        static_cast<std::int16_t>(rootRect.y), static_cast<std::uint16_t>(rootRect.width),
        static_cast<std::uint16_t>(rootRect.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, *facts.argbVisual,
        XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK |
            XCB_CW_COLORMAP,
        values);
  } else {
    // No background: the server paints nothing of its own over the frames.
    const std::uint32_t values[] = {XCB_BACK_PIXMAP_NONE, 1, events};
    created = xcb_create_window_checked(
        c, XCB_COPY_FROM_PARENT, panel->window_, screen.root, static_cast<std::int16_t>(rootRect.x),
        static_cast<std::int16_t>(rootRect.y), static_cast<std::uint16_t>(rootRect.width),
        static_cast<std::uint16_t>(rootRect.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen.root_visual,
        XCB_CW_BACK_PIXMAP | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
  }
  if (XReply<xcb_generic_error_t> error{xcb_request_check(c, created)}) {
    panel->window_ = XCB_NONE;
    return nullptr;
  }
  panel->gc_ = xcb_generate_id(c);
  xcb_create_gc(c, panel->gc_, panel->window_, 0, nullptr);

  // Never focused: input false in WM_HINTS (flags: InputHint).
  const std::uint32_t hints[9] = {1, 0};
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, panel->window_, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, 9,
                      hints);
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, panel->window_, atoms.windowType, XCB_ATOM_ATOM, 32, 1,
                      &atoms.notification);
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, panel->window_, atoms.state, XCB_ATOM_ATOM, 32, 1,
                      &atoms.above);
  // The screen capture lists override-redirect windows with our pid as our overlays.
  const auto pid = static_cast<std::uint32_t>(getpid());
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, panel->window_, atoms.pid, XCB_ATOM_CARDINAL, 32, 1, &pid);
  // Click-through: an empty input region.
  xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED, panel->window_, 0,
                       0, 0, nullptr);
  if (!composited) panel->setBoundingShape({});
  panel->cr_.reset(cairo_create(panel->back_->surface()));
  return panel;
}

PanelWindow::~PanelWindow() {
  cr_.reset();
  if (gc_ != XCB_NONE) xcb_free_gc(connection_, gc_);
  if (window_ != XCB_NONE) xcb_destroy_window(connection_, window_);
  if (colormap_ != XCB_NONE) xcb_free_colormap(connection_, colormap_);
  xcb_flush(connection_);
  if (back_) pool_->give(std::move(*back_));
  if (beneath_) pool_->give(std::move(*beneath_));
}

void PanelWindow::snapshotBeneath() {
  if (beneath_) {
    // The screen beneath, before our window covers any of it.
    if (!beneath_->read(root_, rect_.x, rect_.y))
      std::memset(beneath_->row(0), 0, std::size_t(beneath_->stride()) * rect_.height);
    back_->synchronise();
    std::memcpy(back_->row(0), beneath_->row(0),
                static_cast<std::size_t>(back_->stride()) * std::size_t(rect_.height));
    cairo_surface_mark_dirty(back_->surface());
  }
}

void PanelWindow::map() {
  xcb_map_window(connection_, window_);
  const std::uint32_t above[] = {XCB_STACK_MODE_ABOVE};
  xcb_configure_window(connection_, window_, XCB_CONFIG_WINDOW_STACK_MODE, above);
}

cairo_t* PanelWindow::beginFrame(std::span<const PixelRect> damage, const PixelRect& opaque) {
  back_->synchronise();
  cairo_surface_flush(back_->surface());
  std::vector<PixelRect> reset;
  for (const auto& rect : damage) {
    auto parts = difference(rect, opaque);
    reset.insert(reset.end(), parts.begin(), parts.end());
  }
  for (const auto& rect : reset) {
    const auto bytes = static_cast<std::size_t>(rect.width) * 4;
    for (int y = rect.y; y < rect.maxY(); ++y) {
      std::uint8_t* target = back_->row(y) + static_cast<std::size_t>(rect.x) * 4;
      if (beneath_) {
        std::memcpy(target, beneath_->row(y) + static_cast<std::size_t>(rect.x) * 4, bytes);
      } else {
        std::memset(target, 0, bytes);
      }
    }
  }
  cairo_surface_mark_dirty(back_->surface());
  return cr_.get();
}

void PanelWindow::endFrame(std::span<const PixelRect> damage, const std::vector<PixelRect>& covered) {
  if (!composited_ && shape_ != covered) setBoundingShape(covered);
  for (const auto& rect : damage) back_->put(window_, gc_, depth_, rect);
}

void PanelWindow::expose(const PixelRect& rect) {
  const PixelRect visible = intersection(rect, bounds());
  if (!visible.empty()) back_->put(window_, gc_, depth_, visible);
}

void PanelWindow::setBoundingShape(const std::vector<PixelRect>& rects) {
  const auto xRects = xRectangles(rects);
  xcb_shape_rectangles(connection_, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_UNSORTED,
                       window_, 0, 0, static_cast<std::uint32_t>(xRects.size()), xRects.data());
  shape_ = rects;
}

}  // namespace zoba::platform::linux_backend
