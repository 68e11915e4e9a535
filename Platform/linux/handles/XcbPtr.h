#pragma once

// Owners for what xcb hands out: connections, and replies, errors and events
// (malloc'd blocks).

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace zoba::platform::linux_backend {

struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};
template <class T>
using XReply = std::unique_ptr<T, FreeDeleter>;

struct XcbDisconnect {
  void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
using XcbConnectionPtr = std::unique_ptr<xcb_connection_t, XcbDisconnect>;

// Waits for a request's reply: `xcbReply(xcb_get_property_reply, c, cookie)`.
// Null on an X error (which is freed) or a broken connection.
template <class Reply, class Cookie>
XReply<Reply> xcbReply(Reply* (*fetch)(xcb_connection_t*, Cookie, xcb_generic_error_t**),
                       xcb_connection_t* connection, Cookie cookie) {
  xcb_generic_error_t* error = nullptr;
  XReply<Reply> reply(fetch(connection, cookie, &error));
  XReply<xcb_generic_error_t> discarded(error);
  return reply;
}

}  // namespace zoba::platform::linux_backend
