// The whole road of a chord on the headless sway desktop, as a host meets it: the
// real helper, a native Wayland GTK 3 window in front, both Shift keys, then
// "hotkey", "captureSnapshot", "capture" and "captureLanded" with the host's card,
// the overlay on screen while it plays and nothing of it left after the landing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Platform/Image.h"
#include "tests/support/CaptureRoad.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/wayland/SwayDesktop.h"

namespace zoba::testing::wayland {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t windowColour = 0x20C060;

// A native GTK 3 window, then a native GTK 4 one.
class SwayCaptureRoad : public ::testing::TestWithParam<bool> {};

TEST_P(SwayCaptureRoad, BothShiftKeysCaptureTheWindowAndTheOverlayLandsInTheCard) {
  if (!swayDesktopAvailable()) GTEST_SKIP() << "needs the headless sway desktop (scripts/headless-sway.sh)";
  WaylandWindowOptions options;
  options.title = "Road on sway";
  options.colour = windowColour;
  options.gtk4 = GetParam();
  WaylandWindow window(options);
  ASSERT_TRUE(window.pid()) << "the GTK window did not come up focused";
  const SwayRect content{300, 200, 640, 400};
  ASSERT_TRUE(window.place(content));
  ASSERT_TRUE(waitForAccessibleApplication(*window.pid())) << "the window did not join the accessibility bus";
  auto before = screenshot(content);
  ASSERT_TRUE(before);
  const std::int64_t windowPixels = pixelsNear(*before, windowColour, 8);
  ASSERT_GT(windowPixels, 10000) << "the window's colour is not on screen";

  // This test is the host: the window in front is another application.
  ChildProcess helper(ZOBA_CAPTURE_PATH, std::vector<std::string>{"--host-pid", std::to_string(getpid())});
  auto ready = json::parse(helper.readLine(std::chrono::seconds(10)).value_or("{}"), nullptr, false);
  ASSERT_EQ(ready.value("type", ""), "ready") << ready;
  EXPECT_EQ(ready["permissions"], (json{{"accessibility", true}, {"screenRecording", true}})) << ready;
  EXPECT_EQ(ready["session"].value("type", ""), "wayland") << ready;

  // The shutter covers the window for about a third of a second from the chord on, so
  // a small patch is sampled as fast as grim allows from before the chord until the
  // landing (a sample of the whole window is too slow under the sanitizers).
  const SwayRect patch{content.x + content.width / 2 - 60, content.y + 40, 120, 60};
  OverlayPatch sampled([&] { return screenshot(patch); }, windowColour);
  ASSERT_GT(sampled.plainPixels(), 6000) << "the sampled patch is not the window's plain colour";
  CaptureRoadDesk desk;
  desk.pressChord = [] { return pressChord("shift"); };
  desk.overlayCovers = [&] { return sampled.covered(); };
  auto road = driveCaptureRoad(helper, desk);
  ASSERT_TRUE(road) << "no hotkey line after the chord";
  EXPECT_EQ(road->faults(), "");
  const json& capture = road->capture;

  EXPECT_EQ(capture.value("windowTitle", ""), "Road on sway");
  EXPECT_EQ(capture["image"].value("width", 0), 640);
  EXPECT_EQ(capture["image"].value("height", 0), 400);
  auto png = platform::base64Decode(capture["image"].value("base64", ""));
  ASSERT_TRUE(png);
  auto image = platform::decodePNG(*png);
  ASSERT_TRUE(image);
  // The screenshot is the window's own pixels, not the overlay's flash.
  EXPECT_GT(pixelsNear(*image, windowColour, 8), windowPixels * 9 / 10);
  const std::string text = capture.value("text", "");
  EXPECT_NE(text.find("Wayland label"), std::string::npos) << text;
  EXPECT_NE(text.find("The focused UI element is"), std::string::npos) << text;

  // Nothing of the overlay stays: the window shows whole again, and the card's place
  // is as it was.
  bool clear = false;
  for (const auto end = Clock::now() + std::chrono::seconds(2); Clock::now() < end && !clear;) {
    auto after = screenshot(content);
    clear = after && pixelsNear(*after, windowColour, 8) >= windowPixels;
  }
  EXPECT_TRUE(clear) << "the overlay is still over the window after the landing";
  helper.writeLine(R"({"type":"shutdown"})");
}

INSTANTIATE_TEST_SUITE_P(Toolkits, SwayCaptureRoad, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Gtk4" : "Gtk3";
                         });

}  // namespace
}  // namespace zoba::testing::wayland
