// The real helper on the headless KWin desktop: a GTK 3 window, native and as an X11
// client of Xwayland, captured in debug mode through the KWin script (frame, title,
// application), ScreenShot2 (pixels) and AT-SPI (outline); a native Qt 5 window in
// debug mode and by the chord; and what a user who has not granted the screenshot or
// turned on KWin's modifier setting is told.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/kwin/KWinDesktop.h"
#include "tests/support/CaptureRoad.h"
#include "tests/support/wayland/SwayDesktop.h"

namespace zoba::testing::kwin {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

std::string contents(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

class KWinCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!kwinDesktopAvailable()) GTEST_SKIP() << "no KWin desktop (scripts/headless-kwin.sh run -- ...)";
    ASSERT_TRUE(grantTestPrograms()) << "KWin never granted the tests' screenshots";
    directory = fs::temp_directory_path() / ("zoba-kwin-capture-" + std::to_string(::getpid()));
    fs::create_directories(directory);
    path = directory / "shot.png";
  }
  void TearDown() override {
    if (!directory.empty()) fs::remove_all(directory);
  }

  json debugCapture(const std::string& helper = ZOBA_CAPTURE_PATH, const ChildEnvironment& environment = {}) {
    ChildProcess process(helper, {"--debug-capture", path.string(), "--delay", "0"}, environment);
    auto lines = process.readAllLines(std::chrono::seconds(30));
    EXPECT_EQ(process.wait(), 0);
    EXPECT_EQ(lines.size(), 1u);
    return lines.empty() ? json() : json::parse(lines.back(), nullptr, false);
  }

  fs::path directory;
  fs::path path;
};

// The same GTK 3 window native (false) and through Xwayland (true): KWin's script and
// ScreenShot2 serve both.
class KWinGtk3Capture : public KWinCapture, public ::testing::WithParamInterface<bool> {};

TEST_P(KWinGtk3Capture, WindowWithItsPixelsTitleAndOutline) {
  KWinKeyboard keyboard;
  KWinGtkWindowOptions options;
  options.title = "KWin GTK 3 capture";
  options.colour = 0x2080C0;
  options.label = "KWin three label";
  options.button = "KWin three button";
  options.x11 = GetParam();
  KWinGtkWindow window(options);
  ASSERT_TRUE(window.pid()) << "the GTK 3 window did not come up focused";
  ASSERT_TRUE(wayland::waitForAccessibleApplication(*window.pid(), std::chrono::seconds(10)));
  // Where KWin put it: the colour area's box on screen gives its width.
  auto area = waitForColourOnScreen(0x2080C0);
  ASSERT_TRUE(area) << "the window's colour is not on screen";

  const json line = debugCapture();
  ASSERT_TRUE(line.contains("capture")) << line.dump();
  EXPECT_EQ(line["permissions"], (json{{"accessibility", true}, {"screenRecording", true}}));
  EXPECT_EQ(line["session"], (json{{"type", "wayland"}, {"desktop", "kde"}, {"unavailable", json::array()}}));
  const json& capture = line["capture"];
  EXPECT_EQ(capture["windowTitle"], "KWin GTK 3 capture");
  EXPECT_EQ(capture["app"]["bundleId"], "zoba-wayland-window");
  // At the output's resolution, as the screen shows it.
  EXPECT_EQ(capture["image"]["width"], outputPixels(area->width));
  const std::string png = contents(path);
  auto image = platform::decodePNG({reinterpret_cast<const std::uint8_t*>(png.data()), png.size()});
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width(), capture["image"]["width"]);
  EXPECT_EQ(image->height(), capture["image"]["height"]);
  // The client area only: the colour area starts at the image's top-left corner.
  const int right = outputPixels(area->width) - 2, bottom = outputPixels(area->height) - 2;
  for (auto [x, y] : {std::pair{1, 1}, std::pair{20, 20}, std::pair{right, bottom}})
    EXPECT_EQ(image->pixel(x, y) & 0xFFFFFFu, 0x2080C0u) << "at " << x << "," << y;
  const std::string text = contents(path.string() + ".txt");
  for (const char* expected :
       {"Window: \"KWin GTK 3 capture\", App: ", "\nframe KWin GTK 3 capture\n", "\tlabel KWin three label\n",
        "\tpush button KWin three button\n", "\nThe focused UI element is text (settable)"})
    EXPECT_NE(text.find(expected), std::string::npos) << expected << " in\n" << text;
}

INSTANTIATE_TEST_SUITE_P(NativeAndXwayland, KWinGtk3Capture, ::testing::Bool(), [](const auto& info) {
  return info.param ? "X11ThroughXwayland" : "NativeWayland";
});

