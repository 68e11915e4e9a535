#pragma once

// What the main thread hands a render thread: the newest tree, counted by
// generation so the thread sees whether it changed, a stop request, an eventfd that
// wakes the thread, and the thread's statistics going back. Trees are freed outside
// the lock: the last reference to a large tree must not hold up the other side.

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>

#include "Platform/Layers.h"
#include "Platform/linux/handles/UniqueFd.h"

namespace zoba::platform::linux_backend {

template <typename Statistics>
struct RenderHandoff {
  UniqueFd wake{eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};

  std::mutex mutex;  // guards the tree, its generation, the stop request and what a backend adds

  mutable std::mutex statisticsMutex;
  Statistics statistics;  // guarded by statisticsMutex

  void signal() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wake.get(), &one, sizeof one);
  }

  // Main thread: `tree` becomes the newest, and the render thread wakes.
  // `underLock(tree)` runs first, under the same lock.
  template <typename UnderLock>
  void publish(std::shared_ptr<const RenderTree> tree, UnderLock&& underLock) {
    std::shared_ptr<const RenderTree> replaced;  // freed outside the lock
    {
      std::lock_guard lock(mutex);
      underLock(tree);
      replaced = std::exchange(latest_, std::move(tree));
      ++generation_;
    }
    signal();
  }
  void publish(std::shared_ptr<const RenderTree> tree) {
    publish(std::move(tree), [](const std::shared_ptr<const RenderTree>&) {});
  }

  void stop() {
    {
      std::lock_guard lock(mutex);
      stopping_ = true;
    }
    signal();
  }

  // Render thread: false once stopping. Otherwise, when a tree was published since
  // `seen`, puts it in `tree`, runs `underLock()` under the lock and sets `changed`.
  template <typename UnderLock>
  bool take(std::uint64_t& seen, std::shared_ptr<const RenderTree>& tree, bool& changed,
            UnderLock&& underLock) {
    std::shared_ptr<const RenderTree> previous;  // freed outside the lock
    std::lock_guard lock(mutex);
    if (stopping_) return false;
    if (generation_ != seen) {
      seen = generation_;
      previous = std::exchange(tree, latest_);
      underLock();
      changed = true;
    }
    return true;
  }
  bool take(std::uint64_t& seen, std::shared_ptr<const RenderTree>& tree, bool& changed) {
    return take(seen, tree, changed, [] {});
  }

 private:
  std::shared_ptr<const RenderTree> latest_;  // guarded by mutex
  std::uint64_t generation_ = 0;              // guarded by mutex
  bool stopping_ = false;                     // guarded by mutex
};

}  // namespace zoba::platform::linux_backend
