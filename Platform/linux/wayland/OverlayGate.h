#pragma once

// Screenshots on Wayland copy the composed screen, the overlay included, and a
// capture puts up its overlay before it takes its shot. So a panel that opens holds
// its first frame until a shot that began after it has been read, or until
// `holdLimit` has passed (a capture that takes no shot). The screen capture calls
// `shotStarted`/`shotFinished` from its worker; the presenter asks `mayShow` on its
// render thread and is woken when a shot ends.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

namespace zoba::platform::linux_backend::wayland {

class OverlayGate {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds holdLimit{150};

  static OverlayGate& shared();

  void shotStarted();
  void shotFinished();
  // Whether a panel first committed at `opened` may show at `now`.
  bool mayShow(Clock::time_point opened, Clock::time_point now) const;
  // When a held panel may show at the latest.
  static Clock::time_point latest(Clock::time_point opened) { return opened + holdLimit; }
  // Called (on the capture's thread) whenever a shot ends; one waker, the presenter's.
  void setWaker(std::function<void()> waker);

 private:
  mutable std::mutex mutex_;
  std::optional<Clock::time_point> started_;   // the shot under way
  std::optional<Clock::time_point> finished_;  // when the last shot that ended had begun
  std::function<void()> waker_;
};

// Brackets one shot, however it ends.
struct ShotBracket {
  ShotBracket() { OverlayGate::shared().shotStarted(); }
  ~ShotBracket() { OverlayGate::shared().shotFinished(); }
  ShotBracket(const ShotBracket&) = delete;
  ShotBracket& operator=(const ShotBracket&) = delete;
};

}  // namespace zoba::platform::linux_backend::wayland