// A native Wayland Qt 5 window: Qt's own accessibility bridge, the same road, first
// in debug mode, then by the chord with the overlay over it.
TEST_F(KWinCapture, NativeQt5WindowInDebugModeAndByTheChord) {
  constexpr std::uint32_t colour = 0xC06020;
  KWinKeyboard keyboard;
  ChildProcess window("/usr/bin/python3", {ZOBA_TEST_SUPPORT_DIR "/apps/qt_window.py", "--colour", "c06020"},
                      ChildEnvironment{{"DISPLAY"},
                                       {{"QT_QPA_PLATFORM", "wayland"},
                                        {"QT_ACCESSIBILITY", "1"},
                                        {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"}}});
  auto announced = window.readLine(std::chrono::seconds(15));
  ASSERT_TRUE(announced) << "the Qt window did not come up";
  const pid_t pid = static_cast<pid_t>(std::strtol(announced->c_str(), nullptr, 10));
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(wayland::waitForAccessibleApplication(pid, std::chrono::seconds(10)));

  // The window may take the focus a moment after it shows: capture until it is the one.
  json line;
  for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
       std::chrono::steady_clock::now() < end;) {
    line = debugCapture();
    if (line.contains("capture") && line["capture"].value("windowTitle", "") == "Qt test window") break;
  }
  ASSERT_TRUE(line.contains("capture")) << line.dump();
  EXPECT_EQ(line["capture"]["windowTitle"], "Qt test window");
  const auto expectOutline = [](const std::string& text) {
    for (const char* expected : {"Window: \"Qt test window\"", "push button Qt button",
                                 "\nThe focused UI element is text (settable), Value: qt typed text"})
      EXPECT_NE(text.find(expected), std::string::npos) << expected << " in\n" << text;
  };
  expectOutline(contents(path.string() + ".txt"));

  // The chord: the window's own pixels (its background around the widgets), not the
  // overlay's, and the same outline.
  auto area = waitForColourOnScreen(colour);
  ASSERT_TRUE(area) << "the window's colour is not on screen";
  auto before = kwinScreenshot(*area);
  ASSERT_TRUE(before);
  const std::int64_t windowPixels = wayland::pixelsNear(*before, colour, 8);
  ChildProcess helper(ZOBA_CAPTURE_PATH, std::vector<std::string>{"--host-pid", std::to_string(getpid())});
  auto ready = json::parse(helper.readLine(std::chrono::seconds(10)).value_or("{}"), nullptr, false);
  ASSERT_EQ(ready.value("type", ""), "ready") << ready;
  // The top margin of the window's background, above the line edit.
  const ScreenRect patch{area->x + area->width / 2 - 40, area->y + 1, 80, 6};
  OverlayPatch sampled([&] { return kwinScreenshot(patch); }, colour);
  ASSERT_GT(sampled.plainPixels(), 80 * 6 * 9 / 10) << "the sampled patch is not the window's plain colour";
  CaptureRoadDesk desk;
  desk.pressChord = [] { return kwinChord("shift"); };
  desk.overlayCovers = [&] { return sampled.covered(); };
  auto road = driveCaptureRoad(helper, desk);
  ASSERT_TRUE(road) << "no hotkey line after the chord";
  EXPECT_EQ(road->faults(), "");
  const json& capture = road->capture;
  EXPECT_EQ(capture.value("windowTitle", ""), "Qt test window");
  EXPECT_EQ(capture["image"].value("width", 0), outputPixels(area->width));
  auto shot = platform::base64Decode(capture["image"].value("base64", ""));
  ASSERT_TRUE(shot);
  auto image = platform::decodePNG(*shot);
  ASSERT_TRUE(image);
  EXPECT_GE(wayland::pixelsNear(*image, colour, 8), windowPixels * 9 / 10);
  expectOutline(capture.value("text", ""));
  helper.writeLine(R"({"type":"shutdown"})");
}

// A helper that no desktop file names gets no screenshot: a copy of it, elsewhere.
TEST_F(KWinCapture, WithoutTheDesktopFileGrantNoScreenshotIsTaken) {
  const fs::path copy = directory / "zoba-capture";
  fs::copy_file(ZOBA_CAPTURE_PATH, copy);
  const json line = debugCapture(copy.string());
  EXPECT_EQ(line["permissions"]["screenRecording"], false) << line.dump();
  EXPECT_EQ(line["session"]["unavailable"], json{"screenshot"}) << line.dump();
  EXPECT_FALSE(line.contains("capture")) << line.dump();
  EXPECT_FALSE(fs::exists(path));
}

// KWin's default keeps modifier keys from X11 clients: no chord, and the helper says so.
TEST_F(KWinCapture, WithoutXwaylandEavesdroppingTheHotkeyIsUnavailable) {
  const fs::path config = directory / "config";
  fs::create_directories(config);
  std::ofstream(config / "kwinrc") << "[Xwayland]\nXwaylandEavesdrops=None\n";
  const json line =
      debugCapture(ZOBA_CAPTURE_PATH, ChildEnvironment{{}, {{"XDG_CONFIG_HOME", config.string()}}});
  EXPECT_EQ(line["permissions"], (json{{"accessibility", false}, {"screenRecording", true}})) << line.dump();
  EXPECT_EQ(line["session"]["unavailable"], json{"hotkey"}) << line.dump();
}

}  // namespace
}  // namespace zoba::testing::kwin
