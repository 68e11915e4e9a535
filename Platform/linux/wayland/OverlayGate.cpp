#include "Platform/linux/wayland/OverlayGate.h"

namespace zoba::platform::linux_backend::wayland {

OverlayGate& OverlayGate::shared() {
  static OverlayGate gate;
  return gate;
}

void OverlayGate::shotStarted(Clock::time_point at) {
  std::lock_guard lock(mutex_);
  started_ = at;
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

std::optional<OverlayGate::Clock::time_point> OverlayGate::heldUntil(Clock::time_point opened,
                                                                     Clock::time_point now) const {
  std::lock_guard lock(mutex_);
  if (started_) {
    // The copy would hold the panel's frame.
    const auto limit = *started_ + shotLimit;
    if (now < limit) return limit;
    return std::nullopt;
  }
  // Only a shot begun after the panel opened is the shot of its capture.
  if (finished_ && *finished_ >= opened) return std::nullopt;
  const auto limit = opened + holdLimit;
  if (now < limit) return limit;
  return std::nullopt;
}

void OverlayGate::setWaker(std::function<void()> waker) {
  std::lock_guard lock(mutex_);
  waker_ = std::move(waker);
}

}  // namespace zoba::platform::linux_backend::wayland
