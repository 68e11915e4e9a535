// The window source of sway: GET_TREE over its IPC socket, one connection kept per
// source and made again when it broke.

#include <mutex>

#include "Platform/linux/wayland/WindowSource.h"
#include "Platform/linux/wayland/sway/SwayIpc.h"
#include "Platform/linux/wayland/sway/SwayTree.h"

namespace zoba::platform::linux_backend::wayland {

namespace {

using namespace std::chrono_literals;

// sway answers GET_TREE in about a millisecond; a busy one may take longer, but a
// capture cannot wait long for it.
constexpr auto treeTimeout = 500ms;

class SwayWindowSource final : public WindowSource {
 public:
  std::optional<std::vector<Toplevel>> toplevels() override {
    std::lock_guard lock(mutex_);
    // Once more on a fresh socket when the kept one failed (sway restarted, say).
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (!ipc_) ipc_ = SwayIpc::connect();
      if (!ipc_) return std::nullopt;
      if (auto tree = ipc_->request(SwayMessage::getTree, "", treeTimeout)) return parseSwayTree(*tree);
      ipc_.reset();
    }
    return std::nullopt;
  }

 private:
  std::mutex mutex_;
  std::optional<SwayIpc> ipc_;
};

}  // namespace

std::unique_ptr<WindowSource> makeSwayWindowSource() { return std::make_unique<SwayWindowSource>(); }

}  // namespace zoba::platform::linux_backend::wayland
