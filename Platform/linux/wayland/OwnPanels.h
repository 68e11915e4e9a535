#pragma once

// The helper's own overlay panels on screen, where the render thread put them. The
// compositor's window list never names layer surfaces, so the screen capture lists
// these beside it (as X11 lists the helper's override-redirect windows): the debug
// mode reads back what the overlay showed through them.

#include <cstdint>
#include <mutex>
#include <vector>

#include "ZobaCaptureCore/Rect.h"

namespace zoba::platform::linux_backend::wayland {

struct OwnPanel {
  std::uint64_t id = 0;  // the render tree's panel id
  Rect frame;            // its part on its output, in layout coordinates (y down)
  friend bool operator==(const OwnPanel&, const OwnPanel&) = default;
};

class OwnPanels {
 public:
  static OwnPanels& shared();

  // The render thread's panels now (every one, replacing the last list).
  void set(std::vector<OwnPanel> panels);
  std::vector<OwnPanel> list() const;

 private:
  mutable std::mutex mutex_;
  std::vector<OwnPanel> panels_;
};

}  // namespace zoba::platform::linux_backend::wayland
