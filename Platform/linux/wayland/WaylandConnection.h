#pragma once

// One connection to the Wayland compositor and the globals it offers. Each thread
// that talks to the compositor (the main thread, the render thread, a screenshot
// worker) opens its own, so no queue is shared between threads.

#include <wayland-client.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zoba::platform::linux_backend::wayland {

struct DisplayDisconnect {
  void operator()(wl_display* display) const { wl_display_disconnect(display); }
};
using DisplayPtr = std::unique_ptr<wl_display, DisplayDisconnect>;

// A protocol object, released with its interface's own destructor request:
// `own(wl_compositor_create_surface(compositor), wl_surface_destroy)`. The generated
// destructors are static inline functions, hence a pointer rather than a type.
template <typename T>
using ProxyPtr = std::unique_ptr<T, void (*)(T*)>;
template <typename T>
ProxyPtr<T> own(T* proxy, void (*destroy)(T*)) {
  return ProxyPtr<T>(proxy, destroy);
}

struct Global {
  std::uint32_t name = 0;
  std::string interface;
  std::uint32_t version = 0;
};

class WaylandConnection {
 public:
  // Connects to the compositor named by WAYLAND_DISPLAY (or `name`) and lists its
  // globals in one round trip; absent when none answers.
  static std::unique_ptr<WaylandConnection> open(const char* name = nullptr);

  wl_display* display() const { return display_.get(); }
  const std::vector<Global>& globals() const { return *globals_; }
  std::optional<Global> global(std::string_view interface) const;
  bool has(std::string_view interface) const { return global(interface).has_value(); }

  // Binds the first global of the interface at the lower of its version and
  // `maxVersion`; null when the compositor has none.
  template <typename T>
  T* bind(const wl_interface& interface, std::uint32_t maxVersion) const {
    return static_cast<T*>(bindRaw(interface, maxVersion));
  }

  // Binds one given global (one of several outputs, say) at the lower of its version
  // and `maxVersion`.
  template <typename T>
  T* bind(const Global& global, const wl_interface& interface, std::uint32_t maxVersion) const {
    return static_cast<T*>(bindGlobal(global, interface, maxVersion));
  }

  // Sends what is queued and waits for the compositor to have handled it; false
  // when the connection broke.
  bool roundtrip() const { return wl_display_roundtrip(display_.get()) >= 0; }
  // Sends what is queued and handles the events the compositor already sent, without
  // waiting for it; false when the connection broke.
  bool catchUp() const;
  // Sends what is queued and handles events until `done` holds; false when the
  // connection broke or `deadline` passed first.
  bool dispatchUntil(const std::function<bool()>& done, std::chrono::steady_clock::time_point deadline) const;

 private:
  WaylandConnection() = default;
  void* bindRaw(const wl_interface& interface, std::uint32_t maxVersion) const;
  void* bindGlobal(const Global& global, const wl_interface& interface, std::uint32_t maxVersion) const;

  DisplayPtr display_;
  ProxyPtr<wl_registry> registry_{nullptr, nullptr};
  // On the heap: the registry's listener writes here for as long as it lives.
  std::unique_ptr<std::vector<Global>> globals_ = std::make_unique<std::vector<Global>>();
};

}  // namespace zoba::platform::linux_backend::wayland
