#pragma once

// Screenshots on Wayland copy the composed screen, the overlay included, and a
// capture puts up its overlay before it takes its shot. So a panel that opens holds
// its first frame until a shot that began after it has been read, or until
// `holdLimit` has passed (a capture that takes no shot); and no panel shows while a
// shot is under way, however late it began (a loaded machine), unless it hangs past
// `shotLimit`. A late flash is better than a screenshot of the flash. The screen
// capture calls `shotStarted`/`shotFinished` from its worker; the presenter asks
// `heldUntil` on its render thread and is woken when a shot ends.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

namespace zoba::platform::linux_backend::wayland {

class OverlayGate {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds holdLimit{400};
  static constexpr std::chrono::milliseconds shotLimit{1500};

  static OverlayGate& shared();

  void shotStarted(Clock::time_point at = Clock::now());
  void shotFinished();
  // Nothing when a panel first committed at `opened` may show at `now`; otherwise
  // when to ask again (a shot ending wakes the presenter sooner).
  std::optional<Clock::time_point> heldUntil(Clock::time_point opened, Clock::time_point now) const;
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
