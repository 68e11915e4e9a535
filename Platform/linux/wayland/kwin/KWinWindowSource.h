#pragma once

// The window source of KWin: the active window its script reports. KWin tells
// scripts of every window, but the capture needs only the one in front.

#include <memory>
#include <mutex>
#include <optional>

#include "Platform/linux/wayland/WindowSource.h"
#include "Platform/linux/wayland/kwin/ActiveWindowFeed.h"

namespace zoba::platform::linux_backend::wayland {

class KWinWindowSource final : public WindowSource {
 public:
  KWinWindowSource() = default;
  // The active window alone, or no window; absent while KWin has not reported.
  std::optional<std::vector<Toplevel>> toplevels() override;
  // The active window with KWin's handle for it.
  std::optional<KWinWindow> active();

 private:
  std::optional<ActiveWindowFeed::Report> report();
  std::mutex mutex_;
  std::shared_ptr<ActiveWindowFeed> feed_;  // started at the first question: the
                                            // launcher's own services never ask
};

}  // namespace zoba::platform::linux_backend::wayland
