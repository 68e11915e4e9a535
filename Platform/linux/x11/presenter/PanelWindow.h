#pragma once

// One panel's X window: override-redirect, always on top, click-through, never
// focused, with a shared-memory back buffer the frames are drawn into. Without a
// compositor it shows a snapshot of the screen beneath, shaped to what the layers
// cover; with one it is an ARGB window that starts fully transparent.

#include <xcb/xcb.h>

#include <memory>
#include <span>
#include <vector>

#include "Platform/linux/layers/ShownLayers.h"
#include "Platform/linux/x11/AtomCache.h"
#include "Platform/linux/x11/presenter/DisplayFacts.h"
#include "Platform/linux/x11/presenter/ShmBuffer.h"
#include "Platform/linux/x11/presenter/ShmBufferPool.h"

namespace zoba::platform::linux_backend {

// The atoms every panel window sets.
struct PanelAtoms {
  xcb_atom_t windowType = XCB_NONE, notification = XCB_NONE, state = XCB_NONE, above = XCB_NONE,
             pid = XCB_NONE;
  static PanelAtoms intern(AtomCache& atoms);
};

class PanelWindow {
 public:
  // Made and placed, not mapped yet. `rootRect` is in root pixels. Null when the
  // window or its buffers cannot be made. The buffers come from `pool` and go back
  // to it with the window, so the pool must outlive it.
  static std::unique_ptr<PanelWindow> open(xcb_connection_t* connection, const xcb_screen_t& screen,
                                           const DisplayFacts& facts, const PanelAtoms& atoms,
                                           const PixelRect& rootRect, ShmBufferPool& pool);
  ~PanelWindow();
  PanelWindow(const PanelWindow&) = delete;
  PanelWindow& operator=(const PanelWindow&) = delete;

  xcb_window_t id() const { return window_; }
  PixelRect bounds() const { return {0, 0, rect_.width, rect_.height}; }
  // Without a compositor: copies the screen beneath, before any window of ours
  // covers it. Nothing to do with one.
  void snapshotBeneath();
  // Maps the window above every other.
  void map();
  // Resets the damaged pixels to what lies beneath the layers, ready to draw on,
  // except inside `opaque`, which the frame paints over whole.
  cairo_t* beginFrame(std::span<const PixelRect> damage, const PixelRect& opaque = {});
  // Puts the damaged pixels on screen, after shaping the window to `covered`.
  void endFrame(std::span<const PixelRect> damage, const std::vector<PixelRect>& covered);
  // Repaints what the server lost (an Expose event).
  void expose(const PixelRect& rect);

 private:
  PanelWindow(xcb_connection_t* connection, const PixelRect& rootRect, bool composited, ShmBufferPool& pool);
  void setBoundingShape(const std::vector<PixelRect>& rects);

  xcb_connection_t* connection_;
  ShmBufferPool* pool_;  // not owned
  PixelRect rect_;
  bool composited_;
  std::uint8_t depth_ = 24;
  xcb_window_t root_ = XCB_NONE;
  xcb_window_t window_ = XCB_NONE;
  xcb_colormap_t colormap_ = XCB_NONE;
  xcb_gcontext_t gc_ = XCB_NONE;
  std::optional<ShmBuffer> back_;
  std::optional<ShmBuffer> beneath_;             // the snapshot, without a compositor
  std::optional<std::vector<PixelRect>> shape_;  // the bounding shape last set
  CairoPtr cr_;
};

}  // namespace zoba::platform::linux_backend
