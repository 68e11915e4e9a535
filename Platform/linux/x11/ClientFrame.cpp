#include "Platform/linux/x11/ClientFrame.h"

#include <algorithm>
#include <cstdint>

#include "Platform/linux/x11/WindowProperty.h"

namespace zoba::platform::linux_backend {

Insets frameExtents(const xcb_get_property_reply_t* reply) {
  auto values = propertyValues<std::uint32_t>(reply);
  if (values.size() < 4) return {};
  return {double(values[0]), double(values[1]), double(values[2]), double(values[3])};
}

Rect clientFrame(const xcb_get_geometry_reply_t& geometry, const xcb_translate_coordinates_reply_t& position,
                 const Insets& insets) {
  return Rect(position.dst_x + insets.left, position.dst_y + insets.top,
              std::max(0.0, geometry.width - insets.left - insets.right),
              std::max(0.0, geometry.height - insets.top - insets.bottom));
}

}  // namespace zoba::platform::linux_backend
