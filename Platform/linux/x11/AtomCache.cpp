#include "Platform/linux/x11/AtomCache.h"

#include "Platform/linux/handles/XcbPtr.h"

namespace zoba::platform::linux_backend {

xcb_atom_t AtomCache::operator()(std::string_view name) { return (*this)({name}).front(); }

std::vector<xcb_atom_t> AtomCache::operator()(std::span<const std::string_view> names) {
  std::vector<xcb_atom_t> atoms(names.size(), XCB_ATOM_NONE);
  std::vector<std::pair<std::size_t, xcb_intern_atom_cookie_t>> asked;
  {
    std::lock_guard lock(mutex_);
    std::size_t i = 0;
    for (std::string_view name : names) {
      if (auto found = atoms_.find(std::string(name)); found != atoms_.end()) {
        atoms[i] = found->second;
      } else {
        asked.emplace_back(
            i, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(name.size()), name.data()));
      }
      ++i;
    }
  }
  if (asked.empty()) return atoms;
  for (auto [i, cookie] : asked) {
    auto reply = xcbReply(xcb_intern_atom_reply, connection_, cookie);
    if (!reply) continue;
    atoms[i] = reply->atom;
    std::lock_guard lock(mutex_);
    atoms_.emplace(std::string(names[i]), reply->atom);
  }
  return atoms;
}

}  // namespace zoba::platform::linux_backend
