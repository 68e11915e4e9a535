#pragma once

// The windows a window manager manages, found whichever way it publishes them.

#include <xcb/xcb.h>

#include <optional>
#include <vector>

namespace zoba::platform::linux_backend {

struct ClientAtoms {
  xcb_atom_t clientListStacking = XCB_ATOM_NONE;  // _NET_CLIENT_LIST_STACKING
  xcb_atom_t clientList = XCB_ATOM_NONE;          // _NET_CLIENT_LIST
  xcb_atom_t wmState = XCB_ATOM_NONE;             // WM_STATE (ICCCM)
};

struct ClientWindows {
  std::vector<xcb_window_t> topmostFirst;
  // Whether a window manager listed them; otherwise there is none and the
  // list is empty.
  bool managed = false;
};

// The managed client windows, topmost first: from _NET_CLIENT_LIST_STACKING;
// else _NET_CLIENT_LIST ordered by the stacking of the clients' frames (i3 and
// dwm publish no stacking list, nor does xfwm4 with a single client); else the
// ICCCM way, the windows with WM_STATE at or below the root's children (twm).
// `topLevels` are the root's children, bottom to top, as QueryTree lists them.
ClientWindows clientWindows(xcb_connection_t* c, xcb_window_t root, const ClientAtoms& atoms,
                            const std::vector<xcb_window_t>& topLevels);

// The client window at or below a top-level window or one of its descendants:
// the window itself or its nearest ancestor with WM_STATE, else the first
// descendant with it; without any, the top-level itself (no window manager).
std::optional<xcb_window_t> clientOf(xcb_connection_t* c, xcb_window_t root, xcb_atom_t wmState,
                                     xcb_window_t window);

}  // namespace zoba::platform::linux_backend
