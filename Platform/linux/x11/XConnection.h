#pragma once

// The process's one connection to the X display, shared by every X-based service.

#include <xcb/xcb.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Platform/linux/handles/GLibPtr.h"

namespace zoba::platform::linux_backend {

struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};
// xcb hands out replies, errors and events as malloc'd blocks.
template <class T>
using XReply = std::unique_ptr<T, FreeDeleter>;

struct XcbDisconnect {
  void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
// xcb_connect, one thread at a time: libXau finds the authority file through a
// static buffer that two concurrent connects would both write.
xcb_connection_t* connectDisplay(int* screenNumber);

// A connection of one's own (a thread's), apart from the shared one below.
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

class XConnection {
 public:
  using EventHandler = std::function<void(const xcb_generic_event_t& event)>;

  // Unregisters its handler when destroyed; keeps the connection alive meanwhile.
  class Subscription {
   public:
    Subscription(std::shared_ptr<XConnection> connection, int id);
    ~Subscription();
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

   private:
    std::shared_ptr<XConnection> connection_;
    int id_;
  };

  // The connection to $DISPLAY, opened on first use. Null when DISPLAY is unset or the
  // server cannot be reached; a connection that broke is dropped and the next call
  // tries anew. Callable from any thread.
  static std::shared_ptr<XConnection> shared();

  ~XConnection();
  XConnection(const XConnection&) = delete;
  XConnection& operator=(const XConnection&) = delete;

  xcb_connection_t* get() const { return connection_; }
  const xcb_screen_t& screen() const { return *screen_; }
  xcb_window_t root() const { return screen_->root; }
  bool broken() const { return xcb_connection_has_error(connection_) != 0; }

  // Interned once per name; XCB_ATOM_NONE when the server does not answer.
  xcb_atom_t atom(const std::string& name);

  // Every event the server sends is handed to each subscriber on the main thread
  // (GLib's default main context). Main thread only.
  std::unique_ptr<Subscription> subscribe(EventHandler handler);

 private:
  struct Source;
  XConnection(xcb_connection_t* connection, const xcb_screen_t* screen);
  void unsubscribe(int id);
  bool pullQueued();
  bool pullAll();
  void deliverPending();

  xcb_connection_t* connection_;
  const xcb_screen_t* screen_;
  std::mutex atomsMutex_;
  std::unordered_map<std::string, xcb_atom_t> atoms_;
  // Main thread only from here on.
  GSourcePtr source_;
  std::vector<XReply<xcb_generic_event_t>> pending_;
  std::map<int, std::shared_ptr<EventHandler>> handlers_;
  int nextId_ = 1;
  std::weak_ptr<XConnection> self_;
};

// A window property of up to `maxLength` 32-bit units; null when absent.
XReply<xcb_get_property_reply_t> windowProperty(xcb_connection_t* connection, xcb_window_t window,
                                                xcb_atom_t property, xcb_atom_t type,
                                                std::uint32_t maxLength = 1024);
// The first 32-bit value of a WINDOW or CARDINAL property.
std::optional<std::uint32_t> windowPropertyValue(xcb_connection_t* connection, xcb_window_t window,
                                                 xcb_atom_t property, xcb_atom_t type);

}  // namespace zoba::platform::linux_backend
