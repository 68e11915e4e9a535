#pragma once

// Reading window properties: asked for in one step and read in another, so
// that many can share a round trip, or asked and read at once.

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "Platform/linux/handles/XcbPtr.h"

namespace zoba::platform::linux_backend {

using PropertyReply = XReply<xcb_get_property_reply_t>;

// Asks for up to `maxLength` 32-bit units of a property.
inline xcb_get_property_cookie_t requestProperty(xcb_connection_t* c, xcb_window_t window,
                                                 xcb_atom_t property, xcb_atom_t type,
                                                 std::uint32_t maxLength = 1024) {
  return xcb_get_property(c, 0, window, property, type, 0, maxLength);
}

// The values of a property of 8, 16 or 32-bit items; empty when it is absent
// or its items are of another size.
template <class T>
std::span<const T> propertyValues(const xcb_get_property_reply_t* reply) {
  if (!reply || reply->format != sizeof(T) * 8) return {};
  return {static_cast<const T*>(xcb_get_property_value(reply)),
          static_cast<std::size_t>(xcb_get_property_value_length(reply)) / sizeof(T)};
}

inline std::string_view propertyText(const xcb_get_property_reply_t* reply) {
  if (!reply || reply->format != 8) return {};
  return {static_cast<const char*>(xcb_get_property_value(reply)),
          static_cast<std::size_t>(xcb_get_property_value_length(reply))};
}

// A window property of up to `maxLength` 32-bit units; null when absent or of
// another type than `type` (unless that is XCB_GET_PROPERTY_TYPE_ANY).
PropertyReply windowProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                             std::uint32_t maxLength = 1024);
// The first value of a WINDOW, ATOM or CARDINAL property.
std::optional<std::uint32_t> windowPropertyValue(xcb_connection_t* c, xcb_window_t window,
                                                 xcb_atom_t property, xcb_atom_t type);
// A WINDOW list such as _NET_CLIENT_LIST; empty when absent.
std::vector<xcb_window_t> windowListProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property);

}  // namespace zoba::platform::linux_backend
