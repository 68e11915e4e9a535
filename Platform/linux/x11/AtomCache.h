#pragma once

// A connection's interned atoms, each asked of the server once.

#include <xcb/xcb.h>

#include <initializer_list>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zoba::platform::linux_backend {

class AtomCache {
 public:
  explicit AtomCache(xcb_connection_t* connection) : connection_(connection) {}

  // XCB_ATOM_NONE when the server does not answer. Callable from any thread.
  xcb_atom_t operator()(std::string_view name);
  // Several at once, in one round trip for those not yet known.
  std::vector<xcb_atom_t> operator()(std::span<const std::string_view> names);
  std::vector<xcb_atom_t> operator()(std::initializer_list<std::string_view> names) {
    return (*this)(std::span<const std::string_view>(names.begin(), names.size()));
  }

 private:
  xcb_connection_t* connection_;
  std::mutex mutex_;
  std::unordered_map<std::string, xcb_atom_t> atoms_;
};

}  // namespace zoba::platform::linux_backend
