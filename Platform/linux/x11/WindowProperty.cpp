#include "Platform/linux/x11/WindowProperty.h"

namespace zoba::platform::linux_backend {

PropertyReply windowProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                             std::uint32_t maxLength) {
  if (property == XCB_ATOM_NONE) return nullptr;
  auto reply = xcbReply(xcb_get_property_reply, c, requestProperty(c, window, property, type, maxLength));
  if (!reply || reply->type == XCB_ATOM_NONE) return nullptr;
  if (type != XCB_GET_PROPERTY_TYPE_ANY && reply->type != type) return nullptr;
  return reply;
}

std::optional<std::uint32_t> windowPropertyValue(xcb_connection_t* c, xcb_window_t window,
                                                 xcb_atom_t property, xcb_atom_t type) {
  auto reply = windowProperty(c, window, property, type, 1);
  auto values = propertyValues<std::uint32_t>(reply.get());
  if (values.empty()) return std::nullopt;
  return values.front();
}

std::vector<xcb_window_t> windowListProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property) {
  auto reply = windowProperty(c, window, property, XCB_ATOM_WINDOW, 1 << 16);
  auto values = propertyValues<xcb_window_t>(reply.get());
  return {values.begin(), values.end()};
}

}  // namespace zoba::platform::linux_backend
