#pragma once

// The helper's overlay panels as another X client sees them: its mapped top-level
// windows (found by _NET_WM_PID), where they stand and what their bounding shape
// leaves visible, all in root coordinates.

#include <sys/types.h>

#include <optional>
#include <vector>

namespace zoba::testing {

struct RootRect {
  int x = 0, y = 0, width = 0, height = 0;
  int maxX() const { return x + width; }
  int maxY() const { return y + height; }
};

struct PanelWindowState {
  RootRect frame;
  std::vector<RootRect> shape;  // the bounding shape (the whole frame when unshaped)
};

// The mapped top-level windows of `pid` on $DISPLAY; empty without a display.
std::vector<PanelWindowState> mappedPanelsOf(pid_t pid);

// Where the client window of `pid` (the one the window manager lists) stands.
std::optional<RootRect> clientWindowOf(pid_t pid);

// The smallest rectangle holding every rectangle of `rects` (empty: all zero).
RootRect boundsOf(const std::vector<RootRect>& rects);

}  // namespace zoba::testing
