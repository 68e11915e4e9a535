#include "Platform/linux/wayland/WaylandConnection.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

namespace zoba::platform::linux_backend::wayland {

namespace {

void onGlobal(void* data, wl_registry*, std::uint32_t name, const char* interface, std::uint32_t version) {
  static_cast<std::vector<Global>*>(data)->push_back(Global{name, interface, version});
}

void onGlobalRemove(void* data, wl_registry*, std::uint32_t name) {
  auto& globals = *static_cast<std::vector<Global>*>(data);
  std::erase_if(globals, [name](const Global& global) { return global.name == name; });
}

const wl_registry_listener registryListener{onGlobal, onGlobalRemove};

}  // namespace

std::unique_ptr<WaylandConnection> WaylandConnection::open(const char* name) {
  std::unique_ptr<WaylandConnection> connection(new WaylandConnection());
  connection->display_.reset(wl_display_connect(name));
  if (!connection->display_) return nullptr;
  connection->registry_ = own(wl_display_get_registry(connection->display_.get()), wl_registry_destroy);
  if (!connection->registry_) return nullptr;
  wl_registry_add_listener(connection->registry_.get(), &registryListener, connection->globals_.get());
  if (!connection->roundtrip()) return nullptr;
  return connection;
}

std::optional<Global> WaylandConnection::global(std::string_view interface) const {
  auto found = std::find_if(globals_->begin(), globals_->end(),
                            [interface](const Global& global) { return global.interface == interface; });
  if (found == globals_->end()) return std::nullopt;
  return *found;
}

bool WaylandConnection::catchUp() const {
  wl_display* display = display_.get();
  while (wl_display_prepare_read(display) != 0) {
    if (wl_display_dispatch_pending(display) < 0) return false;
  }
  if (wl_display_flush(display) < 0 && errno != EAGAIN) {
    wl_display_cancel_read(display);
    return false;
  }
  pollfd descriptor{wl_display_get_fd(display), POLLIN, 0};
  if (::poll(&descriptor, 1, 0) > 0) {
    // A hung-up connection reads as an error here.
    if (wl_display_read_events(display) < 0) return false;
  } else {
    wl_display_cancel_read(display);
  }
  return wl_display_dispatch_pending(display) >= 0;
}

bool WaylandConnection::dispatchUntil(const std::function<bool()>& done,
                                      std::chrono::steady_clock::time_point deadline) const {
  wl_display* display = display_.get();
  while (!done()) {
    // Events already read come first; prepare_read fails while any are queued.
    while (wl_display_prepare_read(display) != 0) {
      if (wl_display_dispatch_pending(display) < 0) return false;
      if (done()) return true;
    }
    if (wl_display_flush(display) < 0 && errno != EAGAIN) {
      wl_display_cancel_read(display);
      return false;
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      wl_display_cancel_read(display);
      return false;
    }
    pollfd descriptor{wl_display_get_fd(display), POLLIN, 0};
    const int ready = ::poll(&descriptor, 1, static_cast<int>(left.count()));
    if (ready <= 0) {
      wl_display_cancel_read(display);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return false;
      continue;  // timed out: the deadline check above ends the wait
    }
    if (wl_display_read_events(display) < 0) return false;
    if (wl_display_dispatch_pending(display) < 0) return false;
  }
  return true;
}

void* WaylandConnection::bindRaw(const wl_interface& interface, std::uint32_t maxVersion) const {
  auto found = global(interface.name);
  if (!found) return nullptr;
  return bindGlobal(*found, interface, maxVersion);
}

void* WaylandConnection::bindGlobal(const Global& global, const wl_interface& interface,
                                    std::uint32_t maxVersion) const {
  return wl_registry_bind(registry_.get(), global.name, &interface, std::min(global.version, maxVersion));
}

}  // namespace zoba::platform::linux_backend::wayland
