// The debug mode's overlay on the test desktop: its landing, its end, and the
// frames it records of the helper's own panel.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>

#include "Platform/Image.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopWindow.h"
#include "tests/support/Files.h"

namespace zoba::testing {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr std::uint32_t windowColour = 0x2080C0;

bool near(std::uint32_t pixel, std::uint32_t rgb, int tolerance = 6) {
  for (int shift : {16, 8, 0}) {
    if (std::abs(int(pixel >> shift & 0xFF) - int(rgb >> shift & 0xFF)) > tolerance) return false;
  }
  return true;
}

class DesktopDebugOverlay : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!desktopAvailable()) GTEST_SKIP() << "needs an X display and GTK";
    directory = fs::temp_directory_path() / ("zoba-e2e-overlay-" + std::to_string(::getpid()));
    frames = directory / "frames";
    fs::create_directories(frames);
    path = (directory / "shot.png").string();
  }
  void TearDown() override { fs::remove_all(directory); }

  std::set<std::string> frameNames() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(frames)) names.insert(entry.path().filename().string());
    return names;
  }

  fs::path directory, frames;
  std::string path;
};

TEST_F(DesktopDebugOverlay, LandsBeforeTheLineAndRecordsTheCardInEightFrames) {
  DesktopWindow window({"--title", "Overlay frames", "--colour", "2080C0"});
  ASSERT_TRUE(window.pid());
  const auto started = std::chrono::steady_clock::now();
  ChildProcess helper(ZOBA_CAPTURE_PATH, {"--debug-capture", path, "--delay", "0", "--debug-transition",
                                          "--slow", "2", "--debug-frames", frames.string()});
  auto lines = helper.readAllLines(40s);
  EXPECT_EQ(helper.wait(), 0);
  const auto took = std::chrono::steady_clock::now() - started;
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(json::parse(lines[0]), (json{{"type", "debugLanded"}}));
  auto line = json::parse(lines[1]);
  EXPECT_EQ(line["type"], "debugCapture");
  EXPECT_TRUE(line.contains("capture")) << lines[1].substr(0, 300);
  // It waits 5 × the time scale after the capture, so that the overlay ends first.
  EXPECT_GE(took, 10s);

  // The eight names of the time scale 2. A sample after the overlay has ended
  // finds no panel and is skipped: the overlay lasts about 1.2 to 1.5 s, and each
  // frame's capture makes the later samples late, more so on a busy machine.
  const std::vector<std::string> eight = {"frame-00-0.1s.png", "frame-01-0.2s.png", "frame-02-0.5s.png",
                                          "frame-03-0.7s.png", "frame-04-0.9s.png", "frame-05-1.1s.png",
                                          "frame-06-1.3s.png", "frame-07-1.6s.png"};
  const auto names = frameNames();
  for (const auto& name : names) EXPECT_NE(std::find(eight.begin(), eight.end(), name), eight.end()) << name;
  // How many land depends on the machine's load: a frame's capture and PNG take
  // tens of milliseconds, more under a sanitizer.
  EXPECT_GE(names.size(), 3u);
  // The card on its way: the window's colour somewhere away from the window
  // (top-left 100, 80, 480 × 320), on the flight towards the test card
  // (1640, 864, 160 × 96 in top-left space), and the panel's own pixels around it.
  int cardFrames = 0;
  for (const auto& name : frameNames()) {
    auto image = readPng(frames / name);
    ASSERT_TRUE(image) << name;
    EXPECT_EQ(image->width(), 1920) << name;
    EXPECT_EQ(image->height(), 1080) << name;
    int away = 0;
    for (std::int64_t y = 500; y < image->height(); y += 4) {
      for (std::int64_t x = 700; x < image->width(); x += 4) away += near(image->pixel(x, y), windowColour);
    }
    if (away > 50) ++cardFrames;
    // The far corner never shows the card.
    EXPECT_FALSE(near(image->pixel(1900, 20), windowColour)) << name;
  }
  EXPECT_GE(cardFrames, 1);
}

TEST_F(DesktopDebugOverlay, FramesNeedTheOverlay) {
  DesktopWindow window({"--title", "No overlay"});
  ASSERT_TRUE(window.pid());
  ChildProcess helper(ZOBA_CAPTURE_PATH,
                      {"--debug-capture", path, "--delay", "0", "--debug-frames", frames.string()});
  auto lines = helper.readAllLines(20s);
  EXPECT_EQ(helper.wait(), 0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(json::parse(lines[0])["type"], "debugCapture");
  EXPECT_TRUE(frameNames().empty());
}

}  // namespace
}  // namespace zoba::testing
