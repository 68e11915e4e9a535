#pragma once

// Where a client window's content lies on the screen: its geometry less the
// client-side shadow GTK draws around itself and names in _GTK_FRAME_EXTENTS.
// Window lists, screenshots and the focused window's frame measure it alike, so
// their frames compare.

#include <xcb/xcb.h>

#include "ZobaCaptureCore/Rect.h"

namespace zoba::platform::linux_backend {

struct Insets {
  double left = 0, right = 0, top = 0, bottom = 0;
};

// The shadow's widths from a _GTK_FRAME_EXTENTS reply: left, right, top, bottom;
// none when it is absent or malformed.
Insets frameExtents(const xcb_get_property_reply_t* reply);

// The content's frame on the root window, from the window's geometry and its
// origin translated to the root.
Rect clientFrame(const xcb_get_geometry_reply_t& geometry, const xcb_translate_coordinates_reply_t& position,
                 const Insets& insets);

}  // namespace zoba::platform::linux_backend
