// When a new overlay panel may show on Wayland, where screenshots copy the composed
// screen: never while a shot is under way, at once after its capture's shot, and by
// a bound when no shot comes or one hangs.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "Platform/linux/wayland/OverlayGate.h"

namespace zoba::platform::linux_backend::wayland {
namespace {

using namespace std::chrono_literals;
using Clock = OverlayGate::Clock;

TEST(OverlayGate, HoldsANewPanelUntilItsCapturesShotIsRead) {
  const Clock::time_point opened = Clock::now();
  struct Case {
    const char* what;
    std::optional<Clock::duration> shotBegan;  // relative to the panel's opening
    bool shotEnded;
    Clock::duration now;  // relative to the panel's opening
    std::optional<Clock::time_point> heldUntil;
  };
  const Case cases[] = {
      {"no shot yet", {}, false, 10ms, opened + OverlayGate::holdLimit},
      {"no shot within the hold: a capture that takes none", {}, false, OverlayGate::holdLimit, {}},
      {"its shot under way", 20ms, false, 30ms, opened + 20ms + OverlayGate::shotLimit},
      {"its shot under way past the hold (a loaded machine)", 300ms, false, OverlayGate::holdLimit + 100ms,
       opened + 300ms + OverlayGate::shotLimit},
      {"an earlier capture's shot under way", -50ms, false, 10ms, opened - 50ms + OverlayGate::shotLimit},
      {"a shot that hangs", 20ms, false, 20ms + OverlayGate::shotLimit, {}},
      {"its shot read", 20ms, true, 60ms, {}},
      {"only an earlier capture's shot read", -50ms, true, 10ms, opened + OverlayGate::holdLimit},
  };
  for (const Case& test : cases) {
    OverlayGate gate;
    if (test.shotBegan) {
      gate.shotStarted(opened + *test.shotBegan);
      if (test.shotEnded) gate.shotFinished();
    }
    EXPECT_EQ(gate.heldUntil(opened, opened + test.now), test.heldUntil) << test.what;
  }
}

TEST(OverlayGate, AnEndingShotWakesThePresenter) {
  OverlayGate gate;
  int wakes = 0;
  gate.setWaker([&] { ++wakes; });
  gate.shotStarted();
  EXPECT_EQ(wakes, 0);
  gate.shotFinished();
  EXPECT_EQ(wakes, 1);
}

}  // namespace
}  // namespace zoba::platform::linux_backend::wayland
