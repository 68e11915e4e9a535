#pragma once

// The process's shared connection to the X display, its events served on the main
// thread. The screen capture and the overlay's threads open their own
// (DisplayConnection).

#include <xcb/xcb.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "Platform/linux/handles/GLibPtr.h"
#include "Platform/linux/handles/XcbPtr.h"
#include "Platform/linux/x11/AtomCache.h"
#include "Platform/linux/x11/DisplayConnection.h"
#include "Platform/linux/x11/WindowProperty.h"

namespace zoba::platform::linux_backend {

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

  xcb_connection_t* get() const { return display_.get(); }
  const xcb_screen_t& screen() const { return *display_.screen; }
  xcb_window_t root() const { return display_.root(); }
  bool broken() const { return display_.broken(); }

  // Interned once per name; XCB_ATOM_NONE when the server does not answer.
  xcb_atom_t atom(std::string_view name) { return atoms_(name); }

  // Every event the server sends is handed to each subscriber on the main thread
  // (GLib's default main context). Main thread only.
  std::unique_ptr<Subscription> subscribe(EventHandler handler);

 private:
  struct Source;
  explicit XConnection(DisplayConnection display);
  void unsubscribe(int id);
  bool pullQueued();
  bool pullAll();
  void deliverPending();

  DisplayConnection display_;
  AtomCache atoms_;
  // Main thread only from here on.
  GSourcePtr source_;
  std::vector<XReply<xcb_generic_event_t>> pending_;
  std::map<int, std::shared_ptr<EventHandler>> handlers_;
  int nextId_ = 1;
  std::weak_ptr<XConnection> self_;
};

}  // namespace zoba::platform::linux_backend
