// The whole road of a chord on the headless KWin desktop, as a host meets it: the
// real helper, a native Wayland GTK 3 window in front, both Shift keys through
// KWin's fake input reaching the helper through Xwayland, then "hotkey",
// "captureSnapshot", "capture" and "captureLanded" with the host's card, the overlay
// on screen while it plays and nothing of it left after the landing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/kwin/KWinDesktop.h"
#include "tests/support/CaptureRoad.h"
#include "tests/support/wayland/SwayDesktop.h"

namespace zoba::testing::kwin {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;
using wayland::pixelsNear;

constexpr std::uint32_t windowColour = 0x20C060;

TEST(KWinCaptureRoad, BothShiftKeysCaptureTheWindowAndTheOverlayLandsInTheCard) {
  if (!kwinDesktopAvailable()) GTEST_SKIP() << "needs the headless KWin desktop (scripts/headless-kwin.sh)";
  ASSERT_TRUE(grantTestPrograms()) << "KWin never granted the tests' screenshots";
  KWinKeyboard keyboard;
  KWinGtkWindowOptions options;
  options.title = "Road on KWin";
  options.colour = windowColour;
  options.label = "KWin label";
  KWinGtkWindow window(options);
  ASSERT_TRUE(window.pid()) << "the GTK window did not come up focused";
  ASSERT_TRUE(wayland::waitForAccessibleApplication(*window.pid(), std::chrono::seconds(10)));
  auto area = waitForColourOnScreen(windowColour);
  ASSERT_TRUE(area) << "the window's colour is not on screen";
  // The window's own colour around its widgets.
  auto before = kwinScreenshot(*area);
  ASSERT_TRUE(before);
  const std::int64_t windowPixels = pixelsNear(*before, windowColour, 8);

  // This test is the host: the window in front is another application.
  ChildProcess helper(ZOBA_CAPTURE_PATH, std::vector<std::string>{"--host-pid", std::to_string(getpid())});
  auto ready = json::parse(helper.readLine(std::chrono::seconds(10)).value_or("{}"), nullptr, false);
  ASSERT_EQ(ready.value("type", ""), "ready") << ready;
  EXPECT_EQ(ready["permissions"], (json{{"accessibility", true}, {"screenRecording", true}})) << ready;
  EXPECT_EQ(ready["session"], (json{{"type", "wayland"}, {"desktop", "kde"}, {"unavailable", json::array()}}))
      << ready;

  // The shutter covers the window for about a third of a second from the chord on: a
  // small patch of the colour area is sampled from before the chord to the landing.
  const ScreenRect patch{area->x + area->width / 2 - 40, area->y + area->height / 2 - 20, 80, 40};
  OverlayPatch sampled([&] { return kwinScreenshot(patch); }, windowColour);
  ASSERT_GT(sampled.plainPixels(), 80 * 40 * 9 / 10) << "the sampled patch is not the window's plain colour";
  // The overlay lets the pointer through: a click on the window's button while the
  // shutter covers the window reaches the button. AT-SPI counts from the window.
  auto application = wayland::waitForAccessibleApplication(*window.pid());
  ASSERT_TRUE(application);
  auto button =
      wayland::findAccessible(application->busName, "/org/a11y/atspi/accessible/root", "push button");
  ASSERT_TRUE(button);
  auto extents = wayland::accessibleExtents(application->busName, *button, 1);
  ASSERT_TRUE(extents && extents->width > 0);
  const std::string pointer = "m" + std::to_string(area->x + extents->x + extents->width / 2) + "," +
                              std::to_string(area->y + extents->y + extents->height / 2);
  bool clicked = false;
  CaptureRoadDesk desk;
  desk.pressChord = [] { return kwinChord("shift"); };
  desk.overlayCovers = [&] { return sampled.covered(); };
  desk.whileCovered = [&] { clicked = kwinInput({pointer, "b"}); };
  auto road = driveCaptureRoad(helper, desk);
  ASSERT_TRUE(road) << "no hotkey line after the chord";
  EXPECT_EQ(road->faults(), "");
  EXPECT_TRUE(clicked && window.waitForLine("clicked")) << "the click during the flight missed the button";
  const json& capture = road->capture;

  EXPECT_EQ(capture.value("windowTitle", ""), "Road on KWin");
  EXPECT_EQ(capture["image"].value("width", 0), outputPixels(area->width));
  auto png = platform::base64Decode(capture["image"].value("base64", ""));
  ASSERT_TRUE(png);
  auto image = platform::decodePNG(*png);
  ASSERT_TRUE(image);
  // The screenshot is the window's own pixels, not the overlay's flash.
  EXPECT_GE(pixelsNear(*image, windowColour, 8), windowPixels * 9 / 10);
  const std::string text = capture.value("text", "");
  // No focus line is asked for: the click above lands while the walk runs, and GTK
  // holds no focus for a moment while it moves to the button.
  EXPECT_NE(text.find("KWin label"), std::string::npos) << text;

  // Nothing of the overlay stays: the colour area shows whole again.
  bool clear = false;
  for (const auto end = Clock::now() + std::chrono::seconds(2); Clock::now() < end && !clear;) {
    auto after = kwinScreenshot(*area);
    clear = after && pixelsNear(*after, windowColour, 8) >= windowPixels;
  }
  EXPECT_TRUE(clear) << "the overlay is still over the window after the landing";
  helper.writeLine(R"({"type":"shutdown"})");
}

}  // namespace
}  // namespace zoba::testing::kwin
