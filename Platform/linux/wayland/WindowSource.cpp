#include "Platform/linux/wayland/WindowSource.h"

#include <algorithm>

#include "Platform/linux/session/DesktopSession.h"

namespace zoba::platform::linux_backend::wayland {

std::unique_ptr<WindowSource> makeSwayWindowSource();
std::unique_ptr<WindowSource> makeKWinWindowSource();

std::optional<Toplevel> WindowSource::frontmost() {
  auto list = toplevels();
  if (!list) return std::nullopt;
  auto found =
      std::find_if(list->begin(), list->end(), [](const Toplevel& toplevel) { return toplevel.focused; });
  if (found == list->end()) return std::nullopt;
  return std::move(*found);
}

std::unique_ptr<WindowSource> makeWindowSource(const DesktopSession& session) {
  if (session.compositor == Compositor::sway) return makeSwayWindowSource();
  if (session.compositor == Compositor::kwin) return makeKWinWindowSource();
  return nullptr;
}

}  // namespace zoba::platform::linux_backend::wayland
