#include "Platform/linux/wayland/OverlayGate.h"

namespace zoba::platform::linux_backend::wayland {

OverlayGate& OverlayGate::shared() {
  static OverlayGate gate;
  return gate;
}

void OverlayGate::shotStarted() {
  std::lock_guard lock(mutex_);
  started_ = Clock::now();
}

void OverlayGate::shotFinished() {
  std::function<void()> waker;
  {
    std::lock_guard lock(mutex_);
    finished_ = started_.value_or(Clock::now());
    started_.reset();
    waker = waker_;
  }
  if (waker) waker();
}

bool OverlayGate::mayShow(Clock::time_point opened, Clock::time_point now) const {
  if (now >= latest(opened)) return true;
  std::lock_guard lock(mutex_);
  // Only a shot begun after the panel opened is the shot of its capture.
  return finished_ && *finished_ >= opened;
}

void OverlayGate::setWaker(std::function<void()> waker) {
  std::lock_guard lock(mutex_);
  waker_ = std::move(waker);
}

}  // namespace zoba::platform::linux_backend::wayland
