#include "Platform/linux/wayland/OwnPanels.h"

namespace zoba::platform::linux_backend::wayland {

OwnPanels& OwnPanels::shared() {
  static OwnPanels panels;
  return panels;
}

void OwnPanels::set(std::vector<OwnPanel> panels) {
  std::lock_guard lock(mutex_);
  panels_.swap(panels);
}

std::vector<OwnPanel> OwnPanels::list() const {
  std::lock_guard lock(mutex_);
  return panels_;
}

}  // namespace zoba::platform::linux_backend::wayland
